// The host stand-in against a small hand-made practice.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "practice_fixture.h"
#include "vellodoc/host_contract.h"

namespace kvt::vellodoc::testing {
namespace {

using automation::Object;

constexpr const char* kPractice = R"sql(
INSERT INTO pazienti(codice, codice_medico, tipo_di_convenzione, cognome, nome, codice_fiscale,
  sesso, data_nascita, gruppo_sanguigno, rh, codice_asl, via_piazza, numero_civico,
  mmg_data_scelta, mmg_data_revoca, decesso_data_evento, decesso_codice_icd9_cm, decesso_causa,
  xtac) VALUES
 ('12', 'MMG001', 'S', 'Verdi', 'Anna', 'VRDNNA80A41F205X', 'F', '1980-01-01', 'A', '+', '301',
  'Via Roma', '5', '2010-02-03', '2027-01-31', '2025-05-06', '410.9', 'INFARTO',
  '<cartella_variazioni/>'),
 ('7',  'MMG001', 'S', 'bianchi', 'Luca', 'BNCLCU70B02H501Y', 'M', '1970-02-02', NULL, NULL,
  '302', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
 ('30', 'MMG001', 'S', 'Bianchi', 'Carlo', NULL, 'M', NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL),
 ('31', 'MMG001', 'S', 'Bianchi', 'carla', '', 'F', NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL),
 ('8',  'MMG002', 'S', 'Abate', 'Ugo', NULL, 'M', NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL),
 ('9',  'MMG001', 'N', 'Aaron', 'Ivo', NULL, 'M', NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL),
 ('40', 'MMG001', 'S', 'Verdi', 'Anna', NULL, 'F', NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL),
 ('5',  'MMG001', 'S', 'Zeta', 'Àngelo "Lino"', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL);

INSERT INTO cart_visite(codice, data_open, ora) VALUES
 ('12', '2024-03-01', '09:30'), ('12', '2024-05-10', '08:15'), ('12', '2024-05-10', '17:45'),
 ('12', '2023-12-31', '18:59'), ('7', '2022-01-01', NULL);

INSERT INTO problema(codice, codice_icd9_cm, nome_problema, certezza, data_inizio,
  classe_patologia, variato_il) VALUES
 ('12', '401.9', 'IPERTENSIONE', 'N', '2020-01-01', NULL, '2024-01-01 10:00:00'),
 ('12', '477.0', 'RINITE ALLERGICA', 'S', '2021-04-01', 'allergie', '2024-06-01 10:00:00'),
 ('12', '995.3', 'ALLERGIA', '', '2022-01-01', 'allergie', '2024-06-01 10:00:01'),
 ('7', '995.3', 'ALLERGIA', 'N', '2022-01-01', 'allergie', '2024-06-01 10:00:01');

INSERT INTO prescrizione_accertamento(codice, id_prescrizione_vd, codice_accertamento,
  codice_vd_prescrizione, codice_vd_tipo_prescrizione, codice_nomenclatore_tariffario,
  risultato_valore_breve, risultato_unita_di_misura, data_esecuzione, variato_il) VALUES
 ('12', 'A1', 'anamnesi_fumo', '2832', '_VD', 'VD_1946', 'n', NULL, '2023-05-01', '2023-05-01'),
 ('12', 'A2', 'attività_fisica', '2835', '_VD', 'VD_1935', 'Media', NULL, '2022-01-10', NULL),
 ('12', 'A3', 'anamnesi_fumo', '2832', '_VD', 'VD_1946', '2', NULL, '2021-03-03', NULL),
 ('12', 'A4', 'anamnesi_fumo', '2832', '_VD', 'VD_1946', NULL, NULL, '2024-01-01', NULL),
 ('12', 'A5', 'attività_fisica', '2835', '_VD', 'VD_1935', '', NULL, '2024-01-02', NULL),
 ('12', 'A6', NULL, '1000', 'L', '90.27.1', '98', 'mg/dL', '2024-02-02', NULL),
 ('12', 'A7', 'weight', '2801', 'EO', 'VD_2609', '72,6', 'kg', '2024-02-01', NULL),
 ('12', 'A8', 'height', '2801', 'EO', 'VD_2609', '178', 'cm', '2020-01-01', NULL),
 ('12', 'A9', 'circonferenza_vita', '2801', 'EO', 'VD_2609', '94', 'cm', '2024-03-03', NULL),
 ('12', 'A10', 'anamnesi_fumo', '2832', '_VD', 'VD_1946', 'X', NULL, '2021-03-03', NULL),
 ('7', 'B1', 'weight', '2801', 'EO', 'VD_2609', '80', 'kg', '2024-02-01', NULL);

INSERT INTO pressione(codice, data_esecuzione, pressione_massima, pressione_minima,
  frequenza_cardiaca, variato_il) VALUES
 ('12', '2024-01-01', '130', '85', NULL, '2024-01-01 09:00:00'),
 ('12', '2024-07-01', '140', '90', '72', '2024-07-01 09:00:00'),
 ('7', '2024-07-01', '120', '80', '60', '2024-07-01 09:00:00');
)sql";

class ServerTest : public PracticeTest {
  protected:
    void SetUp() override {
        PracticeTest::SetUp();
        db_.exec(kPractice);
    }

