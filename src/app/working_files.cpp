// The portable part of the working files: existence, removal, moves and the
// files a power cut spoiled.
#include <filesystem>
#include <system_error>

#include "app/working_files.h"
#include "common/files.h"
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

bool spostaFile(const std::string& da, const std::string& a) {
    std::string motivo;
    return spostaFile(da, a, motivo);
}

bool spostaFile(const std::string& da, const std::string& a, std::string& motivo) {
    const std::error_code errore = files::moveReplacing(paths::fromUtf8(da), paths::fromUtf8(a));
    if (errore) {
        motivo = errore.message();
    }
    return !errore;
}

bool fileDanneggiato(const std::string& file) {
    const std::optional<std::string> contenuto = files::readAll(paths::fromUtf8(file));
    return contenuto && files::holdsZeroByte(*contenuto);
}

std::optional<std::string> mettiDaParte(const std::string& file, std::string& motivo) {
    const std::string aParte = file + kSuffissoDanneggiato;
    const std::error_code errore =
        files::moveReplacing(paths::fromUtf8(file), paths::fromUtf8(aParte));
    if (errore) {
        motivo = errore.message();
        return std::nullopt;
    }
    return aParte;
}

namespace {

// What the run does without the file, for the log line.
struct FileDiStato {
    std::string file;
    const char* conseguenza;
};

constexpr const char* kSenzaUltimeVisite =
    "senza le date di ultima visita i pazienti non ancora archiviati in inviati saranno "
    "inviati di nuovo";
constexpr const char* kSenzaNota = "un invio interrotto prima di questo non viene ripreso";
constexpr const char* kTracciatoDaRifare = "il tracciato non viene inviato e sarà rifatto";

std::vector<FileDiStato> tracciatiIn(const std::string& cartella) {
    std::vector<FileDiStato> tracciati;
    std::error_code errore;
    for (const auto& voce : fs::directory_iterator(paths::fromUtf8(cartella), errore)) {
        std::error_code tipo;
        const std::string nome = paths::toUtf8(voce.path().filename());
        if (voce.is_regular_file(tipo) && nome.ends_with("_kvt.xml")) {
            tracciati.push_back({paths::toUtf8(voce.path()), kTracciatoDaRifare});
        }
    }
    return tracciati;
}

}  // namespace

std::vector<std::string> mettiDaParteFileDanneggiati(const std::string& fileUltimeVisite,
                                                     const std::string& fileInvioInCorso,
                                                     const std::string& cartellaTracciati) {
    std::vector<FileDiStato> daControllare{{fileUltimeVisite, kSenzaUltimeVisite},
                                           {fileInvioInCorso, kSenzaNota}};
    for (const std::string& cartella : {cartellaTracciati, cartellaTracciati + "no_conn"}) {
        const std::vector<FileDiStato> tracciati = tracciatiIn(cartella);
        daControllare.insert(daControllare.end(), tracciati.begin(), tracciati.end());
    }
    std::vector<std::string> righe;
    for (const FileDiStato& stato : daControllare) {
        if (!fileDanneggiato(stato.file)) {
            continue;
        }
        std::string motivo;
        const std::optional<std::string> aParte = mettiDaParte(stato.file, motivo);
        righe.push_back(
            "File danneggiato (byte nulli, come dopo un'interruzione di corrente): " + stato.file +
            (aParte ? " messo da parte come " + *aParte : " non messo da parte (" + motivo + ")") +
            "; " + stato.conseguenza);
    }
    return righe;
}

}  // namespace kvt
