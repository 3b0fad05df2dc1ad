// The operator's commands of the main window beyond the run itself: a new
// sending (log rotation, reset of the working folders, then the run), the
// line test, the connector's options, the hidden single fixed send and the
// hidden debug switch.
#include <cctype>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "app/comandi.h"
#include "app/frm_main.h"
#include "app/working_files.h"
#include "common/paths.h"
#include "common/windowing.h"
#include "connector/connector_texts.h"

namespace kvt {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

// What the reset of a new sending removes, in this order: folders below
// "kvt/xml/" and the pattern of the names removed there. The document-type
// copies, the last-visit file and every other file stay.
struct PassoReset {
    const char* sottocartella;
    const char* modello;
};
const PassoReset kPassiReset[] = {
    {"", "*.xml"},          // built or taken back and not accepted, refused ones too
    {"", "*.err"},          // records that lacked mandatory data
    {"inviati", "*.xml"},   // accepted in the current sending
    {"no_conn", "*.xml"},   // waiting for a connection
    {"risposte", "*.xml"},  // answers
};

char minuscola(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// A file-name pattern with "*" (any run of characters) and "?" (any one
// character), compared without regard to case as the workstation's file
// system of the office does.
bool corrispondeModello(std::string_view nome, std::string_view modello) {
    std::size_t n = 0, m = 0;
    std::size_t stella = std::string_view::npos, ritorno = 0;
    while (n < nome.size()) {
        if (m < modello.size() &&
            (modello[m] == '?' || minuscola(modello[m]) == minuscola(nome[n]))) {
            ++n;
            ++m;
        } else if (m < modello.size() && modello[m] == '*') {
            stella = m++;
            ritorno = n;
        } else if (stella != std::string_view::npos) {
            m = stella + 1;
            n = ++ritorno;
        } else {
            return false;
        }
    }
    while (m < modello.size() && modello[m] == '*') {
        ++m;
    }
    return m == modello.size();
}

// Deletes every entry of the folder that matches the pattern and is not a
// folder; the number of entries found. A deletion that fails is counted all
// the same: the run then treats the file left behind by its own rules.
int cancellaPerModello(const std::string& cartella, std::string_view modello) {
    int conteggio = 0;
    std::error_code errore;
    fs::directory_iterator voce(paths::fromUtf8(cartella), errore);
    if (errore) {
        return 0;
    }
    for (const fs::directory_iterator fine; voce != fine; voce.increment(errore)) {
        if (errore) {
            break;
        }
        std::error_code tipo;
        if (voce->is_directory(tipo)) {
            continue;
        }
        if (!corrispondeModello(paths::toUtf8(voce->path().filename()), modello)) {
            continue;
        }
        ++conteggio;
        std::error_code cancellazione;
        fs::remove(voce->path(), cancellazione);
    }
    return conteggio;
}

void mostraErrore(const std::exception& errore) {
    windowing().messageBox(errore.what(), "Vello KVT", MessageIcon::Error);
}

}  // namespace

void TfrmMain::cmdNuovoInvioClick() {
    Comando comando(*this);
    // No second run and no reset inside a running one; no reset of folders
    // another process is sending from.
    if (!comando.avviato() || !comando.bloccaCartella()) {
        return;
    }

    // The log of the new sending starts afresh; the previous one is kept.
    std::error_code ignorato;
    fs::remove(paths::fromUtf8(fileLogOld()), ignorato);
    spostaFile(fileLog(), fileLogOld());

    for (const PassoReset& passo : kPassiReset) {
        std::string cartella = cartellaXml() + passo.sottocartella;
        if (!cartella.ends_with(paths::kSeparator)) {
            cartella += paths::kSeparator;
        }
        const int cancellati = cancellaPerModello(cartella, passo.modello);
        suLog("---Reset: file xml cancellati " + cartella + passo.modello + ":" +
              std::to_string(cancellati));
    }

    eseguiInvio();
}

void TfrmMain::cmdConnessioneClick() {
    Comando comando(*this);
    if (!comando.avviato()) {
        return;
    }
    try {
        const int risultato = mLKConnect(kServizio);
        const std::string esito = std::to_string(risultato) + " = " + descriviCodice(risultato);
        suLog("...test connessione: " + esito);
        if (risultato != 0) {
            windowing().messageBox("Errore Connessione: " + esito, "Vello KVT", MessageIcon::Error);
        } else {
            windowing().messageBox("Connessione stabilita con successo.", "Vello KVT",
                                   MessageIcon::Information);
        }
    } catch (const std::exception& errore) {
        // mLKConnect has logged it with -1.
        mostraErrore(errore);
    }
    // Closed after the message, also when the connection failed.
    try {
        mLKDisconnect();
    } catch (const std::exception& errore) {
        mostraErrore(errore);
    }
}

void TfrmMain::cmdConfigClick() {
    Comando comando(*this);
    if (!comando.avviato()) {
        return;
    }
    // The connector's own dialog; what it returns tells nothing to the program.
    connettore().config();
}

void TfrmMain::cmdInvioSingoloClick() {
    Comando comando(*this);
    if (!comando.avviato() || !comando.bloccaCartella()) {
        return;
    }
    const PercorsiPaziente percorsi = percorsiPaziente(kCodiceInvioSingolo);
    std::string errore;
    bool accettato = false;
    try {
        accettato = InviaXml(kServizio, percorsi.fileXml, errore, percorsi.fileRisposta);
    } catch (const std::exception& eccezione) {
        mostraErrore(eccezione);
        return;
    }
    // Nothing else is recorded: no last-visit date, no counter.
    if (accettato) {
        cancellaFile(percorsi.fileInviato);
        spostaFile(percorsi.fileXml, percorsi.fileInviato);
        return;
    }
    if (chkDbg.checked()) {
        windowing().messageBox(std::string("Errore invio/risposta del tracciato corrente.") +
                               kCrLf + kCrLf + percorsi.fileXml + kCrLf + kCrLf + "Log:" + errore);
    }
    // A file already waiting for a connection is kept: the new one then stays
    // in "kvt/xml/".
    if (errore.find("ErrConnessione:") != std::string::npos && !esisteFile(percorsi.fileNoConn)) {
        spostaFile(percorsi.fileXml, percorsi.fileNoConn);
    }
}

void TfrmMain::chkDbgClick() {
    // The switch is only read where a failure may be shown.
}

}  // namespace kvt
