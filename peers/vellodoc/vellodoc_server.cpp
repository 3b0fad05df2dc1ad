// "Vellodoc.Server": the host's automation server, answering the host server
// contract over a practice database. Host texts arrive as automation strings;
// every failure raises kvt::Error with an Italian message, which "get_error"
// then reports.
#include "peers/vellodoc/vellodoc_server.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/errors.h"
#include "common/paths.h"
#include "common/radix.h"
#include "common/registry.h"
#include "host/automation.h"
#include "host/limiti_host.h"
#include "peers/vellodoc/datasets.h"
#include "peers/vellodoc/faults.h"
#include "peers/vellodoc/patients.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/sql_dump.h"
#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {
namespace {

using automation::Arguments;
using automation::Variant;

struct SharedCounters {
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> rowsRead{0};
    std::atomic<std::int64_t> liveDatasets{0};
    std::atomic<std::uint64_t> datasetsCreated{0};
    std::atomic<std::uint64_t> datasetsDestroyed{0};
};

SharedCounters& shared() {
    static SharedCounters instance;
    return instance;
}

const char kMorto[] = "Il programma di cartella clinica è stato chiuso.";

ProcessFaults& processFaults() {
    static ProcessFaults faults{
        [] { throw HostPerso(kMorto); },
        [] {
            std::this_thread::sleep_for(automation::limitiHost().attesa);
            throw HostPerso(
                "Il programma di cartella clinica non risponde (chiamata annullata "
                "dopo il tempo massimo).");
        },
        false};
    return faults;
}

constexpr std::string_view kRegistryKey = "SOFTWARE\\Quintara-Kelvano";
constexpr std::string_view kDatasetClass = "i_hl_dataset";
constexpr std::string_view kLoginRefused = "Nome utente o password non validi.";

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string argument(const Arguments& arguments, std::size_t index, std::string_view what) {
    if (index >= arguments.size() || arguments[index].isMissing()) {
        throw Error("Argomento mancante: " + std::string(what));
    }
    return arguments[index].toText();
}

// The same, without a copy when the argument is a text already (as the
// program's always are): every row and column the record reads passes here.
const std::string& textArgument(const Arguments& arguments, std::size_t index,
                                std::string_view what, std::string& converted) {
    if (index >= arguments.size() || arguments[index].isMissing()) {
        throw Error("Argomento mancante: " + std::string(what));
    }
    if (arguments[index].kind() == Variant::Kind::Text) {
        return arguments[index].asText();
    }
    converted = arguments[index].toText();
    return converted;
}

class Server final : public automation::Object {
  public:
    Server() { openPractice(); }
    ~Server() override { releaseDatasets(); }

    Variant call(std::string_view method, const Arguments& arguments) override;
    static std::vector<std::string_view> names();

  private:
    using Handler = Variant (Server::*)(const Arguments&);
    struct Method {
        std::string_view name;
        Handler handler;
        bool needsSession;
        // Calls that read the practice anyway read the fault table again.
        bool rereadsFaults;
    };
    static const Method kMethods[];

    Variant dispatch(const Method& method, const Arguments& arguments);
    // Dies, hangs, waits or refuses as the process faults in force say.
    void processFault(const Method& method, const Arguments& arguments);
    std::string faultKey(std::string_view method, const Arguments& arguments) const;

    Variant newServer(const Arguments&);
    Variant connetti(const Arguments& arguments);
    Variant disconnetti(const Arguments&);
    Variant destroy(const Arguments&);
    Variant getError(const Arguments&);
    Variant selectSingle(const Arguments& arguments);
    Variant carica(const Arguments& arguments);
    Variant skip(const Arguments&);
    Variant leggiAttributo(const Arguments& arguments);
    Variant newObject(const Arguments& arguments);
    Variant callMethodPipe(const Arguments& arguments);
    Variant destroyObject(const Arguments& arguments);
    Variant sqlDumpString(const Arguments& arguments);

    void openPractice();
    void closeSession();
    void releaseDatasets();
    std::string resolveCode(std::string_view hex);
    DatasetObject& dataset(const std::string& handle);
    void countRows(std::uint64_t rows) { shared().rowsRead += rows; }

