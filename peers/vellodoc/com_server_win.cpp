// "Vellodoc.Server" as a COM class: the host stand-in found by its ProgID as
// an office's host is, served in process (vellodoc_server.dll, whose entry
// points are here) or from a process of its own (vellodoc_server.exe). Each COM object
// wraps one server object of vellodoc_server.cpp and answers IDispatch:
// GetIDsOfNames numbers the host methods, Invoke hands the VARIANT arguments
// to the stand-in as automation values and its answer back as a VARIANT (the
// conversions of the automation seam, host/com_variant.h). A failure of the
// stand-in is DISP_E_EXCEPTION with its message as the description.
//
// regsvr32 registers it for the current user (HKCU\Software\Classes), which
// needs no administrator; "regsvr32 /n /i:machine" registers it for every
// user (HKLM\Software\Classes) where the system's class lookup does not read
// the user's classes.
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "common/win32.h"
#include "host/automation.h"
#include "host/com_variant.h"
#include "peers/vellodoc/com_server_win.h"
#include "peers/vellodoc/vellodoc_server.h"

extern "C" {
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object);
STDAPI DllCanUnloadNow(void);
STDAPI DllRegisterServer(void);
STDAPI DllUnregisterServer(void);
STDAPI DllInstall(BOOL install, LPCWSTR commandLine);
}

namespace kvt::vellodoc {
namespace {

using com::kClsid;
constexpr wchar_t kClsidText[] = L"{B8B61307-114F-4B38-A9D5-AB99729DB972}";
constexpr wchar_t kProgId[] = L"Vellodoc.Server";

// Objects and server locks alive: the DLL may be unloaded, the local server
// may end, when both are zero.
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};
// Of those locks, the ones taken by LockServer (the rest are references to
// the factory, which COM itself holds while the local server offers it).
std::atomic<long> explicitLocks{0};
void (*whenUnused)() = nullptr;

void releasedOne() {
    if (liveObjects == 0 && explicitLocks == 0 && whenUnused) {
        whenUnused();
    }
}

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

BSTR bstr(std::string_view utf8) {
    const std::wstring text = win32::wide(utf8);
    return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// QueryInterface of an object with one interface besides IUnknown.
template <typename Interface>
HRESULT queryInterface(Interface* self, REFIID own, REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == own) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

class HostObject final : public IDispatch {
  public:
    explicit HostObject(std::shared_ptr<automation::Object> server)
        : server_(std::move(server)), names_(methodNames()) {
        ++liveObjects;
    }
    ~HostObject() {
        --liveObjects;
        releasedOne();
    }
    HostObject(const HostObject&) = delete;
    HostObject& operator=(const HostObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return queryInterface<IDispatch>(this, IID_IDispatch, iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // No type library: the host is driven by name only.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) {
            *info = nullptr;
        }
        return DISP_E_BADINDEX;
    }

    // A method's number is its place in the stand-in's list, from 1; names
    // compare without case, as automation clients expect. The methods take
    // no named arguments.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (iid != IID_NULL) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        if (!names || !ids || count == 0) {
            return E_INVALIDARG;
        }
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
        }
        const std::string name = names[0] ? win32::narrow(names[0]) : std::string();
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (sameNameIgnoringCase(names_[i], name)) {
                ids[0] = static_cast<DISPID>(i + 1);
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* wrongArgument) override {
        if (iid != IID_NULL) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        if (id < 1 || static_cast<std::size_t>(id) > names_.size()) {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (parameters && parameters->cNamedArgs > 0) {
            return DISP_E_NONAMEDARGS;
        }
        if (parameters && parameters->cArgs > 0 && !parameters->rgvarg) {
            return E_INVALIDARG;
        }
        try {
            // Invoke holds the arguments last first.
            automation::Arguments arguments;
            const UINT count = parameters ? parameters->cArgs : 0;
            for (UINT i = 0; i < count; ++i) {
                try {
                    arguments.push_back(automation::fromVariant(parameters->rgvarg[count - 1 - i]));
                } catch (const Error&) {
                    if (wrongArgument) {
                        *wrongArgument = count - 1 - i;
                    }
                    return DISP_E_TYPEMISMATCH;
                }
            }
            const automation::Variant answer = server_->call(names_[id - 1], arguments);
            if (result) {
                ::VariantInit(result);
                automation::toVariant(answer, *result);
            }
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const CallRefused& refused) {
            // Busy: the call did not run, as a client without a message
            // filter hears from a host whose window is modal.
            return refused.later() ? RPC_E_SERVERCALL_RETRYLATER : RPC_E_CALL_REJECTED;
        } catch (const HostPerso&) {
            // A host gone while in this process: what a client hears from
            // an object whose server went away.
            return RPC_E_DISCONNECTED;
        } catch (const std::exception& e) {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->bstrSource = ::SysAllocString(kProgId);
                exception->bstrDescription = bstr(e.what());
                exception->scode = E_FAIL;
            }
            return DISP_E_EXCEPTION;
        }
    }

