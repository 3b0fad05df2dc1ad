// The automation seam over COM, against a small automation server of the
// test's own: an IDispatch whose class object is registered in this process
// and whose ProgID is mapped in the registry, so that the seam finds it the
// way it finds the host's server (CLSIDFromProgID, CoCreateInstance).
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "host/automation.h"
#include "host/recording_windowing.h"
#include "host/tvellopat.h"

namespace kvt::automation {
namespace {

using WideTexts = std::vector<std::wstring>;

constexpr const wchar_t* kProgIds[][2] = {
    {L"KvtProva.Server", L"{6A1F3C52-8E0B-4D7A-9C41-2B5E7D903F16}"},
    {L"KvtProva.SenzaServer", L"{6A1F3C52-8E0B-4D7A-9C41-2B5E7D903F17}"}};
constexpr CLSID kClsid = {
    0x6a1f3c52, 0x8e0b, 0x4d7a, {0x9c, 0x41, 0x2b, 0x5e, 0x7d, 0x90, 0x3f, 0x16}};

// How the server saw one argument: its type and its value, written by the
// test's own means.
std::wstring describe(const VARIANT& v) {
    wchar_t text[64];
    switch (V_VT(&v)) {
        case VT_BSTR:
            return L"BSTR:" + std::wstring(V_BSTR(&v), ::SysStringLen(V_BSTR(&v)));
        case VT_I4:
            return L"I4:" + std::to_wstring(V_I4(&v));
        case VT_I8:
            return L"I8:" + std::to_wstring(V_I8(&v));
        case VT_R8:
            std::swprintf(text, 64, L"R8:%g", V_R8(&v));
            return text;
        case VT_DATE:
            std::swprintf(text, 64, L"DATE:%.6f", V_DATE(&v));
            return text;
        case VT_BOOL:
            return L"BOOL:" + std::to_wstring(V_BOOL(&v));
        case VT_NULL:
            return L"NULL";
        case VT_EMPTY:
            return L"EMPTY";
        case VT_ERROR:
            std::swprintf(text, 64, L"ERROR:0x%08lX", static_cast<unsigned long>(V_ERROR(&v)));
            return text;
        default:
            return L"VT:" + std::to_wstring(V_VT(&v));
    }
}

HRESULT raise(EXCEPINFO* exception, const wchar_t* description, HRESULT code) {
    *exception = EXCEPINFO{};
    exception->bstrDescription = description ? ::SysAllocString(description) : nullptr;
    exception->scode = code;
    return DISP_E_EXCEPTION;
}

// The server: records every call as its method and arguments in the order the
// caller meant them, and answers as Invoke says; "dai" hands back `answer`.
class TestServer final : public IDispatch, public IClassFactory {
  public:
    static inline WideTexts calls;
    static inline VARIANT answer{};

    // One object for the process, its own class object too.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
        } else if (iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
        }
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
        return QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    // Every name but one is a method, numbered by its place in the list.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                            DISPID* ids) override {
        ids[0] = DISPID_UNKNOWN;
        if (std::wstring_view(names[0]) == L"inesistente") {
            return DISP_E_UNKNOWNNAME;
        }
        auto at = std::find(methods.begin(), methods.end(), names[0]);
        if (at == methods.end()) {
            at = methods.insert(at, names[0]);
        }
        ids[0] = static_cast<DISPID>(at - methods.begin() + 1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* wrongArgument) override {
        const std::wstring name = methods.at(id - 1);
        // rgvarg holds the last argument first.
        WideTexts arguments;
        std::wstring line = name + L"(";
        for (UINT i = parameters->cArgs; i > 0; --i) {
            arguments.push_back(describe(parameters->rgvarg[i - 1]));
            line += (i < parameters->cArgs ? L", " : L"") + arguments.back();
        }
        calls.push_back(line + L")");

        const auto text = [&](const wchar_t* value) {
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = ::SysAllocString(value);
            return S_OK;
        };
        ::VariantInit(result);
        if (name == L"dai") {
            return ::VariantCopy(result, &answer);
        }
        if (name == L"fallisci") {
            return raise(exception, L"Filtro sconosciuto: \u00e8", E_FAIL);
        }
        if (name == L"fallisci_senza_testo") {
            return raise(exception, nullptr, E_ACCESSDENIED);
        }
        if (name == L"fallisci_hresult") {
            return E_FAIL;
        }
        if (name == L"rifiuta") {
            *wrongArgument = parameters->cArgs - 1;  // the first one
            return DISP_E_TYPEMISMATCH;
        }
        if (name == L"connetti") {
            return text(
                arguments == WideTexts{L"BSTR:mrossi", L"BSTR:segreto"} ? L"" : L"Password errata");
        }
        if (name == L"leggi_attributo") {
            V_VT(result) = VT_NULL;
            return arguments.at(0) == L"BSTR:nullo" ? S_OK : text(L"Rossi Niccol\u00f2");
        }
        if (name == L"call_method_pipe") {
            return arguments.at(1) == L"BSTR:carica"
                       ? raise(exception, L"Filtro sconosciuto: x", E_FAIL)
                       : text(L"12");
        }
        if (name == L"descrivi") {
            V_VT(result) = VT_I4;
            V_I4(result) = static_cast<LONG>(parameters->cArgs);
        }
        return S_OK;
    }

