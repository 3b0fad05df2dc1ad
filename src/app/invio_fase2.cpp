// The second phase of the run: send one upload file through the connector,
// save and read the service's answer, and file the upload by the outcome.
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "app/frm_main.h"
#include "app/working_files.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/general_functions.h"
#include "common/paths.h"
#include "common/windowing.h"
#include "common/xml_document.h"
#include "connector/connector_texts.h"

namespace kvt {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kCostanteQuery = 255;

// Closes the connection after an error inside a connector call, so that the
// next sending does not find the connector busy; the error itself goes on.
void disconnettiInSilenzio(Connettore& connettore) {
    try {
        connettore.disconnect();
    } catch (...) {
    }
}

// Files the upload by its outcome; the reason when it could not be moved.
std::optional<std::string> archiviaTracciato(const std::string& da, const std::string& a) {
    const std::error_code errore = files::moveReplacing(paths::fromUtf8(da), paths::fromUtf8(a));
    if (errore) {
        return "impossibile spostare il tracciato " + da + " in " + a + ": " + errore.message();
    }
    return std::nullopt;
}

}  // namespace

int TfrmMain::mLKConnect(const std::string& servizio) {
    int risultato = -1;
    try {
        risultato = connettore_->connect(servizio, "");
    } catch (...) {
        suLog("...Eccezione mLKConnect : " + std::to_string(-1));
        throw;
    }
    if (risultato != 0) {
        suLog("...Eccezione mLKConnect : " + std::to_string(risultato));
    }
    return risultato;
}

int TfrmMain::mLKDisconnect() {
    int risultato = -1;
    try {
        risultato = connettore_->disconnect();
    } catch (...) {
        suLog("...Eccezione mLKDisconnect : " + std::to_string(-1));
        throw;
    }
    if (risultato != 0) {
        suLog("...Eccezione mLKDisconnect : " + std::to_string(risultato));
    }
    return risultato;
}

std::string TfrmMain::mLKQuery(const std::string& richiesta) {
    std::string risposta = "ERR_mLKQuery";
    try {
        risposta = connettore_->query(richiesta, kCostanteQuery, timeOut_ / 1000);
    } catch (const std::exception& errore) {
        windowing().messageBox(std::string("Eccezione mLKQuery: ") + errore.what());
    }
    return risposta;
}

bool TfrmMain::InviaXml(const std::string& servizio, const std::string& fileXml,
                        std::string& errore, const std::string& fileRisposta) {
    const std::string richiesta = leggiFile(paths::fromUtf8(fileXml));
    if (richiesta.empty()) {
        errore = std::string(kCrLf) + "ErrXml: xml è vuoto!";
        return false;
    }

    int connessione = -1;
    try {
        connessione = mLKConnect(servizio);
    } catch (...) {
        disconnettiInSilenzio(*connettore_);
        throw;
    }
    errore = std::string(kCrLf) + "ErrConnessione: " + descriviCodice(connessione);
    suLog("Fase 2: #1 connessione: " + std::to_string(connessione) + " = " +
          descriviCodice(connessione));

    bool accettato = false;
    if (connessione == 0) {
        try {
            const std::string risposta = mLKQuery(richiesta);
            const int invio = connettore_->getError();
            suLog("Fase 2: #2 Invio: " + std::to_string(invio) + " = " + descriviCodice(invio));
            errore = std::string(kCrLf) + "ErrInvio: " + descriviCodice(invio);
            if (invio == 0) {
                accettato = leggiRisposta(risposta, fileRisposta, errore);
            }
        } catch (...) {
            disconnettiInSilenzio(*connettore_);
            throw;
        }
    }
    mLKDisconnect();
    return accettato;
}

bool TfrmMain::leggiRisposta(std::string risposta, const std::string& fileRisposta,
                             std::string& errore) {
    const std::size_t dichiarazione = risposta.find("<!DOCTYPE");
    if (dichiarazione != std::string::npos) {
        const std::size_t fine = risposta.find('>', dichiarazione);
        if (fine != std::string::npos) {
            risposta.erase(dichiarazione, fine - dichiarazione + 1);
        }
    }
    // Written to a temporary name and renamed into place: a later reader
    // never finds half an answer.
    const bool salvata = scriviFile(paths::fromUtf8(fileRisposta), risposta);

    // The answer comes from outside. A service's answer is a few hundred
    // bytes a few levels deep: one over 1 MiB (the connector lets up to
    // 16 MiB through), nested deeper than 256 levels, or still declaring a
    // document type or entities is refused as not readable. The size is
    // checked before the file is read, so that no answer costs the parser
    // more than a bounded amount of memory.
    XmlDocument documento;
    limitiRisposta(documento);
    if (salvata) {
        documento.load(paths::fromUtf8(fileRisposta));
    } else {
        // An answer that cannot be saved is still read from what the service
        // said: an earlier answer left in its place must not decide this one.
        documento.loadXML(risposta);
    }
    const CodiciRisposta codici = codiciRisposta(documento);
    const bool accettato = codici.codice.empty();
    if (accettato) {
        suLog("Fase 2: #3 Risposta: OK");
    } else {
        suLog(std::string("Fase 2: #3 Risposta: ") + (codici.dellaRichiesta ? "KO+" : "KO") +
              " - CodiceErrore: " + testoVisibile(codici.codice) +
              " - DescrizioneErrore: " + testoVisibile(codici.descrizione));
    }
    // The service's texts go on to the log and, with "Debug", to a message:
    // a line break or an escape sequence inside them is shown, not obeyed.
    errore += std::string(kCrLf) + "CodiceErr:" + testoVisibile(codici.codice) +
              " DescrErr: " + testoVisibile(codici.descrizione);
    return accettato;
}

