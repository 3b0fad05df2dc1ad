// The DTD check with MSXML's validating parser, through COM. The DTD's text is
// read once; each document's DOCTYPE is replaced by one whose internal subset
// is that text, so the parser never resolves anything outside the document,
// and the document is loaded from memory with validation on.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
// After windows.h, which it needs.
#include <msxml2.h>

#include <algorithm>

#include "common/validazione_dtd.h"
#include "common/win32.h"

namespace kvt {
namespace {

using namespace validazione_dtd;

// The system headers do not carry these identifiers for every version.
constexpr CLSID kDomDocument60 = {
    0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr CLSID kDomDocument30 = {
    0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID kIXmlDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// COM on the calling thread for one check: the program's windows thread has
// it already (and keeps it); a thread without it gets it for the check only.
class ComPerIlControllo {
  public:
    ComPerIlControllo() {
        const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // S_FALSE too adds one to the thread's count, RPC_E_CHANGED_MODE
        // (a multithreaded thread) does not.
        iniziato_ = SUCCEEDED(hr);
        disponibile_ = iniziato_ || hr == RPC_E_CHANGED_MODE;
    }
    ~ComPerIlControllo() {
        if (iniziato_) {
            ::CoUninitialize();
        }
    }
    ComPerIlControllo(const ComPerIlControllo&) = delete;
    ComPerIlControllo& operator=(const ComPerIlControllo&) = delete;
    bool disponibile() const { return disponibile_; }

  private:
    bool iniziato_ = false;
    bool disponibile_ = false;
};

template <typename T>
struct Rilascia {
    void operator()(T* oggetto) const { oggetto->Release(); }
};
template <typename T>
using Com = std::unique_ptr<T, Rilascia<T>>;

struct Bstr {
    explicit Bstr(std::wstring_view testo)
        : valore(::SysAllocStringLen(testo.data(), static_cast<UINT>(testo.size()))) {}
    Bstr() = default;
    ~Bstr() { ::SysFreeString(valore); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    std::string utf8() const {
        return valore ? win32::narrow(std::wstring_view(valore, ::SysStringLen(valore))) : "";
    }
    BSTR valore = nullptr;
};

std::string codice(HRESULT hr) {
    char testo[16];
    std::snprintf(testo, sizeof testo, "0x%08lX", static_cast<unsigned long>(hr));
    return testo;
}

// What a load gave: whether the document came in (well-formed and, with
// validation on, valid), else the parser's reason and line.
struct Caricamento {
    bool riuscito = false;
    std::string errore;
    std::string motivo;
    long riga = 0;
    bool malformato = false;  // not well-formed, rather than not valid
};

// MSXML's well-formedness codes (0xC00CE5xx, and 0xC00CEExx from the newer
// parser); Wine's parser gives E_FAIL, and only for those faults, since it
// does not validate while loading.
bool erroreDiForma(long numero) {
    const auto codice = static_cast<unsigned long>(numero);
    return (codice & 0xFFFFFF00UL) == 0xC00CE500UL || (codice & 0xFFFFFF00UL) == 0xC00CEE00UL ||
           codice == static_cast<unsigned long>(E_FAIL);
}

// A parser document set up to take its DTD from its internal subset only.
Com<IXMLDOMDocument2> nuovoDocumento(bool convalida, std::string& errore) {
    IXMLDOMDocument2* documento = nullptr;
    bool sei = true;
    HRESULT hr = ::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER,
                                    kIXmlDomDocument2, reinterpret_cast<void**>(&documento));
    if (FAILED(hr)) {
        sei = false;
        hr = ::CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIXmlDomDocument2,
                                reinterpret_cast<void**>(&documento));
    }
    if (FAILED(hr) || !documento) {
        errore = "MSXML non disponibile (" + codice(hr) + ")";
        return nullptr;
    }
    Com<IXMLDOMDocument2> pronto(documento);
    pronto->put_async(VARIANT_FALSE);
    pronto->put_resolveExternals(VARIANT_FALSE);
    pronto->put_validateOnParse(convalida ? VARIANT_TRUE : VARIANT_FALSE);
    if (sei) {
        // MSXML 6 refuses every DOCTYPE unless told otherwise.
        Bstr nome(L"ProhibitDTD");
        VARIANT falso;
        ::VariantInit(&falso);
        V_VT(&falso) = VT_BOOL;
        V_BOOL(&falso) = VARIANT_FALSE;
        hr = pronto->setProperty(nome.valore, falso);
        if (FAILED(hr)) {
            errore = "MSXML: DTD non ammesse (" + codice(hr) + ")";
            return nullptr;
        }
    }
    return pronto;
}

// The parser's account of a failed load or validation.
void leggiErrore(IXMLDOMParseError* errore, HRESULT hr, Caricamento& esito) {
    if (!errore) {
        esito.motivo = "errore " + codice(hr);
        return;
    }
    Com<IXMLDOMParseError> conErrore(errore);
    Bstr ragione;
    conErrore->get_reason(&ragione.valore);
    conErrore->get_line(&esito.riga);
    long numero = 0;
    conErrore->get_errorCode(&numero);
    esito.malformato = erroreDiForma(numero);
    esito.motivo = ragione.utf8();
    if (esito.motivo.empty()) {
        // Some implementations give only the code.
        esito.motivo = "nessun dettaglio dal parser (codice " +
                       codice(numero ? static_cast<HRESULT>(numero) : hr) + ")";
    }
}

// Loads the text; with `convalida` the document must also prove valid. Some
// MSXML implementations take validateOnParse as a setting only and check
// nothing while loading, so the loaded document is also validated
// explicitly: it counts as valid only when that validation said so.
Caricamento carica(const std::wstring& testo, bool convalida) {
    Caricamento esito;
    Com<IXMLDOMDocument2> documento = nuovoDocumento(convalida, esito.errore);
    if (!documento) {
        return esito;
    }
    Bstr xml(testo);
    VARIANT_BOOL caricato = VARIANT_FALSE;
    HRESULT hr = documento->loadXML(xml.valore, &caricato);
    IXMLDOMParseError* errore = nullptr;
    if (FAILED(hr) || caricato != VARIANT_TRUE) {
        documento->get_parseError(&errore);
        leggiErrore(errore, hr, esito);
        return esito;
    }
    if (!convalida) {
        esito.riuscito = true;
        return esito;
    }
    hr = documento->validate(&errore);
    if (hr == S_OK) {
        if (errore) {
            errore->Release();
        }
        esito.riuscito = true;
    } else if (hr == S_FALSE) {
        leggiErrore(errore, hr, esito);
    } else {
        if (errore) {
            errore->Release();
        }
        esito.errore = "convalida non disponibile (" + codice(hr) + ")";
    }
    return esito;
}

std::string conRiga(std::string premessa, long riga) {
    return riga > 0 ? premessa + " (riga " + std::to_string(riga) + ")" : premessa;
}

}  // namespace

struct ValidatoreDtd::Stato {
    bool pronto = false;
    std::string motivoDtd;
    std::wstring dtd;  // the internal subset every document gets
};

ValidatoreDtd::ValidatoreDtd(const std::string& fileDtd) : stato_(std::make_unique<Stato>()) {
    const TestoDtd letto = leggiDtd(fileDtd);
    if (!letto.letto) {
        stato_->motivoDtd = letto.motivo;
        return;
    }
    stato_->dtd = win32::wide(letto.testo);
    // The DTD's own syntax, checked once: a document of one element that it
    // need not declare, loaded without validation.
    ComPerIlControllo com;
    if (!com.disponibile()) {
        stato_->motivoDtd = "COM non disponibile: DTD non verificabile";
        return;
    }
    const Caricamento prova = carica(L"<!DOCTYPE x [" + stato_->dtd + L"]><x/>", false);
    if (!prova.riuscito) {
        stato_->motivoDtd =
            prova.errore.empty()
                ? motivoBreve(conRiga("DTD non valida: " + fileDtd, prova.riga), prova.motivo)
                : motivoBreve("DTD non verificabile: " + fileDtd, prova.errore);
        return;
    }
    stato_->pronto = true;
}

ValidatoreDtd::~ValidatoreDtd() = default;

bool ValidatoreDtd::pronto() const {
    return stato_->pronto;
}

const std::string& ValidatoreDtd::motivoDtd() const {
    return stato_->motivoDtd;
}

ValidatoreDtd::Esito ValidatoreDtd::valida(std::string_view documento) const {
    Esito esito;
    const std::optional<Doctype> doctype = doctypeDaControllare(*this, documento, esito.motivo);
    if (!doctype) {
        return esito;
    }
    const std::wstring prima = win32::wide(documento.substr(0, doctype->inizio));
    const std::wstring sostituto =
        L"<!DOCTYPE " + win32::wide(doctype->radice) + L" [" + stato_->dtd + L"]>";
    const std::string_view resto = documento.substr(doctype->fine);
    // The parser counts lines in the document it was given: those the DTD
    // brought in are taken off again.
    const auto righe = [](auto testo) { return std::count(testo.begin(), testo.end(), '\n'); };
    const long righeAggiunte = static_cast<long>(
        righe(sostituto) -
        righe(documento.substr(doctype->inizio, doctype->fine - doctype->inizio)));
    const long rigaDoctype = static_cast<long>(righe(documento.substr(0, doctype->inizio))) + 1;

    ComPerIlControllo com;
    if (!com.disponibile()) {
        esito.motivo = "COM non disponibile: verifica DTD non eseguita";
        return esito;
    }
    const Caricamento caricato = carica(prima + sostituto + win32::wide(resto), true);
    if (!caricato.errore.empty()) {
        esito.motivo = motivoBreve("verifica DTD non eseguita", caricato.errore);
        return esito;
    }
    if (!caricato.riuscito) {
        const long riga =
            caricato.riga > rigaDoctype + righeAggiunte ? caricato.riga - righeAggiunte : 0;
        esito.motivo = motivoBreve(
            conRiga(caricato.malformato ? "XML non ben formato" : "non conforme alla DTD", riga),
            caricato.motivo);
        return esito;
    }
    esito.valido = true;
    return esito;
}

}  // namespace kvt
