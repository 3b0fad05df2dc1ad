#pragma once
// PSHLib: the pseudonymisation library. The program calls only PSHCalc; the
// other two exports serve whoever wants to know which library is installed.
//
// The library is not safe for concurrent callers: every PSHCalc result lives
// in one buffer of the library, overwritten by the next call.

#if defined(_WIN32)
// WINAPI: the callee removes the argument.
#define PSH_CALL __stdcall
// No dllimport on either side. PSHLib.def names the exports, undecorated,
// with their ordinals; and the program calls through the stubs of its
// delay-load import library, whose first call loads the library. (With
// dllimport the 32-bit linker drops those stubs and leaves a null pointer.)
#define PSH_API
#else
#define PSH_CALL
#define PSH_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The pseudonym of a fiscal code given as zero-terminated bytes in the
// caller's code page (null counts as the empty text): 40 upper-case
// hexadecimal digits, the SHA-1 of the code without blanks or control
// characters at its ends and with a-z upper-cased. The text belongs to the
// library and is overwritten by the next call: copy it at once. Null on any
// failure; never shows anything.
PSH_API const char* PSH_CALL PSHCalc(const char* code);

// The library's product version, "1.0.0.2", or "1.00" when it cannot be read.
// Valid at least until the next call of PSHVersion.
PSH_API const char* PSH_CALL PSHVersion(void);

// Shows the library's name, version and legal notice (on POSIX: on standard
// error).
PSH_API void PSH_CALL PSHAbout(void);

#ifdef __cplusplus
}
#endif
