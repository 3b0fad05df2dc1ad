// The dry run "Verifica": the patients walked as "Riprendi" walks them, with
// the run's own decisions (statoCartelle, decidiRipresa) and record building
// (costruisciTracciato), but nothing sent, written, moved or deleted below
// "kvt/" except the report in "kvt/verifica/" and two log lines.
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/frm_main.h"
#include "app/rapporto_verifica.h"
#include "app/working_files.h"
#include "common/clock.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/general_functions.h"
#include "common/paths.h"
#include "common/validazione_dtd.h"
#include "common/windowing.h"
#include "common/workstation.h"
#include "common/xml_document.h"
#include "host/tvellopat.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kSottocartella = "verifica";

// "verifica-AAAAMMGG-HHMMSS": reports sort by their time.
std::string nomeRapporto(const DateTime& quando) {
    return "verifica-" + workstation::formatDateTime(quando, "yyyyMMdd-HHmmss");
}

// The empty mandatory elements named by a record's error text (its
// "ERR_OBL: Campo obbligatorio vuoto: <element>" lines), and the text of any
// other error line.
struct ErroriRecord {
    std::vector<std::string> mancanti;
    std::string altri;
};
ErroriRecord leggiErrori(const std::string& testoErrori) {
    constexpr std::string_view kObbligatorio = "ERR_OBL: Campo obbligatorio vuoto: <";
    ErroriRecord errori;
    std::size_t inizio = 0;
    while (inizio < testoErrori.size()) {
        std::size_t fine = testoErrori.find(kCrLf, inizio);
        if (fine == std::string::npos) {
            fine = testoErrori.size();
        }
        const std::string_view riga(testoErrori.data() + inizio, fine - inizio);
        if (riga.starts_with(kObbligatorio) && riga.ends_with('>')) {
            errori.mancanti.emplace_back(
                riga.substr(kObbligatorio.size(), riga.size() - kObbligatorio.size() - 1));
        } else if (!riga.empty()) {
            errori.altri += (errori.altri.empty() ? "" : " ") + std::string(riga);
        }
        inizio = fine + 2;
    }
    return errori;
}

std::string elencoEtichette(const std::vector<std::string>& elementi) {
    std::string elenco;
    for (const std::string& elemento : elementi) {
        elenco += (elenco.empty() ? "" : ", ") + etichettaElemento(elemento);
    }
    return elenco;
}

// The mandatory elements left empty in a ".err" marker: what the record
// lacked when it was built.
std::vector<std::string> mancantiNelMarcatore(const std::string& fileErr) {
    std::vector<std::string> mancanti;
    XmlDocument documento;
    if (!documento.load(paths::fromUtf8(fileErr))) {
        return mancanti;
    }
    for (const ElementoObbligatorio& elemento : elementiObbligatori()) {
        const XmlNode nodo = documento.selectSingleNode("//" + std::string(elemento.elemento));
        if (nodo && nodo.text().empty()) {
            mancanti.emplace_back(elemento.elemento);
        }
    }
    return mancanti;
}

// The service's code and description from its saved answer, read under the
// limits every answer is read with.
std::string motivoRifiuto(const std::string& fileRisposta) {
    if (!esisteFile(fileRisposta)) {
        return "rifiutato dal servizio (risposta non conservata)";
    }
    XmlDocument documento;
    TfrmMain::limitiRisposta(documento);
    documento.load(paths::fromUtf8(fileRisposta));
    const TfrmMain::CodiciRisposta codici = TfrmMain::codiciRisposta(documento);
    return "rifiutato dal servizio: codice " + codici.codice + " - " + codici.descrizione;
}

// Checks the records against the document type on a thread of its own,
// while the walk reads and builds the next patients: the check then costs
// the walk almost no time. A few records wait at most, so memory stays that
// of a few records.
class ControlloInParallelo {
  public:
    explicit ControlloInParallelo(const std::string& fileDtd)
        : validatore_(fileDtd), thread_([this] { lavora(); }) {}
    ~ControlloInParallelo() { ferma(); }
    ControlloInParallelo(const ControlloInParallelo&) = delete;
    ControlloInParallelo& operator=(const ControlloInParallelo&) = delete;

    void accoda(std::size_t riga, std::string testo) {
        std::unique_lock blocco(mutex_);
        spazio_.wait(blocco, [this] { return coda_.size() < kInAttesaMassimi; });
        coda_.emplace_back(riga, std::move(testo));
        lavoro_.notify_one();
    }

    // Every check done, by the row it belongs to.
    std::vector<std::pair<std::size_t, ValidatoreDtd::Esito>> esiti() {
        ferma();
        return std::move(esiti_);
    }