    // Loads a dataset of patient 12 (hexadecimal 3132) and gives its handle.
    std::string loadDataset(Object& server, const std::string& name, const std::string& filter) {
        const std::string handle = text(server, "new_object", {"i_hl_dataset", name});
        call(server, "call_method_pipe", {handle, "carica", filter});
        return handle;
    }
    std::vector<std::string> column(Object& server, const std::string& handle,
                                    const std::string& name) {
        std::vector<std::string> values;
        const int rows = std::stoi(text(server, "call_method_pipe", {handle, "rowcount", ""}));
        for (int i = 1; i <= rows; ++i) {
            call(server, "call_method_pipe", {handle, "setrow", std::to_string(i)});
            values.push_back(text(server, "call_method_pipe", {handle, "leggi_attributo", name}));
        }
        return values;
    }
    std::vector<std::string> walkSurnames(Object& server) {
        std::vector<std::string> codes;
        const auto count =
            call(server, "carica", {"codice_medico =MMG001|tipo_di_convenzione=S", "alfabetico"});
        for (std::int64_t i = 0; i < count.asInteger(); ++i) {
            codes.push_back(text(server, "leggi_attributo", {"id_paziente_vd"}));
            call(server, "skip", {});
        }
        return codes;
    }
};

TEST_F(ServerTest, LoginChecksUserAndPasswordAndGivesTheDoctorCode) {
    auto server = automation::createObject("Vellodoc.Server");
    EXPECT_TRUE(call(*server, "new", {}).isEmpty());
    EXPECT_THROW(call(*server, "carica", {"", "alfabetico"}), Error);
    EXPECT_EQ(text(*server, "connetti", {"mrossi", "sbagliata"}),
              "Nome utente o password non validi.");
    EXPECT_EQ(text(*server, "connetti", {"nessuno", "segreta"}),
              "Nome utente o password non validi.");
    EXPECT_THROW(call(*server, "leggi_attributo", {"userid_utente"}), Error);
    EXPECT_TRUE(call(*server, "connetti", {"MRossi", "segreta"}).isEmpty());
    EXPECT_EQ(text(*server, "leggi_attributo", {"userid_utente"}), "MMG001");

    call(*server, "disconnetti", {});
    EXPECT_THROW(call(*server, "leggi_attributo", {"userid_utente"}), Error);
    EXPECT_NO_THROW(call(*server, "get_error", {}));
    call(*server, "Destroy", {});
    EXPECT_NO_THROW(call(*server, "Free", {}));
    EXPECT_THROW(call(*server, "get_error", {}), Error);
}

TEST_F(ServerTest, ConnectionWithoutAPracticeAnswersAnItalianText) {
    ::unsetenv("KVT_REGISTRY");
    writeRegistry(dir_ / "empty.reg", "");
    auto server = automation::createObject("Vellodoc.Server");
    EXPECT_NO_THROW(call(*server, "new", {}));
    EXPECT_EQ(text(*server, "connetti", {"mrossi", "segreta"})
                  .rfind("Archivio dello studio non configurato", 0),
              0u);

    writeRegistry(dir_ / "missing.reg", dir_ / "nowhere.sqlite");
    server = automation::createObject("Vellodoc.Server");
    EXPECT_EQ(text(*server, "connetti", {"mrossi", "segreta"}),
              "Archivio dello studio non trovato: " + (dir_ / "nowhere.sqlite").string());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "nowhere.sqlite"));

