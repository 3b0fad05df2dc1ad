// The host stand-in as the program reaches it: through the automation seam by
// the class "Vellodoc.Server". On Linux that is the in-process class; on
// Windows the COM server vellodoc_server.dll, registered with regsvr32 for
// the test and driven through IDispatch, so that every value crosses as a
// VARIANT. One table of calls, run on both: each answer must have the kind
// and text the table says, and be the answer of a server object made
// in-process over the same practice.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <objbase.h>
#include <windows.h>
#endif

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/paths.h"
#include "common/test_support.h"
#include "common/windowing.h"
#include "host/automation.h"
#include "host/tvellopat.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/vellodoc_server.h"

namespace kvt::vellodoc::testing {
namespace {

using automation::Arguments;
using automation::Variant;
using Kind = Variant::Kind;

constexpr const char* kPractice = R"sql(
INSERT INTO pazienti(codice, codice_medico, tipo_di_convenzione, cognome, nome, codice_fiscale,
  sesso) VALUES
 ('12', 'MMG001', 'S', 'Verdi', 'Anna', 'VRDNNA80A41F205X', 'F'),
 ('5',  'MMG001', 'S', 'Zanè', 'Àngelo "Lino" & <Ugo>', NULL, 'M'),
 ('8',  'MMG002', 'S', 'Abate', 'Ugo', NULL, 'M');
INSERT INTO pressione(codice, data_esecuzione, pressione_massima, pressione_minima) VALUES
 ('12', '2024-01-01', '130', '85'), ('12', '2024-07-01', '140', '90');
INSERT INTO prescrizione_accertamento(codice, id_prescrizione_vd, codice_accertamento,
  risultato_valore_breve) VALUES
 ('12', 'A1', 'attività_fisica', 'Media'), ('12', 'A2', 'anamnesi_fumo', 'n');
INSERT INTO standin_guasti(metodo, argomento, risposta) VALUES ('leggi_attributo', 'sesso', NULL);
INSERT INTO standin_guasti(metodo, argomento, risposta, fallisce)
  VALUES ('select_single', '3939', 'Paziente bloccato', 1);
)sql";

// The class table's name for a server made here, beside whatever answers
// "Vellodoc.Server".
constexpr const char* kInProcessClass = "Vellodoc.Server (in-process)";

#ifdef _WIN32
// A text value of the system's registry (nullptr: the key's default value).
std::optional<std::wstring> readText(HKEY root, const std::wstring& key, const wchar_t* name) {
    std::wstring value(2048, L'\0');
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.resize(size / sizeof(wchar_t) - 1);
    return value;
}

// This test program's own file.
std::wstring selfPath() {
    std::wstring self(MAX_PATH * 4, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return self;
}

// Runs a command line to its end; its exit status, or -1 when it did not start.
DWORD runAndWait(std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return status;
}

// HKEY_LOCAL_MACHINE\SOFTWARE\Quintara-Kelvano "database" names the practice
// for the object's life; the value found before comes back afterwards. The
// tests hold a CTest resource lock for it.
class PracticeSetting {
  public:
    explicit PracticeSetting(const std::filesystem::path& practice)
        : previous_(readText(HKEY_LOCAL_MACHINE, kKey, L"database")) {
        set(practice.wstring());
    }
    ~PracticeSetting() {
        if (previous_) {
            set(*previous_);
        } else {
            ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"database");
        }
    }

  private:
    static constexpr const wchar_t* kKey = L"SOFTWARE\\Quintara-Kelvano";
    static void set(const std::wstring& value) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"database", REG_SZ, value.c_str(),
                                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    std::optional<std::wstring> previous_;
};

// This build's vellodoc_server.dll (bin/ beside the tests' folder) registered
// with regsvr32 for the object's life. A registration found before (the
// end-to-end frame's, another build's) is taken away meanwhile and put back
// afterwards, so that the prefix is left as it was found.
class ComRegistration {
  public:
    ComRegistration()
        : userBefore_(registeredDll(HKEY_CURRENT_USER)),
          machineBefore_(registeredDll(HKEY_LOCAL_MACHINE)) {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        unregister(userBefore_, machineBefore_);
        regsvr32(L"/s", dll());
        // A system whose class lookup does not read the user's classes (Wine 8)
        // gets the DLL's machine-wide registration beside it.
        CLSID clsid{};
        if (FAILED(::CLSIDFromProgID(L"Vellodoc.Server", &clsid))) {
            machine_ = dll();
            regsvr32(L"/s /n /i:machine", *machine_);
        }
        user_ = dll();
    }
    ~ComRegistration() {
        unregisterAll();
        if (userBefore_) {
            regsvr32(L"/s", *userBefore_);
        }
        if (machineBefore_) {
            regsvr32(L"/s /n /i:machine", *machineBefore_);
        }
    }

