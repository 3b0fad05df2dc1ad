#pragma once
// What the main window's tests share: a program folder with its installed
// files, a registry file, a practice for the host stand-in with a session on
// it, a window system that records what it is asked, and a connector that
// answers as a test scripts it.
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/connettore.h"
#include "app/frm_main.h"
#include "common/date_time.h"
#include "common/windowing.h"
#include "host/tvellopat.h"
#include "peers/vellodoc/sqlite_db.h"

namespace kvt::test {

namespace fs = std::filesystem;

// A fresh folder below the system's temporary folder, removed afterwards.
class CartellaTemporanea {
  public:
    CartellaTemporanea();
    ~CartellaTemporanea();
    CartellaTemporanea(const CartellaTemporanea&) = delete;
    CartellaTemporanea& operator=(const CartellaTemporanea&) = delete;
    const fs::path& percorso() const { return percorso_; }

  private:
    fs::path percorso_;
};

// Points $KVT_REGISTRY at a file of the test for the object's life.
class RegistroDiProva {
  public:
    explicit RegistroDiProva(fs::path file);
    ~RegistroDiProva();
    RegistroDiProva(const RegistroDiProva&) = delete;
    RegistroDiProva& operator=(const RegistroDiProva&) = delete;
    // Writes the file: the header, then the given lines (keys and values as
    // a registry export writes them).
    void scrivi(const std::vector<std::string>& righe);
    const fs::path& file() const { return file_; }

  private:
    fs::path file_;
    std::optional<std::string> precedente_;
};

// The window system of the tests: remembers the messages and documents, and
// lets a test act when the run lets waiting messages through.
class FinestreDiProva final : public Windowing {
  public:
    FinestreDiProva();
    ~FinestreDiProva() override;
    void messageBox(const std::string& text, const std::string& title, MessageIcon icon) override;
    WindowHandle foregroundWindow() override { return 0; }
    void setForegroundWindow(WindowHandle) override {}
    void setHourglass(bool on) override;
    void processMessages() override;
    void openDocument(const std::string& path) override { documenti.push_back(path); }

    std::vector<std::string> messaggi;
    std::vector<MessageIcon> icone;
    std::vector<std::string> documenti;
    bool clessidra = false;
    int cambiClessidra = 0;
    int processate = 0;
    // Called at every processMessages, as a click arriving then would be.
    std::function<void()> inAttesa;
    // Called when a message box is shown (after it is recorded).
    std::function<void(const std::string&)> suMessaggio;
};

// A connector whose answers the test scripts. Each call takes the next
// scripted value, or the default when none is left.
class ConnettoreDiProva final : public Connettore {
  public:
    void config() override { ++configurazioni; }
    int connect(const std::string& servizio, const std::string& secondo) override;
    std::string query(const std::string& richiesta, int n, int timeoutSecondi) override;
    int getError() override;
    int disconnect() override;

    // Scripts: results of connect, answers of query (or an error to raise),
    // results of getError and disconnect.
    std::deque<int> connessioni;
    std::deque<std::string> risposte;
    std::deque<int> errori;
    std::deque<int> disconnessioni;
    bool erroreInConnessione = false;
    bool erroreInQuery = false;
    // What was asked.
    int configurazioni = 0;
    std::vector<std::string> servizi;
    std::vector<std::string> secondi;
    std::vector<std::string> richieste;
    std::vector<int> costanti;
    std::vector<int> timeout;
    int connessioniFatte = 0;
    int disconnessioniFatte = 0;
};

// An answer of the service with these codes and descriptions; without the
// patient part when the request is refused.
std::string rispostaServizio(const std::string& codiceRichiesta = "",
                             const std::string& descrizioneRichiesta = "",
                             const std::string& codicePaziente = "",
                             const std::string& descrizionePaziente = "");

// One patient of a hand-made practice; the defaults make a record that has
// every mandatory value.
struct Paziente {
    std::string codice;
    std::string cognome;
    std::string nome;
    std::string codiceFiscale;
    std::string sesso = "M";
    std::string dataNascita = "1960-05-12";
    std::string codiceAsl = "101";
    std::string medico = "MMG001";
};

// A doctor's office for one test: the program folder (with the document
// types and PSHLib.so as installed), a registry file naming a practice
// database, and a host session on it for the doctor "MMG001".
class Studio {
  public:
    // `url`: the connector's service address for the registry.
    explicit Studio(const std::string& url = "http://127.0.0.1:9");
    ~Studio();
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    const fs::path& radice() const { return cartella_.percorso(); }
    std::string programma() const { return (radice() / "programma").string(); }
    fs::path kvt() const { return radice() / "programma" / "kvt"; }
    fs::path xml() const { return kvt() / "xml"; }
    fs::path pratica() const { return radice() / "pratica.sqlite"; }
    RegistroDiProva& registro() { return registro_; }
    // Writes the registry with the practice, the connector's address and
    // these further lines of the connector's key.
    void scriviRegistro(const std::vector<std::string>& righeConnettore = {
                            "\"LogFilename\"=\"lk.log\""});

    // The practice: an empty one, or a generated one (replacing it).
    void generaPratica(int pazienti, std::uint64_t seme);
    void aggiungi(const Paziente& paziente);
    void aggiungiVisita(const std::string& codice, const std::string& data, const std::string& ora);
    vellodoc::Database& database() { return database_; }

    // Opens the host session (once) and gives the adapter.
    Tvellopat& host();

    std::string url;

  private:
    CartellaTemporanea cartella_;
    RegistroDiProva registro_;
    vellodoc::Database database_;
    std::unique_ptr<Tvellopat> host_;
};

// The log's lines (split at CR LF; the last, empty one after the final CR LF
// is dropped).
std::vector<std::string> righeLog(const fs::path& fileLog);
std::string leggi(const fs::path& file);
void scriviFileDiProva(const fs::path& file, const std::string& testo);
// The names of the files in the folder (not below), sorted.
std::vector<std::string> fileIn(const fs::path& cartella, const std::string& suffisso = "");
// The permission bits of the path.
unsigned permessi(const fs::path& percorso);

// Sets the file's last-write time to a local date and time.
void impostaDataFile(const fs::path& file, const DateTime& locale);

// Where the build put the programs and libraries.
fs::path cartellaBinari();

}  // namespace kvt::test