    std::ofstream(dir_ / "text.sqlite") << "not a database at all, just some words in a file";
    writeRegistry(dir_ / "text.reg", dir_ / "text.sqlite");
    server = automation::createObject("Vellodoc.Server");
    EXPECT_NE(text(*server, "connetti", {"mrossi", "segreta"}).find("non è un archivio"),
              std::string::npos);
}

TEST_F(ServerTest, PatientsOfTheDoctorComeInAlphabeticalOrder) {
    auto server = login();
    // Surnames and names without regard to case, then the host code.
    EXPECT_EQ(walkSurnames(*server), (std::vector<std::string>{"31", "30", "7", "12", "40", "5"}));
    // Past the last patient there is none: skip goes on quietly, reads fail.
    EXPECT_NO_THROW(call(*server, "skip", {}));
    EXPECT_THROW(call(*server, "leggi_attributo", {"cognome"}), Error);

    EXPECT_EQ(call(*server, "carica", {"codice_medico =MMG002", "alfabetico"}).asInteger(), 1);
    EXPECT_EQ(text(*server, "leggi_attributo", {"cognome"}), "Abate");
    EXPECT_EQ(call(*server, "carica", {"", ""}).asInteger(), 8);
    EXPECT_EQ(text(*server, "leggi_attributo", {"id_paziente_vd"}), "12");  // the file's order
    EXPECT_EQ(call(*server, "carica", {"codice=3132", "alfabetico"}).asInteger(), 1);

    EXPECT_THROW(call(*server, "carica", {"codice_medico =MMG001", "per_eta"}), Error);
    EXPECT_THROW(call(*server, "carica", {"codice_medic=MMG001", "alfabetico"}), Error);
    EXPECT_THROW(call(*server, "carica", {"codice_medico=MMG001|", "alfabetico"}), Error);
}

TEST_F(ServerTest, EveryAttributePathReadsItsColumn) {
    auto server = login();
    call(*server, "select_single", {"3132"});
    const std::vector<std::string> expected = {"Verdi",
                                               "Anna",
                                               "VRDNNA80A41F205X",
                                               "12",
                                               "<cartella_variazioni/>",
                                               "301",
                                               "Via Roma",
                                               "5",
                                               "F",
                                               "1980-01-01",
                                               "A",
                                               "+",
                                               "2010-02-03",
                                               "2027-01-31",
                                               "2025-05-06",
                                               "410.9",
                                               "INFARTO"};
    ASSERT_EQ(kPatientAttributePaths.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(text(*server, "leggi_attributo", {std::string(kPatientAttributePaths[i])}),
                  expected[i])
            << kPatientAttributePaths[i];
    }
    // NULL and '' read alike; never a null value.
    call(*server, "select_single", {"3330"});
    for (const auto path : kPatientAttributePaths) {
        const Variant value = call(*server, "leggi_attributo", {std::string(path)});
        EXPECT_EQ(value.kind(), Variant::Kind::Text) << path;
    }
    EXPECT_EQ(text(*server, "leggi_attributo", {"codice_fiscale"}), "");
    call(*server, "select_single", {"3331"});
    EXPECT_EQ(text(*server, "leggi_attributo", {"codice_fiscale"}), "");

    EXPECT_THROW(call(*server, "leggi_attributo", {"persona/residenza/indirizzo/via_piazza"}),
                 Error);
    EXPECT_THROW(call(*server, "select_single", {"3939"}), Error);  // "99": no such patient
    EXPECT_THROW(call(*server, "select_single", {"31X"}), Error);
}

