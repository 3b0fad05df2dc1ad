// The answer reader and what a hostile or huge answer can make it do: entity
// declarations and references are never expanded or fetched and the answer
// is refused; an answer of the connector's largest size (16 MiB) is refused
// within a few times its size in memory, whatever its shape.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "app/frm_main.h"
#include "app_support.h"
#include "common/clock.h"

namespace kvt::test {
namespace {

const std::string kOra = " - 15/03/2009 10:30:05";
constexpr std::size_t kMiB = std::size_t{1} << 20;
// The connector's cap: answers up to this size reach the reader.
constexpr std::size_t kLimiteConnettore = 16 * kMiB;

const std::string kCodiciVuoti =
    "<vekCodiceErrore/><vekPazienti><vekPaziente><vekCodiceErrore/></vekPaziente></vekPazienti>";

// A socket on 127.0.0.1 that listens and never accepts: a connection to it
// stays pending, so the test sees whether anyone tried to fetch from it.
class Ascoltatore {
  public:
    Ascoltatore() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in indirizzo{};
        indirizzo.sin_family = AF_INET;
        indirizzo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t lunghezza = sizeof indirizzo;
        if (fd_ < 0 ||
            ::bind(fd_, reinterpret_cast<sockaddr*>(&indirizzo), sizeof indirizzo) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&indirizzo), &lunghezza) != 0) {
            throw std::runtime_error("socket di prova non disponibile");
        }
        porta_ = ntohs(indirizzo.sin_port);
    }
    ~Ascoltatore() { ::close(fd_); }
    Ascoltatore(const Ascoltatore&) = delete;
    Ascoltatore& operator=(const Ascoltatore&) = delete;

    std::string url(const std::string& percorso) const {
        return "http://127.0.0.1:" + std::to_string(porta_) + percorso;
    }
    bool qualcunoHaChiamato() const {
        const int connessione = ::accept(fd_, nullptr, nullptr);
        if (connessione >= 0) {
            ::close(connessione);
            return true;
        }
        return false;
    }

  private:
    int fd_ = -1;
    int porta_ = 0;
};

// A billion laughs: ten levels of entities, each ten of the one below.
std::string miliardoDiRisate() {
    std::string risate = "<!ENTITY lol0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        risate += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) {
            risate += "&lol" + std::to_string(i - 1) + ";";
        }
        risate += "\">";
    }
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE vekRisposta [" + risate + "]>\n<vekRisposta>" +
           kCodiciVuoti + "<x>&lol9;</x></vekRisposta>";
}

class RispostaSicuraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        finestra = std::make_unique<TfrmMain>(studio.programma(), &studio.host(), &connettore);
        fs::create_directories(studio.xml() / "risposte");
        fileRisposta = (studio.xml() / "risposte" / "RSS_kvt.xml").string();
    }

    // The answer read as the sending reads it; the log line it wrote.
    bool leggi(const std::string& risposta, std::string& riga) {
        std::string errore;
        const bool accettata = finestra->leggiRisposta(risposta, fileRisposta, errore);
        riga = righeLog(studio.kvt() / "log.txt").back();
        return accettata;
    }

    FinestreDiProva finestre;
    Studio studio;
    ConnettoreDiProva connettore;
    clock::FixedClock orologio{{2009, 3, 15, 10, 30, 5}};
    std::unique_ptr<TfrmMain> finestra;
    std::string fileRisposta;
};