    void unregisterAll() {
        unregister(user_, machine_);
        user_.reset();
        machine_.reset();
    }

  private:
    static std::filesystem::path dll() {
        return std::filesystem::path(selfPath()).parent_path().parent_path() / "bin" /
               "vellodoc_server.dll";
    }
    // The DLL registered for "Vellodoc.Server" under one root's classes.
    static std::optional<std::filesystem::path> registeredDll(HKEY root) {
        const auto clsid = readText(root, L"Software\\Classes\\Vellodoc.Server\\CLSID", nullptr);
        if (!clsid) {
            return std::nullopt;
        }
        const auto path =
            readText(root, L"Software\\Classes\\CLSID\\" + *clsid + L"\\InprocServer32", nullptr);
        return path ? std::optional<std::filesystem::path>(*path) : std::nullopt;
    }
    static void unregister(const std::optional<std::filesystem::path>& user,
                           const std::optional<std::filesystem::path>& machine) {
        if (machine) {
            regsvr32(L"/s /u /n /i:machine", *machine);
        }
        if (user) {
            regsvr32(L"/s /u", *user);
        }
    }
    static void regsvr32(const std::wstring& options, const std::filesystem::path& dll) {
        EXPECT_EQ(runAndWait(L"regsvr32.exe " + options + L" \"" + dll.wstring() + L"\""), 0u)
            << "regsvr32 " << std::string(options.begin(), options.end()) << " " << dll.string();
    }

    const std::optional<std::filesystem::path> userBefore_;
    const std::optional<std::filesystem::path> machineBefore_;
    std::optional<std::filesystem::path> user_;
    std::optional<std::filesystem::path> machine_;
};
#else
// The practice named in a registry file of the test's own; the in-process
// class "Vellodoc.Server" is the host.
class PracticeSetting {
  public:
    explicit PracticeSetting(const std::filesystem::path& practice)
        : registry_(
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n"
              "\"database\"=\"" +
              paths::toUtf8(practice) + "\"\r\n") {}

  private:
    test::ScopedRegistry registry_;
};

class ComRegistration {
  public:
    ComRegistration() { registerServer(); }
    void unregisterAll() { automation::registerClass(std::string(kServerClass), nullptr); }
};
#endif

class VellodocDispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Database db = createPractice(folder_ / "pratica_è.sqlite");
        addUser(db, "mrossi", "segreta", "MMG001");
        addUser(db, "Mèlania", "parola è", "MMG002");
        db.exec(kPractice);
        db.close();
        setting_.emplace(folder_ / "pratica_è.sqlite");
        automation::registerClass(kInProcessClass, createServer);
    }
    void TearDown() override {
        automation::registerClass(kInProcessClass, nullptr);
        setting_.reset();
    }

    test::TempFolder folder_;
    std::optional<PracticeSetting> setting_;
};

struct Step {
    std::string method;
    Arguments arguments;
    Kind kind;         // the answer's kind, or Empty with an error
    std::string text;  // its text, or the error's message
    bool fails = false;
};

Variant t(std::string text) {
    return Variant::text(std::move(text));
}

// Runs a step; a failure comes back as its message.
std::pair<std::optional<Variant>, std::string> run(automation::Object& object, const Step& step) {
    try {
        return {object.call(step.method, step.arguments), {}};
    } catch (const Error& e) {
        return {std::nullopt, e.what()};
    }
}

