// Automation on Windows: COM late binding. A class that the process has not
// registered itself is a ProgID: CLSIDFromProgID, then CoCreateInstance for
// IDispatch; a call is GetIDsOfNames, then Invoke. Values cross the seam as
// VARIANTs, converted here and nowhere else.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/errors.h"
#include "common/win32.h"
#include "host/automation.h"
#include "host/class_table.h"
#include "host/com_variant.h"
#include "host/limiti_host.h"

namespace kvt::automation {
namespace {

std::string hresultText(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    return win32::errorText(static_cast<DWORD>(hr)) + " (" + code + ")";
}

// The calling thread's side of a host in a process of its own. A call the
// host refuses (busy: a modal window of its own is open) is tried again with
// a short back-off until the refusal limit; while a call waits, the window is
// repainted; a call unanswered past the waiting limit is cancelled, and the
// host then counts as lost. Only the thread's own messages reach here.
class FiltroMessaggi final : public IMessageFilter {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IMessageFilter) {
            *object = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // One filter per thread, living as long as the thread.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD trascorsi, DWORD) override {
        if (trascorsi >= static_cast<DWORD>(limitiHost().rifiuti.count())) {
            return static_cast<DWORD>(-1);
        }
        // 100 ms at first, up to a second as the refusals go on.
        return std::min<DWORD>(1000, 100 + trascorsi / 10);
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD trascorsi, DWORD) override {
        if (trascorsi >= static_cast<DWORD>(limitiHost().attesa.count())) {
            return PENDINGMSG_CANCELCALL;
        }
        // Paint only: a click or a key now would start work in the middle
        // of a host call. The wake-ups have done their work.
        MSG messaggio;
        while (::PeekMessageW(&messaggio, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) {
            ::DispatchMessageW(&messaggio);
        }
        const UINT sveglia = messaggioSveglia();
        while (::PeekMessageW(&messaggio, nullptr, sveglia, sveglia, PM_REMOVE)) {
        }
        return PENDINGMSG_WAITNOPROCESS;
    }

    // The thread's own message that wakes the wait of a call.
    static UINT messaggioSveglia() {
        static const UINT messaggio = ::RegisterWindowMessageW(L"KVT.SvegliaChiamataHost");
        return messaggio;
    }
};

// COM asks the message filter only when a message reaches the waiting
// thread. While a host call is out, a thread of its own posts one to the
// calling thread four times a second, so that a call unanswered with no
// window message coming (an unattended run) still meets its limit.
class Sveglia {
  public:
    explicit Sveglia(DWORD thread) : thread_(thread) {
        // For the process's life: it only sleeps while no call is out.
        std::thread([this] { suona(); }).detach();
    }
    void chiamataInCorso(bool inCorso) { inCorso_ = inCorso; }

  private:
    void suona() {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            if (inCorso_) {
                ::PostThreadMessageW(thread_, FiltroMessaggi::messaggioSveglia(), 0, 0);
            }
        }
    }

    const DWORD thread_;
    std::atomic<bool> inCorso_{false};
};

thread_local Sveglia* svegliaDelThread = nullptr;

// Marks a host call out on this thread for as long as it lives.
class ChiamataInCorso {
  public:
    ChiamataInCorso() {
        if (svegliaDelThread) {
            svegliaDelThread->chiamataInCorso(true);
        }
    }
    ~ChiamataInCorso() {
        if (svegliaDelThread) {
            svegliaDelThread->chiamataInCorso(false);
        }
    }
    ChiamataInCorso(const ChiamataInCorso&) = delete;
    ChiamataInCorso& operator=(const ChiamataInCorso&) = delete;
};

// COM on the calling thread, which is the thread of the windows: apartment
// threaded, once per thread and for the thread's life (objects may be
// released until the very end). A thread that someone already put in the
// multithreaded apartment stays there; COM works there too. The thread's
// message filter rides out a busy host and ends a call past the limit.
void comOnThisThread() {
    thread_local bool ready = false;
    thread_local FiltroMessaggi filtro;
    if (ready) {
        return;
    }
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
        throw Error("COM non disponibile: " + hresultText(hr));
    }
    if (hr != RPC_E_CHANGED_MODE) {
        IMessageFilter* precedente = nullptr;
        if (SUCCEEDED(::CoRegisterMessageFilter(&filtro, &precedente)) && precedente) {
            precedente->Release();
        }
        // Made once per thread, never freed: its thread may post until the end.
        svegliaDelThread = new Sveglia(::GetCurrentThreadId());
    }
    ready = true;
}

