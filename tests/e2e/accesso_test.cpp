// vd_kvt's command line and its login, against the host stand-in's practice.
#include <sqlite3.h>

#include "e2e/e2e_support.h"

namespace kvt::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Accesso : public E2e {
  protected:
    void SetUp() override {
        E2e::SetUp();
        generaPratica(8);
        avviaCollettore();
    }

    // A host user whose doctor has no patient of the practice.
    void aggiungiMedicoSenzaPazienti(const std::string& utente) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(pratica().c_str(), &db), SQLITE_OK);
        const std::string sql =
            "INSERT INTO utenti(nome_utente, password_sha256, userid_utente) "
            "SELECT '" +
            utente +
            "', password_sha256, 'NESSUNO' FROM utenti "
            "WHERE nome_utente = 'demo'";
        char* errore = nullptr;
        const int esito = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &errore);
        const std::string testo = errore ? errore : "";
        sqlite3_free(errore);
        sqlite3_close(db);
        ASSERT_EQ(esito, SQLITE_OK) << testo;
    }
};

TEST_F(Accesso, UsageHelpAndVersion) {
    // Without a display (the tests have none) or without a window front end,
    // no option says in one line how to run unattended.
    const Esito senzaOpzioni = esegui({});
    EXPECT_EQ(senzaOpzioni.stato, 2);
    EXPECT_EQ(righe(senzaOpzioni.errore).size(), 1u) << senzaOpzioni.errore;
    EXPECT_THAT(senzaOpzioni.errore, HasSubstr("--utente"));

    const Esito aiuto = esegui({"--help"});
    EXPECT_EQ(aiuto.stato, 0);
    EXPECT_THAT(aiuto.uscita, HasSubstr("--nuovo-invio"));
    EXPECT_THAT(aiuto.uscita, HasSubstr("--password-file"));

    const Esito versione = esegui({"--version"});
    EXPECT_EQ(versione.stato, 0);
    EXPECT_EQ(versione.uscita, "vd_kvt 1.46\n");

    // The password is never an argument.
    const Esito password = esegui({"--utente", "demo", "--password", "demo", "--test-linea"});
    EXPECT_EQ(password.stato, 2);
    EXPECT_THAT(password.errore, HasSubstr("--password-file"));

    EXPECT_EQ(esegui({"--nuovo-invio"}).stato, 2);  // no user
    EXPECT_EQ(esegui({"--utente", "demo", "--sconosciuta"}).stato, 2);
    EXPECT_EQ(esegui({"--utente", "demo", "--password-file", percorso(lavoro() / "manca"),
                      "--test-linea"})
                  .stato,
              2);
    // Nothing was logged in, so nothing was written below the program folder.
    EXPECT_FALSE(fs::exists(log()));
}

TEST_F(Accesso, WrongPasswordShowsTheHostsMessageAndFails) {
    const Esito esito = esegui({"--utente", "demo", "--nuovo-invio"}, "sbagliata");
    EXPECT_EQ(esito.stato, 1);
    EXPECT_THAT(esito.errore, HasSubstr("errore in connessione"));
    EXPECT_THAT(esito.errore, HasSubstr("Nome utente o password non validi."));
    EXPECT_EQ(esito.uscita, "");
    // The main window was made (and logged) but no command ran.
    const std::string testo = leggiLog();
    EXPECT_THAT(testo, HasSubstr("FormCreate - vd_kvt versione 1.46"));
    EXPECT_THAT(testo, Not(HasSubstr("Reset")));
    EXPECT_THAT(testo, Not(HasSubstr("sbagliata")));
    EXPECT_FALSE(fs::exists(xml()));
}

TEST_F(Accesso, MissingPracticeFailsTheLoginWithTheHostsMessage) {
    fs::remove(pratica());
    const Esito esito = esegui({"--utente", "demo", "--test-linea"});
    EXPECT_EQ(esito.stato, 1);
    EXPECT_THAT(esito.errore, HasSubstr("ole_vellopat.start(): errore in connessione"));
    EXPECT_THAT(esito.errore,
                HasSubstr("Archivio dello studio non trovato: " + percorso(pratica())));
}

TEST_F(Accesso, DoctorWithoutPatientsIsRefused) {
    aggiungiMedicoSenzaPazienti("vuoto");
    const Esito esito = esegui({"--utente", "vuoto", "--nuovo-invio"});
    EXPECT_EQ(esito.stato, 1);
    EXPECT_THAT(esito.errore, HasSubstr("ERRORE: Nessun paziente associato al medico corrente."));
    EXPECT_THAT(leggiLog(), Not(HasSubstr("Reset")));
}

TEST_F(Accesso, SuccessRunsTheCommandsAndLeaves) {
    const std::string registroPrima = leggi(registro());
    const Esito esito = esegui(
        {"--utente", "demo", "--password-file", percorso(filePassword(kPassword)), "--test-linea"},
        "");
    EXPECT_EQ(esito.stato, 0) << esito.errore;
    EXPECT_THAT(esito.errore, HasSubstr("Connessione stabilita con successo."));
    const std::vector<std::string> log_ = righe(leggiLog());
    ASSERT_GE(log_.size(), 4u);
    EXPECT_THAT(log_.front(), HasSubstr("FormCreate - vd_kvt versione 1.46 - "));
    EXPECT_THAT(log_.back(), HasSubstr("cmdExitClick - "));
    // Neither the password nor the user name is written anywhere by the program.
    EXPECT_EQ(leggi(registro()), registroPrima);
    for (const auto& voce : fs::recursive_directory_iterator(lavoro())) {
        if (voce.is_regular_file() && voce.path() != filePassword(kPassword)) {
            EXPECT_THAT(leggi(voce.path()), Not(HasSubstr(kPassword))) << voce.path();
        }
    }
}

}  // namespace
}  // namespace kvt::e2e
