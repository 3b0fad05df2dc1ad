#include "e2e/e2e_support.h"

#include <iconv.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>

#include <regex>

namespace kvt::e2e {

const Piattaforma& Piattaforma::corrente() {
    static const Piattaforma piattaforma([] {
        const char* build = std::getenv("KVT_E2E_WINDOWS");
        return fs::path(build ? build : "");
    }());
    return piattaforma;
}

std::vector<std::string> Piattaforma::comando(const std::string& programma) const {
    if (!windows()) {
        return {(kBin / programma).string()};
    }
    return {KVT_WINE_EXEC, buildWindows_.string(),
            (buildWindows_ / "bin" / (programma + ".exe")).string()};
}

std::vector<std::string> Piattaforma::comandoDiProva(const std::string& programma) const {
    return {KVT_WINE_EXEC, buildWindows_.string(),
            (buildWindows_ / "tests" / (programma + ".exe")).string()};
}

std::string Piattaforma::percorso(const fs::path& percorso) const {
    if (!windows()) {
        return percorso.string();
    }
    std::string testo = "Z:" + fs::absolute(percorso).string();
    std::replace(testo.begin(), testo.end(), '/', '\\');
    return testo;
}

fs::path Piattaforma::libreriaPseudonimi() const {
    return windows() ? buildWindows_ / "bin" / "PSHLib.dll" : kBin / "PSHLib.so";
}

std::string converti(const std::string& testo, const char* da, const char* a) {
    iconv_t conversione = ::iconv_open(a, da);
    if (conversione == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error(std::string("iconv ") + da + " " + a);
    }
    std::string risultato(testo.size() * 4 + 1, '\0');
    char* ingresso = const_cast<char*>(testo.data());
    std::size_t restanti = testo.size();
    char* uscita = risultato.data();
    std::size_t spazio = risultato.size();
    while (restanti > 0 && ::iconv(conversione, &ingresso, &restanti, &uscita, &spazio) ==
                               static_cast<std::size_t>(-1)) {
        // A character the other side lacks becomes "?", as Windows writes it;
        // a UTF-8 sequence is passed over whole.
        do {
            ++ingresso;
            --restanti;
        } while (restanti > 0 && std::string_view(da) == "UTF-8" &&
                 (static_cast<unsigned char>(*ingresso) & 0xC0) == 0x80);
        *uscita++ = '?';
        --spazio;
    }
    ::iconv_close(conversione);
    risultato.resize(risultato.size() - spazio);
    return risultato;
}

std::string Piattaforma::testo(const std::string& scritto) const {
    // Windows-1252, the ANSI code page of an Italian office (and of the prefix).
    return windows() ? converti(scritto, "CP1252", "UTF-8") : scritto;
}

void Piattaforma::eseguiWindows(std::vector<std::string> argv) const {
    const fs::path uscita =
        fs::temp_directory_path() / ("kvt-e2e-wine-" + std::to_string(::getpid()));
    Processo processo(argv, {}, uscita, fs::path(uscita) += ".err");
    const std::optional<int> stato = processo.attendi(120s);
    const std::string errore = processo.errore();
    fs::remove(uscita);
    fs::remove(fs::path(uscita) += ".err");
    if (stato != 0) {
        std::string comando;
        for (const std::string& parte : argv) {
            comando += parte + " ";
        }
        throw std::runtime_error(comando + "non riuscito: " + errore);
    }
}

void Piattaforma::caricaRegistro(const fs::path& file) const {
    if (windows()) {
        eseguiWindows({KVT_WINE_EXEC, buildWindows_.string(), "regedit", "/S", percorso(file)});
    }
}

bool Piattaforma::hostFuoriProcesso() {
    const char* exe = std::getenv("KVT_E2E_HOST_EXE");
    return exe && *exe;
}

void Piattaforma::registraHost(bool fuoriProcesso) const {
    if (!windows()) {
        return;
    }
    // Once per prefix and server file: a stamp in the prefix says which one
    // is registered (registering one form replaces the other).
    const char* prefisso = std::getenv("KVT_WINEPREFIX");
    const fs::path timbro =
        (prefisso && *prefisso ? fs::path(prefisso) : buildWindows_ / "wineprefix") /
        ".kvt-host-registrato";
    const std::string server =
        (buildWindows_ / "bin" / (fuoriProcesso ? "vellodoc_server.exe" : "vellodoc_server.dll"))
            .string();
    if (leggi(timbro) == server) {
        return;
    }
    std::vector<std::string> argv = {KVT_WINE_REGISTER_HOST};
    if (fuoriProcesso) {
        argv.push_back("--exe");
    }
    argv.push_back(buildWindows_.string());
    eseguiWindows(argv);
    scrivi(timbro, server);
}

int portaLibera() {
    const int presa = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in indirizzo{};
    indirizzo.sin_family = AF_INET;
    indirizzo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t lunghezza = sizeof indirizzo;
    ::bind(presa, reinterpret_cast<sockaddr*>(&indirizzo), sizeof indirizzo);
    ::getsockname(presa, reinterpret_cast<sockaddr*>(&indirizzo), &lunghezza);
    ::close(presa);
    return ntohs(indirizzo.sin_port);
}

Riepilogo leggiRiepilogo(const std::string& uscita) {
    Riepilogo riepilogo;
    const auto numero = [&](const std::string& etichetta) {
        const std::regex modello("(^|\n)" + etichetta + "(-?[0-9]+)");
        std::smatch trovato;
        return std::regex_search(uscita, trovato, modello) ? std::stoi(trovato[2].str()) : -1;
    };
    if (uscita.find("Procedura terminata.") == std::string::npos) {
        return riepilogo;
    }
    riepilogo.inviati = numero("Inviati: ");
    riepilogo.giaInviati = numero("Già inviati: ");
    riepilogo.scartati = numero("Scartati dal server:");
    riepilogo.erroriCreazione = numero("Errore creazione:");
    riepilogo.erroriInvio = numero("Errore connessione invio:");
    return riepilogo;
}

void E2e::SetUp() {
    preparaProgramma(Piattaforma::corrente(), "programma");
    collettoreSpento();
}

void E2e::preparaProgramma(const Piattaforma& piattaforma, const std::string& cartella) {
    piattaforma_ = &piattaforma;
    programma_ = lavoro() / cartella;
    fs::create_directories(kvt() / "dtd");
    for (const auto& voce : fs::directory_iterator(kBin / "kvt" / "dtd")) {
        fs::copy_file(voce.path(), kvt() / "dtd" / voce.path().filename());
    }
    // The program checks that the pseudonym library lies in its folder.
    const fs::path libreria = piattaforma.libreriaPseudonimi();
    fs::copy_file(libreria, programma() / libreria.filename());
    piattaforma.registraHost();
    if (!url_.empty()) {
        scriviRegistro(url_);
    }
}

void E2e::generaPratica(int pazienti) {
    Processo sim({(kBin / "vellodoc-sim").string(), "generate", "--patients",
                  std::to_string(pazienti), "--years", "2", "--seed", "17", "--password-file",
                  filePassword(kPassword).string(), pratica().string()},
                 {}, lavoro() / "sim.out", lavoro() / "sim.err");
    const std::optional<int> stato = sim.attendi(60s);
    ASSERT_EQ(stato, 0) << sim.errore();
}

std::vector<std::vector<std::string>> E2e::sql(const std::string& testo) const {
    sqlite3* db = nullptr;
    std::vector<std::vector<std::string>> righe;
    if (sqlite3_open(pratica().c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("pratica non apribile");
    }
    sqlite3_stmt* istruzione = nullptr;
    const char* resto = testo.c_str();
    while (*resto != '\0') {
        if (sqlite3_prepare_v2(db, resto, -1, &istruzione, &resto) != SQLITE_OK) {
            const std::string motivo = sqlite3_errmsg(db);
            sqlite3_close(db);
            throw std::runtime_error(motivo);
        }
        if (!istruzione) {
            break;
        }
        while (sqlite3_step(istruzione) == SQLITE_ROW) {
            std::vector<std::string> riga;
            for (int c = 0; c < sqlite3_column_count(istruzione); ++c) {
                const unsigned char* valore = sqlite3_column_text(istruzione, c);
                riga.emplace_back(valore ? reinterpret_cast<const char*>(valore) : "");
            }
            righe.push_back(std::move(riga));
        }
        sqlite3_finalize(istruzione);
        istruzione = nullptr;
    }
    sqlite3_close(db);
    return righe;
}

void E2e::scriviRegistro(const std::string& url) {
    url_ = url;
    // In the Wine prefix the keys outlive the test: whatever an earlier test
    // set goes first. Backslashes in values are doubled, as regedit wants.
    const auto valore = [this](const fs::path& p) {
        std::string testo;
        for (const char c : percorso(p)) {
            testo += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        return testo;
    };
    const std::string rimozioni =
        piattaforma().windows() ? "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n\r\n"
                                  "[-HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n\r\n"
                                : "";
    scrivi(registro(), "Windows Registry Editor Version 5.00\r\n\r\n" + rimozioni +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n"
                           "\"database\"=\"" +
                           valore(pratica()) +
                           "\"\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano\\OPZIONI]\r\n"
                           "\"regione\"=\"030\"\r\n\r\n"
                           "[HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n"
                           "\"LogFilename\"=\"" +
                           valore(lavoro() / "lk.log") +
                           "\"\r\n"
                           "\"ReqTout\"=dword:00015f90\r\n"
                           "\"ConnectTout\"=dword:00001388\r\n"
                           "\"Url\"=\"" +
                           url +
                           "\"\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Control Panel\\International]\r\n"
                           "\"sDecimal\"=\",\"\r\n\"sList\"=\";\"\r\n"
                           "\"sShortDate\"=\"dd/MM/yyyy\"\r\n"
                           "\"sTimeFormat\"=\"HH:mm:ss\"\r\n");
}

void E2e::avviaCollettore(const std::vector<std::string>& guasti,
                          const std::vector<std::string>& opzioni) {
    collettore_.reset();
    collettore_ = std::make_unique<Collettore>(lavoro(), archivio(), guasti, opzioni);
    scriviRegistro(collettore_->url());
}

void E2e::collettoreSpento() {
    collettore_.reset();
    scriviRegistro("http://127.0.0.1:" + std::to_string(portaLibera()));
}

fs::path E2e::filePassword(const std::string& password) {
    const fs::path file = lavoro() / "password";
    scrivi(file, password + "\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    return file;
}

std::unique_ptr<Processo> E2e::avvia(const std::vector<std::string>& argomenti,
                                     const std::string& password) {
    piattaforma().caricaRegistro(registro());
    std::vector<std::string> argv = prefisso_;
    const std::vector<std::string> vdKvt = piattaforma().comando("vd_kvt");
    argv.insert(argv.end(), vdKvt.begin(), vdKvt.end());
    argv.insert(argv.end(), {"--program-dir", percorso(programma())});
    argv.insert(argv.end(), argomenti.begin(), argomenti.end());
    ++esecuzioni_;
    return std::make_unique<Processo>(
        argv,
        std::map<std::string, std::string>{{"KVT_REGISTRY", registro().string()},
                                           {"KVT_PASSWORD", password},
                                           {"DISPLAY", ""},
                                           {"WAYLAND_DISPLAY", ""},
                                           {"QT_QPA_PLATFORM", ""},
                                           {"LC_ALL", "C.UTF-8"}},
        lavoro() / ("vd_kvt-" + std::to_string(esecuzioni_) + ".out"),
        lavoro() / ("vd_kvt-" + std::to_string(esecuzioni_) + ".err"));
}

Esito E2e::esegui(const std::vector<std::string>& argomenti, const std::string& password) {
    auto processo = avvia(argomenti, password);
    Esito esito;
    esito.stato = processo->attendi(180s);
    esito.uscita = processo->uscita();
    esito.errore = processo->errore();
    esito.piccoMemoriaKib = processo->piccoMemoriaKib();
    return esito;
}

Esito E2e::comandi(const std::vector<std::string>& comandi) {
    std::vector<std::string> argomenti = {"--utente", kUtente};
    argomenti.insert(argomenti.end(), comandi.begin(), comandi.end());
    return esegui(argomenti);
}

}  // namespace kvt::e2e