// The answers of a host that is gone or does not answer: its process ended or
// crashed, its object was disconnected, or the call was cancelled at the limit.
constexpr HRESULT kHostPerso[] = {
    HRESULT_FROM_WIN32(RPC_S_CALL_FAILED),
    HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE),
    HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
    RPC_E_DISCONNECTED,
    RPC_E_SERVER_DIED,
    RPC_E_SERVER_DIED_DNE,
    CO_E_OBJNOTCONNECTED,
    RPC_E_CALL_CANCELED,
    RPC_E_TIMEOUT,
};

// The answers of a busy host: the call did not run, so it may run again.
bool rifiutata(HRESULT hr) {
    return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER;
}

void segnalaHostPerso(HRESULT hr, std::string_view method) {
    if (std::find(std::begin(kHostPerso), std::end(kHostPerso), hr) != std::end(kHostPerso)) {
        throw HostPerso("Il programma di cartella clinica non risponde più o è stato chiuso (" +
                        std::string(method) + ": " + hresultText(hr) + ").");
    }
}

// VARIANTs that are cleared (their strings freed) when the holder goes, also
// when filling them failed half-way.
struct Variants {
    explicit Variants(std::size_t count) : items(count) {
        for (VARIANT& item : items) {
            ::VariantInit(&item);
        }
    }
    ~Variants() {
        for (VARIANT& item : items) {
            ::VariantClear(&item);
        }
    }
    Variants(const Variants&) = delete;
    Variants& operator=(const Variants&) = delete;

    std::vector<VARIANT> items;
};

// A number of any automation kind as the core's integer (VT_I8) or floating
// value (VT_R8), through the system's own conversion.
Variant numberOf(const VARIANT& value, VARTYPE type) {
    Variants number(1);
    // The system's declarations lack the const; the source is only read.
    if (FAILED(::VariantChangeType(&number.items[0], const_cast<VARIANT*>(&value), 0, type))) {
        return Variant::null();
    }
    return type == VT_I8 ? Variant::integer(V_I8(&number.items[0]))
                         : Variant::floating(V_R8(&number.items[0]));
}

}  // namespace

// Texts travel by value as BSTR: the host reads them and never hands back a
// changed argument that the program would look at.
void toVariant(const Variant& value, VARIANT& out) {
    switch (value.kind()) {
        case Variant::Kind::Empty:
            V_VT(&out) = VT_EMPTY;
            return;
        case Variant::Kind::Null:
            V_VT(&out) = VT_NULL;
            return;
        case Variant::Kind::Missing:
            V_VT(&out) = VT_ERROR;
            V_ERROR(&out) = DISP_E_PARAMNOTFOUND;
            return;
        case Variant::Kind::Text: {
            const std::wstring text = win32::wide(value.asText());
            BSTR string = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!string) {
                throw Error("Memoria insufficiente per una stringa di automazione");
            }
            V_VT(&out) = VT_BSTR;
            V_BSTR(&out) = string;
            return;
        }
        case Variant::Kind::Integer: {
            const std::int64_t number = value.asInteger();
            if (number >= std::numeric_limits<LONG>::min() &&
                number <= std::numeric_limits<LONG>::max()) {
                V_VT(&out) = VT_I4;
                V_I4(&out) = static_cast<LONG>(number);
            } else {
                V_VT(&out) = VT_I8;
                V_I8(&out) = number;
            }
            return;
        }
        case Variant::Kind::Floating:
            V_VT(&out) = VT_R8;
            V_R8(&out) = value.asFloating();
            return;
        case Variant::Kind::Date: {
            const Date& d = value.asDate();
            SYSTEMTIME time{};
            time.wYear = static_cast<WORD>(d.year);
            time.wMonth = static_cast<WORD>(d.month);
            time.wDay = static_cast<WORD>(d.day);
            time.wHour = static_cast<WORD>(d.hour);
            time.wMinute = static_cast<WORD>(d.minute);
            time.wSecond = static_cast<WORD>(d.second);
            double date = 0;
            if (!::SystemTimeToVariantTime(&time, &date)) {
                throw Error("Data non valida per l'automazione");
            }
            V_VT(&out) = VT_DATE;
            V_DATE(&out) = date;
            return;
        }
        case Variant::Kind::Boolean:
            V_VT(&out) = VT_BOOL;
            V_BOOL(&out) = value.asBoolean() ? VARIANT_TRUE : VARIANT_FALSE;
            return;
    }
}

