#pragma once
// The practice database: creating one from the contract schema, the stand-in's
// own tables (scripted faults, generator marks, indexes), host users, and the
// hexadecimal patient codes that filters carry.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {

// practice-schema.sql, exactly as shipped.
std::string_view practiceSchema();

// Creates a new practice file with the contract's tables and the stand-in's
// own; raises kvt::Error when the file cannot be made or already holds tables.
Database createPractice(const std::filesystem::path& path);

// The stand-in's own tables (created when missing): standin_guasti (faults on
// demand) and standin_info (key/value marks of the generator).
void addStandinTables(Database& db);
// Indexes on the patient code of every dataset table and of the visits.
void addStandinIndexes(Database& db);

// Lower-case hexadecimal SHA-256 of the bytes, as utenti.password_sha256 holds it.
std::string sha256Hex(std::string_view bytes);
void addUser(Database& db, std::string_view name, std::string_view password,
             std::string_view doctorCode);

// One scripted fault (a row of standin_guasti). A call of the host method
// `metodo` whose key matches `argomento` (a GLOB pattern; empty matches every
// call) while the current patient is `paziente` (empty: any) either fails with
// `risposta` as the error text (`fallisce`), or runs and then answers
// `risposta` instead of its own result (no risposta: a null value). `volte`
// limits how many calls it hits (nothing: every call). See README.md for the
// key of each method.
struct Fault {
    std::string metodo;
    std::string argomento;
    std::string paziente;
    std::optional<std::string> risposta;
    bool fallisce = false;
    std::optional<int> volte;
};
void addFault(Database& db, const Fault& fault);

// A fault of the host's process rather than of one answer (a row of
// standin_guasti with a `guasto`), on the calls matched as above (`metodo`
// empty: any method): "muore" (the host dies at the first matching call from
// call number `parametro` of the process on, and stays dead), "blocca" (the
// same, but the calls never answer), "lento" (each matching call waits
// `parametro` ms), "occupato" (every `parametro`-th call is refused without
// running), "occupato_per" (calls are refused for `parametro` ms from the
// first matching one). What dying, hanging and refusing mean depends on the
// form the host is served in (ProcessFaults in vellodoc_server.h).
struct ProcessFault {
    std::string guasto;
    std::int64_t parametro = 0;
    std::string metodo;
    std::string argomento;
    std::string paziente;
};
void addProcessFault(Database& db, const ProcessFault& fault);

// The host's patient code behind its hexadecimal form (two digits per
// character), or nothing when the text is not such a form.
std::optional<std::string> patientCodeFromHex(std::string_view hex);

}  // namespace kvt::vellodoc
