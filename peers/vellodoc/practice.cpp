#include "peers/vellodoc/practice.h"

#include "common/errors.h"
#include "common/radix.h"
#include "common/utf.h"
#include "peers/vellodoc/sha256.h"

namespace kvt::vellodoc {
namespace {

constexpr std::string_view kStandinTables = R"sql(
CREATE TABLE IF NOT EXISTS standin_guasti (
  metodo    TEXT NOT NULL,
  argomento TEXT,
  paziente  TEXT,
  risposta  TEXT,
  fallisce  INTEGER NOT NULL DEFAULT 0,
  volte     INTEGER,
  guasto    TEXT,
  parametro INTEGER
);
CREATE INDEX IF NOT EXISTS standin_guasti_metodo ON standin_guasti(metodo);
CREATE TABLE IF NOT EXISTS standin_info (
  chiave TEXT PRIMARY KEY,
  valore TEXT
);
)sql";

constexpr std::string_view kStandinIndexes = R"sql(
CREATE INDEX IF NOT EXISTS standin_pazienti_medico ON pazienti(codice_medico, tipo_di_convenzione);
CREATE INDEX IF NOT EXISTS standin_cart_visite_codice ON cart_visite(codice, data_open);
CREATE INDEX IF NOT EXISTS standin_intolleranza_codice ON intolleranza_da_farmaco(codice);
CREATE INDEX IF NOT EXISTS standin_problema_codice ON problema(codice);
CREATE INDEX IF NOT EXISTS standin_esenzione_codice ON esenzione(codice);
CREATE INDEX IF NOT EXISTS standin_accertamento_codice ON prescrizione_accertamento(codice);
CREATE INDEX IF NOT EXISTS standin_varia_codice ON prescrizione_varia(codice);
CREATE INDEX IF NOT EXISTS standin_farmaco_codice ON prescrizione_farmaco(codice);
CREATE INDEX IF NOT EXISTS standin_incentivante_codice ON prestazione_incentivante(codice);
CREATE INDEX IF NOT EXISTS standin_pressione_codice ON pressione(codice);
)sql";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

Database createPractice(const std::filesystem::path& path) {
    Database db = Database::open(path, Database::Mode::Create);
    Transaction transaction(db);
    db.exec(practiceSchema());
    addStandinTables(db);
    addStandinIndexes(db);
    transaction.commit();
    return db;
}

void addStandinTables(Database& db) {
    db.exec(kStandinTables);
    // A practice written before the host's process faults existed gains
    // their two columns.
    for (const char* colonna : {"guasto TEXT", "parametro INTEGER"}) {
        const std::string nome = std::string(colonna).substr(0, std::string(colonna).find(' '));
        Statement probe =
            db.prepare("SELECT 1 FROM pragma_table_info('standin_guasti') WHERE name = ?1");
        probe.bind(1, nome);
        if (!probe.step()) {
            db.exec("ALTER TABLE standin_guasti ADD COLUMN " + std::string(colonna));
        }
    }
}

void addStandinIndexes(Database& db) {
    db.exec(kStandinIndexes);
}

std::string sha256Hex(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : sha256(bytes)) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0F];
    }
    return hex;
}

void addUser(Database& db, std::string_view name, std::string_view password,
             std::string_view doctorCode) {
    db.prepare(
          "INSERT OR REPLACE INTO utenti(nome_utente, password_sha256, userid_utente) "
          "VALUES (?1, ?2, ?3)")
        .bind(1, name)
        .bind(2, sha256Hex(password))
        .bind(3, doctorCode)
        .run();
}

void addFault(Database& db, const Fault& fault) {
    Statement insert = db.prepare(
        "INSERT INTO standin_guasti(metodo, argomento, paziente, risposta, fallisce, volte) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, fault.metodo).bindOrNull(2, fault.argomento).bindOrNull(3, fault.paziente);
    if (fault.risposta) {
        insert.bind(4, *fault.risposta);
    }
    insert.bind(5, std::int64_t{fault.fallisce ? 1 : 0});
    if (fault.volte) {
        insert.bind(6, std::int64_t{*fault.volte});
    }
    insert.run();
}

void addProcessFault(Database& db, const ProcessFault& fault) {
    db.prepare(
          "INSERT INTO standin_guasti(metodo, argomento, paziente, guasto, parametro) "
          "VALUES (?1, ?2, ?3, ?4, ?5)")
        .bind(1, fault.metodo)
        .bindOrNull(2, fault.argomento)
        .bindOrNull(3, fault.paziente)
        .bind(4, fault.guasto)
        .bind(5, fault.parametro)
        .run();
}

std::optional<std::string> patientCodeFromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::u16string units;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        units += static_cast<char16_t>(high * 16 + low);
    }
    return utf16ToUtf8(units);
}

}  // namespace kvt::vellodoc