// A value the core has no kind for (an object, an array, a date beyond the
// calendar) comes back as Null: a call whose result is not looked at still
// succeeds, and one whose result is read as text or number fails there, as
// a null answer does.
Variant fromVariant(const VARIANT& in) {
    Variants direct(1);
    const VARIANT* value = &in;
    if (V_VT(&in) & VT_BYREF) {
        // The system's declarations lack the const; the source is only read.
        const HRESULT hr = ::VariantCopyInd(&direct.items[0], const_cast<VARIANT*>(&in));
        if (FAILED(hr)) {
            throw Error("Valore di automazione non leggibile: " + hresultText(hr));
        }
        value = &direct.items[0];
    }
    switch (V_VT(value)) {
        case VT_EMPTY:
            return Variant();
        case VT_NULL:
            return Variant::null();
        case VT_BSTR: {
            const BSTR string = V_BSTR(value);
            return Variant::text(string ? win32::narrow({string, ::SysStringLen(string)}) : "");
        }
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_INT:
        case VT_I8:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UINT:
            return numberOf(*value, VT_I8);
        case VT_UI8: {
            const ULONGLONG number = V_UI8(value);
            if (number > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max())) {
                return Variant::floating(static_cast<double>(number));
            }
            return Variant::integer(static_cast<std::int64_t>(number));
        }
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DECIMAL:
            return numberOf(*value, VT_R8);
        case VT_DATE: {
            SYSTEMTIME time{};
            if (!::VariantTimeToSystemTime(V_DATE(value), &time)) {
                return Variant::null();
            }
            return Variant::date(
                {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond});
        }
        case VT_BOOL:
            return Variant::boolean(V_BOOL(value) != VARIANT_FALSE);
        case VT_ERROR:
            // The error value of automation; the omitted argument is one.
            return Variant::missing();
        default:
            return Variant::null();
    }
}

