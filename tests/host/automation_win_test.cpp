// The automation seam over COM, against a small automation server of the
// test's own: an IDispatch whose class object is registered in this process
// and whose ProgID is mapped in the registry, so that the seam finds it the
// way it finds the host's server (CLSIDFromProgID, CoCreateInstance).
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/errors.h"
#include "host/automation.h"
#include "host/recording_windowing.h"
#include "host/tvellopat.h"

namespace kvt::automation {
namespace {

using WideTexts = std::vector<std::wstring>;

constexpr wchar_t kProgId[] = L"KvtProva.Server";
constexpr wchar_t kProgIdWithoutServer[] = L"KvtProva.SenzaServer";
constexpr wchar_t kClsidText[] = L"{6A1F3C52-8E0B-4D7A-9C41-2B5E7D903F16}";
constexpr wchar_t kClsidWithoutServerText[] = L"{6A1F3C52-8E0B-4D7A-9C41-2B5E7D903F17}";
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
    if (exception) {
        *exception = EXCEPINFO{};
        exception->bstrSource = ::SysAllocString(L"KvtProva");
        exception->bstrDescription = description ? ::SysAllocString(description) : nullptr;
        exception->scode = code;
    }
    return DISP_E_EXCEPTION;
}

// The server: records every call as its method and arguments in the order the
// caller meant them, and answers as the methods below say.
class TestServer final : public IDispatch {
  public:
    static WideTexts calls;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (count != 1) {
            return E_INVALIDARG;
        }
        const auto it = methods().find(names[0]);
        if (it == methods().end()) {
            ids[0] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        ids[0] = it->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT*) override {
        std::wstring name;
        for (const auto& [method, methodId] : methods()) {
            if (methodId == id) {
                name = method;
            }
        }
        // rgvarg holds the last argument first.
        WideTexts arguments;
        for (UINT i = parameters->cArgs; i > 0; --i) {
            arguments.push_back(describe(parameters->rgvarg[i - 1]));
        }
        std::wstring line = name + L"(";
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            line += (i ? L", " : L"") + arguments[i];
        }
        calls.push_back(line + L")");

        ::VariantInit(result);
        if (name == L"dai") {
            return give(arguments.at(0).substr(5), *result);
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
        if (name == L"connetti") {
            const bool known = arguments == WideTexts{L"BSTR:mrossi", L"BSTR:segreto"};
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = ::SysAllocString(known ? L"" : L"Password errata");
            return S_OK;
        }
        if (name == L"leggi_attributo") {
            if (arguments.at(0) == L"BSTR:nullo") {
                V_VT(result) = VT_NULL;
            } else {
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = ::SysAllocString(L"Rossi Niccol\u00f2");
            }
            return S_OK;
        }
        if (name == L"call_method_pipe") {
            if (arguments.at(1) == L"BSTR:carica") {
                return raise(exception, L"Filtro sconosciuto: x", E_FAIL);
            }
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = ::SysAllocString(L"12");
            return S_OK;
        }
        if (name == L"descrivi") {
            V_VT(result) = VT_I4;
            V_I4(result) = static_cast<LONG>(parameters->cArgs);
        }
        return S_OK;
    }

  private:
    static const std::map<std::wstring, DISPID>& methods() {
        static const std::map<std::wstring, DISPID> table = {
            {L"descrivi", 1},
            {L"dai", 2},
            {L"fallisci", 3},
            {L"fallisci_senza_testo", 4},
            {L"fallisci_hresult", 5},
            {L"new", 10},
            {L"connetti", 11},
            {L"get_error", 12},
            {L"disconnetti", 13},
            {L"Destroy", 14},
            {L"Free", 15},
            {L"leggi_attributo", 16},
            {L"call_method_pipe", 17},
        };
        return table;
    }