  private:
    static constexpr std::size_t kInAttesaMassimi = 3;

    void lavora() {
        std::unique_lock blocco(mutex_);
        for (;;) {
            lavoro_.wait(blocco, [this] { return fine_ || !coda_.empty(); });
            if (coda_.empty()) {
                return;
            }
            auto [riga, testo] = std::move(coda_.front());
            coda_.pop_front();
            spazio_.notify_one();
            blocco.unlock();
            ValidatoreDtd::Esito esito = validatore_.valida(testo);
            blocco.lock();
            esiti_.emplace_back(riga, std::move(esito));
        }
    }

    void ferma() {
        {
            const std::lock_guard blocco(mutex_);
            fine_ = true;
        }
        lavoro_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    ValidatoreDtd validatore_;
    std::mutex mutex_;
    std::condition_variable lavoro_;
    std::condition_variable spazio_;
    std::deque<std::pair<std::size_t, std::string>> coda_;
    std::vector<std::pair<std::size_t, ValidatoreDtd::Esito>> esiti_;
    bool fine_ = false;
    std::thread thread_;
};

// The walk of one dry run: it fills the report's model from the window's
// host and working folders, reading only.
class Verifica {
  public:
    explicit Verifica(TfrmMain& finestra)
        : finestra_(finestra), controllo_(finestra.fileDtdRichiesta()) {
        rapporto_.versione = TfrmMain::kVersione;
        rapporto_.quando = clock::now();
    }

    // The report, once every record's check has come back.
    RapportoVerifica& rapporto() {
        for (auto& [riga, esito] : controllo_.esiti()) {
            RigaVerifica& paziente = rapporto_.righe[riga];
            paziente.validita = esito.valido ? Validita::Valida : Validita::NonValida;
            paziente.motivoValidita = std::move(esito.motivo);
        }
        return rapporto_;
    }
    const std::string& medico() const { return rapporto_.medico; }
    void setMedico(std::string medico) { rapporto_.medico = std::move(medico); }
    bool fileMancanti() const { return !rapporto_.fileMancanti.empty(); }

    void controllaFile() {
        for (const std::string& file :
             {finestra_.fileDtdRichiesta(), finestra_.fileDtdRisposta(),
              finestra_.fileDtdSconosciuto(), finestra_.cartellaProgramma() + paths::kPshLibFile}) {
            if (!esisteFile(file)) {
                rapporto_.fileMancanti.push_back(file);
            }
        }
    }

    void paziente(int i, int n) {
        Tvellopat& host = *finestra_.host();
        RigaVerifica riga;
        riga.posizione = i;
        riga.nome = host.leggi_attributo("cognome") + " " + host.leggi_attributo("nome");
        finestra_.pBar.setPosition(i);
        finestra_.lblPaz.setCaption(std::to_string(i) + " di " + std::to_string(n) + ": " +
                                    testoVisibile(riga.nome));
        riga.codiceFiscale = host.leggi_attributo("codice_fiscale");
        const PercorsiPaziente percorsi = finestra_.percorsiPaziente(riga.codiceFiscale);

        TfrmMain::StatoCartelle stato =
            finestra_.statoNelGiro(riga.codiceFiscale, percorsi, i, giro_);
        if (stato != TfrmMain::StatoCartelle::SenzaCodiceFiscale &&
            stato != TfrmMain::StatoCartelle::CodiceNonValido &&
            stato != TfrmMain::StatoCartelle::AltraGrafia) {
            riga.ultimaVisita = finestra_.ultimaVisitaRegistrata();
            riga.ultimoInvio = finestra_.ultimoInvioAccettato(riga.codiceFiscale);
            // A fiscal code met earlier in this walk finds the folders as the
            // run will have left them for it.
            if (const auto lasciato = lasciati_.find(riga.codiceFiscale);
                lasciato != lasciati_.end()) {
                stato = lasciato->second;
            }
        }
        decidi(stato, percorsi, riga);

        if (riga.esito == EsitoPrevisto::DaInviare) {
            lasciati_[riga.codiceFiscale] = TfrmMain::StatoCartelle::Inviato;
        } else if (riga.esito == EsitoPrevisto::ErroreCreazione && !riga.mancanti.empty()) {
            lasciati_[riga.codiceFiscale] = TfrmMain::StatoCartelle::ConErr;
            mancantiLasciati_[riga.codiceFiscale] = riga.mancanti;
        }
        rapporto_.righe.push_back(std::move(riga));
        host.skip();
        windowing().processMessages();
    }

  private:
    using Stato = TfrmMain::StatoCartelle;

