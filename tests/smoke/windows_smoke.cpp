// windows_smoke PATH\PSHLib.dll: what every Windows client of PSHLib.dll
// relies on, in one short process (the 32-bit build runs it under emulation,
// about a minute a process). The library loads; its three exports are found
// by ordinal and by name, the same; PSHCalc and PSHVersion, called many times
// through WINAPI pointers, give the shared pseudonym vectors and "1.0.0.2";
// and each call of PSHCalc leaves the stack pointer where it was, which a
// library built with the caller-pops convention would not. PSHAbout is found
// but not called: it waits for an operator. The program's own link, the
// delay-load import library, reaches the same library. One line and status
// 0, or the first fault and status 1.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pshlib/pshlib_client.h"

namespace {

using namespace kvt::test;

constexpr int kRounds = 200;

#if defined(__i386__)
// Calls PSHCalc as a 32-bit WINAPI caller does, pushing the argument and
// leaving it to the callee to remove; gives how many bytes the stack pointer
// moved over the call (0 when the callee removed its argument).
__attribute__((noinline)) const char* callAndMeasure(PSHCalcFunction calc, const char* code,
                                                     long& moved) {
    const char* result;
    unsigned long before;
    unsigned long after;
    asm volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %[code]\n\t"
        "call *%[calc]\n\t"
        "movl %%esp, %%edx\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=d"(after), "=&S"(before), [calc] "+c"(calc)
        : [code] "b"(code)
        : "memory", "cc");
    moved = static_cast<long>(before - after);
    return result;
}
#else
// One calling convention on x86-64: nothing to measure.
const char* callAndMeasure(PSHCalcFunction calc, const char* code, long& moved) {
    moved = 0;
    return calc(code);
}
#endif

int fail(const std::string& reason) {
    std::printf("smoke PSHLib.dll: %s\n", reason.c_str());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: windows_smoke PERCORSO\\PSHLib.dll\n");
        return 2;
    }
    const HMODULE library = LoadLibraryW(argv[1]);
    if (library == nullptr) {
        return fail("non si carica, errore " + std::to_string(GetLastError()));
    }
    const char* names[] = {"PSHCalc", "PSHVersion", "PSHAbout"};
    void* entries[3] = {};
    for (WORD ordinal = 1; ordinal <= 3; ++ordinal) {
        const char* name = names[ordinal - 1];
        void* byOrdinal =
            reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal)));
        void* byName = reinterpret_cast<void*>(GetProcAddress(library, name));
        if (byOrdinal == nullptr || byOrdinal != byName) {
            return fail(std::string(name) + " per ordinale " + std::to_string(ordinal) +
                        " e per nome non coincidono");
        }
        entries[ordinal - 1] = byOrdinal;
    }
    const auto calc = reinterpret_cast<PSHCalcFunction>(entries[0]);
    const auto version = reinterpret_cast<PSHVersionFunction>(entries[1]);

    int calls = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (const PseudonymVector& vector : kPseudonymVectors) {
            const std::string code = bytesOfHex(vector.codeHex);
            long moved = 0;
            const char* measured = callAndMeasure(calc, code.c_str(), moved);
            if (moved != 0) {
                return fail("PSHCalc sposta la pila di " + std::to_string(moved) +
                            " byte: non usa la convenzione WINAPI");
            }
            const char* called = calc(code.c_str());
            calls += 2;
            if (measured == nullptr || called == nullptr ||
                std::strcmp(called, vector.pseudonym) != 0 ||
                std::strcmp(measured, vector.pseudonym) != 0) {
                return fail(std::string("PSHCalc(") + vector.codeHex + ") = " +
                            (called != nullptr ? called : "null") + ", atteso " + vector.pseudonym);
            }
        }
        const char* text = version();
        ++calls;
        if (text == nullptr || std::strcmp(text, "1.0.0.2") != 0) {
            return fail(std::string("PSHVersion() = ") + (text != nullptr ? text : "null") +
                        ", atteso 1.0.0.2");
        }
    }
    // The program's own way in: the delay-load import library, which loads
    // PSHLib.dll from the search path at the first call; the same library.
    const char* linked = PSHCalc(" rssmra80a01h501u");
    if (linked != calc("RSSMRA80A01H501U") ||
        std::strcmp(linked, "8323195B26C1A58BC9E7D632C110BBCB25B33CD0") != 0) {
        return fail(
            "PSHCalc per la libreria d'importazione ritardata non raggiunge la stessa "
            "PSHLib.dll");
    }
    std::printf(
        "smoke PSHLib.dll %s: 3 export per ordinale e per nome, %d chiamate WINAPI su %zu "
        "vettori, %s\n",
        version(), calls, std::size(kPseudonymVectors),
        sizeof(void*) == 4 ? "x86, pila intatta dopo ogni chiamata"
                           : "x86-64, una sola convenzione di chiamata");
    return 0;
}