TEST_F(ServerTest, EveryDatasetAnswersEveryColumnTheRecordReads) {
    auto server = login();
    for (const auto& [dataset, columns] : kDatasetColumns) {
        std::string names = "codice";
        std::string values = "'77'";
        for (const auto c : columns) {
            names += ", " + std::string(c);
            values += ", '" + std::string(c) + "'";
        }
        db_.exec("INSERT INTO " + std::string(dataset) + "(" + names + ") VALUES (" + values + ")");
        const std::string handle = loadDataset(*server, std::string(dataset), "codice=3737");
        EXPECT_EQ(text(*server, "call_method_pipe", {handle, "rowcount", ""}), "1") << dataset;
        call(*server, "call_method_pipe", {handle, "setrow", "1"});
        for (const auto c : columns) {
            EXPECT_EQ(
                text(*server, "call_method_pipe", {handle, "leggi_attributo", std::string(c)}), c)
                << dataset;
        }
        call(*server, "destroy_object", {handle});
    }
}

TEST_F(ServerTest, DatasetObjectsRefuseWhatTheyCannotDo) {
    auto server = login();
    EXPECT_THROW(call(*server, "new_object", {"i_hl_tabella", "problema"}), Error);
    EXPECT_THROW(call(*server, "new_object", {"i_hl_dataset", "problemi"}), Error);

    const std::string handle = text(*server, "new_object", {"i_hl_dataset", "pressione"});
    EXPECT_EQ(text(*server, "call_method_pipe", {handle, "rowcount", ""}), "0");
    EXPECT_EQ(text(*server, "call_method_pipe", {handle, "carica", "codice=3132"}), "2");
    EXPECT_EQ(text(*server, "call_method_pipe", {handle, "rowcount", ""}), "2");
    EXPECT_THROW(call(*server, "call_method_pipe", {handle, "leggi_attributo", "data_esecuzione"}),
                 Error);  // no setrow yet
    for (const std::string row : {"0", "3", "", "1 ", "-1", "uno"}) {
        EXPECT_THROW(call(*server, "call_method_pipe", {handle, "setrow", row}), Error) << row;
    }
    call(*server, "call_method_pipe", {handle, "setrow", "2"});
    EXPECT_EQ(text(*server, "call_method_pipe", {handle, "leggi_attributo", "pressione_massima"}),
              "140");
    EXPECT_THROW(call(*server, "call_method_pipe", {handle, "leggi_attributo", "pressione"}),
                 Error);
    EXPECT_THROW(call(*server, "call_method_pipe", {handle, "ordina", ""}), Error);
    EXPECT_THROW(call(*server, "call_method_pipe", {"hl_dataset_999", "rowcount", ""}), Error);

    // A failed load leaves the loaded rows as they were.
    EXPECT_THROW(call(*server, "call_method_pipe", {handle, "carica", "codice=3132|bogus"}), Error);
    EXPECT_EQ(text(*server, "call_method_pipe", {handle, "rowcount", ""}), "2");

    call(*server, "destroy_object", {handle});
    EXPECT_THROW(call(*server, "destroy_object", {handle}), Error);
    EXPECT_THROW(call(*server, "call_method_pipe", {handle, "rowcount", ""}), Error);
}