  private:
    static inline std::vector<std::wstring> methods;
};

class AutomationComTest : public ::testing::Test {
  protected:
    // Each ProgID is mapped for the current user, the way an installation
    // without administrator rights registers its server; Wine's COM reads
    // only the machine's classes, so where the user's mapping is not seen,
    // the mapping goes there too. Both are removed afterwards.
    static void SetUpTestSuite() {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(::CoRegisterClassObject(kClsid, static_cast<IClassFactory*>(&instance),
                                          CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        for (const auto& [progId, clsid] : kProgIds) {
            for (const auto& [root, prefix] : kRoots) {
                ASSERT_EQ(
                    ::RegSetKeyValueW(
                        root, (prefix + std::wstring(progId) + L"\\CLSID").c_str(), nullptr, REG_SZ,
                        clsid, static_cast<DWORD>((std::wcslen(clsid) + 1) * sizeof(wchar_t))),
                    ERROR_SUCCESS);
                CLSID found{};
                if (SUCCEEDED(::CLSIDFromProgID(progId, &found))) {
                    break;
                }
            }
        }
    }
    static void TearDownTestSuite() {
        for (const auto& [progId, clsid] : kProgIds) {
            for (const auto& [root, prefix] : kRoots) {
                ::RegDeleteTreeW(root, (prefix + std::wstring(progId)).c_str());
            }
        }
        ::CoRevokeClassObject(cookie);
    }
    void SetUp() override { TestServer::calls.clear(); }

    static std::shared_ptr<Object> server() { return createObject("KvtProva.Server"); }

    static inline TestServer instance;
    static inline DWORD cookie = 0;
    static inline const std::pair<HKEY, const wchar_t*> kRoots[] = {
        {HKEY_CURRENT_USER, L"Software\\Classes\\"}, {HKEY_CLASSES_ROOT, L""}};
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "<nessun errore>";
}

// A core value written out, to compare two of them: its kind and its text
// (the decimal separator fixed, the date with its time of day).
std::string shown(const Variant& value) {
    const bool hasText = !value.isNull() && !value.isMissing();
    return std::to_string(static_cast<int>(value.kind())) + ":" + (hasText ? value.toText() : "");
}

TEST_F(AutomationComTest, ArgumentsReachTheServerInOrderAsTheirVariants) {
    const Variant answer = server()->call(
        "descrivi", {Variant::text("Citt\u00e0 \u2713"), Variant::integer(7),
                     Variant::integer(-2147483648LL), Variant::integer(2147483648LL),
                     Variant::floating(2.5), Variant::date({2024, 3, 7, 9, 5, 0}),
                     Variant::date({}), Variant::boolean(true), Variant::boolean(false),
                     Variant::null(), Variant(), Variant::missing(), Variant::text("")});
    EXPECT_EQ(shown(answer), shown(Variant::integer(13)));
    EXPECT_EQ(TestServer::calls,
              WideTexts{L"descrivi(BSTR:Citt\u00e0 \u2713, I4:7, I4:-2147483648, I8:2147483648, "
                        L"R8:2.5, DATE:45358.378472, DATE:0.000000, BOOL:-1, BOOL:0, NULL, "
                        L"EMPTY, ERROR:0x80020004, BSTR:)"});
}

TEST_F(AutomationComTest, ResultsOfEveryKindBecomeTheCoreValues) {
    static LONG referencedNumber = 1234;
    static BSTR referencedText = ::SysAllocString(L"per riferimento");
    const auto wire = [](VARTYPE type, const std::function<void(VARIANT&)>& set) {
        VARIANT v;
        ::VariantInit(&v);
        V_VT(&v) = type;
        set(v);
        return v;
    };
    const std::pair<VARIANT, Variant> cases[] = {
        {wire(VT_BSTR, [](auto& v) { v.bstrVal = ::SysAllocString(L"Citt\u00e0 \u2713 \"x\""); }),
         Variant::text("Citt\u00e0 \u2713 \"x\"")},
        {wire(VT_BSTR, [](auto& v) { v.bstrVal = nullptr; }), Variant::text("")},
        {wire(VT_I1, [](auto& v) { v.cVal = -5; }), Variant::integer(-5)},
        {wire(VT_I2, [](auto& v) { v.iVal = -300; }), Variant::integer(-300)},
        {wire(VT_I4, [](auto& v) { v.lVal = -70000; }), Variant::integer(-70000)},
        {wire(VT_I8, [](auto& v) { v.llVal = 9000000000LL; }), Variant::integer(9000000000LL)},
        {wire(VT_INT, [](auto& v) { v.intVal = 42; }), Variant::integer(42)},
        {wire(VT_UI1, [](auto& v) { v.bVal = 200; }), Variant::integer(200)},
        {wire(VT_UI2, [](auto& v) { v.uiVal = 60000; }), Variant::integer(60000)},
        {wire(VT_UI4, [](auto& v) { v.ulVal = 4000000000U; }), Variant::integer(4000000000LL)},
        {wire(VT_UINT, [](auto& v) { v.uintVal = 7; }), Variant::integer(7)},
        {wire(VT_UI8, [](auto& v) { v.ullVal = 18000000000000000000ULL; }),
         Variant::floating(18000000000000000000.0)},
        {wire(VT_R4, [](auto& v) { v.fltVal = 2.5F; }), Variant::floating(2.5)},
        {wire(VT_R8, [](auto& v) { v.dblVal = -72.25; }), Variant::floating(-72.25)},
        {wire(VT_CY, [](auto& v) { v.cyVal.int64 = 30625; }), Variant::floating(3.0625)},
        {wire(VT_DATE, [](auto& v) { v.date = 45358 + 32700.0 / 86400; }),
         Variant::date({2024, 3, 7, 9, 5, 0})},
        {wire(VT_DATE, [](auto& v) { v.date = 0; }), Variant::date({})},
        // The day before the zero day, 06:00.
        {wire(VT_DATE, [](auto& v) { v.date = -1.25; }), Variant::date({1899, 12, 29, 6, 0, 0})},
        {wire(VT_BOOL, [](auto& v) { v.boolVal = VARIANT_TRUE; }), Variant::boolean(true)},
        {wire(VT_BOOL, [](auto& v) { v.boolVal = VARIANT_FALSE; }), Variant::boolean(false)},
        {wire(VT_NULL, [](auto&) {}), Variant::null()},
        {wire(VT_EMPTY, [](auto&) {}), Variant()},
        {wire(VT_ERROR, [](auto& v) { v.scode = DISP_E_PARAMNOTFOUND; }), Variant::missing()},
        {wire(VT_BYREF | VT_I4, [](auto& v) { v.plVal = &referencedNumber; }),
         Variant::integer(1234)},
        {wire(VT_BYREF | VT_BSTR, [](auto& v) { v.pbstrVal = &referencedText; }),
         Variant::text("per riferimento")},
        // No kind of the core holds an object: it reads as a null answer.
        {wire(VT_DISPATCH, [](auto& v) { v.pdispVal = &instance; }), Variant::null()},
    };
    setDecimalSeparatorSource([] { return std::string(","); });
    for (auto [in, expected] : cases) {
        TestServer::answer = in;
        EXPECT_EQ(shown(server()->call("dai", {})), shown(expected)) << V_VT(&in);
        ::VariantClear(&in);
    }
    setDecimalSeparatorSource({});
}

TEST_F(AutomationComTest, AFailedCallIsAProgramErrorWithTheServersText) {
    const auto object = server();
    EXPECT_EQ(errorOf([&] { object->call("fallisci", {}); }), "Filtro sconosciuto: \u00e8");
    // Without the server's own text: the code's, after the method unless the
    // server raised it; a refused argument is named, counted from the first.
    const struct {
        const char* method;
        std::string start, end;
    } failures[] = {{"fallisci_senza_testo", "", "(0x80070005)"},
                    {"fallisci_hresult", "fallisci_hresult: ", "(0x80004005)"},
                    {"inesistente", "inesistente: ", "(0x80020006)"},
                    {"rifiuta", "rifiuta: ", "(0x80020005) (argomento 1)"}};
    for (const auto& failure : failures) {
        const std::string text = errorOf([&] {
            object->call(failure.method, {Variant::text("a"), Variant::integer(2)});
        });
        EXPECT_TRUE(text.starts_with(failure.start) && text.ends_with(failure.end)) << text;
    }
}

TEST_F(AutomationComTest, ClassesAreTheProcessTableFirstThenComProgIds) {
    EXPECT_EQ(errorOf([] { createObject("KvtProva.Assente"); }),
              "Stringa di classe non valida: KvtProva.Assente");
    const std::string unregistered = errorOf([] { createObject("KvtProva.SenzaServer"); });
    EXPECT_TRUE(unregistered.starts_with("Impossibile creare l'oggetto KvtProva.SenzaServer: "))
        << unregistered;

    class InProcess final : public Object {
      public:
        Variant call(std::string_view, const Arguments&) override { return Variant::text("qui"); }
    };
    const Factory previous =
        registerClass("KvtProva.Server", [] { return std::make_shared<InProcess>(); });
    EXPECT_EQ(server()->call("descrivi", {}).asText(), "qui");
    registerClass("KvtProva.Server", previous);
    EXPECT_EQ(server()->call("descrivi", {}).asInteger(), 0);
    EXPECT_EQ(TestServer::calls, WideTexts{L"descrivi()"});
}

// The host adapter over COM, its server class pointing at the test's ProgID.
class TvellopatComTest : public AutomationComTest {
  protected:
    void SetUp() override {
        AutomationComTest::SetUp();
        setWindowing(&windows);
        previous = point("KvtProva.Server");
        adapter.utente = "mrossi";
        adapter.password = "segreto";
    }
    void TearDown() override {
        adapter.stop();
        registerClass("Vellodoc.Server", previous);
        setWindowing(nullptr);
    }
    static Factory point(std::string progId) {
        return registerClass("Vellodoc.Server", [progId] { return createObject(progId); });
    }

    RecordingWindowing windows;
    Tvellopat adapter;
    Factory previous;
};

TEST_F(TvellopatComTest, ASessionOverComCallsTheHostContract) {
    ASSERT_TRUE(adapter.start());
    EXPECT_EQ(adapter.leggi_attributo("cognome"), "Rossi Niccol\u00f2");
    EXPECT_EQ(adapter.call_method_pipe("h1", "rowcount", ""), "12");
    EXPECT_TRUE(adapter.stop());
    EXPECT_TRUE(windows.messages.empty());
    EXPECT_EQ(
        TestServer::calls,
        (WideTexts{L"new()", L"connetti(BSTR:mrossi, BSTR:segreto)", L"get_error(ERROR:0x80020004)",
                   L"leggi_attributo(BSTR:cognome)", L"get_error(ERROR:0x80020004)",
                   L"call_method_pipe(BSTR:h1, BSTR:rowcount, BSTR:)",
                   L"disconnetti(ERROR:0x80020004)", L"Destroy(ERROR:0x80020004)",
                   L"Free(ERROR:0x80020004)"}));
}

TEST_F(TvellopatComTest, FailuresOverComGiveTheAdaptersMessages) {
    adapter.password = "sbagliata";
    EXPECT_FALSE(adapter.start());
    adapter.stop();
    adapter.password = "segreto";
    ASSERT_TRUE(adapter.start());
    EXPECT_EQ(adapter.leggi_attributo("nullo"), "");
    EXPECT_EQ(adapter.call_method_pipe("h1", "carica", "x"), "");
    adapter.stop();
    point("KvtProva.Assente");
    EXPECT_FALSE(adapter.start());
    EXPECT_EQ(adapter.server, nullptr);

    EXPECT_EQ(windows.messages,
              (std::vector<std::string>{
                  "ole_vellopat.start(): errore in connessione\r\n\r\n  Password errata",
                  "Tvellopat.leggi_attributo(): eccezione",
                  "Tvellopat.call_method_pipe(h1, carica, x): eccezioneFiltro sconosciuto: x",
                  "ole_vellopat.start(): eccezione"}));
}

}  // namespace
}  // namespace kvt::automation
