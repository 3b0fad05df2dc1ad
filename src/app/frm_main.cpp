// The main window's frame: its controls, what its creation prepares, the
// checks that open every run, the log, and the commands that only open the
// log or leave.
#include "app/frm_main.h"

#include <charconv>
#include <climits>
#include <filesystem>
#include <system_error>
#include <variant>

#include "app/working_files.h"
#include "common/clock.h"
#include "common/files.h"
#include "common/general_functions.h"
#include "common/paths.h"
#include "common/windowing.h"
#include "common/workstation.h"

namespace kvt {
namespace fs = std::filesystem;

namespace {

constexpr const char* kChiaveConnettore = "\\SOFTWARE\\Norvix\\VEKConnector\\LK";
constexpr int kTimeOutMinimo = 90000;

std::string conBarraFinale(std::string cartella) {
    if (cartella.empty()) {
        cartella = ".";
    }
    if (!paths::isSeparator(cartella.back())) {
        cartella += paths::kSeparator;
    }
    return cartella;
}

// The whole text as a 32-bit whole number (leading blanks allowed, as the
// program's integer conversion of a text always allowed); nothing otherwise.
std::optional<long long> testoAIntero(const std::string& testo) {
    std::size_t inizio = 0;
    while (inizio < testo.size() && testo[inizio] == ' ') {
        ++inizio;
    }
    const char* primo = testo.data() + inizio;
    const char* ultimo = testo.data() + testo.size();
    if (primo != ultimo && *primo == '+') {
        ++primo;
    }
    std::int32_t valore = 0;
    const auto [fine, errore] = std::from_chars(primo, ultimo, valore);
    if (errore != std::errc() || fine != ultimo || primo == ultimo) {
        return std::nullopt;
    }
    return valore;
}

// The registry value "ReqTout" as milliseconds; nothing when it is missing or
// cannot be read as a whole number.
std::optional<long long> leggiReqTout() {
    try {
        const ValoreRegistro valore =
            leggiValoreRegistro(registry::Root::CurrentUser, kChiaveConnettore, "ReqTout");
        if (const auto* numero = std::get_if<std::int64_t>(&valore)) {
            if (*numero < INT32_MIN || *numero > INT32_MAX) {
                return std::nullopt;
            }
            return *numero;
        }
        return testoAIntero(std::get<std::string>(valore));
    } catch (...) {
        return std::nullopt;
    }
}

bool soloSpaziEControlli(const std::string& testo) {
    for (const char c : testo) {
        if (static_cast<unsigned char>(c) > ' ') {
            return false;
        }
    }
    return true;
}

}  // namespace

TfrmMain::TfrmMain(std::string cartellaProgramma, Tvellopat* host, Connettore* connettore)
    : cmdNuovoInvio(observer_, "cmdNuovoInvio", "Nuovo Invio", true, 0,
                    {.bold = true, .isDefault = true}),
      cmdInvio(observer_, "cmdInvio", "Riprendi", true, 1, {.isDefault = true}),
      cmdExit(observer_, "cmdExit", "&Uscita", true, 2, {}),
      pBar(observer_, "pBar"),
      cmdLog(observer_, "cmdLog", "Log", true, 3, {.small = true}),
      cmdConnessione(observer_, "cmdConnessione", "Test Linea", true, 4, {.small = true}),
      chkDbg(observer_, "chkDbg", "Debug", false, 5),
      cmdConfig(observer_, "cmdConfig", "Opzioni", true, 6, {.small = true}),
      cmdInvioSingolo(observer_, "cmdInvioSingolo", "Invio Singolo", false, 7, {}),
      lblDescr(observer_, "lblDescr", "Kappa Volta Trasmissioni",
               {.bold = true, .large = true, .wordWrap = true}),
      imgKvt(observer_, "imgKvt"),
      lblPaz(observer_, "lblPaz", "---", {.bold = true}),
      lblFase(observer_, "lblFase", "---", {.alignment = Label::Alignment::Right}),
      lblConteggio(observer_, "lblConteggio", "---", {.alignment = Label::Alignment::Right}),
      host_(host),
      connettore_(connettore ? connettore : &connettoreLKlib()),
      cartellaProgramma_(conBarraFinale(std::move(cartellaProgramma))) {
    FormCreate();
}

TfrmMain::~TfrmMain() = default;

std::vector<const Control*> TfrmMain::controlli() const {
    return {&cmdNuovoInvio, &cmdInvio,    &cmdExit,         &pBar,     &cmdLog, &cmdConnessione,
            &chkDbg,        &cmdConfig,   &cmdInvioSingolo, &lblDescr, &imgKvt, &lblPaz,
            &lblFase,       &lblConteggio};
}

PercorsiPaziente TfrmMain::percorsiPaziente(const std::string& codiceFiscale) const {
    const std::string nome = codiceFiscale + "_kvt.xml";
    const std::string xml = cartellaXml();
    PercorsiPaziente percorsi;
    percorsi.fileXml = xml + nome;
    percorsi.fileErr = percorsi.fileXml + ".err";
    percorsi.fileInviato = xml + "inviati" + paths::kSeparator + nome;
    percorsi.fileNoConn = xml + "no_conn" + paths::kSeparator + nome;
    percorsi.fileRisposta = xml + "risposte" + paths::kSeparator + nome;
    return percorsi;
}

std::string TfrmMain::cartellaXml() const {
    return cartellaKvt_ + "xml" + paths::kSeparator;
}

void TfrmMain::FormCreate() {
    cartellaKvt_ = cartellaProgramma_ + "kvt" + paths::kSeparator;
    creaCartellaPrivata(cartellaKvt_);

    const std::string dtd = cartellaKvt_ + "dtd" + paths::kSeparator;
    fileDtdRichiesta_ = dtd + "RichiestaCaricamento.dtd";
    fileDtdRisposta_ = dtd + "RispostaCaricamento.dtd";
    fileDtdSconosciuto_ = dtd + "dtdUnknown.dtd";
    fileLog_ = cartellaKvt_ + "log.txt";
    fileLogOld_ = cartellaKvt_ + "log_old.txt";
    fileIni_ = cartellaKvt_ + "update_new.ini";
    fileInvioInCorso_ = cartellaKvt_ + "invio_in_corso";

    suLog(std::string("FormCreate - vd_kvt versione ") + kVersione);

    caption_ = std::string("Vello KVT v") + kVersione;
    notificaCaption();

    // Without the connector's settings nothing can be sent: the operator
    // configures it before anything else.
    if (leggiStringaRegistro(registry::Root::CurrentUser, kChiaveConnettore, "LogFilename")
            .empty()) {
        connettore_->config();
    }

    leggiTimeOut();
    suLog("timeOut (msec) " + std::to_string(timeOut_));
}

void TfrmMain::leggiTimeOut() {
    const std::optional<long long> letto = leggiReqTout();
    timeOut_ = letto && *letto > kTimeOutMinimo ? static_cast<int>(*letto) : kTimeOutMinimo;
}

bool TfrmMain::controlliIniziali() {
    lblFase.setCaption("Controlli iniziali...");
    suLog("cmdEstraiClick");

    bool riusciti = true;
    struct Documento {
        const std::string& file;
        const char* righaLog;
    };
    const Documento documenti[] = {
        {fileDtdRichiesta_, "NO RICHIESTA_UPLO_DTD"},
        {fileDtdRisposta_, "NO RISPOSTA_UPLO_DTD"},
        {fileDtdSconosciuto_, "NO RISPOSTA_UNK_DTD"},
    };
    for (const Documento& documento : documenti) {
        if (!esisteFile(documento.file)) {
            suLog(documento.righaLog);
            windowing().messageBox("...File non trovato: " + documento.file);
            riusciti = false;
        }
    }
    // The pseudonym library must lie in the program folder.
    const std::string libreria = cartellaProgramma_ + paths::kPshLibFile;
    if (!esisteFile(libreria)) {
        suLog("NO PSHLib");
        windowing().messageBox("...File non trovato: " + libreria);
        riusciti = false;
    }
    if (!riusciti) {
        return false;
    }

    const std::string xml = cartellaXml();
    for (const char* sottocartella : {"inviati", "risposte", "no_conn"}) {
        creaCartellaPrivata(xml + sottocartella + paths::kSeparator);
    }

    // The installed document types replace the copies at every run; a copy
    // that fails shows later, when a file that needs it is read. Each copy is
    // written under a temporary name and renamed into place, as every working
    // file: one cut short (disk full, file size limit) never replaces a whole
    // one.
    const std::pair<const std::string&, std::string> copie[] = {
        {fileDtdRichiesta_, xml + "RichiestaCaricamento.dtd"},
        {fileDtdRichiesta_, xml + "inviati" + paths::kSeparator + "RichiestaCaricamento.dtd"},
        {fileDtdRisposta_, xml + "risposte" + paths::kSeparator + "RispostaCaricamento.dtd"},
        {fileDtdSconosciuto_, xml + "risposte" + paths::kSeparator + "dtdUnknown.dtd"},
    };
    for (const auto& [da, a] : copie) {
        if (const std::optional<std::string> testo = files::readAll(paths::fromUtf8(da))) {
            try {
                files::writeAtomically(paths::fromUtf8(a), *testo);
            } catch (const std::exception&) {
            }
        }
    }
    return true;
}

void TfrmMain::suLog(const std::string& messaggio) {
    try {
        // A value from outside that slipped into a message unescaped still
        // cannot start a line of its own or reach a terminal as a control.
        std::string riga = righeVisibili(messaggio);
        if (!soloSpaziEControlli(messaggio)) {
            riga += " - " + workstation::logTimeStamp(clock::now());
        }
        riga += "\r\n";
        // In the workstation's code page, as the log has always been; a
        // character it cannot hold becomes "?", never a broken line.
        accodaAFile(fileLog_, workstation::toCodePageReplacing(riga));
    } catch (const std::exception& errore) {
        try {
            windowing().messageBox(std::string("Eccezione in ") + "suLog" + "\r\n" + errore.what());
        } catch (...) {
            // The log never fails towards its caller.
        }
    } catch (...) {
    }
}

void TfrmMain::cmdLogClick() {
    windowing().openDocument(fileLog_);
}

void TfrmMain::cmdExitClick() {
    // Leaving in the middle of a run would pull the window from under it.
    if (comandoInCorso_) {
        return;
    }
    suLog("cmdExitClick");
    chiusa_ = true;
    if (observer_) {
        observer_->closeRequested();
    }
}

void TfrmMain::notificaCaption() {
    if (observer_) {
        observer_->captionChanged(caption_);
    }
}

void TfrmMain::ridisegna() {
    if (observer_) {
        observer_->repaint();
    }
}

TfrmMain::Comando::Comando(TfrmMain& finestra)
    : finestra_(finestra), avviato_(!finestra.comandoInCorso_) {
    if (avviato_) {
        finestra_.comandoInCorso_ = true;
    }
}

TfrmMain::Comando::~Comando() {
    blocco_.reset();
    if (avviato_) {
        finestra_.comandoInCorso_ = false;
    }
}

bool TfrmMain::Comando::bloccaCartella() {
    if (!avviato_) {
        return false;
    }
    if (blocco_) {
        return true;
    }
    std::string motivo;
    if (const std::optional<std::string> nonSicura = cartellaNonSicura(finestra_.cartellaKvt_)) {
        motivo = *nonSicura;
    } else {
        switch (BloccoCartella::prendi(finestra_.cartellaKvt_, blocco_, &motivo)) {
            case BloccoCartella::Esito::Preso:
                return true;
            case BloccoCartella::Esito::Occupato:
                finestra_.suLog(kMessaggioCartellaOccupata);
                finestra_.contatori_ = {};
                finestra_.esito_ = EsitoInvio::CartellaOccupata;
                windowing().messageBox(kMessaggioCartellaOccupata);
                return false;
            case BloccoCartella::Esito::Impossibile:
                // Unlocked, a second run could send and file the same
                // patients at once: nothing is done without the lock.
                motivo =
                    "impossibile bloccare la cartella " + finestra_.cartellaKvt_ + ": " + motivo;
                break;
        }
    }
    const std::string testo = std::string(kMessaggioCartellaNonUsabile) + motivo;
    finestra_.suLog(testo);
    finestra_.contatori_ = {};
    finestra_.esito_ = EsitoInvio::CartellaNonUsabile;
    windowing().messageBox(testo, "Vello KVT", MessageIcon::Error);
    return false;
    return true;
}

}  // namespace kvt
