#pragma once
// The end-to-end tests' frame: the real binaries of build/bin started as
// child processes (each bounded in time), a generated practice, a program
// folder with the installed document types, a registry file of the test, and
// kvt-collector on 127.0.0.1. With KVT_E2E_WINDOWS naming a Windows build
// folder, the same cases drive that build's vd_kvt.exe under wine64 instead
// (registry imported into the Wine prefix, host and connector stand-ins as
// Windows components); the collector and the practice stay the Linux ones.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kvt::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline const fs::path kBin = KVT_BIN_DIR;

// The text converted between two character sets ("UTF-8", "CP1252"); what the
// target lacks becomes "?".
std::string converti(const std::string& testo, const char* da, const char* a);

// The build whose vd_kvt the tests drive, and how paths and texts look to it.
class Piattaforma {
  public:
    // The one the test run names (KVT_E2E_WINDOWS), else Linux.
    static const Piattaforma& corrente();
    // Linux, or the Windows build in that folder.
    explicit Piattaforma(fs::path buildWindows = {}) : buildWindows_(std::move(buildWindows)) {}

    bool windows() const { return !buildWindows_.empty(); }
    // The start of the command line that runs one of the build's programs
    // ("vd_kvt"; ".exe" added on Windows).
    std::vector<std::string> comando(const std::string& programma) const;
    // On Windows: the command line of one of the build's test programs
    // (tests/PROGRAM.exe).
    std::vector<std::string> comandoDiProva(const std::string& programma) const;
    // A path of the test's as the program sees it: on Windows "Z:" and the
    // path with backslashes.
    std::string percorso(const fs::path& percorso) const;
    // The separator the program puts between folder and file names.
    char separatore() const { return windows() ? '\\' : '/'; }
    // The pseudonym library the program wants in its folder.
    fs::path libreriaPseudonimi() const;
    // A text the program wrote in its code page (log, last-visit file), as UTF-8.
    std::string testo(const std::string& scritto) const;
    // Loads a registry file of the test where the program reads it: on
    // Windows into the prefix's registry (keys named with a leading "-" are
    // removed first, as regedit does); on Linux the file itself is the store.
    void caricaRegistro(const fs::path& file) const;
    // On Windows: registers the host stand-in's COM server in the prefix:
    // the DLL, or the local server vellodoc_server.exe when the test run sets
    // KVT_E2E_HOST_EXE (or `fuoriProcesso` says so).
    void registraHost() const { registraHost(hostFuoriProcesso()); }
    void registraHost(bool fuoriProcesso) const;
    static bool hostFuoriProcesso();

  private:
    // Runs one of the Wine scripts ({script, build, ...}) to its end; throws
    // with its error output on failure.
    void eseguiWindows(std::vector<std::string> argv) const;

    fs::path buildWindows_;
};

inline std::string leggi(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream testo;
    testo << in.rdbuf();
    return testo.str();
}

inline void scrivi(const fs::path& file, const std::string& testo) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << testo;
}

// The lines of a text, without their CR LF or LF.
inline std::vector<std::string> righe(const std::string& testo) {
    std::vector<std::string> risultato;
    std::istringstream in(testo);
    for (std::string riga; std::getline(in, riga);) {
        if (!riga.empty() && riga.back() == '\r') {
            riga.pop_back();
        }
        risultato.push_back(riga);
    }
    return risultato;
}

inline int conta(const std::string& testo, const std::string& parte) {
    int n = 0;
    for (std::size_t at = testo.find(parte); at != std::string::npos;
         at = testo.find(parte, at + parte.size())) {
        ++n;
    }
    return n;
}

// The names of the files of a folder (not its subfolders) matching the end.
inline std::vector<std::string> fileIn(const fs::path& cartella, const std::string& fine = "") {
    std::vector<std::string> nomi;
    std::error_code errore;
    for (const auto& voce : fs::directory_iterator(cartella, errore)) {
        const std::string nome = voce.path().filename().string();
        if (voce.is_regular_file() && nome.size() >= fine.size() &&
            nome.compare(nome.size() - fine.size(), fine.size(), fine) == 0) {
            nomi.push_back(nome);
        }
    }
    std::sort(nomi.begin(), nomi.end());
    return nomi;
}

class CartellaTemporanea {
  public:
    CartellaTemporanea() {
        std::string modello = (fs::temp_directory_path() / "kvt-e2e-XXXXXX").string();
        if (!::mkdtemp(modello.data())) {
            throw std::runtime_error("mkdtemp");
        }
        percorso_ = modello;
    }
    ~CartellaTemporanea() {
        std::error_code ignorato;
        fs::remove_all(percorso_, ignorato);
    }
    CartellaTemporanea(const CartellaTemporanea&) = delete;
    CartellaTemporanea& operator=(const CartellaTemporanea&) = delete;
    const fs::path& percorso() const { return percorso_; }

