// A library that refuses to start (its entry point answers FALSE), with a
// PSHCalc that would give a pseudonym if it ever ran.
#include <windows.h>

#include "pshlib/pshlib.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
}

const char* PSH_CALL PSHCalc(const char*) {
    return "0000000000000000000000000000000000000000";
}
