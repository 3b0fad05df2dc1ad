// The whole program on hostile host data: a generated practice with one more
// patient for each kind of hostile text, sent by vd_kvt to kvt-collector on
// 127.0.0.1. Every such patient's upload file is accepted by the service,
// well-formed and valid for libxml2, carries the right pseudonym and the
// texts as the field writer defines them; the program's peak memory stays
// within a few times the files it writes.
#include <iostream>

#include "e2e/e2e_support.h"
#include "peers/vellodoc/sqlite_db.h"
#include "reliability/ostili.h"
#include "reliability/tracciato_libxml.h"

namespace kvt::e2e {
namespace {

class DatiOstiliE2e : public E2e {
  protected:
    // The fiscal code of the hostile patient `n`: valid in form, then the
    // case's own tail.
    static std::string codiceFiscale(std::size_t n, const test::Ostile& caso) {
        return "OSTLEA80A0" + std::to_string(n) + "H501U" + caso.codaCodiceFiscale;
    }
};

TEST_F(DatiOstiliE2e, EveryHostilePatientIsSentWellFormedValidAndPseudonymised) {
    generaPratica(10);
    const auto& casi = test::casiOstili();
    {
        vellodoc::Database db =
            vellodoc::Database::open(pratica(), vellodoc::Database::Mode::ReadWrite);
        vellodoc::Statement medico = db.prepare("SELECT codice_medico FROM pazienti LIMIT 1");
        ASSERT_TRUE(medico.step());
        const std::string codiceMedico(medico.text(0));
        for (std::size_t n = 0; n < casi.size(); ++n) {
            test::scriviPaziente(db, "OSTILE" + std::to_string(n), codiceMedico,
                                 codiceFiscale(n, casi[n]), casi[n].valore);
        }
    }
    // The 1 MB texts make a file beyond the service's usual limit.
    avviaCollettore({}, {"--max-request", std::to_string(1 << 30)});
    const Esito esito = comandi({"--nuovo-invio"});
    const Riepilogo riepilogo = leggiRiepilogo(esito.uscita);
    ASSERT_TRUE(riepilogo.letto()) << esito.uscita << esito.errore;
    EXPECT_EQ(riepilogo.erroriInvio, 0) << esito.errore;

    long dimensioni = 0;
    for (std::size_t n = 0; n < casi.size(); ++n) {
        const test::Ostile& caso = casi[n];
        const std::string codice = codiceFiscale(n, caso);
        const fs::path file = xml() / "inviati" / (codice + "_kvt.xml");
        // Accepted: the service found it well-formed and valid too.
        ASSERT_TRUE(fs::exists(file)) << caso.nome;
        dimensioni += static_cast<long>(fs::file_size(file));
        const std::string testo = leggi(file);
        const test::Tracciato letto(testo);
        ASSERT_TRUE(letto.benFormato()) << caso.nome;
        EXPECT_EQ(letto.erroriDtd(), "") << caso.nome;
        EXPECT_EQ(letto.testi("//trxCodFiscaleAssistito"),
                  std::vector<std::string>{test::sha1Atteso(codice)})
            << caso.nome;
        // A text of no limit, and one cut to 100 characters.
        EXPECT_TRUE(letto.testi("//trxPrescrizioneFarmaco/trxPosologia") ==
                    std::vector<std::string>{caso.atteso})
            << caso.nome;
        const std::vector<std::string> esenzione =
            letto.testi("//trxEsenzione/trxDescrizioneEsenzione");
        ASSERT_EQ(esenzione.size(), 1u) << caso.nome;
        EXPECT_EQ(esenzione.front(), caso.atteso.substr(0, esenzione.front().size())) << caso.nome;
        EXPECT_EQ(testo.find(codice.substr(0, 10)), std::string::npos) << caso.nome;
    }

    // The largest file is some 20 MB; the program holds one record at a time.
    std::cout << "file ostili: " << dimensioni << " byte; picco " << esito.piccoMemoriaKib
              << " KiB\n";
    EXPECT_LT(esito.piccoMemoriaKib, 64 * 1024 + 6 * (dimensioni / 1024));
}

}  // namespace
}  // namespace kvt::e2e
