// The fault runs that take long: an answer later than the program's answer
// time-out (which is never below 90 seconds), and a larger practice sent
// through a collector that fails in every way at once, goes away and comes
// back.
#include "connector/connector_texts.h"
#include "e2e/guasti_support.h"

namespace kvt::e2e {
namespace {

class GuastiLunghi : public Guasti {};

TEST_F(GuastiLunghi, AnswerLaterThanTheTimeOutFailsThatSendingOnly) {
    generaPratica(kPazienti);
    // The time-out is the lowest the program takes (90 s): the second
    // answer comes later than that.
    avviaCollettore({"delay=95000@2"});
    const Riepilogo riepilogo = invio("--nuovo-invio");
    ASSERT_TRUE(riepilogo.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(riepilogo.erroriInvio, 1);
    EXPECT_EQ(righeLog("Fase 2: #2 Invio: 8 = " + descriviCodice(8)), 1);
    // (The new sending moved the start of the session's log to log_old.txt.)
    EXPECT_NE(leggiLog(kvt() / "log_old.txt").find("timeOut (msec) 90000"), std::string::npos);
    EXPECT_EQ(cartelle().inAttesa.size(), 1u);

    avviaCollettore();
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

TEST_F(GuastiLunghi, LargerPracticeThroughEveryFaultAtOnceThenTheServiceGoneAndBack) {
    generaPratica(200);
    const std::vector<std::string> guasti = {
        "refuse-patient@7%", "refuse-request@5%", "drop@5%",       "malformed@4%",
        "no-codes@3%",       "status=500@3%",     "status=503@2%", "connect-status=503@6%",
        "get-only@2%",       "oversize@2%",       "stall=3000@1%", "delay=50@20%"};
    avviaCollettore(guasti);
    impostaConnettore("\"StallTout\"=dword:000001f4");
    const Riepilogo primo = invio("--nuovo-invio");
    ASSERT_TRUE(primo.letto()) << ultimoEsito_.errore;
    EXPECT_GT(primo.erroriInvio, 20);
    EXPECT_GT(primo.inviati, 100);
    EXPECT_FALSE(cartelle().noConn.empty());
    EXPECT_FALSE(cartelle().inAttesa.empty());

    // Resumed against the same faults, then the service goes in the middle.
    avviaCollettore(guasti);
    impostaConnettore("\"StallTout\"=dword:000001f4");
    const StatoCartelle prima = cartelle();
    auto processo = avvia({"--utente", kUtente, "--riprendi"});
    const auto scadenza = std::chrono::steady_clock::now() + 60s;
    while (conta(ultimaSessione(), "NOCONN (recupero xml precedente)") < 3 && processo->vivo() &&
           std::chrono::steady_clock::now() < scadenza) {
        std::this_thread::sleep_for(5ms);
    }
    collettore_->ferma();
    Esito esito;
    esito.stato = processo->attendi(180s);
    esito.uscita = processo->uscita();
    esito.errore = processo->errore();
    ultimoEsito_ = esito;
    const Riepilogo ripreso = verifica(esito, prima, false);
    registra("--riprendi", ripreso);
    ASSERT_TRUE(ripreso.letto()) << esito.errore;

    // The service back without faults: a resume, then a new sending.
    avviaCollettore();
    const Riepilogo ancora = invio("--riprendi");
    ASSERT_TRUE(ancora.letto());
    EXPECT_EQ(ancora.erroriInvio, 0);
    EXPECT_TRUE(cartelle().noConn.empty());
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

}  // namespace
}  // namespace kvt::e2e