    void decidi(Stato stato, const PercorsiPaziente& percorsi, RigaVerifica& riga) {
        switch (stato) {
            case Stato::SenzaCodiceFiscale:
                scarta(riga, "senza codice fiscale: da inserire nella cartella clinica");
                return;
            case Stato::CodiceNonValido:
            case Stato::AltraGrafia:
                scarta(riga, TfrmMain::motivoScarto(stato, riga.codiceFiscale, giro_) +
                                 ": da correggere nella cartella clinica");
                return;
            case Stato::Inviato:
                riga.esito = EsitoPrevisto::GiaInviato;
                riga.motivo = "già inviato e accettato in questo invio";
                return;
            case Stato::ConErr: {
                const auto lasciati = mancantiLasciati_.find(riga.codiceFiscale);
                riga.mancanti = lasciati != mancantiLasciati_.end()
                                    ? lasciati->second
                                    : mancantiNelMarcatore(percorsi.fileErr);
                scarta(riga, "dati obbligatori mancanti (file .err): " +
                                 (riga.mancanti.empty() ? std::string("non indicati")
                                                        : elencoEtichette(riga.mancanti)) +
                                 "; dopo la correzione serve «Nuovo Invio»");
                return;
            }
            case Stato::Rifiutato:
                scarta(riga, motivoRifiuto(percorsi.fileRisposta));
                return;
            case Stato::InvioInterrotto:
                riprendi(percorsi, riga, "invio precedente interrotto, tracciato da rifare");
                return;
            case Stato::Libero:
                riprendi(percorsi, riga, {});
                return;
        }
    }

    static void scarta(RigaVerifica& riga, std::string motivo) {
        riga.esito = EsitoPrevisto::Scartato;
        riga.motivo = std::move(motivo);
    }

    void riprendi(const PercorsiPaziente& percorsi, RigaVerifica& riga,
                  const std::string& interrotto) {
        const DateTime ultimaVisita =
            riga.ultimaVisita ? *riga.ultimaVisita : clock::now().addSeconds(-5);
        const auto motivo = [&](const char* testo) {
            return interrotto.empty() ? std::string(testo) : interrotto + "; " + testo;
        };
        switch (finestra_.decidiRipresa(percorsi, riga.codiceFiscale, ultimaVisita)) {
            case TfrmMain::Ripresa::NonVisitato:
                riga.esito = EsitoPrevisto::GiaInviato;
                riga.motivo = motivo("non visitato dopo l'ultimo invio accettato");
                return;
            case TfrmMain::Ripresa::RecuperoNoConn:
                riga.esito = EsitoPrevisto::DaInviare;
                riga.motivo = motivo("in attesa di connessione (no_conn): ripreso così com'è");
                if (auto testo = files::readAll(paths::fromUtf8(percorsi.fileNoConn))) {
                    riga.dimensione = testo->size();
                    controlla(std::move(*testo));
                }
                return;
            case TfrmMain::Ripresa::RicostruzioneNoConn:
                costruisci(riga, motivo("in attesa di connessione ma visitato dopo: rifatto"));
                return;
            case TfrmMain::Ripresa::Costruzione:
                costruisci(riga, motivo(riga.ultimoInvio ? "visitato dopo l'ultimo invio accettato"
                                                         : "mai inviato"));
                return;
        }
    }

    void costruisci(RigaVerifica& riga, const std::string& motivo) {
        try {
            XmlDocument documento;
            const Cartella cartella = finestra_.costruisciTracciato(documento);
            std::string testo = documento.xml();
            riga.dimensione = testo.size();
            if (!isErrore(cartella.testoErrori)) {
                controlla(std::move(testo));
            }
            for (const AvvisoCampo& avviso : cartella.avvisi) {
                // An "ANF" value of another length is written whole, as the
                // host holds it: most codes are, so it is no news to the office.
                if (avviso.tipo != "ANF") {
                    rapporto_.avvisi.push_back({riga.posizione, riga.nome, avviso});
                }
            }
            if (!isErrore(cartella.testoErrori)) {
                riga.esito = EsitoPrevisto::DaInviare;
                riga.motivo = motivo;
                return;
            }
            ErroriRecord errori = leggiErrori(cartella.testoErrori);
            riga.esito = EsitoPrevisto::ErroreCreazione;
            riga.mancanti = std::move(errori.mancanti);
            riga.dimensione.reset();
            riga.motivo = riga.mancanti.empty()
                              ? "tracciato non creato: " + errori.altri
                              : "dati obbligatori mancanti: " + elencoEtichette(riga.mancanti) +
                                    ": da correggere nella cartella clinica";
        } catch (const HostPerso&) {
            // No forecast from a host that went away: the check stops.
            throw;
        } catch (const std::exception& errore) {
            riga.esito = EsitoPrevisto::ErroreCreazione;
            riga.dimensione.reset();
            riga.motivo = std::string("cartella clinica non leggibile: ") + errore.what();
        }
    }

