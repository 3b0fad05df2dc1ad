#pragma once
// The main window `frmMain`: a model of its controls, the working folders and
// settings made when it is created, the log, and the upload run in its two
// phases (build each patient's upload file, then send it at once and file it
// by the service's answer). Everything runs on the thread of the window; no
// toolkit is inside: a view mirrors the controls through a WindowObserver,
// the windowing seam shows messages and lets waiting messages through.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/codice_fiscale.h"
#include "app/connettore.h"
#include "app/controls.h"
#include "app/invio_in_corso.h"
#include "common/date_time.h"

namespace kvt {

class Tvellopat;
class HostPerso;
class TfrmLogin;
class XmlDocument;
class XmlNode;
class BloccoCartella;
struct Cartella;

// The five paths of one patient's upload file (full paths).
struct PercorsiPaziente {
    std::string fileXml;       // kvt/xml/ + name: built or taken back, not yet accepted
    std::string fileErr;       // fileXml + ".err": the record lacked mandatory data
    std::string fileInviato;   // kvt/xml/inviati/ + name: accepted
    std::string fileNoConn;    // kvt/xml/no_conn/ + name: waiting for a connection
    std::string fileRisposta;  // kvt/xml/risposte/ + name: the last answer
};

// The counters of one run, zero at its start.
struct Contatori {
    int nInviati = 0;
    int nGiaInviati = 0;
    int nScartati = 0;
    int nErroriCreazione = 0;
    int nErroriInvio = 0;
};

// How the last run ended.
enum class EsitoInvio {
    NessunInvio,         // no run yet
    Completato,          // ended after the last patient (or after failed checks) with its summary
    Interrotto,          // an error ended it (erroreInvio() tells which); no summary
    CartellaOccupata,    // another process holds the working folders; nothing was done
    CartellaNonUsabile,  // the working folders cannot be locked or trusted; nothing was done
};

class TfrmMain {
  public:
    static constexpr const char* kVersione = "1.46";
    // The service name given to every connection.
    static constexpr const char* kServizio = "KVT";
    static constexpr const char* kMessaggioCartellaOccupata =
        "Un altro invio è già in corso su questa cartella.";
    static constexpr const char* kMessaggioCartellaNonUsabile =
        "Cartella di lavoro non utilizzabile, nessun invio eseguito: ";

    // `cartellaProgramma`: the folder that holds the program (the front ends
    // pass --program-dir or the executable's folder). `host`: the program's
    // current host adapter, which the login sets (setHost) before the window
    // is shown; the window borrows it. `connettore`: the connector; by default
    // the connector client library. Creating the window runs FormCreate, as
    // the window system does when a window is created.
    explicit TfrmMain(std::string cartellaProgramma, Tvellopat* host = nullptr,
                      Connettore* connettore = nullptr);
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // ---- The controls, in tab order where they take focus ----
    // The observer slot comes first: every control reads it.
  private:
    WindowObserver* observer_ = nullptr;

  public:
    Button cmdNuovoInvio;
    Button cmdInvio;
    Button cmdExit;
    ProgressBar pBar;
    Button cmdLog;
    Button cmdConnessione;
    CheckBox chkDbg;
    Button cmdConfig;
    Button cmdInvioSingolo;
    Label lblDescr;
    Picture imgKvt;
    Label lblPaz;
    Label lblFase;
    Label lblConteggio;

    // Every control, in the order above.
    std::vector<const Control*> controlli() const;
    // The window title.
    const std::string& caption() const { return caption_; }
    // The view that mirrors the window; nullptr for none. The caller keeps it alive.
    void setObserver(WindowObserver* observer) { observer_ = observer; }

    Tvellopat* host() const { return host_; }
    void setHost(Tvellopat* host) { host_ = host; }
    Connettore& connettore() const { return *connettore_; }
    // The pause after each patient (1 ms in the window; the unattended front
    // end runs without one).
    void setPausaTraPazienti(std::chrono::milliseconds pausa) { pausa_ = pausa; }