    std::filesystem::path path_;
    Database db_;
    Database readOnly_;  // for "sql_dump_string", opened at its first use
    std::string openError_;
    FaultTable faults_;
    bool connected_ = false;
    bool released_ = false;
    // Once dead or hung, the host stays so.
    std::optional<ProcessFaultHit::Kind> lost_;
    std::string doctorCode_;
    std::string lastError_;
    PatientCursor patients_;
    std::map<std::string, DatasetObject, std::less<>> datasets_;
    std::uint64_t nextHandle_ = 1;
};

const Server::Method Server::kMethods[] = {
    {"new", &Server::newServer, false, true},
    {"connetti", &Server::connetti, false, true},
    {"disconnetti", &Server::disconnetti, false, false},
    {"Destroy", &Server::destroy, false, false},
    {"Free", &Server::destroy, false, false},
    {"get_error", &Server::getError, false, false},
    {"select_single", &Server::selectSingle, true, true},
    {"carica", &Server::carica, true, true},
    {"skip", &Server::skip, true, false},
    {"leggi_attributo", &Server::leggiAttributo, true, false},
    {"new_object", &Server::newObject, true, true},
    {"call_method_pipe", &Server::callMethodPipe, true, false},
    {"destroy_object", &Server::destroyObject, true, false},
    {"sql_dump_string", &Server::sqlDumpString, true, true},
};

std::vector<std::string_view> Server::names() {
    std::vector<std::string_view> names;
    for (const Method& method : kMethods) {
        names.push_back(method.name);
    }
    return names;
}

Variant Server::call(std::string_view method, const Arguments& arguments) {
    ++shared().calls;
    try {
        const auto it = std::find_if(std::begin(kMethods), std::end(kMethods),
                                     [&](const Method& m) { return m.name == method; });
        if (it == std::end(kMethods)) {
            throw Error("Metodo sconosciuto: " + std::string(method));
        }
        processFault(*it, arguments);
        if (released_ && it->handler != &Server::destroy) {
            throw Error("L'oggetto Vellodoc.Server è già stato rilasciato");
        }
        return dispatch(*it, arguments);
    } catch (const std::exception& e) {
        lastError_ = e.what();
        if (dynamic_cast<const Error*>(&e)) {
            throw;
        }
        throw Error(lastError_);
    }
}

void Server::processFault(const Method& method, const Arguments& arguments) {
    using Kind = ProcessFaultHit::Kind;
    if (!lost_ && !faults_.empty()) {
        const auto hit = faults_.takeProcess(method.name, faultKey(method.name, arguments),
                                             patients_.currentCode(), shared().calls.load(),
                                             processFaults().refuses);
        if (hit && (hit->kind == Kind::Refused || hit->kind == Kind::RefusedForNow)) {
            throw CallRefused("Chiamata rifiutata: il programma è occupato",
                              hit->kind == Kind::RefusedForNow);
        }
        if (hit) {
            lost_ = hit->kind;
        }
    }
    if (lost_) {
        // Every call from here on meets the same end.
        const ProcessFaults& faults = processFaults();
        *lost_ == Kind::Dies ? faults.dies() : faults.hangs();
        throw HostPerso(kMorto);
    }
}

Variant Server::dispatch(const Method& method, const Arguments& arguments) {
    if (method.needsSession && !connected_) {
        throw Error("Sessione non aperta: eseguire prima connetti");
    }
    if (method.rereadsFaults) {
        faults_.refresh();
    }
    const auto fault = faults_.empty() ? std::nullopt
                                       : faults_.take(method.name, faultKey(method.name, arguments),
                                                      patients_.currentCode());
    if (fault && fault->fallisce) {
        const std::string text = fault->risposta.value_or("");
        throw Error(text.empty() ? "Errore simulato in " + std::string(method.name) : text);
    }
    if (fault && method.name == "connetti" && fault->risposta != std::string()) {
        // A scripted answer other than the empty text stands for the host's
        // own refusal: no session opens.
        closeSession();
        return fault->risposta ? Variant::text(*fault->risposta) : Variant::null();
    }
    Variant result = (this->*method.handler)(arguments);
    if (fault) {
        return fault->risposta ? Variant::text(*fault->risposta) : Variant::null();
    }
    return result;
}

// The text a fault's `argomento` pattern is matched against.
std::string Server::faultKey(std::string_view method, const Arguments& arguments) const {
    const auto text = [&](std::size_t i) {
        return i < arguments.size() && arguments[i].kind() == Variant::Kind::Text
                   ? arguments[i].asText()
                   : std::string();
    };
    if (method == "connetti" || method == "leggi_attributo" || method == "select_single" ||
        method == "carica" || method == "destroy_object") {
        if (method == "destroy_object") {
            const auto it = datasets_.find(text(0));
            return it == datasets_.end() ? std::string() : std::string(it->second.kind().name);
        }
        return text(0);  // the user name, never the password
    }
    if (method == "new_object") {
        return text(1);
    }
    if (method == "sql_dump_string") {
        return text(1);
    }
    if (method == "call_method_pipe") {
        const auto it = datasets_.find(text(0));
        std::string key =
            it == datasets_.end() ? std::string() : std::string(it->second.kind().name);
        key += '.';
        key += text(1);
        if (!text(2).empty()) {
            key += ' ';
            key += text(2);
        }
        return key;
    }
    return {};
}

void Server::openPractice() {
    openError_.clear();
    const auto value = registry::readValue(registry::Root::LocalMachine, kRegistryKey, "database");
    if (!value || value->text.empty()) {
        openError_ =
            "Archivio dello studio non configurato: manca il valore \"database\" in "
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano";
        return;
    }
    path_ = paths::fromUtf8(value->text);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path_, error)) {
        openError_ = "Archivio dello studio non trovato: " + paths::toUtf8(path_);
        return;
    }
    try {
        try {
            db_ = Database::open(path_, Database::Mode::ReadWrite);
        } catch (const Error&) {
            db_ = Database::open(path_, Database::Mode::ReadOnly);
        }
        try {
            addStandinTables(db_);
            addStandinIndexes(db_);
        } catch (const Error&) {
            // A practice that cannot be written is still served, without
            // the stand-in's own tables and indexes.
        }
        db_.prepare("SELECT codice FROM pazienti LIMIT 0");
        faults_.attach(db_);
    } catch (const Error&) {
        db_.close();
        faults_.detach();
        openError_ = "Il file non è un archivio dello studio valido: " + paths::toUtf8(path_);
    }
}

