#include "app_support.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "common/errors.h"
#include "peers/vellodoc/generator.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/vellodoc_server.h"

#ifndef KVT_BIN_DIR
#error "KVT_BIN_DIR must name the build's bin folder"
#endif

namespace kvt::test {

CartellaTemporanea::CartellaTemporanea() {
    std::string modello = (fs::temp_directory_path() / "kvt_app_XXXXXX").string();
    if (::mkdtemp(modello.data()) == nullptr) {
        throw std::runtime_error("mkdtemp");
    }
    percorso_ = modello;
}

CartellaTemporanea::~CartellaTemporanea() {
    std::error_code errore;
    // A test may leave folders without permissions behind it.
    for (auto it = fs::recursive_directory_iterator(percorso_, errore);
         it != fs::recursive_directory_iterator(); it.increment(errore)) {
        if (errore) {
            break;
        }
        if (it->is_directory(errore) && !it->is_symlink(errore)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, errore);
        }
    }
    fs::remove_all(percorso_, errore);
}

RegistroDiProva::RegistroDiProva(fs::path file) : file_(std::move(file)) {
    if (const char* valore = std::getenv("KVT_REGISTRY")) {
        precedente_ = valore;
    }
    ::setenv("KVT_REGISTRY", file_.c_str(), 1);
}

RegistroDiProva::~RegistroDiProva() {
    if (precedente_) {
        ::setenv("KVT_REGISTRY", precedente_->c_str(), 1);
    } else {
        ::unsetenv("KVT_REGISTRY");
    }
}

void RegistroDiProva::scrivi(const std::vector<std::string>& righe) {
    std::string testo = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const std::string& riga : righe) {
        testo += riga + "\r\n";
    }
    scriviFileDiProva(file_, testo);
}

FinestreDiProva::FinestreDiProva() {
    setWindowing(this);
}

FinestreDiProva::~FinestreDiProva() {
    setWindowing(nullptr);
}

void FinestreDiProva::messageBox(const std::string& text, const std::string&, MessageIcon icon) {
    messaggi.push_back(text);
    icone.push_back(icon);
    if (suMessaggio) {
        suMessaggio(text);
    }
}

void FinestreDiProva::setHourglass(bool on) {
    clessidra = on;
    ++cambiClessidra;
}

void FinestreDiProva::processMessages() {
    ++processate;
    if (inAttesa) {
        inAttesa();
    }
}

namespace {

template <class T>
T prossimo(std::deque<T>& coda, T predefinito) {
    if (coda.empty()) {
        return predefinito;
    }
    T valore = coda.front();
    coda.pop_front();
    return valore;
}

}  // namespace

int ConnettoreDiProva::connect(const std::string& servizio, const std::string& secondo) {
    ++connessioniFatte;
    servizi.push_back(servizio);
    secondi.push_back(secondo);
    if (erroreInConnessione) {
        throw Error("guasto del connettore in LKConnect");
    }
    return prossimo(connessioni, 0);
}

std::string ConnettoreDiProva::query(const std::string& richiesta, int n, int timeoutSecondi) {
    richieste.push_back(richiesta);
    costanti.push_back(n);
    timeout.push_back(timeoutSecondi);
    if (erroreInQuery) {
        throw Error("guasto del connettore in LKQuery");
    }
    return prossimo(risposte, rispostaServizio());
}

int ConnettoreDiProva::getError() {
    return prossimo(errori, 0);
}

int ConnettoreDiProva::disconnect() {
    ++disconnessioniFatte;
    return prossimo(disconnessioni, 0);
}

std::string rispostaServizio(const std::string& codiceRichiesta,
                             const std::string& descrizioneRichiesta,
                             const std::string& codicePaziente,
                             const std::string& descrizionePaziente) {
    std::string testo =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE vekRisposta SYSTEM \"RispostaCaricamento.dtd\">\n"
        "<vekRisposta>\n"
        "  <vekVersione>KVT 1.1</vekVersione>\n"
        "  <vekTipoOperazione>UPLO</vekTipoOperazione>\n"
        "  <vekIdRicevuta>KVT-20090315-000001</vekIdRicevuta>\n"
        "  <vekDataOra>2009-03-15T10:30:05</vekDataOra>\n"
        "  <vekCodiceErrore>" +
        codiceRichiesta + "</vekCodiceErrore>\n  <vekDescrizioneErrore>" + descrizioneRichiesta +
        "</vekDescrizioneErrore>\n";
    if (codiceRichiesta.empty()) {
        testo +=
            "  <vekPazienti>\n    <vekPaziente>\n      <vekPseudonimo/>\n"
            "      <vekCodiceErrore>" +
            codicePaziente + "</vekCodiceErrore>\n      <vekDescrizioneErrore>" +
            descrizionePaziente +
            "</vekDescrizioneErrore>\n    </vekPaziente>\n"
            "  </vekPazienti>\n";
    }
    return testo + "</vekRisposta>\n";
}

Studio::Studio(const std::string& indirizzo)
    : url(indirizzo), registro_(cartella_.percorso() / "registry.reg") {
    const fs::path programma = radice() / "programma";
    fs::create_directories(programma / "kvt" / "dtd");
    for (const char* dtd :
         {"RichiestaCaricamento.dtd", "RispostaCaricamento.dtd", "dtdUnknown.dtd"}) {
        fs::copy_file(cartellaBinari() / "kvt" / "dtd" / dtd, programma / "kvt" / "dtd" / dtd);
    }
    fs::create_symlink(cartellaBinari() / "PSHLib.so", programma / "PSHLib.so");
    scriviRegistro();
    database_ = vellodoc::createPractice(pratica());
    vellodoc::addUser(database_, "medico", "segreta", "MMG001");
}

