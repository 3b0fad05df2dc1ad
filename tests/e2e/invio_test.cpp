// The whole unattended "Nuovo Invio" of a generated practice against
// kvt-collector: what the service stored is what the program filed as
// accepted, byte for byte.
#include <algorithm>
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

// A power cut must leave no state file named but empty or zero-filled: each
// one reaches the disk before its rename, each rename (the moves too) before
// the run goes on.
TEST_F(InvioCompleto, EveryStateFileAndEveryRenameReachTheDiskBeforeTheRunGoesOn) {
    if (piattaforma().windows() || !fs::exists("/usr/bin/strace")) {
        GTEST_SKIP() << "strace on the Linux build only";
    }
    generaPratica(6);
    const fs::path traccia = lavoro() / "strace.txt";
    prefisso_ = {"/usr/bin/strace", "-y", "-o",
                 traccia.string(),  "-e", "trace=fsync,fdatasync,rename,renameat,renameat2"};
    collettoreSpento();  // uploads made and moved to no_conn, then taken back and filed
    comandi({"--nuovo-invio"});
    std::string chiamate = leggi(traccia);
    avviaCollettore();
    ASSERT_GT(leggiRiepilogo(comandi({"--riprendi"}).uscita).inviati, 0);
    chiamate += leggi(traccia);

    static const std::regex chiamata(
        R"re(^(?:f(?:data)?sync\(\d+<(.*)>|rename(?:at2?)?\((?:AT_FDCWD, )?"(.*)", (?:AT_FDCWD, )?"([^"]*)".*)\) += 0$)re");
    std::set<std::string> scritti;
    std::set<std::string> cartelle;
    fs::path cartellaDaScrivere;  // of the last rename, until it reaches the disk
    for (const std::string& riga : righe(chiamate)) {
        std::smatch m;
        if (!std::regex_match(riga, m, chiamata)) {
            continue;
        }
        if (m[1].matched) {
            EXPECT_TRUE(cartellaDaScrivere.empty() || m[1] == cartellaDaScrivere.string()) << riga;
            scritti.insert(m[1]);
            cartellaDaScrivere.clear();
            continue;
        }
        EXPECT_EQ(cartellaDaScrivere, fs::path()) << "rename not forced to the disk";
        const fs::path da = m[2].str();
        const fs::path a = m[3].str();
        EXPECT_TRUE(!da.filename().string().starts_with(".") || scritti.count(da.string()))
            << "not flushed before its rename: " << a;
        cartellaDaScrivere = a.parent_path();
        cartelle.insert(cartellaDaScrivere.filename().string());
    }
    EXPECT_EQ(cartellaDaScrivere, fs::path());
    // Uploads, answers, the last-visit file, the note; no_conn and inviati.
    EXPECT_EQ(cartelle, (std::set<std::string>{"kvt", "xml", "risposte", "no_conn", "inviati"}));
}

}  // namespace
}  // namespace kvt::e2e
