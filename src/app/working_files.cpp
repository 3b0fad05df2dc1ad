// The portable part of the working files: existence, removal and moves.
#include <filesystem>
#include <system_error>

#include "app/working_files.h"

namespace kvt {
namespace fs = std::filesystem;

bool esisteFile(const std::string& file) {
    std::error_code errore;
    const fs::file_status stato = fs::status(file, errore);
    return !errore && fs::exists(stato) && !fs::is_directory(stato);
}

bool fileVuoto(const std::string& file) {
    std::error_code errore;
    return esisteFile(file) && fs::file_size(file, errore) == 0 && !errore;
}

bool cancellaFile(const std::string& file) {
    std::error_code errore;
    fs::remove(file, errore);
    return !esisteFile(file);
}

bool spostaFile(const std::string& da, const std::string& a) {
    std::error_code errore;
    fs::rename(da, a, errore);
    return !errore;
}

}  // namespace kvt