    // A result of the kind named: what a server may hand back.
    HRESULT give(const std::wstring& kind, VARIANT& out) {
        static LONG referencedNumber = 1234;
        static BSTR referencedText = ::SysAllocString(L"per riferimento");
        if (kind == L"bstr") {
            V_VT(&out) = VT_BSTR;
            V_BSTR(&out) = ::SysAllocString(L"Citt\u00e0 \u2713 \"x\"");
        } else if (kind == L"bstr_nullo") {
            V_VT(&out) = VT_BSTR;
            V_BSTR(&out) = nullptr;
        } else if (kind == L"i1") {
            V_VT(&out) = VT_I1;
            V_I1(&out) = -5;
        } else if (kind == L"i2") {
            V_VT(&out) = VT_I2;
            V_I2(&out) = -300;
        } else if (kind == L"i4") {
            V_VT(&out) = VT_I4;
            V_I4(&out) = -70000;
        } else if (kind == L"i8") {
            V_VT(&out) = VT_I8;
            V_I8(&out) = 9000000000LL;
        } else if (kind == L"int") {
            V_VT(&out) = VT_INT;
            V_INT(&out) = 42;
        } else if (kind == L"ui1") {
            V_VT(&out) = VT_UI1;
            V_UI1(&out) = 200;
        } else if (kind == L"ui2") {
            V_VT(&out) = VT_UI2;
            V_UI2(&out) = 60000;
        } else if (kind == L"ui4") {
            V_VT(&out) = VT_UI4;
            V_UI4(&out) = 4000000000U;
        } else if (kind == L"uint") {
            V_VT(&out) = VT_UINT;
            V_UINT(&out) = 7;
        } else if (kind == L"ui8") {
            V_VT(&out) = VT_UI8;
            V_UI8(&out) = 18000000000000000000ULL;
        } else if (kind == L"r4") {
            V_VT(&out) = VT_R4;
            V_R4(&out) = 2.5F;
        } else if (kind == L"r8") {
            V_VT(&out) = VT_R8;
            V_R8(&out) = -72.25;
        } else if (kind == L"cy") {
            V_VT(&out) = VT_CY;
            V_CY(&out).int64 = 123456;  // 12.3456
        } else if (kind == L"date") {
            V_VT(&out) = VT_DATE;
            V_DATE(&out) = 45358 + 32700.0 / 86400;  // 07/03/2024 09:05:00
        } else if (kind == L"data_zero") {
            V_VT(&out) = VT_DATE;
            V_DATE(&out) = 0;
        } else if (kind == L"data_negativa") {
            V_VT(&out) = VT_DATE;
            V_DATE(&out) = -1.25;  // the day before the zero day, 06:00
        } else if (kind == L"bool_vero") {
            V_VT(&out) = VT_BOOL;
            V_BOOL(&out) = VARIANT_TRUE;
        } else if (kind == L"bool_falso") {
            V_VT(&out) = VT_BOOL;
            V_BOOL(&out) = VARIANT_FALSE;
        } else if (kind == L"null") {
            V_VT(&out) = VT_NULL;
        } else if (kind == L"empty") {
            V_VT(&out) = VT_EMPTY;
        } else if (kind == L"mancante") {
            V_VT(&out) = VT_ERROR;
            V_ERROR(&out) = DISP_E_PARAMNOTFOUND;
        } else if (kind == L"rif_i4") {
            V_VT(&out) = VT_BYREF | VT_I4;
            V_I4REF(&out) = &referencedNumber;
        } else if (kind == L"rif_bstr") {
            V_VT(&out) = VT_BYREF | VT_BSTR;
            V_BSTRREF(&out) = &referencedText;
        } else if (kind == L"oggetto") {
            V_VT(&out) = VT_DISPATCH;
            V_DISPATCH(&out) = this;
            AddRef();
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        return S_OK;
    }

    ULONG references_ = 1;
};

WideTexts TestServer::calls;

class TestFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* server = new TestServer;
        const HRESULT hr = server->QueryInterface(iid, out);
        server->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// A ProgID mapped to a CLSID for the current user, the way an installation
// without administrator rights registers its server. Wine's COM reads only
// the machine's classes, so where the user's mapping is not seen, the
// mapping goes there too; both are removed afterwards.
class ProgIdMapping {
  public:
    ProgIdMapping(const wchar_t* progId, const wchar_t* clsid) : progId_(progId) {
        write(HKEY_CURRENT_USER, L"Software\\Classes\\" + progId_, clsid);
        CLSID found{};
        if (FAILED(::CLSIDFromProgID(progId, &found))) {
            write(HKEY_CLASSES_ROOT, progId_, clsid);
            machine_ = true;
        }
    }
    ~ProgIdMapping() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + progId_).c_str());
        if (machine_) {
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, progId_.c_str());
        }
    }
    ProgIdMapping(const ProgIdMapping&) = delete;
    ProgIdMapping& operator=(const ProgIdMapping&) = delete;

  private:
    static void write(HKEY root, const std::wstring& key, const wchar_t* clsid) {
        const LSTATUS status =
            ::RegSetKeyValueW(root, (key + L"\\CLSID").c_str(), nullptr, REG_SZ, clsid,
                              static_cast<DWORD>((std::wcslen(clsid) + 1) * sizeof(wchar_t)));
        ASSERT_EQ(status, ERROR_SUCCESS) << "ProgID non scritto";
    }

    std::wstring progId_;
    bool machine_ = false;
};

class AutomationComTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(::CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                          &cookie),
                  S_OK);
        mapping = new ProgIdMapping(kProgId, kClsidText);
        mappingWithoutServer = new ProgIdMapping(kProgIdWithoutServer, kClsidWithoutServerText);
    }
    static void TearDownTestSuite() {
        delete mappingWithoutServer;
        delete mapping;
        ::CoRevokeClassObject(cookie);
    }
    void SetUp() override { TestServer::calls.clear(); }

    static std::shared_ptr<Object> server() { return createObject("KvtProva.Server"); }

    static inline TestFactory factory;
    static inline DWORD cookie = 0;
    static inline ProgIdMapping* mapping = nullptr;
    static inline ProgIdMapping* mappingWithoutServer = nullptr;
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "<nessun errore>";
}

TEST_F(AutomationComTest, ArgumentsReachTheServerInOrderAsTheirVariants) {
    const Variant answer = server()->call(
        "descrivi", {Variant::text("Citt\u00e0 \u2713"), Variant::integer(7),
                     Variant::integer(-2147483648LL), Variant::integer(2147483648LL),
                     Variant::floating(2.5), Variant::date({2024, 3, 7, 9, 5, 0}),
                     Variant::date({}), Variant::boolean(true), Variant::boolean(false),
                     Variant::null(), Variant(), Variant::missing(), Variant::text("")});
    EXPECT_EQ(answer.kind(), Variant::Kind::Integer);
    EXPECT_EQ(answer.asInteger(), 13);
    EXPECT_EQ(TestServer::calls,
              WideTexts{L"descrivi(BSTR:Citt\u00e0 \u2713, I4:7, I4:-2147483648, I8:2147483648, "
                        L"R8:2.5, DATE:45358.378472, DATE:0.000000, BOOL:-1, BOOL:0, NULL, "
                        L"EMPTY, ERROR:0x80020004, BSTR:)"});
}

