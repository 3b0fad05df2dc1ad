#include "e2e/guasti_support.h"

#include <sqlite3.h>

#include <map>

namespace kvt::e2e {

using ::testing::HasSubstr;

namespace {

const std::string kFineUpload = "_kvt.xml";

}  // namespace

std::vector<std::string> Guasti::elencoPazienti() const {
    std::vector<std::string> codici;
    for (const auto& riga :
         sql("SELECT p.codice FROM pazienti p JOIN utenti u ON p.codice_medico = u.userid_utente "
             "WHERE lower(u.nome_utente) = 'demo' AND p.tipo_di_convenzione = 'S' "
             "ORDER BY lower(p.cognome), lower(p.nome), p.codice")) {
        codici.push_back(riga.at(0));
    }
    return codici;
}

StatoCartelle Guasti::cartelle() const {
    StatoCartelle stato;
    stato.inviati = fileIn(xml() / "inviati", kFineUpload);
    stato.noConn = fileIn(xml() / "no_conn", kFineUpload);
    stato.inAttesa = fileIn(xml(), kFineUpload);
    for (std::string nome : fileIn(xml(), kFineUpload + ".err")) {
        nome.resize(nome.size() - 4);
        stato.err.push_back(nome);
    }
    return stato;
}

std::multiset<std::string> Guasti::archiviati() const {
    std::multiset<std::string> testi;
    for (const std::string& nome : fileIn(archivio(), ".xml")) {
        testi.insert(leggi(archivio() / nome));
    }
    return testi;
}

std::string Guasti::ultimaSessione() const {
    const std::string testo = leggiLog();
    const std::size_t inizio = testo.rfind("FormCreate - ");
    return inizio == std::string::npos ? testo : testo.substr(inizio);
}

int Guasti::righeLog(const std::string& inizio) const {
    int n = 0;
    for (const std::string& riga : righe(ultimaSessione())) {
        n += riga.rfind(inizio, 0) == 0 ? 1 : 0;
    }
    return n;
}

void Guasti::impostaConnettore(const std::string& riga) {
    std::string testo = leggi(registro());
    const std::string chiave = "[HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n";
    const std::size_t dove = testo.find(chiave);
    ASSERT_NE(dove, std::string::npos);
    testo.insert(dove + chiave.size(), riga + "\r\n");
    scrivi(registro(), testo);
}

Riepilogo Guasti::invio(const std::string& comando) {
    const StatoCartelle prima = cartelle();
    const Esito esito = comandi({comando});
    ultimoEsito_ = esito;
    const Riepilogo riepilogo = verifica(esito, prima, comando == "--nuovo-invio");
    registra(comando, riepilogo);
    return riepilogo;
}

Riepilogo Guasti::invioConEsitiNonRegistrati() {
    ultimoEsito_ = comandi({"--nuovo-invio"});
    const Riepilogo riepilogo = leggiRiepilogo(ultimoEsito_.uscita);
    EXPECT_TRUE(riepilogo.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(ultimoEsito_.stato, 3);
    EXPECT_THAT(ultimoEsito_.errore, HasSubstr("l'esito non è stato registrato"));
    return riepilogo;
}

void Guasti::registra(const std::string& comando, const Riepilogo& riepilogo) {
    // Kept in the test report (--gtest_output=xml), so that the outcome of
    // every fault can be read without running it again.
    const StatoCartelle dopo = cartelle();
    std::string testo = comando + " uscita " +
                        (ultimoEsito_.stato ? std::to_string(*ultimoEsito_.stato) : "nessuna");
    if (riepilogo.letto()) {
        testo += "; Inviati " + std::to_string(riepilogo.inviati) + ", Già inviati " +
                 std::to_string(riepilogo.giaInviati) + ", Scartati " +
                 std::to_string(riepilogo.scartati) + ", Errore creazione " +
                 std::to_string(riepilogo.erroriCreazione) + ", Errore connessione invio " +
                 std::to_string(riepilogo.erroriInvio);
    } else {
        testo += "; nessun riepilogo";
    }
    testo += "; inviati/ " + std::to_string(dopo.inviati.size()) + ", no_conn/ " +
             std::to_string(dopo.noConn.size()) + ", xml/ " + std::to_string(dopo.inAttesa.size()) +
             ", .err " + std::to_string(dopo.err.size()) + "; archiviati " +
             std::to_string(archiviati().size());
    RecordProperty("invio-" + std::to_string(++registrati_), testo);
}

Riepilogo Guasti::verifica(const Esito& esito, const StatoCartelle& prima, bool nuovo) {
    // The program ended by itself: no crash, no hang, no signal.
    EXPECT_TRUE(esito.stato.has_value()) << esito.errore;
    const Riepilogo riepilogo = leggiRiepilogo(esito.uscita);
    if (riepilogo.letto()) {
        // Counted errors give 3; without them, so does a failure the program
        // showed (on standard error), and nothing else.
        if (riepilogo.errori() > 0) {
            EXPECT_EQ(esito.stato, 3) << esito.errore;
        } else {
            EXPECT_EQ(esito.stato, esito.errore.empty() ? 0 : 3) << esito.errore;
        }
        // Every patient of the doctor's list counted once, in one counter.
        EXPECT_EQ(riepilogo.inviati + riepilogo.giaInviati + riepilogo.scartati +
                      riepilogo.erroriCreazione + riepilogo.erroriInvio,
                  static_cast<int>(elencoPazienti().size()))
            << esito.uscita;
    } else {
        // A run ended by an error says so through the exit status.
        EXPECT_EQ(esito.stato, 3) << esito.uscita << esito.errore;
    }

    const StatoCartelle dopo = cartelle();
    // Each patient's upload is in one state only.
    std::map<std::string, int> stati;
    for (const auto* elenco : {&dopo.inviati, &dopo.noConn, &dopo.inAttesa, &dopo.err}) {
        for (const std::string& nome : *elenco) {
            ++stati[nome];
        }
    }
    for (const auto& [nome, volte] : stati) {
        EXPECT_EQ(volte, 1) << nome << " in " << volte << " stati";
    }

    if (riepilogo.letto()) {
        if (nuovo) {
            // After the reset the folders hold this run's outcomes only.
            EXPECT_EQ(dopo.inviati.size(), static_cast<std::size_t>(riepilogo.inviati));
            EXPECT_EQ(dopo.noConn.size() + dopo.inAttesa.size(),
                      static_cast<std::size_t>(riepilogo.erroriInvio));
            EXPECT_LE(dopo.err.size(), static_cast<std::size_t>(riepilogo.erroriCreazione));
        } else {
            EXPECT_EQ(dopo.inviati.size(), prima.inviati.size() + riepilogo.inviati);
            EXPECT_GE(static_cast<std::size_t>(riepilogo.giaInviati), prima.inviati.size());
        }
    }

    // What was filed as accepted is what the collector stored, byte for byte,
    // and its last visit is stored.
    const std::multiset<std::string> archivio = archiviati();
    const std::string ini = leggi(kvt() / "update_new.ini");
    for (const std::string& nome : dopo.inviati) {
        EXPECT_EQ(archivio.count(leggi(xml() / "inviati" / nome)), 1u) << nome;
        const std::string codiceFiscale = nome.substr(0, nome.size() - kFineUpload.size());
        EXPECT_THAT(ini, HasSubstr("\n" + codiceFiscale + "=")) << nome;
    }
    return riepilogo;
}

void Guasti::verificaTuttiArrivati(const Riepilogo& riepilogo) {
    ASSERT_TRUE(riepilogo.letto());
    EXPECT_EQ(riepilogo.erroriInvio, 0) << ultimoEsito_.errore;
    // Every patient with data is in the store: accepted now, or accepted
    // before and not visited since.
    const std::size_t archiviatiN = archiviati().size();
    EXPECT_EQ(archiviatiN, static_cast<std::size_t>(riepilogo.inviati + riepilogo.giaInviati));
    EXPECT_EQ(static_cast<std::size_t>(conta(leggi(kvt() / "update_new.ini"), "\t")), archiviatiN);
    EXPECT_TRUE(cartelle().noConn.empty());
    EXPECT_TRUE(cartelle().inAttesa.empty());
}

}  // namespace kvt::e2e