  private:
    fs::path percorso_;
};

// A child process with its standard output and error in files, its
// environment that of the test with the given changes (an empty value
// removes the variable).
class Processo {
  public:
    Processo(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const fs::path& uscita, const fs::path& errore)
        : uscita_(uscita), errore_(errore) {
        std::vector<std::string> ambiente;
        for (char** voce = environ; *voce; ++voce) {
            const std::string testo = *voce;
            const std::string nome = testo.substr(0, testo.find('='));
            if (!env.count(nome)) {
                ambiente.push_back(testo);
            }
        }
        for (const auto& [nome, valore] : env) {
            if (!valore.empty()) {
                ambiente.push_back(nome + "=" + valore);
            }
        }
        posix_spawn_file_actions_t azioni;
        posix_spawn_file_actions_init(&azioni);
        posix_spawn_file_actions_addopen(&azioni, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&azioni, STDOUT_FILENO, uscita.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&azioni, STDERR_FILENO, errore.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argomenti;
        for (const std::string& a : argv) {
            argomenti.push_back(const_cast<char*>(a.c_str()));
        }
        argomenti.push_back(nullptr);
        std::vector<char*> variabili;
        for (const std::string& v : ambiente) {
            variabili.push_back(const_cast<char*>(v.c_str()));
        }
        variabili.push_back(nullptr);
        const int fallito =
            posix_spawn(&pid_, argomenti[0], &azioni, nullptr, argomenti.data(), variabili.data());
        posix_spawn_file_actions_destroy(&azioni);
        if (fallito != 0) {
            pid_ = -1;
            throw std::runtime_error("impossibile avviare " + argv[0]);
        }
    }
    ~Processo() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Processo(const Processo&) = delete;
    Processo& operator=(const Processo&) = delete;

    // The exit status; nothing when the process had to be killed after the
    // limit or died of a signal.
    std::optional<int> attendi(std::chrono::milliseconds limite = 120s) {
        const auto scadenza = std::chrono::steady_clock::now() + limite;
        int stato = 0;
        while (::wait4(pid_, &stato, WNOHANG, &uso_) == 0) {
            if (std::chrono::steady_clock::now() > scadenza) {
                ::kill(pid_, SIGKILL);
                ::wait4(pid_, &stato, 0, &uso_);
                pid_ = -1;
                return std::nullopt;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid_ = -1;
        if (WIFEXITED(stato)) {
            return WEXITSTATUS(stato);
        }
        return std::nullopt;
    }

    bool vivo() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }
    // True once the process has ended (it is then reaped).
    bool terminato() {
        int stato = 0;
        if (pid_ > 0 && ::waitpid(pid_, &stato, WNOHANG) == pid_) {
            pid_ = -1;
        }
        return pid_ <= 0;
    }
    // Kills the process if it is still running; false when it had already
    // ended by itself (then it is only reaped).
    bool uccidiSeVivo() {
        if (pid_ <= 0) {
            return false;
        }
        int stato = 0;
        const bool vivo = ::waitpid(pid_, &stato, WNOHANG) == 0;
        if (vivo) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        return vivo;
    }
    void uccidi() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    // The peak resident memory of the process in KiB, once it has ended. It
    // counts the test process's own peak as well (the child shares its memory
    // until it starts the program), so a test that measures keeps itself small.
    long piccoMemoriaKib() const { return uso_.ru_maxrss; }
    std::string uscita() const { return leggi(uscita_); }
    std::string errore() const { return leggi(errore_); }

  private:
    pid_t pid_ = -1;
    rusage uso_{};
    fs::path uscita_;
    fs::path errore_;
};

// kvt-collector on 127.0.0.1 with a free port, stopped when the object goes.
class Collettore {
  public:
    Collettore(const fs::path& lavoro, const fs::path& archivio,
               const std::vector<std::string>& guasti = {},
               const std::vector<std::string>& opzioni = {}) {
        std::vector<std::string> argv = {(kBin / "kvt-collector").string(),
                                         "--listen",
                                         "127.0.0.1:0",
                                         "--store",
                                         archivio.string(),
                                         "--dtd",
                                         (kBin / "kvt" / "dtd").string()};
        for (const std::string& guasto : guasti) {
            argv.push_back("--fault");
            argv.push_back(guasto);
        }
        argv.insert(argv.end(), opzioni.begin(), opzioni.end());
        const fs::path uscita = lavoro / ("collector-" + std::to_string(++avvii_) + ".out");
        processo_ = std::make_unique<Processo>(argv, std::map<std::string, std::string>{}, uscita,
                                               lavoro / "collector.err");
        const auto scadenza = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < scadenza) {
            const std::string testo = leggi(uscita);
            if (const auto fine = testo.find('\n'); fine != std::string::npos) {
                porta_ = std::atoi(testo.substr(0, fine).c_str());
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        if (porta_ <= 0) {
            throw std::runtime_error("kvt-collector non ha detto la sua porta");
        }
    }
    ~Collettore() { ferma(); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(porta_); }
    void ferma() {
        if (processo_) {
            processo_->uccidi();
            processo_.reset();
        }
    }

  private:
    static inline int avvii_ = 0;
    std::unique_ptr<Processo> processo_;
    int porta_ = 0;
};

// A port of 127.0.0.1 that nothing listens on.
int portaLibera();

// The five counters of a summary written to standard output.
struct Riepilogo {
    int inviati = -1, giaInviati = -1, scartati = -1, erroriCreazione = -1, erroriInvio = -1;
    bool letto() const { return inviati >= 0; }
    int errori() const { return erroriCreazione + erroriInvio; }
};
Riepilogo leggiRiepilogo(const std::string& uscita);

struct Esito {
    std::optional<int> stato;
    std::string uscita;
    std::string errore;
    long piccoMemoriaKib = 0;
};

// Every test has its own practice, program folder, registry file and
// collector store below one temporary folder.
class E2e : public ::testing::Test {
  protected:
    static constexpr const char* kUtente = "demo";
    static constexpr const char* kPassword = "Segreta-7419";

    void SetUp() override;

    fs::path lavoro() const { return tmp_.percorso(); }
    fs::path programma() const { return programma_; }
    fs::path kvt() const { return programma() / "kvt"; }
    fs::path xml() const { return kvt() / "xml"; }
    fs::path log() const { return kvt() / "log.txt"; }
    fs::path archivio() const { return lavoro() / "archivio"; }
    fs::path pratica() const { return lavoro() / "pratica.sqlite"; }
    fs::path registro() const { return lavoro() / "registry.reg"; }

    const Piattaforma& piattaforma() const { return *piattaforma_; }
    // Makes a program folder (document types, pseudonym library) for the
    // platform's vd_kvt, which the next runs use; the registry follows.
    void preparaProgramma(const Piattaforma& piattaforma, const std::string& cartella);
    // A path as the program sees it (for its command line and its texts).
    std::string percorso(const fs::path& p) const { return piattaforma().percorso(p); }
    // The program's log (or another text it wrote in its code page), as UTF-8.
    std::string leggiLog(const fs::path& file) const { return piattaforma().testo(leggi(file)); }
    std::string leggiLog() const { return leggiLog(log()); }

    // Runs SQL statements on the practice; the rows they give, as texts.
    std::vector<std::vector<std::string>> sql(const std::string& testo) const;
    // Generates the practice (once per test) with this many patients.
    void generaPratica(int pazienti = 24);
    // Writes the registry file for the practice and the connector's URL.
    void scriviRegistro(const std::string& url);
    // Starts the collector (with these faults) and points the registry at it.
    // `opzioni`: further options of kvt-collector (its journal, say).
    void avviaCollettore(const std::vector<std::string>& guasti = {},
                         const std::vector<std::string>& opzioni = {});
    // Points the registry at a loopback port nothing listens on.
    void collettoreSpento();
    // A password file of the test.
    fs::path filePassword(const std::string& password);

    // Starts vd_kvt with the arguments after --program-dir.
    std::unique_ptr<Processo> avvia(const std::vector<std::string>& argomenti,
                                    const std::string& password = kPassword);
    // Runs vd_kvt to its end.
    Esito esegui(const std::vector<std::string>& argomenti,
                 const std::string& password = kPassword);
    // vd_kvt --utente demo with these commands.
    Esito comandi(const std::vector<std::string>& comandi);

    CartellaTemporanea tmp_;
    const Piattaforma* piattaforma_ = &Piattaforma::corrente();
    fs::path programma_;
    std::string url_;
    std::unique_ptr<Collettore> collettore_;
    int esecuzioni_ = 0;
    // Put before vd_kvt on its command line: a program that runs it with
    // other limits or privileges (prlimit, setpriv).
    std::vector<std::string> prefisso_;
};

}  // namespace kvt::e2e