namespace {

// The server's own account of a failed call: its description, else the text
// of its error code.
std::string exceptionText(EXCEPINFO& exception) {
    if (exception.pfnDeferredFillIn) {
        exception.pfnDeferredFillIn(&exception);
    }
    std::string text;
    if (exception.bstrDescription) {
        text =
            win32::narrow({exception.bstrDescription, ::SysStringLen(exception.bstrDescription)});
    }
    if (text.empty()) {
        text = exception.scode ? hresultText(exception.scode)
                               : "eccezione del server " + std::to_string(exception.wCode);
    }
    return text;
}

void freeException(EXCEPINFO& exception) {
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
}

class DispatchObject final : public Object {
  public:
    explicit DispatchObject(IDispatch* dispatch) : dispatch_(dispatch) {}
    ~DispatchObject() override { dispatch_->Release(); }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    Variant call(std::string_view method, const Arguments& arguments) override {
        const DISPID id = dispatchId(method);

        // Invoke takes the arguments last first.
        Variants passed(arguments.size());
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            toVariant(arguments[i], passed.items[arguments.size() - 1 - i]);
        }
        DISPPARAMS parameters{passed.items.data(), nullptr, static_cast<UINT>(passed.items.size()),
                              0};
        Variants result(1);
        EXCEPINFO exception{};
        UINT wrongArgument = 0;
        HRESULT hr = S_OK;
        {
            const ChiamataInCorso inCorso;
            hr = invoke(id, method, parameters, result.items[0], exception, wrongArgument);
        }
        segnalaHostPerso(hr, method);
        if (hr == DISP_E_EXCEPTION) {
            std::string text = exceptionText(exception);
            freeException(exception);
            throw Error(text);
        }
        freeException(exception);
        if (FAILED(hr)) {
            std::string text = std::string(method) + ": " + hresultText(hr);
            if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) &&
                wrongArgument < arguments.size()) {
                text += " (argomento " + std::to_string(arguments.size() - wrongArgument) + ")";
            }
            throw Error(text);
        }
        return fromVariant(result.items[0]);
    }

  private:
    // Invoke, again while the host refuses the call.
    HRESULT invoke(DISPID id, std::string_view method, DISPPARAMS& parameters, VARIANT& result,
                   EXCEPINFO& exception, UINT& wrongArgument) {
        return conRifiuti(method, [&] {
            return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                                     DISPATCH_METHOD | DISPATCH_PROPERTYGET, &parameters, &result,
                                     &exception, &wrongArgument);
        });
    }

    // A call to the host, made again with a growing pause while the host
    // refuses it (it did not run), until the refusal limit; a host refusing
    // past it is not answering.
    template <class Chiamata>
    static HRESULT conRifiuti(std::string_view method, Chiamata&& chiamata) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point inizio = Clock::now();
        std::chrono::milliseconds pausa{10};
        for (;;) {
            const HRESULT hr = chiamata();
            if (!rifiutata(hr)) {
                return hr;
            }
            if (Clock::now() - inizio >= limitiHost().rifiuti) {
                throw HostPerso(
                    "Il programma di cartella clinica è occupato e non accetta "
                    "chiamate (" +
                    std::string(method) + ": " + hresultText(hr) + ").");
            }
            std::this_thread::sleep_for(pausa);
            pausa = std::min(pausa * 2, std::chrono::milliseconds(1000));
        }
    }

    // A method's number, asked of the object once: the host is called by the
    // same few names for every patient, and a number never changes for the
    // life of an object.
    DISPID dispatchId(std::string_view method) {
        const std::string key(method);
        if (const auto known = ids_.find(key); known != ids_.end()) {
            return known->second;
        }
        std::wstring name = win32::wide(method);
        LPOLESTR names[] = {name.data()};
        DISPID id = 0;
        const HRESULT hr = conRifiuti(method, [&] {
            return dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        });
        segnalaHostPerso(hr, method);
        if (FAILED(hr)) {
            throw Error(key + ": " + hresultText(hr));
        }
        ids_.emplace(key, id);
        return id;
    }

    IDispatch* dispatch_;
    std::unordered_map<std::string, DISPID> ids_;
};

}  // namespace

std::shared_ptr<Object> createObject(std::string_view classId) {
    if (auto object = createRegistered(classId)) {
        return object;
    }
    comOnThisThread();
    const std::wstring progId = win32::wide(classId);
    CLSID clsid{};
    if (FAILED(::CLSIDFromProgID(progId.c_str(), &clsid))) {
        throw Error("Stringa di classe non valida: " + std::string(classId));
    }
    IDispatch* dispatch = nullptr;
    const HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch,
                                          reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr) || !dispatch) {
        throw Error("Impossibile creare l'oggetto " + std::string(classId) + ": " +
                    hresultText(hr));
    }
    try {
        return std::make_shared<DispatchObject>(dispatch);
    } catch (...) {
        dispatch->Release();
        throw;
    }
}

}  // namespace kvt::automation
