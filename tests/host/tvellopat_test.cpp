#include "host/tvellopat.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/radix.h"
#include "common/windowing.h"
#include "host/recording_windowing.h"

namespace kvt {
namespace {

using automation::Arguments;
using automation::Variant;
using Texts = std::vector<std::string>;

constexpr WindowHandle kHostWindow = 999;

std::string describe(const Variant& value) {
    switch (value.kind()) {
        case Variant::Kind::Empty:
            return "<empty>";
        case Variant::Kind::Null:
            return "<null>";
        case Variant::Kind::Missing:
            return "<missing>";
        case Variant::Kind::Text:
            return '"' + value.asText() + '"';
        default:
            return value.toText();
    }
}

// A host automation object that records every call as "method(arguments)"
// and answers from a script: a value, a failure of the program's error class
// with the host's text, or a foreign failure. Unscripted methods answer the
// empty value. Every call raises the host's own window, as a real host may.
class ScriptedHost final : public automation::Object {
  public:
    explicit ScriptedHost(RecordingWindowing& windows) : windows_(windows) {}

    Texts calls;

    void answer(const std::string& method, Variant value) { script_[method] = {value, {}, false}; }
    void fail(const std::string& method, const std::string& text = "Errore del server") {
        script_[method] = {{}, text, false};
    }
    void failForeign(const std::string& method) { script_[method] = {{}, "guasto", true}; }
    // The host found gone at this method.
    void lose(const std::string& method) { script_[method] = {{}, "perso", false, true}; }
    void heal(const std::string& method) { script_.erase(method); }
    void healAll() { script_.clear(); }

    Variant call(std::string_view method, const Arguments& arguments) override {
        std::string line = std::string(method) + "(";
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            line += (i ? ", " : "") + describe(arguments[i]);
        }
        calls.push_back(line + ")");
        windows_.foreground = kHostWindow;
        const auto it = script_.find(std::string(method));
        if (it == script_.end()) {
            return Variant();
        }
        const Answer& answer = it->second;
        if (answer.lost) {
            throw HostPerso(*answer.failure);
        }
        if (answer.failure && answer.foreign) {
            throw std::runtime_error(*answer.failure);
        }
        if (answer.failure) {
            throw Error(*answer.failure);
        }
        return answer.value;
    }

  private:
    struct Answer {
        Variant value;
        std::optional<std::string> failure;
        bool foreign;
        bool lost = false;
    };
    RecordingWindowing& windows_;
    std::map<std::string, Answer> script_;
};

class TvellopatTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setWindowing(&windows);
        previousFactory = automation::registerClass(
            "Vellodoc.Server", [this]() -> std::shared_ptr<automation::Object> { return host; });
        adapter = std::make_unique<Tvellopat>();
        adapter->utente = "mrossi";
        adapter->password = "segreto";
    }
    void TearDown() override {
        adapter.reset();
        automation::registerClass("Vellodoc.Server", previousFactory);
        setWindowing(nullptr);
    }

    // An open session, with the records of opening it cleared.
    void open() {
        ASSERT_TRUE(adapter->start());
        forget();
    }
    void forget() {
        host->calls.clear();
        windows.messages.clear();
        windows.foregroundAtMessage.clear();
        windows.foregroundChanges.clear();
    }

    RecordingWindowing windows;
    std::shared_ptr<ScriptedHost> host = std::make_shared<ScriptedHost>(windows);
    automation::Factory previousFactory;
    std::unique_ptr<Tvellopat> adapter;
};

// --- session -----------------------------------------------------------------

TEST_F(TvellopatTest, StartOpensTheSessionWhenConnettiAnswersNothing) {
    for (const Variant& nothing : {Variant(), Variant::text("")}) {
        host->answer("connetti", nothing);
        EXPECT_TRUE(adapter->start());
        EXPECT_TRUE(adapter->connesso);
        EXPECT_EQ(adapter->server, host);
        EXPECT_EQ(host->calls, (Texts{"new()", R"(connetti("mrossi", "segreto"))"}));
        EXPECT_TRUE(windows.messages.empty());

        forget();
        EXPECT_TRUE(adapter->stop());
        EXPECT_EQ(host->calls,
                  (Texts{"disconnetti(<missing>)", "Destroy(<missing>)", "Free(<missing>)"}));
        EXPECT_FALSE(adapter->connesso);
        EXPECT_EQ(adapter->server, nullptr);
        forget();
    }
}