TEST_F(ServerTest, FilterClausesSelectAndOrderRows) {
    auto server = login();
    std::string h = loadDataset(*server, "problema", "codice=3132");
    EXPECT_EQ(column(*server, h, "nome_problema"),
              (std::vector<std::string>{"IPERTENSIONE", "RINITE ALLERGICA", "ALLERGIA"}));

    // The allergy class, as the allergy section asks for it, with and without the window.
    h = loadDataset(*server, "problema", "filtro_classe_patologia=allergie|codice=3132");
    EXPECT_EQ(column(*server, h, "codice_icd9_cm"), (std::vector<std::string>{"477.0", "995.3"}));
    h = loadDataset(*server, "problema",
                    "filtro_classe_patologia=allergie|codice=3132|"
                    "variato_dopo_datatime=2024-06-01 10:00:00");
    EXPECT_EQ(column(*server, h, "codice_icd9_cm"), (std::vector<std::string>{"995.3"}));

    // The change window keeps rows changed strictly after the date-time.
    h = loadDataset(*server, "pressione", "codice=3132|variato_dopo_datatime=2024-01-01 09:00:00");
    EXPECT_EQ(column(*server, h, "pressione_massima"), (std::vector<std::string>{"140"}));
    h = loadDataset(*server, "pressione", "codice=3132|variato_dopo_datatime=");
    EXPECT_EQ(column(*server, h, "pressione_massima").size(), 2u);

    // The life-style clauses exactly as the life-style section sends them.
    h = loadDataset(*server, "prescrizione_accertamento",
                    "codice=3132|filtro_lista_codici_accertamento_spaziati=anamnesi_fumo "
                    "attività_fisica|filtro_solo_con_risultato|ordinamento=ordine_data");
    EXPECT_EQ(column(*server, h, "id_prescrizione_vd"),
              (std::vector<std::string>{"A3", "A10", "A2", "A1"}));
    h = loadDataset(*server, "prescrizione_accertamento",
                    "codice=3132|filtro_lista_codici_accertamento_spaziati=anamnesi_fumo "
                    "attività_fisica");
    EXPECT_EQ(column(*server, h, "id_prescrizione_vd"),
              (std::vector<std::string>{"A1", "A2", "A3", "A4", "A5", "A10"}));

    // One measurement code per load, as the monitoring section asks.
    for (const auto& [code, id] : std::vector<std::pair<std::string, std::string>>{
             {"height", "A8"}, {"weight", "A7"}, {"circonferenza_vita", "A9"}}) {
        h = loadDataset(*server, "prescrizione_accertamento",
                        "codice=3132|filtro_lista_codici_accertamento_spaziati=" + code);
        EXPECT_EQ(column(*server, h, "id_prescrizione_vd"), (std::vector<std::string>{id}));
    }

    // Clause names are trimmed; values are taken as they are.
    h = loadDataset(*server, "pressione", " codice =3132| variato_dopo_datatime =2024-06-30");
    EXPECT_EQ(column(*server, h, "pressione_massima"), (std::vector<std::string>{"140"}));
    EXPECT_THROW(loadDataset(*server, "pressione", "codice= 3132"), Error);
}

