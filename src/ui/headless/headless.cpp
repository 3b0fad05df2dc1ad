#include "ui/headless/headless.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/comandi.h"
#include "app/connettore.h"
#include "app/frm_login.h"
#include "app/frm_main.h"
#include "app/working_files.h"
#include "common/files.h"
#include "common/general_functions.h"
#include "common/paths.h"
#include "common/windowing.h"
#include "ui/headless/piattaforma.h"
#include "ui/headless/riga_di_comando.h"

namespace kvt::headless {
namespace {

constexpr const char* kNomeProgramma = "vd_kvt";

// A message line of the program on standard error. Its texts may carry
// values from the host or the service: a control character in them is shown,
// never sent to the terminal as it is.
void scriviMessaggio(std::string_view testo) {
    scrivi(Flusso::Errore, std::string(kNomeProgramma) + ": " + righeVisibili(testo, true) + "\n");
}

// The message texts use CR LF between their lines; a terminal and a mail of
// cron want LF.
std::string righeUnix(std::string_view testo) {
    std::string risultato;
    risultato.reserve(testo.size());
    for (std::size_t i = 0; i < testo.size(); ++i) {
        if (testo[i] == '\r' && i + 1 < testo.size() && testo[i + 1] == '\n') {
            continue;
        }
        risultato += testo[i];
    }
    return risultato;
}

// The first line of the file, without its line end.
std::string primaRiga(const std::string& file) {
    const std::optional<std::string> testo = files::readAll(paths::fromUtf8(file));
    if (!testo) {
        throw std::invalid_argument("impossibile leggere il file della password: " + file);
    }
    std::string riga = testo->substr(0, testo->find('\n'));
    if (!riga.empty() && riga.back() == '\r') {
        riga.pop_back();
    }
    return riga;
}

std::string password(const RigaDiComando& riga) {
    if (riga.filePassword) {
        if (leggibileDaAltri(*riga.filePassword)) {
            scriviMessaggio("attenzione: il file della password " + *riga.filePassword +
                            " è leggibile da altri utenti (" + kRimedioLeggibile + ")");
        }
        return testoDaiByte(primaRiga(*riga.filePassword));
    }
    std::string letta = variabileAmbiente("KVT_PASSWORD").value_or("");
    dimenticaVariabileAmbiente("KVT_PASSWORD");
    return letta;
}

void cancella(std::string& segreto) {
    segreto.assign(segreto.size(), '\0');
    segreto.clear();
}

// The connector as an unattended run uses it: its options dialog would wait
// for an operator who is not there, so it is not opened.
class ConnettoreNonPresidiato final : public Connettore {
  public:
    explicit ConnettoreNonPresidiato(Connettore& connettore) : connettore_(connettore) {}
    void config() override {
        windowing().messageBox(
            "Opzioni del connettore: senza finestre non si aprono; usare 'lkconfig --show' "
            "e 'lkconfig --set NOME=VALORE'.",
            "Vello KVT", MessageIcon::Information);
    }
    int connect(const std::string& servizio, const std::string& secondo) override {
        return connettore_.connect(servizio, secondo);
    }
    std::string query(const std::string& richiesta, int n, int timeoutSecondi) override {
        return connettore_.query(richiesta, n, timeoutSecondi);
    }
    int getError() override { return connettore_.getError(); }
    int disconnect() override { return connettore_.disconnect(); }

  private:
    Connettore& connettore_;
};

// The progress of a run on one line of the terminal, rewritten as the main
// window's labels change: patient i of N, the phase, the OK/KO counts.
class Avanzamento final : public WindowObserver {
  public:
    explicit Avanzamento(bool attivo) : attivo_(attivo) {}

    void segui(const TfrmMain* finestra) {
        finestra_ = finestra;
        if (!finestra_) {
            cancellaRiga();
        }
    }
    void controlChanged(const Control&) override { aggiorna(); }

    // Takes the line away so that a message can be written, then puts it back.
    void primaDiUnMessaggio() { cancellaRiga(); }
    void dopoUnMessaggio() { aggiorna(); }

  private:
    std::string testo() const {
        const std::string& fase = finestra_->lblFase.caption();
        if (fase == "---") {
            return {};
        }
        std::string riga;
        if (finestra_->pBar.max() > 0 && finestra_->pBar.position() > 0) {
            riga = "Paziente " + std::to_string(finestra_->pBar.position()) + " di " +
                   std::to_string(finestra_->pBar.max()) + " - ";
        }
        riga += fase;
        const std::string& conteggio = finestra_->lblConteggio.caption();
        if (conteggio != "---") {
            riga += " - " + conteggio;
        }
        return riga;
    }