    // The row is the next one of the report.
    void controlla(std::string testo) {
        controllo_.accoda(rapporto_.righe.size(), std::move(testo));
    }

    TfrmMain& finestra_;
    RapportoVerifica rapporto_;
    std::map<std::string, Stato> lasciati_;
    CodiciDelGiro giro_;
    std::map<std::string, std::vector<std::string>> mancantiLasciati_;
    // Last: its thread stops before the rest goes.
    ControlloInParallelo controllo_;
};

}  // namespace

void TfrmMain::cmdVerificaClick() {
    Comando comando(*this);
    if (!comando.avviato() || !comando.bloccaCartella()) {
        return;
    }
    Clessidra clessidra;
    testoVerifica_.clear();
    erroreInvio_.clear();
    lblFase.setCaption("Verifica (nessun invio)");
    lblConteggio.setCaption("---");

    Verifica verifica(*this);
    int n = 0;
    try {
        riapriHostPerso();
        Tvellopat& host = hostAttivo();
        verifica.setMedico(host.leggi_attributo("userid_utente"));
        verifica.controllaFile();
        leggiInvioInterrotto();
        if (!verifica.fileMancanti()) {
            n = host.carica("codice_medico =" + verifica.medico() + "|tipo_di_convenzione=S",
                            "alfabetico");
        }
        suLog("VERIFICA - Pazienti totali: " + std::to_string(n) + " versione " + kVersione +
              " (nessun invio, nessun file di lavoro modificato)");
        pBar.setRange(0, n);
        for (int i = 1; i <= n; ++i) {
            try {
                verifica.paziente(i, n);
            } catch (const HostPerso& errore) {
                throw HostPerso(testoHostPerso(errore, "Verifica fermata", i, n));
            }
        }
    } catch (const std::exception& errore) {
        lblFase.setCaption("---");
        lblPaz.setCaption("---");
        erroreInvio_ = errore.what();
        esito_ = EsitoInvio::Interrotto;
        suLog("VERIFICA terminata - interrotta: " + erroreInvio_);
        windowing().messageBox(erroreInvio_, "Vello KVT", MessageIcon::Error);
        return;
    }
    lblFase.setCaption("---");
    lblPaz.setCaption("---");

    const RapportoVerifica& rapporto = verifica.rapporto();
    const std::string cartella = cartellaKvt_ + kSottocartella + paths::kSeparator;
    // Two checks within one second keep both reports.
    std::string base = cartella + nomeRapporto(rapporto.quando);
    for (int copia = 2; esisteFile(base + ".html") || esisteFile(base + ".csv"); ++copia) {
        base = cartella + nomeRapporto(rapporto.quando) + "-" + std::to_string(copia);
    }
    const std::string fileHtml = base + ".html";
    const std::string fileCsv = base + ".csv";
    const std::string previsione = testoPrevisione(rapporto);
    std::string riepilogo = previsione;
    for (std::size_t p = riepilogo.find(kCrLf); p != std::string::npos;
         p = riepilogo.find(kCrLf, p)) {
        riepilogo.replace(p, 2, ", ");
    }
    try {
        if (!creaCartellaPrivata(cartella)) {
            throw Error("la cartella non si può creare");
        }
        files::writeAtomically(paths::fromUtf8(fileHtml), rapportoHtml(rapporto),
                               files::Replace::PrivateDurable);
        files::writeAtomically(
            paths::fromUtf8(fileCsv),
            rapportoCsv(rapporto, workstation::listSeparator(), workstation::decimalSeparator()),
            files::Replace::PrivateDurable);
    } catch (const std::exception& errore) {
        const std::string testo =
            "Rapporto della verifica non scritto in " + cartella + ": " + errore.what();
        suLog("VERIFICA terminata - " + riepilogo + " - " + testo);
        erroreInvio_ = testo;
        esito_ = EsitoInvio::Interrotto;
        windowing().messageBox(testo, "Vello KVT", MessageIcon::Error);
        return;
    }
    suLog("VERIFICA terminata - " + riepilogo + " - rapporto: " + fileHtml);
    esito_ = EsitoInvio::Completato;
    testoVerifica_ = std::string("Verifica terminata: nessun file è stato inviato o modificato.") +
                     kCrLf + "Previsione del prossimo \"Riprendi\":" + kCrLf + previsione + kCrLf +
                     "Rapporto: " + fileHtml + kCrLf + "Rapporto CSV: " + fileCsv;
    windowing().messageBox(testoVerifica_, "Vello KVT", MessageIcon::Information);
}

}  // namespace kvt