TEST_F(ServerTest, UnknownOrMisplacedClausesFail) {
    auto server = login();
    const std::string h = text(*server, "new_object", {"i_hl_dataset", "esenzione"});
    const auto load = [&](const std::string& filter) {
        return call(*server, "call_method_pipe", {h, "carica", filter});
    };
    EXPECT_NO_THROW(load("codice=3132"));
    EXPECT_THROW(load("codice=3132|filtro_sconosciuto=1"), Error);
    EXPECT_THROW(load("codice=3132|filtro_classe_patologia=allergie"), Error);  // not a problem
    EXPECT_THROW(load("codice=3132|ordinamento=ordine_data"), Error);           // no execution date
    EXPECT_THROW(load("variato_dopo_datatime=2024-01-01"), Error);              // no patient
    EXPECT_THROW(load(""), Error);
    EXPECT_THROW(load("codice=3132|codice=3132"), Error);
    EXPECT_THROW(load("codice=3132||variato_dopo_datatime=2024-01-01"), Error);
    EXPECT_THROW(load("codice"), Error);

    const std::string a =
        text(*server, "new_object", {"i_hl_dataset", "prescrizione_accertamento"});
    EXPECT_THROW(
        call(*server, "call_method_pipe", {a, "carica", "codice=3132|filtro_solo_con_risultato=1"}),
        Error);
    EXPECT_THROW(
        call(*server, "call_method_pipe", {a, "carica", "codice=3132|ordinamento=ordine_nome"}),
        Error);
    EXPECT_THROW(
        call(*server, "call_method_pipe", {a, "carica", "codice=3132|filtro_solo_con_risultati"}),
        Error);
}

TEST_F(ServerTest, LastVisitQueryIsDumpedByteForByte) {
    auto server = login();
    const auto dump = [&](std::string_view query, const std::string& id) {
        return text(*server, "sql_dump_string", {"todo", std::string(query) + "'" + id + "'"});
    };
    // The latest day and, separately, the latest time of any day...
    EXPECT_EQ(dump(kLastVisitQuery, "12"), "\"2024-05-10\"\t\"18:59\"");
    // ...or the latest time of the latest day.
    EXPECT_EQ(dump(kLastVisitOfLastDayQuery, "12"), "\"2024-05-10\"\t\"17:45\"");
    EXPECT_EQ(dump(kLastVisitQuery, "7"), "\"2022-01-01\"\t");
    EXPECT_EQ(dump(kLastVisitQuery, "5"), "\t");
    EXPECT_EQ(dump(kLastVisitOfLastDayQuery, "5"), "\t");
    EXPECT_EQ(dump(kLastVisitQuery, "99"), "");

    EXPECT_EQ(text(*server, "sql_dump_string",
                   {"todo",
                    "SELECT codice, nome, 7, 2.5, NULL FROM pazienti WHERE codice IN ('5', '7') "
                    "ORDER BY codice DESC;"}),
              "\"7\"\t\"Luca\"\t7\t2.5\t\r\n\"5\"\t\"Àngelo \"\"Lino\"\"\"\t7\t2.5\t");
}

TEST_F(ServerTest, SqlDumpOnlyReads) {
    auto server = login();
    EXPECT_THROW(call(*server, "sql_dump_string", {"todo", "DELETE FROM cart_visite"}), Error);
    EXPECT_THROW(call(*server, "sql_dump_string", {"todo", "SELECT 1; DELETE FROM cart_visite"}),
                 Error);
    EXPECT_THROW(call(*server, "sql_dump_string", {"todo", "SELEC 1"}), Error);
    EXPECT_THROW(call(*server, "sql_dump_string", {"tutto", "SELECT 1"}), Error);
    Statement rows = db_.prepare("SELECT COUNT(*) FROM cart_visite");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.integer(0), 5);
}