void Server::closeSession() {
    connected_ = false;
    doctorCode_.clear();
    patients_.clear();
    releaseDatasets();
}

void Server::releaseDatasets() {
    shared().liveDatasets -= static_cast<std::int64_t>(datasets_.size());
    datasets_.clear();
}

std::string Server::resolveCode(std::string_view hex) {
    if (auto code = patientCodeFromHex(hex); code && string2hex(*code) == upper(hex)) {
        return *code;
    }
    // An id with characters beyond Latin-1 keeps only some digits in its
    // hexadecimal form: look the form up among the patients.
    Statement& all = db_.cached("SELECT codice FROM pazienti");
    ResetOnExit resetOnExit(all);
    const std::string wanted = upper(hex);
    while (all.step()) {
        const std::string code(all.text(0));
        if (string2hex(code) == wanted) {
            return code;
        }
    }
    throw Error("Codice paziente non valido nel filtro");
}

DatasetObject& Server::dataset(const std::string& handle) {
    const auto it = datasets_.find(handle);
    if (it == datasets_.end()) {
        throw Error("Oggetto sconosciuto: \"" + handle + "\"");
    }
    return it->second;
}

Variant Server::newServer(const Arguments&) {
    if (!db_.isOpen()) {
        openPractice();
    }
    return {};
}

Variant Server::connetti(const Arguments& arguments) {
    const std::string user = argument(arguments, 0, "nome utente");
    const std::string password = argument(arguments, 1, "password");
    closeSession();
    if (!db_.isOpen()) {
        openPractice();
        if (!db_.isOpen()) {
            return Variant::text(openError_);
        }
    }
    Statement& find = db_.cached(
        "SELECT password_sha256, userid_utente FROM utenti WHERE nome_utente = ?1 COLLATE NOCASE");
    ResetOnExit resetOnExit(find);
    find.bind(1, user);
    if (!find.step() || upper(find.text(0)) != upper(sha256Hex(password))) {
        return Variant::text(std::string(kLoginRefused));
    }
    doctorCode_ = find.text(1);
    connected_ = true;
    return {};
}

Variant Server::disconnetti(const Arguments&) {
    closeSession();
    return {};
}

Variant Server::destroy(const Arguments&) {
    closeSession();
    faults_.detach();
    readOnly_.close();
    db_.close();
    released_ = true;
    return {};
}

Variant Server::getError(const Arguments&) {
    return Variant::text(lastError_);
}

Variant Server::selectSingle(const Arguments& arguments) {
    const std::string code = resolveCode(argument(arguments, 0, "codice paziente"));
    Statement& find = db_.cached("SELECT 1 FROM pazienti WHERE codice = ?1");
    ResetOnExit resetOnExit(find);
    find.bind(1, code);
    if (!find.step()) {
        throw Error("Paziente non trovato");
    }
    patients_.selectOnly(code);
    return {};
}

Variant Server::carica(const Arguments& arguments) {
    const std::string filter = argument(arguments, 0, "filtro");
    const std::string order =
        arguments.size() > 1 && !arguments[1].isMissing() ? arguments[1].toText() : std::string();
    const auto count = patients_.load(db_, filter, order,
                                      [this](std::string_view hex) { return resolveCode(hex); });
    countRows(patients_.takeRowsRead());
    return Variant::integer(static_cast<std::int64_t>(count));
}

Variant Server::skip(const Arguments&) {
    patients_.skip();
    return {};
}

Variant Server::leggiAttributo(const Arguments& arguments) {
    std::string pathText;
    const std::string& path = textArgument(arguments, 0, "attributo", pathText);
    if (path == "userid_utente") {
        return Variant::text(doctorCode_);
    }
    const std::string& value = patients_.attribute(db_, path);
    countRows(patients_.takeRowsRead());
    return Variant::text(value);
}