    // ---- Settings made at creation, kept for the life of the window ----
    // The program folder, with its trailing separator ("/", "\" on Windows).
    const std::string& cartellaProgramma() const { return cartellaProgramma_; }
    // The folder of the upload files, "kvt/xml/" below the program folder.
    std::string cartellaXml() const;
    const std::string& fileDtdRichiesta() const { return fileDtdRichiesta_; }
    const std::string& fileDtdRisposta() const { return fileDtdRisposta_; }
    const std::string& fileDtdSconosciuto() const { return fileDtdSconosciuto_; }
    const std::string& fileLog() const { return fileLog_; }
    const std::string& fileLogOld() const { return fileLogOld_; }
    const std::string& fileIni() const { return fileIni_; }
    // The note of the upload whose sending has begun and is not yet filed.
    const std::string& fileInvioInCorso() const { return fileInvioInCorso_; }
    // The answer time-out in milliseconds, never below 90000.
    int timeOut() const { return timeOut_; }
    // The paths of the upload file named after the fiscal code.
    PercorsiPaziente percorsiPaziente(const std::string& codiceFiscale) const;

    // ---- Start-up, checks, log ----
    void FormCreate();
    // The checks that open every run; true when the run may go on.
    bool controlliIniziali();
    // Appends one line to the log; never fails towards the caller.
    void suLog(const std::string& messaggio);
    // Opening the log changes nothing, so it also works while a run is in progress.
    void cmdLogClick();
    // Writes "cmdExitClick" and closes the window (see chiusa()).
    void cmdExitClick();
    // True once the window has closed itself; the login's modal display ends.
    bool chiusa() const { return chiusa_; }

    // ---- The upload run ----
    // "Riprendi": the run on the working folders as they are.
    void cmdInvioClick();

    // ---- Login and operator commands (frm_login.h, inizializza.cpp, comandi.cpp) ----
    // The login's work on this new window: opens the host session with the
    // user and password, loads the doctor's patients and shows the window
    // modally (hiding `login`, if given). True when the window was shown and
    // has been closed; false when the session or the patient list failed.
    bool inizializza(const std::string& utente, const std::string& password,
                     TfrmLogin* login = nullptr);
    // "Nuovo Invio": log rotation, reset of the working folders, then the run.
    void cmdNuovoInvioClick();
    // "Test Linea": connects to the service, tells the outcome, disconnects.
    void cmdConnessioneClick();
    // "Opzioni": the connector's own options dialog.
    void cmdConfigClick();
    // "Invio Singolo" (hidden): sends the fixed file kvt/xml/AAAAAA00A00A000A_kvt.xml.
    void cmdInvioSingoloClick();
    // "Debug" (hidden): the check alone matters; clicking does nothing else.
    void chkDbgClick();

    // A command that changes the working folders or uses the connector runs
    // alone: while one is in progress the window keeps processing messages,
    // and a click that arrives then is ignored. Make one at the start of such
    // a handler; when avviato() is false, return at once.
    class Comando {
      public:
        explicit Comando(TfrmMain& finestra);
        ~Comando();
        Comando(const Comando&) = delete;
        Comando& operator=(const Comando&) = delete;
        bool avviato() const { return avviato_; }
        // Takes the lock on "kvt" for this command, so that no other process
        // works on the same folders. When another holds it, tells the
        // operator (message and log line) and gives false: the command ends.
        bool bloccaCartella();

      private:
        TfrmMain& finestra_;
        bool avviato_;
        std::unique_ptr<BloccoCartella> blocco_;
    };
    // True while a command is in progress.
    bool occupata() const { return comandoInCorso_; }

    // The run itself (what "Nuovo Invio" starts after its reset): only inside
    // a Comando that holds the folder lock.
    void eseguiInvio();

    const Contatori& contatori() const { return contatori_; }
    // "Procedura terminata." and the five counters, joined with CR LF.
    std::string testoRiepilogo() const;
    EsitoInvio ultimoEsito() const { return esito_; }
    // The text of the error that ended the last run (EsitoInvio::Interrotto).
    const std::string& erroreInvio() const { return erroreInvio_; }