TEST_F(VellodocDispatchTest, EveryAnswerCrossesWithItsKindAndText) {
    ComRegistration registration;
    const auto host = automation::createObject("Vellodoc.Server");
    const auto reference = automation::createObject(kInProcessClass);
    const std::string handle = "hl_dataset_1";
    const std::vector<Step> steps = {
        {"new", {}, Kind::Empty, ""},
        {"connetti",
         {t("mrossi"), t("sbagliata")},
         Kind::Text,
         "Nome utente o password non validi."},
        {"carica",
         {t(""), t("")},
         Kind::Empty,
         "Sessione non aperta: eseguire prima connetti",
         true},
        {"get_error",
         {Variant::missing()},
         Kind::Text,
         "Sessione non aperta: eseguire prima connetti"},
        // Texts with accents cross both ways: the user name and the password.
        {"connetti", {t("MèLANIA"), t("parola è")}, Kind::Empty, ""},
        {"leggi_attributo", {t("userid_utente")}, Kind::Text, "MMG002"},
        {"connetti", {t("mrossi"), t("segreta")}, Kind::Empty, ""},
        // A count is an integer; the first patient becomes current.
        {"carica",
         {t("codice_medico =MMG001|tipo_di_convenzione=S"), t("alfabetico")},
         Kind::Integer,
         "2"},
        {"leggi_attributo", {t("cognome")}, Kind::Text, "Verdi"},
        {"skip", {Variant::missing()}, Kind::Empty, ""},
        {"leggi_attributo", {t("cognome")}, Kind::Text, "Zanè"},
        {"leggi_attributo", {t("nome")}, Kind::Text, "Àngelo \"Lino\" & <Ugo>"},
        {"leggi_attributo", {t("codice_fiscale")}, Kind::Text, ""},
        // The scripted null answer is a null value, not an empty text.
        {"leggi_attributo", {t("sesso")}, Kind::Null, ""},
        {"select_single", {t("3132")}, Kind::Empty, ""},
        {"leggi_attributo", {t("id_paziente_vd")}, Kind::Text, "12"},
        {"select_single", {t("3939")}, Kind::Empty, "Paziente bloccato", true},
        {"leggi_attributo",
         {t("persona/residenza")},
         Kind::Empty,
         "Attributo sconosciuto: persona/residenza",
         true},
        {"new_object", {t("i_hl_dataset"), t("pressione")}, Kind::Text, handle},
        {"call_method_pipe", {t(handle), t("carica"), t("codice=3132")}, Kind::Text, "2"},
        {"call_method_pipe",
         {t(handle), t("carica"), t("codice=3132|filtro_sconosciuto=1")},
         Kind::Empty,
         "Clausola di filtro sconosciuta per \"pressione\": filtro_sconosciuto",
         true},
        {"call_method_pipe", {t(handle), t("rowcount"), t("")}, Kind::Text, "2"},
        {"call_method_pipe", {t(handle), t("setrow"), t("2")}, Kind::Empty, ""},
        {"call_method_pipe",
         {t(handle), t("leggi_attributo"), t("pressione_massima")},
         Kind::Text,
         "140"},
        {"destroy_object", {t(handle)}, Kind::Empty, ""},
        {"new_object",
         {t("i_hl_dataset"), t("prescrizione_accertamento")},
         Kind::Text,
         "hl_dataset_2"},
        {"call_method_pipe",
         {t("hl_dataset_2"), t("carica"),
          t("codice=3132|filtro_lista_codici_accertamento_spaziati=attività_fisica")},
         Kind::Text,
         "1"},
        {"sql_dump_string",
         {t("todo"), t("SELECT codice, nome, 7, 2.5, NULL FROM pazienti WHERE codice IN ('5', "
                       "'12') ORDER BY codice")},
         Kind::Text,
         "\"12\"\t\"Anna\"\t7\t2.5\t\r\n\"5\"\t\"Àngelo \"\"Lino\"\" & <Ugo>\"\t7\t2.5\t"},
        {"sql_dump_string",
         {t("todo"), t("DELETE FROM pazienti")},
         Kind::Empty,
         "sql_dump_string esegue solo istruzioni di lettura",
         true},
        {"disconnetti", {Variant::missing()}, Kind::Empty, ""},
        {"Destroy", {Variant::missing()}, Kind::Empty, ""},
        {"Free", {Variant::missing()}, Kind::Empty, ""},
        {"get_error",
         {Variant::missing()},
         Kind::Empty,
         "L'oggetto Vellodoc.Server è già stato rilasciato",
         true},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + ": " + step.method);
        const auto [answer, error] = run(*host, step);
        const auto [expected, expectedError] = run(*reference, step);
        if (step.fails) {
            EXPECT_FALSE(answer) << answer->toText();
            EXPECT_EQ(error, expectedError);
            if (!step.text.empty()) {
                EXPECT_EQ(error, step.text);
            }
            continue;
        }
        ASSERT_TRUE(answer) << error;
        ASSERT_TRUE(expected) << expectedError;
        EXPECT_EQ(answer->kind(), step.kind);
        EXPECT_EQ(answer->kind(), expected->kind());
        if (step.kind != Kind::Null) {
            EXPECT_EQ(answer->toText(), step.text);
            EXPECT_EQ(answer->toText(), expected->toText());
        }
    }
}