TEST_F(AutomationComTest, ResultsOfEveryKindBecomeTheCoreValues) {
    const auto give = [](const char* kind) { return server()->call("dai", {Variant::text(kind)}); };
    EXPECT_EQ(give("bstr").asText(), "Citt\u00e0 \u2713 \"x\"");
    EXPECT_EQ(give("bstr_nullo").asText(), "");
    const std::map<const char*, std::int64_t> integers = {
        {"i1", -5},   {"i2", -300},   {"i4", -70000},        {"i8", 9000000000LL}, {"int", 42},
        {"ui1", 200}, {"ui2", 60000}, {"ui4", 4000000000LL}, {"uint", 7},          {"rif_i4", 1234},
    };
    for (const auto& [kind, value] : integers) {
        const Variant result = give(kind);
        ASSERT_EQ(result.kind(), Variant::Kind::Integer) << kind;
        EXPECT_EQ(result.asInteger(), value) << kind;
    }
    EXPECT_EQ(give("ui8").asFloating(), 18000000000000000000.0);
    EXPECT_EQ(give("r4").asFloating(), 2.5);
    EXPECT_EQ(give("r8").asFloating(), -72.25);
    EXPECT_NEAR(give("cy").asFloating(), 12.3456, 1e-12);
    EXPECT_EQ(give("date").asDate(), (Date{2024, 3, 7, 9, 5, 0}));
    EXPECT_EQ(give("data_zero").asDate(), Date{});
    EXPECT_EQ(give("data_negativa").asDate(), (Date{1899, 12, 29, 6, 0, 0}));
    EXPECT_TRUE(give("bool_vero").asBoolean());
    EXPECT_FALSE(give("bool_falso").asBoolean());
    EXPECT_TRUE(give("null").isNull());
    EXPECT_TRUE(give("empty").isEmpty());
    EXPECT_TRUE(give("mancante").isMissing());
    EXPECT_EQ(give("rif_bstr").asText(), "per riferimento");
    // No kind of the core holds an object: it reads as a null answer.
    EXPECT_TRUE(give("oggetto").isNull());
}

TEST_F(AutomationComTest, AFailedCallIsAProgramErrorWithTheServersText) {
    const auto object = server();
    EXPECT_EQ(errorOf([&] { object->call("fallisci", {}); }), "Filtro sconosciuto: \u00e8");
    EXPECT_NE(errorOf([&] { object->call("fallisci_senza_testo", {}); }).find("(0x80070005)"),
              std::string::npos);
    const std::string failed = errorOf([&] { object->call("fallisci_hresult", {}); });
    EXPECT_EQ(failed.rfind("fallisci_hresult: ", 0), 0U) << failed;
    EXPECT_NE(failed.find("(0x80004005)"), std::string::npos) << failed;
    const std::string unknown = errorOf([&] { object->call("inesistente", {}); });
    EXPECT_EQ(unknown.rfind("inesistente: ", 0), 0U) << unknown;
    EXPECT_NE(unknown.find("(0x80020006)"), std::string::npos) << unknown;
    // The server refusing an argument: which one, counted from the first.
    const std::string refused = errorOf([&] { object->call("dai", {Variant::text("?")}); });
    EXPECT_NE(refused.find("(0x80020005)"), std::string::npos) << refused;
}

TEST_F(AutomationComTest, ClassesAreTheProcessTableFirstThenComProgIds) {
    EXPECT_EQ(errorOf([] { createObject("KvtProva.Assente"); }),
              "Stringa di classe non valida: KvtProva.Assente");
    const std::string unregistered = errorOf([] { createObject("KvtProva.SenzaServer"); });
    EXPECT_EQ(unregistered.rfind("Impossibile creare l'oggetto KvtProva.SenzaServer: ", 0), 0U)
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
        point("KvtProva.Server");
        adapter.utente = "mrossi";
        adapter.password = "segreto";
    }
    void TearDown() override {
        adapter.stop();
        registerClass("Vellodoc.Server", previous);
        setWindowing(nullptr);
    }
    void point(std::string progId) {
        const Factory factory =
            registerClass("Vellodoc.Server", [progId] { return createObject(progId); });
        if (!pointed) {
            previous = factory;
            pointed = true;
        }
    }

    RecordingWindowing windows;
    Tvellopat adapter;
    Factory previous;
    bool pointed = false;
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