TEST_F(ServerTest, ScriptedFaultsAnswerOrFail) {
    addFault(db_, {"get_error", "", "", "Server Vellodoc bloccato", true, std::nullopt});
    addFault(db_, {"leggi_attributo", "sesso", "", std::nullopt, false, std::nullopt});
    addFault(db_, {"leggi_attributo", "codice_fiscale", "7", "", false, std::nullopt});
    addFault(db_, {"carica", "", "", "abc", false, 1});
    addFault(db_, {"call_method_pipe", "*.rowcount", "", "2 ", false, std::nullopt});
    addFault(db_, {"call_method_pipe", "pressione.carica *", "", "righe", false, std::nullopt});
    addFault(db_, {"skip", "", "", "", true, 2});
    auto server = login();

    try {
        call(*server, "get_error", {});
        ADD_FAILURE() << "get_error should fail";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Server Vellodoc bloccato");
    }

    // The letters replace the count, but the patients are loaded all the same.
    EXPECT_EQ(
        text(*server, "carica", {"codice_medico =MMG001|tipo_di_convenzione=S", "alfabetico"}),
        "abc");
    EXPECT_EQ(text(*server, "leggi_attributo", {"id_paziente_vd"}), "31");
    EXPECT_TRUE(call(*server, "leggi_attributo", {"sesso"}).isNull());
    EXPECT_EQ(text(*server, "leggi_attributo", {"nome"}), "carla");
    EXPECT_EQ(text(*server, "leggi_attributo", {"codice_fiscale"}), "");

    // Two failing skips, then the fault is spent and counted down in the table.
    EXPECT_THROW(call(*server, "skip", {}), Error);
    EXPECT_THROW(call(*server, "skip", {}), Error);
    EXPECT_NO_THROW(call(*server, "skip", {}));
    EXPECT_NO_THROW(call(*server, "skip", {}));
    EXPECT_EQ(text(*server, "leggi_attributo", {"id_paziente_vd"}), "7");
    EXPECT_EQ(text(*server, "leggi_attributo", {"codice_fiscale"}), "");  // only for patient 7
    EXPECT_EQ(call(*server, "carica", {"codice_medico =MMG001", "alfabetico"}).asInteger(), 7);

    const std::string h = text(*server, "new_object", {"i_hl_dataset", "pressione"});
    EXPECT_EQ(text(*server, "call_method_pipe", {h, "carica", "codice=3132"}), "righe");
    EXPECT_EQ(text(*server, "call_method_pipe", {h, "rowcount", ""}), "2 ");
    call(*server, "call_method_pipe", {h, "setrow", "2"});
    EXPECT_EQ(text(*server, "call_method_pipe", {h, "leggi_attributo", "pressione_minima"}), "90");

    Statement spent = db_.prepare("SELECT volte FROM standin_guasti WHERE metodo = 'skip'");
    ASSERT_TRUE(spent.step());
    EXPECT_EQ(spent.integer(0), 0);
}

TEST_F(ServerTest, ScriptedRefusalKeepsTheSessionClosed) {
    addFault(db_, {"connetti", "mrossi", "", "Utente sospeso dall'amministratore", false, 1});
    auto server = automation::createObject("Vellodoc.Server");
    call(*server, "new", {});
    EXPECT_EQ(text(*server, "connetti", {"mrossi", "segreta"}),
              "Utente sospeso dall'amministratore");
    EXPECT_THROW(call(*server, "carica", {"", ""}), Error);
    EXPECT_TRUE(call(*server, "connetti", {"mrossi", "segreta"}).isEmpty());

    addFault(db_, {"sql_dump_string", "*cart_visite*", "", "", true, std::nullopt});
    try {
        call(*server, "sql_dump_string", {"todo", std::string(kLastVisitQuery) + "'12'"});
        ADD_FAILURE() << "the scripted failure should raise";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Errore simulato in sql_dump_string");
    }
    EXPECT_EQ(text(*server, "get_error", {}), "Errore simulato in sql_dump_string");
    EXPECT_EQ(text(*server, "sql_dump_string", {"todo", "SELECT 1"}), "1");
}

// A host that dies at a call stays dead for every later call, whatever it
// asks; a new server object (the host started again) answers. Refusals have
// no meaning for a host in the caller's process and are not made.
TEST_F(ServerTest, DyingHostStaysDeadAndBusyRowsAreIgnoredInProcess) {
    addProcessFault(db_, {"occupato", 1, "", "", ""});
    addProcessFault(db_, {"muore", 0, "leggi_attributo", "cognome", "31"});
    auto server = login();
    text(*server, "carica", {"codice_medico =MMG001|tipo_di_convenzione=S", "alfabetico"});
    EXPECT_EQ(text(*server, "leggi_attributo", {"id_paziente_vd"}), "31");
    EXPECT_EQ(text(*server, "leggi_attributo", {"nome"}), "carla");
    EXPECT_THROW(call(*server, "leggi_attributo", {"cognome"}), HostPerso);
    for (const char* method : {"get_error", "skip", "disconnetti", "Destroy"}) {
        EXPECT_THROW(call(*server, method, {}), HostPerso) << method;
    }
    db_.exec("DELETE FROM standin_guasti");
    EXPECT_EQ(text(*login(), "leggi_attributo", {"userid_utente"}), "MMG001");
}