// The whole adapter over the registered server, and its message once the
// server is gone.
TEST_F(VellodocDispatchTest, AdapterSessionAndTheServerNotRegistered) {
    ComRegistration registration;
    test::RecordingWindowing windows;
    {
        Tvellopat host;
        host.utente = "mrossi";
        host.password = "segreta";
        ASSERT_TRUE(host.start());
        EXPECT_EQ(host.carica("codice_medico =MMG001|tipo_di_convenzione=S", "alfabetico"), 2);
        EXPECT_EQ(host.leggi_attributo("cognome"), "Verdi");
        EXPECT_TRUE(host.skip());
        EXPECT_EQ(host.leggi_attributo("nome"), "Àngelo \"Lino\" & <Ugo>");
        EXPECT_EQ(host.leggi_attributo("sesso"), "");  // the scripted null
        const std::string handle = host.new_object("i_hl_dataset", "pressione");
        EXPECT_EQ(host.call_method_pipe(handle, "carica", "codice=3132|bogus"), "");
        EXPECT_EQ(host.sql_dump_string("todo", "SELECT COUNT(*) FROM pazienti"), "3");
        host.stop();
    }
    EXPECT_EQ(windows.messages,
              (std::vector<std::string>{
                  "Tvellopat.leggi_attributo(): eccezione",
                  "Tvellopat.call_method_pipe(hl_dataset_1, carica, codice=3132|bogus): eccezione"
                  "Clausola di filtro sconosciuta per \"pressione\": bogus"}));

    registration.unregisterAll();
    try {
        automation::createObject("Vellodoc.Server");
        ADD_FAILURE() << "the class should be unknown";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Stringa di classe non valida: Vellodoc.Server");
    }
    windows.messages.clear();
    Tvellopat host;
    EXPECT_FALSE(host.start());
    EXPECT_EQ(windows.messages, std::vector<std::string>{"ole_vellopat.start(): eccezione"});
}

#ifdef _WIN32
// The DLL's counters reach the file named by KVT_STANDIN_STATS when the
// host's process ends, as a Linux program's do: the table's session run by
// a child process.
TEST_F(VellodocDispatchTest, CountersReachTheStatsFileWhenTheHostProcessEnds) {
    const auto stats = folder_ / "standin.json";
    ASSERT_TRUE(::SetEnvironmentVariableW(L"KVT_STANDIN_STATS", stats.wstring().c_str()));
    const DWORD status =
        runAndWait(L"\"" + selfPath() +
                   L"\" --gtest_filter=VellodocDispatchTest.EveryAnswerCrossesWithItsKindAndText");
    ::SetEnvironmentVariableW(L"KVT_STANDIN_STATS", nullptr);
    EXPECT_EQ(status, 0u);
    // Every step once (the failed ones too); the dataset left to the session's
    // end is created but not destroyed.
    EXPECT_EQ(test::readBytes(stats),
              "{\"calls\":33,\"rowsRead\":10,\"liveDatasets\":0,\"datasetsCreated\":2,"
              "\"datasetsDestroyed\":1}\n");
}
#endif

}  // namespace
}  // namespace kvt::vellodoc::testing