Variant Server::newObject(const Arguments& arguments) {
    const std::string className = argument(arguments, 0, "classe");
    const std::string name = argument(arguments, 1, "nome oggetto");
    if (className != kDatasetClass) {
        throw Error("Classe di oggetto sconosciuta: " + className);
    }
    const DatasetKind* kind = findDatasetKind(name);
    if (!kind) {
        throw Error("Insieme di dati sconosciuto: " + name);
    }
    std::string handle = "hl_dataset_" + std::to_string(nextHandle_++);
    datasets_.emplace(handle, DatasetObject(*kind));
    ++shared().liveDatasets;
    ++shared().datasetsCreated;
    return Variant::text(std::move(handle));
}

Variant Server::callMethodPipe(const Arguments& arguments) {
    std::string handleText, methodText, parametersText;
    DatasetObject& object = dataset(textArgument(arguments, 0, "oggetto", handleText));
    const std::string& method = textArgument(arguments, 1, "metodo", methodText);
    const std::string& parameters = textArgument(arguments, 2, "parametri", parametersText);
    if (method == "carica") {
        const auto rows =
            object.load(db_, parameters, [this](std::string_view hex) { return resolveCode(hex); });
        countRows(rows);
        return Variant::text(std::to_string(rows));
    }
    if (method == "rowcount") {
        return Variant::text(std::to_string(object.rowCount()));
    }
    if (method == "setrow") {
        object.setRow(parameters);
        return {};
    }
    if (method == "leggi_attributo") {
        return Variant::text(object.value(parameters));
    }
    throw Error("Metodo sconosciuto per \"" + std::string(object.kind().name) + "\": " + method);
}

Variant Server::destroyObject(const Arguments& arguments) {
    const std::string handle = argument(arguments, 0, "oggetto");
    const auto it = datasets_.find(handle);
    if (it == datasets_.end()) {
        throw Error("Oggetto sconosciuto: \"" + handle + "\"");
    }
    datasets_.erase(it);
    --shared().liveDatasets;
    ++shared().datasetsDestroyed;
    return {};
}

Variant Server::sqlDumpString(const Arguments& arguments) {
    const std::string mode = argument(arguments, 0, "modalità");
    const std::string sql = argument(arguments, 1, "testo SQL");
    if (mode != "todo") {
        throw Error("Modalità di sql_dump_string sconosciuta: " + mode);
    }
    if (!readOnly_.isOpen()) {
        readOnly_ = Database::open(path_, Database::Mode::ReadOnly);
        readOnly_.exec("PRAGMA query_only = 1");
    }
    std::uint64_t rows = 0;
    std::string dump = sqlDump(readOnly_, sql, rows);
    countRows(rows);
    return Variant::text(std::move(dump));
}

}  // namespace

namespace {

// The file named by KVT_STANDIN_STATS at the last registration.
std::string& statsFile() {
    static std::string file;
    return file;
}

void writeStatsAtExit() {
    writeCountersFile(statsFile());
}

}  // namespace

void registerServer() {
    automation::registerClass(std::string(kServerClass), createServer);
    writeCountersAtExit();
}

std::shared_ptr<automation::Object> createServer() {
    return std::make_shared<Server>();
}

void setProcessFaults(ProcessFaults faults) {
    ProcessFaults& current = processFaults();
    if (faults.dies) {
        current.dies = std::move(faults.dies);
    }
    if (faults.hangs) {
        current.hangs = std::move(faults.hangs);
    }
    current.refuses = faults.refuses;
}

std::vector<std::string_view> methodNames() {
    return Server::names();
}

void writeCountersAtExit() {
    if (const char* file = std::getenv(kStatsVariable); file && *file) {
        statsFile() = file;
        static const bool arranged = std::atexit(writeStatsAtExit) == 0;
        (void)arranged;
    }
}

Counters counters() {
    const SharedCounters& c = shared();
    return {c.calls.load(), c.rowsRead.load(), c.liveDatasets.load(), c.datasetsCreated.load(),
            c.datasetsDestroyed.load()};
}

bool writeCountersFile(const std::filesystem::path& file) {
    const Counters c = counters();
    // Binary, so that the line ends in LF on every platform.
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "{\"calls\":" << c.calls << ",\"rowsRead\":" << c.rowsRead
        << ",\"liveDatasets\":" << c.liveDatasets << ",\"datasetsCreated\":" << c.datasetsCreated
        << ",\"datasetsDestroyed\":" << c.datasetsDestroyed << "}\n";
    out.close();
    return static_cast<bool>(out);
}

void resetCounters() {
    SharedCounters& c = shared();
    c.calls = 0;
    c.rowsRead = 0;
    c.datasetsCreated = 0;
    c.datasetsDestroyed = 0;
}

}  // namespace kvt::vellodoc