  private:
    std::atomic<ULONG> references_{1};
    std::shared_ptr<automation::Object> server_;
    std::vector<std::string_view> names_;
};

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return queryInterface<IClassFactory>(this, IID_IClassFactory, iid, object);
    }
    // One factory for the life of the DLL; its references count as locks.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++serverLocks + 1); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--serverLocks + 1); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        try {
            // The counters go to KVT_STANDIN_STATS when the host's process
            // ends, as they do from the Linux program.
            static const bool statsArranged = (writeCountersAtExit(), true);
            (void)statsArranged;
            // A busy host's refusals reach the client as COM's own answers.
            static const bool refusals = (setProcessFaults({{}, {}, true}), true);
            (void)refusals;
            auto* host = new HostObject(createServer());
            const HRESULT hr = host->QueryInterface(iid, object);
            host->Release();
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const std::exception&) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++serverLocks;
            ++explicitLocks;
        } else {
            --serverLocks;
            --explicitLocks;
            releasedOne();
        }
        return S_OK;
    }
};

ClassFactory factory;

// The full path of this DLL, whoever loaded it.
std::wstring modulePath() {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&modulePath), &self)) {
        return {};
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

LSTATUS setText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    return ::RegSetKeyValueW(root, key.c_str(), name, REG_SZ, text.c_str(),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

const std::wstring kProgIdKey = std::wstring(L"Software\\Classes\\") + kProgId;
const std::wstring kClsidKey = std::wstring(L"Software\\Classes\\CLSID\\") + kClsidText;

}  // namespace

namespace com {

IClassFactory& classFactory() {
    return factory;
}

void setWhenUnused(void (*callback)()) {
    whenUnused = callback;
}

HRESULT unregisterFrom(HKEY root) {
    for (const std::wstring& key : {kProgIdKey, kClsidKey}) {
        const LSTATUS status = ::RegDeleteTreeW(root, key.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return HRESULT_FROM_WIN32(status);
        }
    }
    return S_OK;
}

// The ProgID with its class, the class with its ProgID and this module: the
// DLL with its threading model, or the program's quoted path.
HRESULT registerUnder(HKEY root, Form form) {
    const std::wstring path = modulePath();
    if (path.empty()) {
        return SELFREG_E_CLASS;
    }
    const HRESULT cleared = unregisterFrom(root);
    if (FAILED(cleared)) {
        return cleared;
    }
    const std::wstring inproc = kClsidKey + L"\\InprocServer32";
    const std::wstring local = kClsidKey + L"\\LocalServer32";
    const bool dll = form == Form::InProcess;
    for (const LSTATUS status : {
             setText(root, kProgIdKey, nullptr, kProgId),
             setText(root, kProgIdKey + L"\\CLSID", nullptr, kClsidText),
             setText(root, kClsidKey, nullptr, kProgId),
             setText(root, kClsidKey + L"\\ProgID", nullptr, kProgId),
             dll ? setText(root, inproc, nullptr, path)
                 : setText(root, local, nullptr, L"\"" + path + L"\""),
             dll ? setText(root, inproc, L"ThreadingModel", L"Apartment") : ERROR_SUCCESS,
         }) {
        if (status != ERROR_SUCCESS) {
            unregisterFrom(root);
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

}  // namespace com
}  // namespace kvt::vellodoc

using namespace kvt::vellodoc;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (clsid != kClsid) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow(void) {
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer(void) {
    return com::registerUnder(HKEY_CURRENT_USER, com::Form::InProcess);
}

STDAPI DllUnregisterServer(void) {
    return com::unregisterFrom(HKEY_CURRENT_USER);
}

// regsvr32 [/u] /n /i:machine (every user) or /i:user (as DllRegisterServer).
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    const std::wstring_view scope = commandLine ? commandLine : L"";
    HKEY root = nullptr;
    if (scope.empty() || ::lstrcmpiW(commandLine, L"user") == 0) {
        root = HKEY_CURRENT_USER;
    } else if (::lstrcmpiW(commandLine, L"machine") == 0) {
        root = HKEY_LOCAL_MACHINE;
    } else {
        return E_INVALIDARG;
    }
    return install ? com::registerUnder(root, com::Form::InProcess) : com::unregisterFrom(root);
}