TEST_F(TvellopatTest, StartRefusedShowsTheHostTextAndStopStillReleasesTheServer) {
    host->answer("connetti", Variant::text("Utente o password non validi"));
    EXPECT_FALSE(adapter->start());
    EXPECT_FALSE(adapter->connesso);
    EXPECT_EQ(adapter->server, host);
    EXPECT_EQ(windows.messages, (Texts{"ole_vellopat.start(): errore in connessione\r\n\r\n"
                                       "  Utente o password non validi"}));

    forget();
    EXPECT_TRUE(adapter->stop());
    EXPECT_EQ(host->calls, (Texts{"Destroy(<missing>)", "Free(<missing>)"}));
    EXPECT_EQ(adapter->server, nullptr);
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(TvellopatTest, StartFailingBeforeConnettiShowsEccezioneAndStopReleasesOnce) {
    host->fail("new");
    EXPECT_FALSE(adapter->start());
    EXPECT_EQ(host->calls, (Texts{"new()"}));
    EXPECT_FALSE(adapter->connesso);
    EXPECT_EQ(windows.messages, (Texts{"ole_vellopat.start(): eccezione"}));

    forget();
    EXPECT_TRUE(adapter->stop());
    EXPECT_EQ(host->calls, (Texts{"Destroy(<missing>)", "Free(<missing>)"}));
    forget();
    EXPECT_TRUE(adapter->stop());
    EXPECT_TRUE(host->calls.empty());
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(TvellopatTest, StartFailingAtConnettiOrItsNullAnswerShowsEccezione) {
    host->fail("connetti", "Servizio non disponibile");
    EXPECT_FALSE(adapter->start());
    host->answer("connetti", Variant::null());
    EXPECT_FALSE(adapter->start());
    EXPECT_FALSE(adapter->connesso);
    EXPECT_EQ(windows.messages,
              (Texts{"ole_vellopat.start(): eccezione", "ole_vellopat.start(): eccezione"}));
}

TEST_F(TvellopatTest, StartWithoutTheHostClassLeavesNothingToStop) {
#ifdef _WIN32
    // A class missing from the table is asked of COM, where this machine may
    // have the host's server: a class that cannot be made stands for it.
    automation::registerClass("Vellodoc.Server", []() -> std::shared_ptr<automation::Object> {
        throw Error("Stringa di classe non valida: Vellodoc.Server");
    });
#else
    automation::registerClass("Vellodoc.Server", nullptr);
#endif
    EXPECT_FALSE(adapter->start());
    EXPECT_EQ(adapter->server, nullptr);
    EXPECT_EQ(windows.messages, (Texts{"ole_vellopat.start(): eccezione"}));
    EXPECT_TRUE(adapter->stop());
    EXPECT_TRUE(host->calls.empty());
}

TEST_F(TvellopatTest, StartAgainReleasesTheOldSessionFirst) {
    open();
    EXPECT_TRUE(adapter->start());
    EXPECT_EQ(host->calls, (Texts{"disconnetti(<missing>)", "Destroy(<missing>)", "Free(<missing>)",
                                  "new()", R"(connetti("mrossi", "segreto"))"}));
    EXPECT_TRUE(adapter->connesso);
}

TEST_F(TvellopatTest, StopFailureIsSilentAndTheNextStopTriesAgain) {
    open();
    host->fail("disconnetti");
    EXPECT_TRUE(adapter->stop());
    EXPECT_EQ(host->calls, (Texts{"disconnetti(<missing>)"}));
    EXPECT_TRUE(adapter->connesso);
    EXPECT_NE(adapter->server, nullptr);
    EXPECT_TRUE(windows.messages.empty());

    forget();
    host->heal("disconnetti");
    host->fail("Destroy");
    EXPECT_TRUE(adapter->stop());
    EXPECT_EQ(host->calls, (Texts{"disconnetti(<missing>)", "Destroy(<missing>)"}));
    EXPECT_FALSE(adapter->connesso);

    forget();
    host->heal("Destroy");
    EXPECT_TRUE(adapter->stop());
    EXPECT_EQ(host->calls, (Texts{"Destroy(<missing>)", "Free(<missing>)"}));
    EXPECT_EQ(adapter->server, nullptr);
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(TvellopatTest, DestroyingTheAdapterClosesTheSession) {
    open();
    adapter.reset();
    EXPECT_EQ(host->calls,
              (Texts{"disconnetti(<missing>)", "Destroy(<missing>)", "Free(<missing>)"}));
    EXPECT_EQ(host.use_count(), 1);
}

// --- host calls --------------------------------------------------------------

TEST_F(TvellopatTest, ProbedOperationsAskGetErrorFirstAndPassTheirArgumentsInOrder) {
    open();
    host->answer("carica", Variant::text("3"));
    host->answer("leggi_attributo", Variant::text("Rossi"));
    host->answer("new_object", Variant::text("17"));
    host->answer("call_method_pipe", Variant::text("5"));

    EXPECT_TRUE(adapter->select_single("3132"));
    EXPECT_EQ(adapter->carica("codice_medico =ABC|tipo_di_convenzione=S", "alfabetico"), 3);
    EXPECT_TRUE(adapter->skip());
    EXPECT_EQ(adapter->leggi_attributo("cognome"), "Rossi");
    EXPECT_EQ(adapter->new_object("i_hl_dataset", "problema"), "17");
    EXPECT_EQ(adapter->call_method_pipe("17", "rowcount", ""), "5");
    EXPECT_EQ(host->calls,
              (Texts{
                  "get_error(<missing>)",
                  R"(select_single("3132"))",
                  "get_error(<missing>)",
                  R"(carica("codice_medico =ABC|tipo_di_convenzione=S", "alfabetico"))",
                  "get_error(<missing>)",
                  "skip(<missing>)",
                  "get_error(<missing>)",
                  R"(leggi_attributo("cognome"))",
                  "get_error(<missing>)",
                  R"(new_object("i_hl_dataset", "problema"))",
                  "get_error(<missing>)",
                  R"(call_method_pipe("17", "rowcount", ""))",
              }));
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(TvellopatTest, DestroyObjectAndSqlDumpStringDoNotProbe) {
    open();
    host->answer("sql_dump_string", Variant::text("\"2024-01-05\"\t\"10:30\"\r\n"));
    EXPECT_EQ(adapter->destroy_object("17"), "");
    EXPECT_EQ(adapter->sql_dump_string("todo", "select 1"), "\"2024-01-05\"\t\"10:30\"\r\n");
    EXPECT_EQ(host->calls,
              (Texts{R"(destroy_object("17"))", R"(sql_dump_string("todo", "select 1"))"}));
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(TvellopatTest, ADeadHostMakesEveryProbedOperationSilent) {
    open();
    host->fail("get_error");
    host->answer("carica", Variant::text("3"));
    host->answer("leggi_attributo", Variant::text("Rossi"));
    EXPECT_FALSE(adapter->is_on());
    EXPECT_FALSE(adapter->select_single("3132"));
    EXPECT_EQ(adapter->carica("codice_medico =ABC", "alfabetico"), 0);
    EXPECT_FALSE(adapter->skip());
    EXPECT_EQ(adapter->leggi_attributo("cognome"), "");
    EXPECT_EQ(adapter->new_object("i_hl_dataset", "problema"), "");
    EXPECT_EQ(adapter->call_method_pipe("17", "rowcount", ""), "");
    EXPECT_EQ(host->calls, Texts(7, "get_error(<missing>)"));
    EXPECT_TRUE(windows.messages.empty());

    // Not probed: these still call the host.
    forget();
    EXPECT_EQ(adapter->sql_dump_string("todo", "select 1"), "");
    EXPECT_EQ(host->calls, (Texts{R"(sql_dump_string("todo", "select 1"))"}));
}

TEST_F(TvellopatTest, WithoutAServerProbedOperationsAreSilentAndTheOthersComplain) {
    EXPECT_FALSE(adapter->is_on());
    EXPECT_FALSE(adapter->select_single("3132"));
    EXPECT_EQ(adapter->carica("codice_medico =ABC", "alfabetico"), 0);
    EXPECT_FALSE(adapter->skip());
    EXPECT_EQ(adapter->leggi_attributo("cognome"), "");
    EXPECT_EQ(adapter->new_object("i_hl_dataset", "problema"), "");
    EXPECT_EQ(adapter->call_method_pipe("17", "rowcount", ""), "");
    EXPECT_TRUE(windows.messages.empty());

    EXPECT_EQ(adapter->destroy_object("17"), "");
    EXPECT_EQ(adapter->sql_dump_string("todo", "select 1"), "");
    EXPECT_EQ(windows.messages, (Texts{"Tvellopat.destroy_object(): eccezione",
                                       "Tgate_vellopat.sql_dump_string(): eccezione"}));
    EXPECT_TRUE(host->calls.empty());
}

struct FailingOperation {
    std::string method;
    std::string message;
    // Runs the operation; its result as text ("false", "0" or the text).
    std::function<std::string(Tvellopat&)> run;
};

const std::vector<FailingOperation>& failingOperations() {
    static const std::vector<FailingOperation> operations{
        {"select_single", "Tvellopat.select_single(): eccezione",
         [](Tvellopat& a) { return a.select_single("31") ? "true" : "false"; }},
        {"carica", "Tvellopat.carica(): eccezione",
         [](Tvellopat& a) { return std::to_string(a.carica("codice_medico =A", "alfabetico")); }},
        {"skip", "Tvellopat.skip(): eccezione",
         [](Tvellopat& a) { return a.skip() ? "true" : "false"; }},
        {"leggi_attributo", "Tvellopat.leggi_attributo(): eccezione",
         [](Tvellopat& a) { return a.leggi_attributo("nome"); }},
        {"new_object", "Tvellopat.new_object(): eccezione",
         [](Tvellopat& a) { return a.new_object("i_hl_dataset", "pressione"); }},
        {"destroy_object", "Tvellopat.destroy_object(): eccezione",
         [](Tvellopat& a) { return a.destroy_object("17"); }},
        {"sql_dump_string", "Tgate_vellopat.sql_dump_string(): eccezione",
         [](Tvellopat& a) { return a.sql_dump_string("todo", "select 1"); }},
    };
    return operations;
}

TEST_F(TvellopatTest, AFailedHostCallShowsTheOperationNameAndGivesTheNeutralResult) {
    open();
    for (const auto& operation : failingOperations()) {
        SCOPED_TRACE(operation.method);
        host->answer(operation.method, Variant::text("17"));
        host->fail(operation.method);
        const std::string result = operation.run(*adapter);
        EXPECT_TRUE(result == "false" || result == "0" || result.empty()) << result;
        EXPECT_EQ(windows.messages, (Texts{operation.message}));
        // The adapter's state is unchanged: the next call tries again.
        EXPECT_TRUE(adapter->connesso);
        EXPECT_NE(adapter->server, nullptr);
        host->heal(operation.method);
        forget();
    }
}

TEST_F(TvellopatTest, AForeignFailureIsCaughtByEveryOperationButCallMethodPipe) {
    open();
    for (const auto& operation : failingOperations()) {
        SCOPED_TRACE(operation.method);
        host->failForeign(operation.method);
        operation.run(*adapter);
        EXPECT_EQ(windows.messages, (Texts{operation.message}));
        forget();
    }
    host->failForeign("call_method_pipe");
    EXPECT_THROW(adapter->call_method_pipe("17", "carica", ""), std::runtime_error);
    EXPECT_EQ(windows.foreground, kProgramWindow);
}

// A lost host is no failed call: whichever call finds it, the operation
// raises it with no message; from then on every operation raises it at once
// without calling the host, stop only lets the object go, and a new start
// finds the host again.
TEST_F(TvellopatTest, ALostHostGoesThroughEveryOperationAndStaysLostUntilStart) {
    auto operations = failingOperations();
    operations.push_back({"get_error", "", [](Tvellopat& a) { return a.skip() ? "1" : "0"; }});
    operations.push_back({"call_method_pipe", "",
                          [](Tvellopat& a) { return a.call_method_pipe("17", "carica", ""); }});
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.method);
        open();
        host->lose(operation.method);
        EXPECT_THROW(operation.run(*adapter), HostPerso);
        EXPECT_TRUE(adapter->perso());
        forget();
        for (const auto& later : operations) {
            EXPECT_THROW(later.run(*adapter), HostPerso);
        }
        EXPECT_THROW(adapter->is_on(), HostPerso);
        EXPECT_TRUE(adapter->stop());
        EXPECT_EQ(adapter->server, nullptr);
        EXPECT_TRUE(host->calls.empty());
        EXPECT_TRUE(windows.messages.empty());
        host->healAll();
        EXPECT_TRUE(adapter->start());
        EXPECT_FALSE(adapter->perso());
        EXPECT_TRUE(adapter->is_on());
        adapter->stop();
    }
}

TEST_F(TvellopatTest, ANullValueIsAFailedCall) {
    open();
    host->answer("leggi_attributo", Variant::null());
    EXPECT_EQ(adapter->leggi_attributo("data_nascita"), "");
    EXPECT_EQ(windows.messages, (Texts{"Tvellopat.leggi_attributo(): eccezione"}));
}

TEST_F(TvellopatTest, CaricaGivesTheCountOrZeroWithAMessage) {
    open();
    const auto count = [&](Variant answer) {
        host->answer("carica", answer);
        return adapter->carica("codice_medico =ABC|tipo_di_convenzione=S", "alfabetico");
    };
    EXPECT_EQ(count(Variant::text("1523")), 1523);
    EXPECT_EQ(count(Variant::text(" 12 ")), 12);
    EXPECT_EQ(count(Variant::integer(7)), 7);
    EXPECT_EQ(count(Variant()), 0);
    EXPECT_TRUE(windows.messages.empty());

    EXPECT_EQ(count(Variant::text("abc")), 0);
    EXPECT_EQ(count(Variant::text("")), 0);
    EXPECT_EQ(count(Variant::text("12a")), 0);
    EXPECT_EQ(count(Variant::null()), 0);
    EXPECT_EQ(windows.messages, Texts(4, "Tvellopat.carica(): eccezione"));
}

// --- call_method_pipe ----------------------------------------------------------

TEST_F(TvellopatTest, CallMethodPipeChecksTheCountsItHandsBack) {
    open();
    const auto pipe = [&](const std::string& method, const std::string& parameters,
                          const std::string& answer) {
        host->answer("call_method_pipe", Variant::text(answer));
        return adapter->call_method_pipe("H7", method, parameters);
    };
    EXPECT_EQ(pipe("rowcount", "", "12"), "12");
    EXPECT_EQ(pipe("rowcount", "", ""), "");
    EXPECT_EQ(pipe("carica", "codice=3132", "0"), "0");
    EXPECT_TRUE(windows.messages.empty());

    EXPECT_EQ(pipe("rowcount", "", "1x"), "1x");
    EXPECT_EQ(pipe("rowcount", "", "2 "), "2 ");
    EXPECT_EQ(pipe("carica", "codice=3132|filtro_solo_con_risultato", "ok"), "ok");
    EXPECT_EQ(windows.messages,
              (Texts{
                  "Tvellopat.call_method_pipe(H7, rowcount, ): eccezione: \r\n"
                  "s_handle = H7\r\ns_metodo = rowcount\r\ns_lista_parametri = ",
                  "Tvellopat.call_method_pipe(H7, rowcount, ): eccezione: \r\n"
                  "s_handle = H7\r\ns_metodo = rowcount\r\ns_lista_parametri = ",
                  "Tvellopat.call_method_pipe(H7, carica, codice=3132|filtro_solo_con_risultato): "
                  "eccezione: \r\ns_handle = H7\r\ns_metodo = carica\r\n"
                  "s_lista_parametri = codice=3132|filtro_solo_con_risultato",
              }));
    // The check leaves no conversion error behind for others to find.
    EXPECT_EQ(ultimoErrore(), "");
}

TEST_F(TvellopatTest, CallMethodPipeChecksOnlyCaricaAndRowcount) {
    open();
    host->answer("call_method_pipe", Variant::text("abc"));
    EXPECT_EQ(adapter->call_method_pipe("H7", "setrow", "1"), "abc");
    EXPECT_EQ(adapter->call_method_pipe("H7", "leggi_attributo", "data"), "abc");
    EXPECT_EQ(adapter->call_method_pipe("H7", "RowCount", ""), "abc");
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(TvellopatTest, CallMethodPipeIsNotMisledByAnOlderConversionError) {
    open();
    string2int("zz", 10);
    host->answer("call_method_pipe", Variant::text("4"));
    EXPECT_EQ(adapter->call_method_pipe("H7", "rowcount", ""), "4");
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(TvellopatTest, CallMethodPipeFailureShowsTheDescriptionAndTheHostText) {
    open();
    host->fail("call_method_pipe", "Handle non valido");
    EXPECT_EQ(adapter->call_method_pipe("H9", "setrow", "3"), "");
    host->answer("call_method_pipe", Variant::null());
    EXPECT_EQ(adapter->call_method_pipe("H9", "rowcount", ""), "");
    EXPECT_EQ(windows.messages,
              (Texts{"Tvellopat.call_method_pipe(H9, setrow, 3): eccezioneHandle non valido",
                     "Tvellopat.call_method_pipe(H9, rowcount, ): eccezione"
                     "Conversione di un valore Null in stringa non valida"}));
}

// --- foreground ----------------------------------------------------------------

TEST_F(TvellopatTest, TheProgramWindowComesBackAfterEveryOperation) {
    const std::vector<std::pair<std::string, std::function<void()>>> operations{
        {"start", [&] { adapter->start(); }},
        {"is_on", [&] { adapter->is_on(); }},
        {"select_single", [&] { adapter->select_single("31"); }},
        {"carica", [&] { adapter->carica("codice_medico =A", "alfabetico"); }},
        {"skip", [&] { adapter->skip(); }},
        {"leggi_attributo", [&] { adapter->leggi_attributo("nome"); }},
        {"new_object", [&] { adapter->new_object("i_hl_dataset", "pressione"); }},
        {"call_method_pipe", [&] { adapter->call_method_pipe("H1", "rowcount", ""); }},
        {"destroy_object", [&] { adapter->destroy_object("H1"); }},
        {"sql_dump_string", [&] { adapter->sql_dump_string("todo", "select 1"); }},
        {"stop", [&] { adapter->stop(); }},
    };
    // Each outcome runs every operation once, in a session's order.
    const std::vector<std::pair<std::string, std::function<void()>>> outcomes{
        {"answers", [] {}},
        {"fails",
         [&] {
             for (const char* method :
                  {"new", "select_single", "carica", "skip", "leggi_attributo", "new_object",
                   "call_method_pipe", "destroy_object", "sql_dump_string", "Destroy"}) {
                 host->fail(method);
             }
         }},
        {"answers letters", [&] { host->answer("call_method_pipe", Variant::text("x")); }},
        {"is dead", [&] { host->fail("get_error"); }},
    };
    for (const auto& [outcome, script] : outcomes) {
        host->healAll();
        script();
        for (const auto& [name, run] : operations) {
            SCOPED_TRACE(outcome + ": " + name);
            forget();
            run();
            EXPECT_FALSE(host->calls.empty());
            EXPECT_EQ(windows.foreground, kProgramWindow);
            for (const WindowHandle atMessage : windows.foregroundAtMessage) {
                EXPECT_EQ(atMessage, kProgramWindow);
            }
        }
    }
}

TEST_F(TvellopatTest, NoForegroundIsNotForced) {
    windows.foreground = 0;
    EXPECT_TRUE(adapter->start());
    EXPECT_TRUE(windows.foregroundChanges.empty());
}

}  // namespace
}  // namespace kvt