    // ---- What a run does with a patient (shared by the run and its dry run) ----
    // What the working folders say of a patient, in the order the run tries
    // them; Libero leaves the choice to the last visit (decidiRipresa).
    enum class StatoCartelle {
        SenzaCodiceFiscale,  // none, or only blanks
        CodiceNonValido,     // refused by motivoCodiceNonValido
        AltraGrafia,         // an earlier patient's code but for case or blanks
        Inviato,             // accepted: "inviati/" holds it
        ConErr,              // the record lacked mandatory data: its ".err" marker
        InvioInterrotto,     // built by a run that stopped before filing it: made again
        Rifiutato,           // left in "kvt/xml/" by a refusal
        Libero,
    };
    StatoCartelle statoCartelle(const std::string& codiceFiscale,
                                const PercorsiPaziente& percorsi) const;
    // statoCartelle for patient i of a walk, which also refuses a code that
    // an earlier patient of the walk spelt otherwise.
    StatoCartelle statoNelGiro(const std::string& codiceFiscale, const PercorsiPaziente& percorsi,
                               int i, CodiciDelGiro& giro) const;
    // The words after "SCARTATO (" for a refused code (CodiceNonValido,
    // AltraGrafia): what the log and the dry run's report say of it.
    static std::string motivoScarto(StatoCartelle stato, const std::string& codiceFiscale,
                                    const CodiciDelGiro& giro);
    // Reads, before a walk of the patients, which upload a stopped run left
    // unfiled. Read once: every sending of the walk rewrites the note, and
    // the patient it named may come after them.
    void leggiInvioInterrotto() { invioInterrotto_ = invioInCorso().leggi(); }
    // For a patient the folders leave free, given its last visit.
    enum class Ripresa {
        NonVisitato,          // sent before, not visited since: already sent
        RecuperoNoConn,       // waiting for a connection and still current: taken back
        RicostruzioneNoConn,  // waiting for a connection, visited since (or empty): rebuilt
        Costruzione,          // never sent, or visited since the last accepted sending
    };
    Ripresa decidiRipresa(const PercorsiPaziente& percorsi, const std::string& codiceFiscale,
                          const DateTime& ultimaVisita) const;
    // The last visit of the last accepted sending, as the last-visit file
    // holds it; nothing when it holds none that can be read.
    std::optional<DateTime> ultimoInvioAccettato(const std::string& codiceFiscale) const;
    // The current patient's last visit as the host gives it; nothing for a
    // patient without visits.
    std::optional<DateTime> ultimaVisitaRegistrata();
    // The upload file's skeleton and record of the host's current patient,
    // built into `documento` as creaTracciato builds it, not saved. Raises
    // when the host or the document fails.
    Cartella costruisciTracciato(XmlDocument& documento);

    // ---- The dry run ----
    // "Verifica": walks the patients as "Riprendi" would, builds the records
    // it would build, changes nothing and writes its report below
    // "kvt/verifica/" (verifica.cpp).
    void cmdVerificaClick();
    // What the last dry run told the operator (the predicted summary and the
    // report's paths); empty before one.
    const std::string& testoVerifica() const { return testoVerifica_; }

    // ---- Phase 1: building ----
    // Builds and saves the upload file of the host's current patient at
    // `percorso`; a record lacking mandatory data is saved as percorso + ".err".
    void creaTracciato(const std::string& percorso);
    static std::string creaIntestazione(const std::string& radice, const std::string& fileDtd);
    static XmlNode creaElementoTesto(XmlDocument& documento, const std::string& nome,
                                     const std::string& testo);
    // The date and time of the current patient's last visit: the latest visit
    // date with the latest time of that date; now minus 5 seconds when the
    // host gives none.
    DateTime dataUltimaVisita();
    // The cartella "kvt/" with its trailing separator.
    const std::string& cartellaKvt() const { return cartellaKvt_; }
    // The text of the last-visit query for a host patient identifier.
    static std::string queryUltimaVisita(const std::string& idPaziente);
    // The file's last-write time (local, two-second precision); nothing when
    // it cannot be read.
    static std::optional<DateTime> dataFile(const std::string& percorso);