void TfrmMain::limitiRisposta(XmlDocument& documento) {
    documento.setAsync(false);
    documento.setProperty("ProhibitDTD", "true");
    documento.setProperty("MaxXMLSize", "1024");
    documento.setProperty("MaxElementDepth", "256");
    documento.setProperty("SelectionLanguage", "XPath");
}

TfrmMain::CodiciRisposta TfrmMain::codiciRisposta(const XmlDocument& documento) {
    CodiciRisposta codici;
    codici.codice = dammi(documento, "/vekRisposta/vekCodiceErrore");
    if (!codici.codice.empty()) {
        codici.dellaRichiesta = true;
        codici.descrizione = dammi(documento, "//vekRisposta/vekDescrizioneErrore");
        return codici;
    }
    codici.codice = dammi(documento, "/vekRisposta/vekPazienti/vekPaziente/vekCodiceErrore");
    if (!codici.codice.empty()) {
        codici.descrizione =
            dammi(documento, "/vekRisposta/vekPazienti/vekPaziente/vekDescrizioneErrore");
    }
    return codici;
}

std::string TfrmMain::dammi(const XmlDocument& documento, const std::string& xpath) {
    std::string valore = "empty";
    try {
        if (documento.parseError().errorCode != 0) {
            return documento.parseError().reason;
        }
        const XmlNode nodo = documento.selectSingleNode(xpath);
        if (nodo) {
            valore = nodo.text();
        }
    } catch (const std::exception& errore) {
        windowing().messageBox(std::string("dammi: ") + errore.what());
    }
    return valore;
}

void TfrmMain::inviaPaziente(int i, int n, const PercorsiPaziente& percorsi,
                             const std::string& codiceFiscale, const DateTime& ultimaVisita) {
    lblFase.setCaption("Fase 2 di 2: invio tracciato");
    suLog("Fase 2: paz" + std::to_string(i) + " in " + percorsi.fileXml);
    ridisegna();

    std::string errore;
    if (InviaXml(kServizio, percorsi.fileXml, errore, percorsi.fileRisposta)) {
        // Accepted: the last visit is stored even when the upload cannot be
        // filed in "inviati/", so that the patient is not sent again before a
        // new visit.
        const std::optional<std::string> nonArchiviato =
            archiviaTracciato(percorsi.fileXml, percorsi.fileInviato);
        registraUltimaVisita(codiceFiscale, dataOraATesto(ultimaVisita));
        if (nonArchiviato) {
            lasciaTracciatoNonArchiviato(i, percorsi.fileXml, *nonArchiviato);
        }
        ++contatori_.nInviati;
        return;
    }

    suLog("Fase 2: Errore InviaXml:" + errore);
    if (chkDbg.checked()) {
        windowing().messageBox("Errore invio/risposta del tracciato corrente. (" +
                               std::to_string(i) + "/" + std::to_string(n) + ")" + kCrLf + kCrLf +
                               percorsi.fileXml + kCrLf + kCrLf + "Log:" + errore);
    }
    ++contatori_.nErroriInvio;
    if (errore.find("ErrConnessione:") != std::string::npos) {
        if (const auto nonArchiviato = archiviaTracciato(percorsi.fileXml, percorsi.fileNoConn)) {
            lasciaTracciatoNonArchiviato(i, percorsi.fileXml, *nonArchiviato);
        }
    }
}

void TfrmMain::lasciaTracciatoNonArchiviato(int i, const std::string& fileXml,
                                            const std::string& motivo) {
    // Left in "kvt/xml/", the upload would pass for one the service refused
    // and never go again. Removed, the next run decides afresh: an accepted
    // patient by its stored last visit, an unsent one by building it again.
    ++esitiNonRegistrati_;
    const bool rimosso = cancellaFile(fileXml);
    suLog("Fase 2: paz" + std::to_string(i) + " ERRORE_ARCHIVIAZIONE: " + motivo +
          (rimosso
               ? " - tracciato rimosso, il prossimo invio decide di nuovo"
               : " - tracciato non rimosso, resta tra i rifiutati fino al prossimo Nuovo Invio"));
}

}  // namespace kvt