    void aggiorna() {
        if (!attivo_ || !finestra_) {
            return;
        }
        std::string riga = testo();
        const auto larghezza = static_cast<std::size_t>(larghezzaTerminale());
        if (larghezza > 1 && riga.size() >= larghezza) {
            riga.resize(larghezza - 1);
        }
        if (riga == mostrata_) {
            return;
        }
        scrivi(Flusso::Errore, "\r" + riga + "\033[K");
        mostrata_ = riga;
    }

    void cancellaRiga() {
        if (!attivo_ || mostrata_.empty()) {
            return;
        }
        scrivi(Flusso::Errore, "\r\033[K");
        mostrata_.clear();
    }

    bool attivo_;
    const TfrmMain* finestra_ = nullptr;
    std::string mostrata_;
};

// The windowing seam without windows: every message is written to standard
// error and answered at once, except the run's summary, which goes to
// standard output; the main window "shown modally" clicks the commands of the
// command line in order and leaves as "&Uscita" does.
class FinestreNonPresidiate final : public Windowing {
  public:
    FinestreNonPresidiate(const std::vector<Comando>& comandi, Avanzamento& avanzamento)
        : comandi_(comandi), avanzamento_(avanzamento) {}

    // True when a run counted creation or sending errors, did not end with
    // its summary, or a command showed a failure.
    bool conErrori() const { return conErrori_; }
    // True once the login has shown the main window: the login succeeded.
    bool finestraMostrata() const { return finestraMostrata_; }

    void messageBox(const std::string& text, const std::string&, MessageIcon icon) override {
        avanzamento_.primaDiUnMessaggio();
        if (finestra_ &&
            (text == finestra_->testoRiepilogo() || text == finestra_->testoVerifica())) {
            scrivi(Flusso::Uscita, righeUnix(text) + "\n");
        } else {
            scriviMessaggio(righeUnix(text));
            // Apart from the summary and plain notices, the program's
            // messages tell of failures.
            if (finestra_ && icon != MessageIcon::Information) {
                conErrori_ = true;
            }
        }
        avanzamento_.dopoUnMessaggio();
    }
    WindowHandle foregroundWindow() override { return 0; }
    void setForegroundWindow(WindowHandle) override {}
    void setHourglass(bool) override {}
    void processMessages() override {}
    void openDocument(const std::string&) override {}

    void showModal(ModalWindow& window) override {
        auto* principale = dynamic_cast<FinestraPrincipaleModale*>(&window);
        if (!principale) {
            return;
        }
        TfrmMain& finestra = principale->finestra;
        finestraMostrata_ = true;
        finestra_ = &finestra;
        finestra.setObserver(&avanzamento_);
        avanzamento_.segui(&finestra);
        try {
            for (const Comando comando : comandi_) {
                clicca(finestra, comando);
            }
            finestra.cmdExitClick();
        } catch (...) {
            lascia(finestra);
            throw;
        }
        lascia(finestra);
    }

  private:
    void lascia(TfrmMain& finestra) {
        avanzamento_.segui(nullptr);
        finestra.setObserver(nullptr);
        finestra_ = nullptr;
    }

    void clicca(TfrmMain& finestra, Comando comando) {
        switch (comando) {
            case Comando::NuovoInvio:
                finestra.cmdNuovoInvioClick();
                verificaInvio(finestra);
                break;
            case Comando::Riprendi:
                finestra.cmdInvioClick();
                verificaInvio(finestra);
                break;
            case Comando::TestLinea:
                finestra.cmdConnessioneClick();
                break;
            case Comando::InvioSingolo:
                invioSingolo(finestra);
                break;
            case Comando::Opzioni:
                finestra.cmdConfigClick();
                break;
            case Comando::Verifica:
                finestra.cmdVerificaClick();
                if (finestra.ultimoEsito() != EsitoInvio::Completato) {
                    conErrori_ = true;
                }
                break;
        }
    }

    void verificaInvio(const TfrmMain& finestra) {
        const Contatori& contatori = finestra.contatori();
        if (finestra.ultimoEsito() != EsitoInvio::Completato ||
            contatori.nErroriCreazione + contatori.nErroriInvio > 0) {
            conErrori_ = true;
        }
    }

    // The single send tells its outcome only in the log: it went when its
    // file has moved to "inviati/".
    void invioSingolo(TfrmMain& finestra) {
        const PercorsiPaziente percorsi = finestra.percorsiPaziente(kCodiceInvioSingolo);
        const bool daInviare = esisteFile(percorsi.fileXml);
        finestra.cmdInvioSingoloClick();
        if (!daInviare || esisteFile(percorsi.fileXml) || !esisteFile(percorsi.fileInviato)) {
            conErrori_ = true;
        }
    }

