#include "e2e/e2e_support.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <regex>

namespace kvt::e2e {

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
    fs::create_directories(kvt() / "dtd");
    for (const auto& voce : fs::directory_iterator(kBin / "kvt" / "dtd")) {
        fs::copy_file(voce.path(), kvt() / "dtd" / voce.path().filename());
    }
    // The program checks that the pseudonym library lies in its folder.
    fs::copy_file(kBin / "PSHLib.so", programma() / "PSHLib.so");
    collettoreSpento();
}

void E2e::generaPratica(int pazienti) {
    Processo sim({(kBin / "vellodoc-sim").string(), "generate", "--patients",
                  std::to_string(pazienti), "--years", "2", "--seed", "17", "--password-file",
                  filePassword(kPassword).string(), pratica().string()},
                 {}, lavoro() / "sim.out", lavoro() / "sim.err");
    const std::optional<int> stato = sim.attendi(60s);
    ASSERT_EQ(stato, 0) << sim.errore();
}

void E2e::scriviRegistro(const std::string& url) {
    scrivi(registro(),
           "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n"
           "\"database\"=\"" +
               pratica().string() +
               "\"\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano\\OPZIONI]\r\n"
               "\"regione\"=\"030\"\r\n\r\n"
               "[HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n"
               "\"LogFilename\"=\"" +
               (lavoro() / "lk.log").string() +
               "\"\r\n"
               "\"ReqTout\"=dword:00015f90\r\n"
               "\"ConnectTout\"=dword:00001388\r\n"
               "\"Url\"=\"" +
               url +
               "\"\r\n\r\n"
               "[HKEY_CURRENT_USER\\Control Panel\\International]\r\n"
               "\"sDecimal\"=\",\"\r\n");
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
    std::vector<std::string> argv = {(kBin / "vd_kvt").string(), "--program-dir",
                                     programma().string()};
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
    return esito;
}

Esito E2e::comandi(const std::vector<std::string>& comandi) {
    std::vector<std::string> argomenti = {"--utente", kUtente};
    argomenti.insert(argomenti.end(), comandi.begin(), comandi.end());
    return esegui(argomenti);
}

}  // namespace kvt::e2e
