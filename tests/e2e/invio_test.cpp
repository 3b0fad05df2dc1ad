// The whole unattended "Nuovo Invio" of a generated practice against
// kvt-collector: what the service stored is what the program filed as
// accepted, byte for byte.
#include <algorithm>

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

}  // namespace
}  // namespace kvt::e2e
