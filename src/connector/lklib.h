#pragma once
// The connector client library's five functions, as the program calls them.
// On POSIX the library is LKlib.so, found beside the program. On Windows it
// is LKlib.dll, linked by name through an import library made from LKlib.def
// and loaded at the first call; its functions use the convention of the
// system's libraries (WINAPI: arguments right to left, removed by the callee),
// which on 32-bit x86 differs from the C convention.
#if defined(_WIN32)
#define LK_CALL __stdcall
#else
#define LK_CALL
#endif

extern "C" {
void LK_CALL LKConfig(void);
int LK_CALL LKConnect(const char* service, const char* second);
const char* LK_CALL LKQuery(const char* request, int n, int timeoutSeconds);
int LK_CALL LKGetError(void);
int LK_CALL LKDisconnect(void);
}