    const std::vector<Comando>& comandi_;
    Avanzamento& avanzamento_;
    TfrmMain* finestra_ = nullptr;
    bool conErrori_ = false;
    bool finestraMostrata_ = false;
};

// The installed windowing while the object lives.
class WindowingInstallato {
  public:
    explicit WindowingInstallato(Windowing& windowing) { setWindowing(&windowing); }
    ~WindowingInstallato() { setWindowing(nullptr); }
    WindowingInstallato(const WindowingInstallato&) = delete;
    WindowingInstallato& operator=(const WindowingInstallato&) = delete;
};

std::string cartellaDi(const RigaDiComando& riga) {
    if (!riga.cartellaProgramma) {
        return cartellaEseguibile();
    }
    std::error_code errore;
    const std::filesystem::path assoluta =
        std::filesystem::absolute(paths::fromUtf8(*riga.cartellaProgramma), errore);
    return errore ? *riga.cartellaProgramma : paths::toUtf8(assoluta);
}

int erroreDUso(const std::string& motivo) {
    scriviMessaggio(motivo);
    scrivi(Flusso::Errore, std::string("Provare '") + kEseguibile + " --help'.\n");
    return kUsoErrato;
}

int nonPresidiato(const RigaDiComando& riga) {
    preparaProcesso();
    std::string segreto;
    try {
        segreto = password(riga);
    } catch (const std::invalid_argument& errore) {
        return erroreDUso(errore.what());
    }

    Avanzamento avanzamento(erroreStandardSuTerminale());
    FinestreNonPresidiate finestre(riga.comandi, avanzamento);
    WindowingInstallato installato(finestre);
    ConnettoreNonPresidiato connettore(connettoreLKlib());

    TfrmLogin::Impostazioni impostazioni;
    impostazioni.cartellaProgramma = cartellaDi(riga);
    impostazioni.connettore = &connettore;
    impostazioni.preparaFinestra = [&riga](TfrmMain& finestra) {
        // Nobody watches the window: no pause between patients.
        finestra.setPausaTraPazienti(std::chrono::milliseconds(0));
        if (riga.debug) {
            finestra.chkDbg.setChecked(true);
            finestra.chkDbgClick();
        }
    };
    TfrmLogin login(std::move(impostazioni));
    login.txtUtente.setText(*riga.utente);
    login.txtPw.setText(segreto);
    cancella(segreto);
    login.cmdOKClick();
    login.txtPw.setText({});

    if (!login.chiusa()) {
        // An error after the login has been shown and ends the commands.
        return finestre.finestraMostrata() ? kFattoConErrori : kAccessoFallito;
    }
    return finestre.conErrori() ? kFattoConErrori : kFatto;
}

}  // namespace

void preparaProcesso() {
    nessunaCopiaDellaMemoria();
    scrittureOltreIlLimiteComeErrori();
    registraHost();
}

bool chiedeFinestre(int argc, char** argv) {
    try {
        return analizzaRigaDiComando(argomentiProgramma(argc, argv)).azione ==
               RigaDiComando::Azione::Finestre;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

std::string cartellaProgramma(int argc, char** argv) {
    try {
        return cartellaDi(analizzaRigaDiComando(argomentiProgramma(argc, argv)));
    } catch (const std::invalid_argument&) {
        return cartellaEseguibile();
    }
}

int runHeadless(int argc, char** argv) {
    RigaDiComando riga;
    try {
        riga = analizzaRigaDiComando(argomentiProgramma(argc, argv));
    } catch (const std::invalid_argument& errore) {
        return erroreDUso(errore.what());
    }
    switch (riga.azione) {
        case RigaDiComando::Azione::Aiuto:
            scrivi(Flusso::Uscita, testoAiuto());
            return kFatto;
        case RigaDiComando::Azione::Versione:
            scrivi(Flusso::Uscita, std::string(kNomeProgramma) + " " + TfrmMain::kVersione + "\n");
            return kFatto;
        case RigaDiComando::Azione::Finestre:
            return erroreDUso(
                "senza finestre serve --utente UTENTE e almeno un comando, per esempio: " +
                std::string(kEseguibile) + " --utente UTENTE --password-file FILE --nuovo-invio");
        case RigaDiComando::Azione::NonPresidiato:
            break;
    }
    // Without its connector the program cannot send: it says which file is
    // missing instead of failing at the first call. The dry run alone never
    // uses it.
    const bool soloVerifiche = std::all_of(riga.comandi.begin(), riga.comandi.end(),
                                           [](Comando c) { return c == Comando::Verifica; });
    if (const std::optional<std::string> mancante =
            soloVerifiche ? std::nullopt : connettoreMancante()) {
        scriviMessaggio(righeUnix(*mancante));
        return kFattoConErrori;
    }
    try {
        return nonPresidiato(riga);
    } catch (const std::exception& errore) {
        scriviMessaggio(errore.what());
        return kFattoConErrori;
    }
}

}  // namespace kvt::headless
