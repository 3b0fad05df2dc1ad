// The whole unattended "Nuovo Invio" of a generated practice against
// kvt-collector: what the service stored is what the program filed as
// accepted, byte for byte.
#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "e2e/e2e_support.h"

namespace kvt::e2e {
namespace {

using ::testing::HasSubstr;

class InvioCompleto : public E2e {};

TEST_F(InvioCompleto, StoredUploadsEqualTheFilesInInviati) {
    generaPratica(60);
    avviaCollettore();
    const Esito esito = comandi({"--nuovo-invio"});
    const Riepilogo riepilogo = leggiRiepilogo(esito.uscita);
    ASSERT_TRUE(riepilogo.letto()) << esito.uscita << esito.errore;
    EXPECT_EQ(esito.stato, riepilogo.errori() > 0 ? 3 : 0);
    EXPECT_EQ(riepilogo.erroriInvio, 0) << esito.errore;
    ASSERT_GT(riepilogo.inviati, 0);

    // The summary on standard output, exactly its six lines.
    EXPECT_EQ(righe(esito.uscita).size(), 6u) << esito.uscita;
    EXPECT_EQ(righe(esito.uscita).front(), "Procedura terminata.");

    std::vector<std::string> inviati;
    for (const std::string& nome : fileIn(xml() / "inviati", "_kvt.xml")) {
        inviati.push_back(leggi(xml() / "inviati" / nome));
        // Every accepted upload has its answer.
        EXPECT_TRUE(fs::exists(xml() / "risposte" / nome)) << nome;
    }
    std::vector<std::string> archiviati;
    for (const std::string& nome : fileIn(archivio(), ".xml")) {
        archiviati.push_back(leggi(archivio() / nome));
    }
    EXPECT_EQ(inviati.size(), static_cast<std::size_t>(riepilogo.inviati));
    std::sort(inviati.begin(), inviati.end());
    std::sort(archiviati.begin(), archiviati.end());
    EXPECT_TRUE(inviati == archiviati)
        << inviati.size() << " file in inviati/, " << archiviati.size() << " archiviati";

    // Each accepted patient has its last visit stored; records lacking data
    // became ".err" markers and were not sent.
    const std::string ini = leggi(kvt() / "update_new.ini");
    EXPECT_EQ(conta(ini, "\t"), riepilogo.inviati);
    EXPECT_EQ(fileIn(xml(), ".err").size(), static_cast<std::size_t>(riepilogo.erroriCreazione));
    EXPECT_THAT(leggiLog(), HasSubstr("START - Pazienti totali: "));
}

// One system call of the trace: the process, the call, its paths.
struct Chiamata {
    std::string processo;
    std::string nome;
    std::string primo;
    std::string secondo;
};

// strace -f -y lines: "PID fdatasync(5</path>) = 0", "PID rename("a", "b") = 0".
std::vector<Chiamata> chiamateRiuscite(const std::string& traccia) {
    static const std::regex sincronizza(R"re(^(\d+) +(fsync|fdatasync)\(\d+<(.*)>\) += 0$)re");
    static const std::regex rinomina(
        R"re(^(\d+) +(rename|renameat2?)\((?:AT_FDCWD, )?"([^"]*)", (?:AT_FDCWD, )?"([^"]*)".*\) += 0$)re");
    std::vector<Chiamata> chiamate;
    for (const std::string& riga : righe(traccia)) {
        std::smatch m;
        if (std::regex_match(riga, m, sincronizza)) {
            chiamate.push_back({m[1], "sync", m[3], ""});
        } else if (std::regex_match(riga, m, rinomina)) {
            chiamate.push_back({m[1], "rename", m[3], m[4]});
        }
    }
    return chiamate;
}

// A power cut must leave no state file named but empty or filled with zeros:
// each one written reaches the disk before its rename, and each rename (the
// moves between folders too) before the run goes on.
TEST_F(InvioCompleto, EveryStateFileAndEveryRenameReachTheDiskBeforeTheRunGoesOn) {
    if (piattaforma().windows() || !fs::exists("/usr/bin/strace")) {
        GTEST_SKIP() << "strace on the Linux build only";
    }
    generaPratica(6);
    const fs::path traccia = lavoro() / "strace.txt";
    prefisso_ = {"/usr/bin/strace",
                 "-f",
                 "-y",
                 "-qq",
                 "-o",
                 traccia.string(),
                 "-e",
                 "trace=fsync,fdatasync,rename,renameat,renameat2"};
    // Uploads made and moved to no_conn, then taken back, sent and filed.
    collettoreSpento();
    comandi({"--nuovo-invio"});
    std::string tutte = leggi(traccia);
    avviaCollettore();
    const Riepilogo ripreso = leggiRiepilogo(comandi({"--riprendi"}).uscita);
    ASSERT_GT(ripreso.inviati, 0);
    tutte += leggi(traccia);

    const std::vector<Chiamata> chiamate = chiamateRiuscite(tutte);
    std::map<std::string, std::set<std::string>> scritti;  // per process
    std::set<std::string> cartelleRinominate;
    for (std::size_t i = 0; i < chiamate.size(); ++i) {
        const Chiamata& c = chiamate[i];
        if (c.nome == "sync") {
            scritti[c.processo].insert(c.primo);
            continue;
        }
        const fs::path da = c.primo;
        const fs::path a = c.secondo;
        if (da.filename().string().starts_with(".")) {  // a temporary file
            EXPECT_TRUE(scritti[c.processo].count(da.string())) << "not flushed: " << a;
        }
        const auto dopo = std::find_if(chiamate.begin() + i + 1, chiamate.end(),
                                       [&](const Chiamata& d) { return d.processo == c.processo; });
        EXPECT_TRUE(dopo != chiamate.end() && dopo->nome == "sync" &&
                    dopo->primo == a.parent_path().string())
            << "rename not forced to the disk: " << a;
        cartelleRinominate.insert(a.parent_path().filename().string());
    }
    // Uploads, answers, the last-visit file, the note; no_conn and inviati.
    EXPECT_EQ(cartelleRinominate,
              (std::set<std::string>{"kvt", "xml", "risposte", "no_conn", "inviati"}));
}

}  // namespace
}  // namespace kvt::e2e