Studio::~Studio() {
    host_.reset();
    database_.close();
}

void Studio::scriviRegistro(const std::vector<std::string>& righeConnettore) {
    std::vector<std::string> righe = {
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]",
        "\"database\"=\"" + pratica().string() + "\"",
        "",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano\\OPZIONI]",
        "\"regione\"=\"030\"",
        "",
        "[HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]",
        "\"Url\"=\"" + url + "\"",
        "\"ConnectTout\"=dword:00001388",
    };
    for (std::string riga : righeConnettore) {
        // A bare file name of the connector's log lands in the test's folder.
        const std::string nome = "\"LogFilename\"=\"";
        if (riga.rfind(nome, 0) == 0 && riga.size() > nome.size() + 1 &&
            riga.find('/') == std::string::npos) {
            riga = nome + (radice() / riga.substr(nome.size())).string();
        }
        righe.push_back(riga);
    }
    righe.insert(righe.end(),
                 {"", "[HKEY_CURRENT_USER\\Control Panel\\International]", "\"sDecimal\"=\",\""});
    registro_.scrivi(righe);
}

void Studio::generaPratica(int pazienti, std::uint64_t seme) {
    host_.reset();
    database_.close();
    fs::remove(pratica());
    vellodoc::GeneratorOptions opzioni;
    opzioni.patients = pazienti;
    opzioni.years = 3;
    opzioni.seed = seme;
    opzioni.user = "medico";
    opzioni.password = "segreta";
    vellodoc::generatePractice(opzioni, pratica());
    database_ = vellodoc::Database::open(pratica(), vellodoc::Database::Mode::ReadWrite);
}

void Studio::aggiungi(const Paziente& paziente) {
    database_
        .prepare(
            "INSERT INTO pazienti(codice, codice_medico, tipo_di_convenzione, cognome, nome, "
            "codice_fiscale, sesso, data_nascita, codice_asl) "
            "VALUES (?1, ?2, 'S', ?3, ?4, ?5, ?6, ?7, ?8)")
        .bind(1, paziente.codice)
        .bind(2, paziente.medico)
        .bindOrNull(3, paziente.cognome)
        .bindOrNull(4, paziente.nome)
        .bindOrNull(5, paziente.codiceFiscale)
        .bindOrNull(6, paziente.sesso)
        .bindOrNull(7, paziente.dataNascita)
        .bindOrNull(8, paziente.codiceAsl)
        .run();
}

void Studio::aggiungiVisita(const std::string& codice, const std::string& data,
                            const std::string& ora) {
    database_.prepare("INSERT INTO cart_visite(codice, data_open, ora) VALUES (?1, ?2, ?3)")
        .bind(1, codice)
        .bindOrNull(2, data)
        .bindOrNull(3, ora)
        .run();
}

Tvellopat& Studio::host() {
    if (!host_) {
        static const bool registrato = [] {
            vellodoc::registerServer();
            return true;
        }();
        (void)registrato;
        host_ = std::make_unique<Tvellopat>();
        host_->utente = "medico";
        host_->password = "segreta";
        if (!host_->start()) {
            throw std::runtime_error("la sessione con il programma di cartella non si apre");
        }
    }
    return *host_;
}

std::vector<std::string> righeLog(const fs::path& fileLog) {
    const std::string testo = leggi(fileLog);
    std::vector<std::string> righe;
    std::size_t inizio = 0;
    while (inizio < testo.size()) {
        const std::size_t fine = testo.find("\r\n", inizio);
        if (fine == std::string::npos) {
            righe.push_back(testo.substr(inizio));
            break;
        }
        righe.push_back(testo.substr(inizio, fine - inizio));
        inizio = fine + 2;
    }
    return righe;
}

std::string leggi(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream testo;
    testo << in.rdbuf();
    return testo.str();
}

void scriviFileDiProva(const fs::path& file, const std::string& testo) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << testo;
}

std::vector<std::string> fileIn(const fs::path& cartella, const std::string& suffisso) {
    std::vector<std::string> nomi;
    std::error_code errore;
    for (const auto& voce : fs::directory_iterator(cartella, errore)) {
        const std::string nome = voce.path().filename().string();
        if (voce.is_regular_file() && nome.size() >= suffisso.size() &&
            nome.compare(nome.size() - suffisso.size(), suffisso.size(), suffisso) == 0) {
            nomi.push_back(nome);
        }
    }
    std::sort(nomi.begin(), nomi.end());
    return nomi;
}

unsigned permessi(const fs::path& percorso) {
    struct stat stato {};
    if (::stat(percorso.c_str(), &stato) != 0) {
        return 0;
    }
    return stato.st_mode & 0777;
}

void impostaDataFile(const fs::path& file, const DateTime& locale) {
    std::tm tempo{};
    tempo.tm_year = locale.year - 1900;
    tempo.tm_mon = locale.month - 1;
    tempo.tm_mday = locale.day;
    tempo.tm_hour = locale.hour;
    tempo.tm_min = locale.minute;
    tempo.tm_sec = locale.second;
    tempo.tm_isdst = -1;
    const std::time_t istante = std::mktime(&tempo);
    const struct timespec tempi[2] = {{istante, 0}, {istante, 0}};
    if (::utimensat(AT_FDCWD, file.c_str(), tempi, 0) != 0) {
        throw std::runtime_error("utimensat " + file.string());
    }
}

fs::path cartellaBinari() {
    return KVT_BIN_DIR;
}

}  // namespace kvt::test