TEST_F(RispostaSicuraTest, EntitiesAreNeitherExpandedNorFetchedAndTheAnswerIsRefused) {
    Ascoltatore servizio;
    // Reading a FIFO blocks until someone writes: a parser that opened it
    // would hang the test instead of passing it.
    const fs::path fifo = studio.radice() / "segreto";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const std::string corpo = "<vekRisposta>" + kCodiciVuoti;
    const std::string casi[] = {
        miliardoDiRisate(),
        // external entities, by file and by address
        "<!DOCTYPE vekRisposta [<!ENTITY e SYSTEM \"file://" + fifo.string() + "\">]>" + corpo +
            "<x>&e;</x></vekRisposta>",
        "<!DOCTYPE vekRisposta [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" + corpo +
            "<x>&e;</x></vekRisposta>",
        "<!DOCTYPE vekRisposta [<!ENTITY e SYSTEM \"" + servizio.url("/e") + "\">]>" + corpo +
            "<x>&e;</x></vekRisposta>",
        // parameter entities, an external document type
        "<!DOCTYPE vekRisposta [<!ENTITY % p SYSTEM \"" + servizio.url("/p.dtd") + "\"> %p;]>" +
            corpo + "</vekRisposta>",
        "<!DOCTYPE vekRisposta [<!ENTITY % p \"<!ENTITY e 'x'>\"> %p;]>" + corpo +
            "&e;</vekRisposta>",
        // a document type that the removal of the first declaration leaves in place
        "<!-- <!DOCTYPE x> --><!DOCTYPE vekRisposta SYSTEM \"" + servizio.url("/r.dtd") + "\">" +
            corpo + "</vekRisposta>",
        // a reference to an entity nobody declared
        corpo + "<x>&e;</x></vekRisposta>",
    };
    for (const std::string& risposta : casi) {
        std::string riga;
        EXPECT_FALSE(leggi(risposta, riga)) << risposta;
        EXPECT_EQ(riga.rfind("Fase 2: #3 Risposta: KO+ - CodiceErrore: ", 0), 0) << riga;
        EXPECT_FALSE(servizio.qualcunoHaChiamato()) << risposta;
    }
    // The same answer without the hostile parts is accepted.
    std::string riga;
    EXPECT_TRUE(leggi(corpo + "<x>&amp;&#65;</x></vekRisposta>", riga));
    EXPECT_EQ(riga, "Fase 2: #3 Risposta: OK" + kOra);
}

// What a child process that reads one answer found, and the memory it took
// beyond what it had before building the answer.
struct Misura {
    bool accettata = false;
    std::string riga;
    long kibOltre = 0;
};