    // ---- Phase 2: sending ----
    int mLKConnect(const std::string& servizio);
    int mLKDisconnect();
    std::string mLKQuery(const std::string& richiesta);
    // Sends the upload file and reads the answer, saved at `fileRisposta`;
    // true when the service accepted the file. `errore` (E) tells why not.
    bool InviaXml(const std::string& servizio, const std::string& fileXml, std::string& errore,
                  const std::string& fileRisposta);
    bool leggiRisposta(std::string risposta, const std::string& fileRisposta, std::string& errore);
    // One value of the document by XPath: the parser's reason when it did
    // not parse, the node's text, or "empty".
    static std::string dammi(const XmlDocument& documento, const std::string& xpath);
    // How every answer of the service is read: its limits and XPath (set before loading it).
    static void limitiRisposta(XmlDocument& documento);
    // An answer's error code and description: the whole request's when it
    // has one (`dellaRichiesta`), else the patient's; both empty when the
    // service accepted.
    struct CodiciRisposta {
        std::string codice;
        std::string descrizione;
        bool dellaRichiesta = false;
    };
    static CodiciRisposta codiciRisposta(const XmlDocument& documento);

  private:
    void notificaCaption();
    void ridisegna();
    void leggiTimeOut();
    void eseguiPazienti();
    void elaboraPaziente(int i, int n);
    // Rule 5 of a patient: already sent and not visited since, or build (or
    // take back) and send.
    void costruisciEInvia(int i, int n, const PercorsiPaziente& percorsi,
                          const std::string& codiceFiscale);
    void inviaPaziente(int i, int n, const PercorsiPaziente& percorsi,
                       const std::string& codiceFiscale, const DateTime& ultimaVisita);
    void chiudiConErrore(const std::string& testo);
    // An upload that could not be moved to where its outcome files it.
    void lasciaTracciatoNonArchiviato(int i, const std::string& fileXml, const std::string& motivo);
    // An accepted upload whose last visit a stopped run did not store.
    void completaInvioInterrotto(const PercorsiPaziente& percorsi,
                                 const std::string& codiceFiscale);
    // Stores the patient's last visit in the last-visit file. A failure to
    // write it raises, except a fiscal code the file's code page cannot hold:
    // that is logged, and the next new sending sends the patient again.
    void registraUltimaVisita(const std::string& codiceFiscale, const std::string& ultimaVisita);
    // Clears the working folders of temporary files a stopped run left.
    void rimuoviScrittureInterrotte() const;
    InvioInCorso invioInCorso() const { return InvioInCorso(fileInvioInCorso_); }
    Tvellopat& hostAttivo() const;
    // A host lost in an earlier run is asked to open the session again;
    // raises kvt::HostPerso when it cannot.
    void riapriHostPerso();
    // What the operator reads when the host was lost at patient i of n.
    static std::string testoHostPerso(const HostPerso& errore, const std::string& fermato, int i,
                                      int n);

    std::string caption_ = "Vello KVT";
    Tvellopat* host_;
    Connettore* connettore_;
    std::chrono::milliseconds pausa_{1};

    std::string cartellaProgramma_;
    std::string cartellaKvt_;
    std::string fileDtdRichiesta_;
    std::string fileDtdRisposta_;
    std::string fileDtdSconosciuto_;
    std::string fileLog_;
    std::string fileLogOld_;
    std::string fileIni_;
    std::string fileInvioInCorso_;
    int timeOut_ = 90000;

    Contatori contatori_;
    EsitoInvio esito_ = EsitoInvio::NessunInvio;
    std::string erroreInvio_;
    std::string testoVerifica_;
    std::optional<InvioInCorso::Nota> invioInterrotto_;
    CodiciDelGiro codiciDelGiro_;
    // Outcomes of this run that could not be recorded (last visit, filing).
    int esitiNonRegistrati_ = 0;
    bool chiusa_ = false;
    bool comandoInCorso_ = false;
};

}  // namespace kvt
