#include "app/invio_in_corso.h"

#include "app/working_files.h"
#include "common/files.h"
#include "common/paths.h"

namespace kvt {

// The note: the upload file's name, a line break, the last-visit text.
void InvioInCorso::inizia(const std::string& nomeFile, const std::string& ultimaVisita) const {
    try {
        files::writeAtomically(paths::fromUtf8(file_), nomeFile + "\n" + ultimaVisita);
    } catch (const std::exception&) {
        // Without the note an interruption falls back on the rule of the
        // refused file; the sending itself is unaffected.
    }
}

void InvioInCorso::termina() const {
    cancellaFile(file_);
}

std::optional<InvioInCorso::Nota> InvioInCorso::leggi() const {
    const std::optional<std::string> nota = files::readAll(paths::fromUtf8(file_));
    if (!nota) {
        return std::nullopt;
    }
    const std::size_t fine = nota->find('\n');
    if (fine == std::string::npos) {
        return std::nullopt;
    }
    return Nota{nota->substr(0, fine), nota->substr(fine + 1)};
}

}  // namespace kvt