TEST_F(ServerTest, CountersFollowCallsRowsAndLiveDatasets) {
    auto server = login();
    const Counters before = counters();
    call(*server, "carica", {"codice_medico =MMG001|tipo_di_convenzione=S", "alfabetico"});
    text(*server, "leggi_attributo", {"cognome"});
    text(*server, "leggi_attributo", {"nome"});  // the same patient: no second read
    const std::string a = loadDataset(*server, "pressione", "codice=3132");
    const std::string b = text(*server, "new_object", {"i_hl_dataset", "problema"});
    EXPECT_THROW(call(*server, "destroy_object", {"hl_dataset_0"}), Error);

    Counters now = counters();
    EXPECT_EQ(now.calls - before.calls, 7u);
    EXPECT_EQ(now.rowsRead - before.rowsRead, 6u + 1u + 2u);
    EXPECT_EQ(now.liveDatasets - before.liveDatasets, 2);
    EXPECT_EQ(now.datasetsCreated - before.datasetsCreated, 2u);

    call(*server, "destroy_object", {a});
    now = counters();
    EXPECT_EQ(now.liveDatasets - before.liveDatasets, 1);
    EXPECT_EQ(now.datasetsDestroyed - before.datasetsDestroyed, 1u);

    // Closing the session releases what the caller forgot, without counting
    // it as destroyed: a leak stays visible in the totals.
    call(*server, "disconnetti", {});
    now = counters();
    EXPECT_EQ(now.liveDatasets, before.liveDatasets);
    EXPECT_EQ(now.datasetsCreated - now.datasetsDestroyed,
              before.datasetsCreated - before.datasetsDestroyed + 1);
    (void)b;

    resetCounters();
    EXPECT_EQ(counters().calls, 0u);
    EXPECT_EQ(counters().liveDatasets, before.liveDatasets);
}

TEST_F(ServerTest, CountersGoToTheStatsFileWhenTheProcessEnds) {
    const auto file = dir_ / "standin.json";
    ASSERT_TRUE(writeCountersFile(file));
    std::stringstream now;
    now << std::ifstream(file).rdbuf();
    EXPECT_TRUE(now.str().starts_with("{\"calls\":")) << now.str();
    EXPECT_NE(now.str().find("\"datasetsDestroyed\":"), std::string::npos) << now.str();
    EXPECT_TRUE(now.str().ends_with("}\n")) << now.str();
    EXPECT_FALSE(writeCountersFile(dir_ / "no" / "such" / "folder.json"));

    // A whole program, in a forked child: the file appears at its normal exit.
    std::filesystem::remove(file);
    ::testing::FLAGS_gtest_death_test_style = "fast";
    EXPECT_EXIT(
        {
            ::setenv(kStatsVariable, file.c_str(), 1);
            registerServer();
            resetCounters();
            auto server = login();
            call(*server, "carica", {"codice_medico =MMG001|tipo_di_convenzione=S", "alfabetico"});
            call(*server, "disconnetti", {});
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::stringstream written;
    written << std::ifstream(file).rdbuf();
    EXPECT_EQ(written.str(),
              "{\"calls\":4,\"rowsRead\":6,\"liveDatasets\":0,\"datasetsCreated\":0,"
              "\"datasetsDestroyed\":0}\n");
}

}  // namespace
}  // namespace kvt::vellodoc::testing