class RispostaGrandeTest : public RispostaSicuraTest {
  protected:
    template <class Costruisci>
    Misura misura(Costruisci costruisci) {
        int tubo[2];
        EXPECT_EQ(::pipe(tubo), 0);
        const pid_t figlio = ::fork();
        if (figlio == 0) {
            ::close(tubo[0]);
            rusage uso{};
            ::getrusage(RUSAGE_SELF, &uso);
            const long prima = uso.ru_maxrss;
            std::string riga;
            const bool accettata = leggi(costruisci(), riga);
            const std::string esito =
                std::to_string(prima) + " " + (accettata ? "1 " : "0 ") + riga;
            [[maybe_unused]] const ssize_t scritti = ::write(tubo[1], esito.data(), esito.size());
            ::_exit(0);
        }
        ::close(tubo[1]);
        std::string esito;
        char blocco[512];
        for (ssize_t n; (n = ::read(tubo[0], blocco, sizeof blocco)) > 0;) {
            esito.append(blocco, static_cast<std::size_t>(n));
        }
        ::close(tubo[0]);
        int stato = 0;
        rusage uso{};
        EXPECT_EQ(::wait4(figlio, &stato, 0, &uso), figlio);
        EXPECT_TRUE(WIFEXITED(stato) && WEXITSTATUS(stato) == 0) << "stato " << stato;
        Misura m;
        std::size_t fine = 0;
        const long prima = std::stol(esito, &fine);
        m.accettata = esito.substr(fine + 1, 1) == "1";
        m.riga = esito.substr(fine + 3);
        m.kibOltre = uso.ru_maxrss - prima;
        return m;
    }
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoriaMisurabile = false;  // the sanitizer's own allocator and shadow
#else
constexpr bool kMemoriaMisurabile = true;
#endif

// Elements nested as deep as the size allows, well-formed.
std::string annidata(std::size_t dimensione) {
    const std::string inizio = "<vekRisposta>" + kCodiciVuoti;
    const std::string fine = "</vekRisposta>";
    const std::size_t livelli = (dimensione - inizio.size() - fine.size()) / 7;
    std::string testo = inizio;
    for (std::size_t i = 0; i < livelli; ++i) {
        testo += "<a>";
    }
    for (std::size_t i = 0; i < livelli; ++i) {
        testo += "</a>";
    }
    return testo + std::string(dimensione - testo.size() - fine.size(), ' ') + fine;
}

std::string piatta(std::size_t dimensione) {
    std::string testo = "<vekRisposta>" + kCodiciVuoti;
    const std::string chiusura = "</vekRisposta>";
    while (testo.size() + 4 + chiusura.size() <= dimensione) {
        testo += "<a/>";
    }
    return testo + chiusura;
}

std::string conCommento(std::size_t dimensione) {
    const std::string inizio = "<vekRisposta>" + kCodiciVuoti + "<!--";
    const std::string fine = "--></vekRisposta>";
    return inizio + std::string(dimensione - inizio.size() - fine.size(), 'x') + fine;
}

TEST_F(RispostaGrandeTest, AnAnswerOfTheConnectorsLargestSizeIsRefusedInBoundedMemory) {
    struct Caso {
        const char* nome;
        std::string (*costruisci)(std::size_t);
    };
    const Caso casi[] = {{"commento", conCommento}, {"annidata", annidata}, {"piatta", piatta}};
    for (const Caso& caso : casi) {
        for (const std::size_t dimensione : {kLimiteConnettore, kLimiteConnettore - 1}) {
            const Misura m = misura([&] { return caso.costruisci(dimensione); });
            std::cout << "[ memoria ] " << caso.nome << " " << dimensione << " byte: " << m.kibOltre
                      << " KiB\n";
            EXPECT_FALSE(m.accettata) << caso.nome;
            EXPECT_EQ(m.riga,
                      "Fase 2: #3 Risposta: KO+ - CodiceErrore: Il documento supera la "
                      "dimensione massima di 1024 KiB - DescrizioneErrore: Il documento supera la "
                      "dimensione massima di 1024 KiB" +
                          kOra);
            if (kMemoriaMisurabile) {
                // The answer itself, its copy and the saved file's buffers: a few times its size.
                EXPECT_LT(m.kibOltre, static_cast<long>(4 * dimensione / 1024)) << caso.nome;
            }
        }
    }
}

TEST_F(RispostaGrandeTest, AnEntityBombTakesNoMoreMemoryThanItsText) {
    const Misura m = misura([] { return miliardoDiRisate(); });
    std::cout << "[ memoria ] miliardo di risate " << miliardoDiRisate().size()
              << " byte: " << m.kibOltre << " KiB\n";
    EXPECT_FALSE(m.accettata);
    EXPECT_EQ(m.riga.rfind("Fase 2: #3 Risposta: KO+ - CodiceErrore: ", 0), 0u) << m.riga;
    if (kMemoriaMisurabile) {
        // A billion expansions would take gigabytes; the text is under 1 KiB.
        EXPECT_LT(m.kibOltre, 4 * 1024L);
    }
}

TEST_F(RispostaGrandeTest, AnswersJustWithinTheSizeLimitAreReadInBoundedMemory) {
    const std::size_t dimensione = kMiB;
    const Misura commento = misura([&] { return conCommento(dimensione); });
    EXPECT_TRUE(commento.accettata);  // padding alone does not refuse an answer
    const Misura annidataMisura = misura([&] { return annidata(dimensione); });
    EXPECT_FALSE(annidataMisura.accettata);
    EXPECT_NE(annidataMisura.riga.find("profondità massima di 256 livelli"), std::string::npos)
        << annidataMisura.riga;
    const Misura piattaMisura = misura([&] { return piatta(dimensione); });
    EXPECT_TRUE(piattaMisura.accettata);
    for (const auto& [nome, m] : {std::pair{"commento", commento},
                                  {"annidata", annidataMisura},
                                  {"piatta", piattaMisura}}) {
        std::cout << "[ memoria ] " << nome << " " << dimensione << " byte: " << m.kibOltre
                  << " KiB\n";
        if (kMemoriaMisurabile) {
            // The parser's nodes cost up to 64 bytes per element of 3 or 4
            // bytes: bounded by the size limit, not by the connector's cap.
            EXPECT_LT(m.kibOltre, 48 * 1024L) << nome;
        }
    }
}

}  // namespace
}  // namespace kvt::test
