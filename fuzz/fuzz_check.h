#pragma once
// What the fuzz targets share: a property check that stops the run with the
// failed condition named (libFuzzer then keeps the input as a crash), and a
// private folder below the temporary folder for targets that need files.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define KVT_FUZZ_CHECK(condition)                                                                 \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

namespace kvt::fuzz {

// A folder of this process, made once and removed at exit.
inline const std::filesystem::path& cartellaDiLavoro() {
    struct Cartella {
        std::filesystem::path percorso;
        Cartella() {
            std::string modello =
                (std::filesystem::temp_directory_path() / "kvt_fuzz_XXXXXX").string();
            if (mkdtemp(modello.data()) == nullptr) {
                std::perror("mkdtemp");
                std::abort();
            }
            percorso = modello;
        }
        ~Cartella() {
            std::error_code ignorato;
            std::filesystem::remove_all(percorso, ignorato);
        }
    };
    static const Cartella cartella;
    return cartella.percorso;
}

}  // namespace kvt::fuzz
