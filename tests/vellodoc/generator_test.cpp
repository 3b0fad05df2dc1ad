// Fiscal codes and the practice generator.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/errors.h"
#include "common/radix.h"
#include "peers/vellodoc/fiscal_code.h"
#include "peers/vellodoc/generator.h"
#include "practice_fixture.h"

namespace kvt::vellodoc::testing {
namespace {

TEST(FiscalCodeTest, BuildsCodesWithTheirCheckCharacter) {
    EXPECT_EQ(fiscalCode({"Rossi", "Mario", 'M', 1985, 12, 10, "A562"}), "RSSMRA85T10A562S");
    // Women: day plus 40.
    EXPECT_EQ(fiscalCode({"Verdi", "Anna", 'F', 1980, 1, 1, "F205"}), "VRDNNA80A41F205K");
    // Apostrophes and accents do not count; a name with four consonants
    // gives the first, third and fourth.
    EXPECT_EQ(fiscalCode({"D'Amico", "Niccolò", 'M', 1990, 5, 15, "H501"}), "DMCNCL90E15H501N");
    // A short surname is padded with X.
    EXPECT_EQ(fiscalCode({"Fo", "Gianfranco", 'M', 2001, 2, 28, "Z100"}), "FOXGFR01B28Z100H");
}

TEST(FiscalCodeTest, ValidatesFormAndCheckCharacter) {
    EXPECT_TRUE(isValidFiscalCode("RSSMRA85T10A562S"));
    EXPECT_FALSE(isValidFiscalCode("RSSMRA85T10A562T"));
    EXPECT_FALSE(isValidFiscalCode("RSSMRA85T10A562"));
    EXPECT_FALSE(isValidFiscalCode("rssmra85t10a562s"));
    EXPECT_FALSE(isValidFiscalCode("RSSMRA85Z10A562S"));  // no month Z
    EXPECT_FALSE(isValidFiscalCode(""));
    // A code made unique by the tax office has letters for some digits.
    EXPECT_TRUE(isValidFiscalCode("RSSMRA85T10A56NH"));
}

class GeneratorTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = freshDirectory("vellodoc_sim"); }
    void TearDown() override {
        ::unsetenv("KVT_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    static GeneratorOptions options(int patients, int years, std::uint64_t seed) {
        GeneratorOptions o;
        o.patients = patients;
        o.years = years;
        o.seed = seed;
        return o;
    }

    // Every row of every table, in order: two equal texts, two equal practices.
    static std::string content(const std::filesystem::path& path) {
        Database db = Database::open(path, Database::Mode::ReadOnly);
        std::string all;
        Statement tables = db.prepare(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
            "ORDER BY name");
        while (tables.step()) {
            const std::string table(tables.text(0));
            Statement rows = db.prepare("SELECT * FROM " + table + " ORDER BY rowid");
            all += "[" + table + "]\n";
            while (rows.step()) {
                for (int c = 0; c < rows.columnCount(); ++c) {
                    all += rows.isNull(c) ? "<null>" : std::string(rows.text(c));
                    all += '|';
                }
                all += '\n';
            }
        }
        return all;
    }

    static std::int64_t count(Database& db, const std::string& sql) {
        Statement s = db.prepare(sql);
        EXPECT_TRUE(s.step()) << sql;
        return s.integer(0);
    }

    std::filesystem::path dir_;
};

TEST_F(GeneratorTest, TheSameSeedGivesTheSamePractice) {
    const auto first = generatePractice(options(80, 3, 5), dir_ / "a.sqlite");
    const auto second = generatePractice(options(80, 3, 5), dir_ / "b.sqlite");
    generatePractice(options(80, 3, 6), dir_ / "c.sqlite");
    EXPECT_EQ(first.datasetRows, second.datasetRows);
    EXPECT_EQ(content(dir_ / "a.sqlite"), content(dir_ / "b.sqlite"));
    EXPECT_NE(content(dir_ / "a.sqlite"), content(dir_ / "c.sqlite"));
}

TEST_F(GeneratorTest, WritesARealisticPracticeWithItsAwkwardPatients) {
    const auto path = dir_ / "practice.sqlite";
    const GenerationSummary summary = generatePractice(options(400, 5, 11), path);
    EXPECT_EQ(summary.patients, 400);
    EXPECT_GT(summary.doctorPatients, 300);
    EXPECT_EQ(summary.awkwardPatients, 6);
    EXPECT_GT(summary.visits, 400u * 5u);
    Database db = Database::open(path, Database::Mode::ReadOnly);

    // Fiscal codes are valid and agree with sex and birth date.
    Statement people = db.prepare(
        "SELECT codice_fiscale, sesso, data_nascita FROM pazienti "
        "WHERE codice_fiscale <> '' AND sesso IS NOT NULL AND data_nascita IS NOT NULL");
    int checked = 0;
    while (people.step()) {
        const std::string code(people.text(0));
        EXPECT_TRUE(isValidFiscalCode(code)) << code;
        const std::string birth(people.text(2));
        const int day = std::stoi(birth.substr(8, 2)) + (people.text(1) == "F" ? 40 : 0);
        EXPECT_EQ(std::stoi(code.substr(9, 2)), day) << code;
        EXPECT_EQ(code.substr(6, 2), birth.substr(2, 2)) << code;
        ++checked;
    }
    EXPECT_GT(checked, 380);

    // A few of each awkward kind.
    EXPECT_GE(count(db, "SELECT COUNT(*) FROM pazienti WHERE COALESCE(codice_fiscale,'') = ''"), 1);
    EXPECT_GE(count(db,
                    "SELECT COUNT(*) FROM pazienti WHERE sesso IS NULL OR data_nascita IS "
                    "NULL OR codice_asl IS NULL"),
              1);
    EXPECT_GE(count(db,
                    "SELECT COUNT(*) FROM pazienti p WHERE NOT EXISTS "
                    "(SELECT 1 FROM cart_visite v WHERE v.codice = p.codice)"),
              1);
    for (const char* special : {"&", "<", ">", "\"", "'"}) {
        EXPECT_GE(
            count(db, std::string("SELECT COUNT(*) FROM problema WHERE instr(nome_problema, '") +
                          (std::string(special) == "'" ? "''" : special) + "') > 0"),
            1)
            << special;
    }
    EXPECT_GE(count(db,
                    "SELECT COUNT(*) FROM prescrizione_accertamento WHERE "
                    "instr(risultato_referto, 'è') > 0 AND instr(risultato_referto, '&') > 0"),
              1);
    EXPECT_GE(count(db, "SELECT COUNT(*) FROM prescrizione_farmaco WHERE length(posologia) > 100"),
              1);

    // Rows of every dataset, with the forms the record expects.
    for (const char* table :
         {"intolleranza_da_farmaco", "problema", "esenzione", "prescrizione_accertamento",
          "prescrizione_varia", "prescrizione_farmaco", "prestazione_incentivante", "pressione"}) {
        EXPECT_GT(count(db, std::string("SELECT COUNT(*) FROM ") + table), 0) << table;
    }
    EXPECT_GT(count(db,
                    "SELECT COUNT(*) FROM prescrizione_farmaco WHERE nome_prescrizione GLOB "
                    "'?*[*]?*'"),
              count(db, "SELECT COUNT(*) FROM prescrizione_farmaco") * 9 / 10);
    EXPECT_GE(count(db,
                    "SELECT COUNT(*) FROM prescrizione_farmaco WHERE instr(nome_prescrizione, "
                    "'*') = 0"),
              1);
    EXPECT_GE(count(db, "SELECT COUNT(*) FROM problema WHERE certezza = 'S'"), 1);
    EXPECT_GE(count(db, "SELECT COUNT(*) FROM problema WHERE certezza <> 'S'"), 1);
    EXPECT_GE(count(db, "SELECT COUNT(*) FROM problema WHERE classe_patologia = 'allergie'"), 1);
    for (const char* code :
         {"anamnesi_fumo", "attività_fisica", "height", "weight", "circonferenza_vita"}) {
        EXPECT_GT(count(db, std::string("SELECT COUNT(*) FROM prescrizione_accertamento WHERE "
                                        "codice_accertamento = '") +
                                code + "' AND risultato_valore_breve <> ''"),
                  0)
            << code;
    }

    // Life-style and measurement rows carry type codes the examination pass
    // skips; the other rows reach every routing kind.
    const std::string skipped =
        "(UPPER(codice_vd_tipo_prescrizione) IN ('_VD', 'EO', 'FAM', 'RIC') OR "
        "(COALESCE(codice_nomenclatore_tariffario, '') <> '' AND "
        "instr('VD_1946;VD_1935;VD_2609', codice_nomenclatore_tariffario) > 0))";
    EXPECT_EQ(count(db,
                    "SELECT COUNT(*) FROM prescrizione_accertamento WHERE codice_accertamento "
                    "IS NOT NULL AND NOT " +
                        skipped),
              0);
    const std::string routed =
        "SELECT COUNT(*) FROM prescrizione_accertamento WHERE NOT " + skipped;
    EXPECT_GT(count(db, routed + " AND UPPER(codice_vd_tipo_prescrizione) IN ('L', '00', '_SG')"),
              0);
    EXPECT_GT(count(db, routed + " AND UPPER(codice_vd_tipo_prescrizione) NOT IN ('L', '00', "
                                 "'_SG') AND (instr(codice_nomenclatore_tariffario, '89.7') > 0 "
                                 "OR instr(codice_nomenclatore_tariffario, '89.01') > 0)"),
              0);
    EXPECT_GT(count(db, routed + " AND UPPER(codice_vd_tipo_prescrizione) NOT IN ('L', '00', "
                                 "'_SG') AND instr(codice_nomenclatore_tariffario, '89.7') = 0 "
                                 "AND instr(codice_nomenclatore_tariffario, '89.01') = 0"),
              0);
    EXPECT_GT(count(db, "SELECT COUNT(*) FROM prescrizione_accertamento WHERE " + skipped +
                            " AND codice_accertamento IS NULL"),
              0);
    EXPECT_GT(count(db,
                    "SELECT COUNT(*) FROM prescrizione_accertamento WHERE UPPER("
                    "codice_vd_tipo_prescrizione) = 'L' AND data_esecuzione IS NULL"),
              0);

    // Change documents name rows of the patient by the hexadecimal row id.
    Statement documents = db.prepare("SELECT codice, xtac FROM pazienti WHERE xtac <> ''");
    int withTime = 0;
    int named = 0;
    while (documents.step()) {
        const std::string xtac(documents.text(1));
        withTime += xtac.find("<datatime_acquisizione_cartella>2") != std::string::npos;
        const auto start = xtac.find("<rowid_vellodoc>");
        if (start == std::string::npos) {
            continue;
        }
        const auto begin = start + std::string("<rowid_vellodoc>").size();
        const std::string hex = xtac.substr(begin, xtac.find('<', begin) - begin);
        Statement ids = db.prepare(
            "SELECT id_prescrizione_vd FROM prescrizione_accertamento WHERE codice = ?1");
        ids.bind(1, documents.text(0));
        bool found = false;
        while (ids.step()) {
            found = found || string2hex(ids.text(0)) == hex;
        }
        EXPECT_TRUE(found) << hex;
        ++named;
    }
    EXPECT_GT(withTime, 0);
    EXPECT_GT(named, 0);

    // The demonstration user logs in and sees the doctor's patients.
    writeRegistry(dir_ / "registry.reg", path);
    registerServer();
    auto server = automation::createObject("Vellodoc.Server");
    automation::Arguments none;
    server->call("new", none);
    EXPECT_TRUE(server->call("connetti", {Variant::text("demo"), Variant::text("demo")}).isEmpty());
    EXPECT_EQ(server->call("leggi_attributo", {Variant::text("userid_utente")}).toText(), "MMG001");
    EXPECT_EQ(server
                  ->call("carica", {Variant::text("codice_medico =MMG001|tipo_di_convenzione=S"),
                                    Variant::text("alfabetico")})
                  .asInteger(),
              summary.doctorPatients);
}

TEST_F(GeneratorTest, ReplacesOnlyItsOwnPractices) {
    const auto path = dir_ / "out.sqlite";
    std::ofstream(path) << "a file of somebody else";
    EXPECT_THROW(generatePractice(options(5, 1, 1), path), Error);
    std::ifstream in(path);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "a file of somebody else");

    std::filesystem::remove(path);
    generatePractice(options(5, 1, 1), path);
    EXPECT_TRUE(isGeneratedPractice(path));
    EXPECT_NO_THROW(generatePractice(options(7, 1, 2), path));
    Database db = Database::open(path, Database::Mode::ReadOnly);
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM pazienti"), 7);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left behind
}

TEST_F(GeneratorTest, RefusesBadOptions) {
    const auto path = dir_ / "bad.sqlite";
    EXPECT_THROW(generatePractice(options(0, 1, 1), path), Error);
    EXPECT_THROW(generatePractice(options(10, 0, 1), path), Error);
    GeneratorOptions o = options(10, 1, 1);
    o.until = "2026-02-30";
    EXPECT_THROW(generatePractice(o, path), Error);
    o.until = "2026-02-28";
    o.doctorCode.clear();
    EXPECT_THROW(generatePractice(o, path), Error);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace kvt::vellodoc::testing
