// The portable part of the working files: existence and removal.
#include <filesystem>
#include <system_error>

#include "app/working_files.h"
#include "common/paths.h"

namespace kvt {
namespace fs = std::filesystem;

bool esisteFile(const std::string& file) {
    std::error_code errore;
    const fs::file_status stato = fs::status(paths::fromUtf8(file), errore);
    return !errore && fs::exists(stato) && !fs::is_directory(stato);
}

bool fileVuoto(const std::string& file) {
    std::error_code errore;
    return esisteFile(file) && fs::file_size(paths::fromUtf8(file), errore) == 0 && !errore;
}

bool cancellaFile(const std::string& file) {
    std::error_code errore;
    fs::remove(paths::fromUtf8(file), errore);
    return !esisteFile(file);
}

}  // namespace kvt
