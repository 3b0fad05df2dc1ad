// The field writer: every value of the record passes through controllaCampo,
// which turns the host's text into what the upload format expects for the
// field's kind and length and notes an empty mandatory value.
#include <algorithm>
#include <stdexcept>

#include "common/date_time.h"
#include "common/general_functions.h"
#include "common/utf.h"
#include "record/testi.h"
#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

constexpr std::string_view kObbligatorio = "OBL_";
// Mandatory result elements that are written "(mancante)" instead of failing the record.
constexpr std::string_view kElementiRisultato =
    "trxDataEsecuzione;trxDexRisultato;trxEsito;trxUnitaMisura";
constexpr std::string_view kCrLf = "\r\n";
// Characters of a value quoted in a warning: twice the longest field.
constexpr std::size_t kCaratteriAvviso = 200;

bool bloccoOBianco(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view senzaBianchi(std::string_view testo) {
    while (!testo.empty() && bloccoOBianco(testo.front())) {
        testo.remove_prefix(1);
    }
    while (!testo.empty() && bloccoOBianco(testo.back())) {
        testo.remove_suffix(1);
    }
    return testo;
}

// The text as valid UTF-8: a byte that does not belong to a UTF-8 sequence
// is taken as the Latin-1 character it would be in the host's code page, so
// that no host value can make the upload file malformed. U+FFFE and U+FFFF
// are UTF-8 but no XML character: they become blanks, as control characters do.
std::string utf8Valido(std::string_view testo) {
    const bool soloAscii =
        std::all_of(testo.begin(), testo.end(), [](char c) { return (c & 0x80) == 0; });
    if (soloAscii) {
        return std::string(testo);
    }
    const std::string valido = utf16ToUtf8(utf8ToUtf16(testo));
    std::string risultato;
    risultato.reserve(valido.size());
    for (std::size_t i = 0; i < valido.size(); ++i) {
        if (valido[i] == '\xEF' && i + 2 < valido.size() && valido[i + 1] == '\xBF' &&
            (valido[i + 2] == '\xBE' || valido[i + 2] == '\xBF')) {
            risultato += ' ';
            i += 2;
        } else {
            risultato += valido[i];
        }
    }
    return risultato;
}

bool continuazione(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Lengths and cuts count characters, not bytes: a cut never splits one.
std::size_t caratteri(std::string_view testo) {
    return static_cast<std::size_t>(
        std::count_if(testo.begin(), testo.end(), [](char c) { return !continuazione(c); }));
}

// Byte offset of the character at `indice` (from 0), or the text's end.
std::size_t offsetCarattere(std::string_view testo, std::size_t indice) {
    std::size_t i = 0;
    for (std::size_t visti = 0; i < testo.size(); ++i) {
        if (!continuazione(testo[i])) {
            if (visti == indice) {
                return i;
            }
            ++visti;
        }
    }
    return testo.size();
}

// `quanti` characters from the character `primo` (counted from 1), as far as
// the text goes.
std::string_view copia(std::string_view testo, std::size_t primo, std::size_t quanti) {
    const std::size_t inizio = offsetCarattere(testo, primo - 1);
    const std::size_t fine = offsetCarattere(testo, primo - 1 + quanti);
    return testo.substr(inizio, fine - inizio);
}

bool cifre(std::string_view testo) {
    return !testo.empty() &&
           std::all_of(testo.begin(), testo.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A year-month-day date (any separators) of a real day: what the DATE kind
// can turn into day/month/year.
bool dataLeggibile(std::string_view testo) {
    if (testo.size() < 10 || !cifre(testo.substr(0, 4)) || !cifre(testo.substr(5, 2)) ||
        !cifre(testo.substr(8, 2))) {
        return false;
    }
    const auto numero = [&](std::size_t da, std::size_t quanti) {
        return std::stoi(std::string(testo.substr(da, quanti)));
    };
    return DateTime::isValidDate(numero(0, 4), numero(5, 2), numero(8, 2));
}

std::string comeBooleano(std::string_view maiuscolo, bool& capito) {
    capito = true;
    if (maiuscolo == "0" || maiuscolo == "F" || maiuscolo == "FALSE") {
        return "N";
    }
    if (maiuscolo == "1" || maiuscolo == "T" || maiuscolo == "TRUE") {
        return "S";
    }
    capito = false;
    return "N";
}

}  // namespace

std::string maiuscoloAscii(std::string_view testo) {
    std::string risultato(testo);
    for (char& c : risultato) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return risultato;
}

XmlNode TldCreaNodo::creaNodo(std::string_view elemento, std::string_view valore,
                              std::string_view tipo, int lunghezza) {
    XmlNode nodo = documento.createElement(elemento);
    const std::string testo = controllaCampo(elemento, valore, tipo, lunghezza);
    if (!testo.empty()) {
        nodo.setText(testo);
    }
    return nodo;
}

XmlNode TldCreaNodo::creaNodoAttributo(std::string_view elemento, std::string_view attributo,
                                       std::string_view valore) {
    XmlNode nodo = documento.createElement(elemento);
    nodo.setAttribute(attributo, valore);
    return nodo;
}

std::string TldCreaNodo::controllaCampo(std::string_view elemento, std::string_view valore,
                                        std::string_view tipo, int lunghezza) {
    std::string_view base = tipo;
    bool obbligatorio = false;
    if (const auto p = tipo.find(kObbligatorio); p != std::string_view::npos) {
        obbligatorio = p == 0;
        base = tipo.substr(p + kObbligatorio.size());
    }

    const std::string testo = utf8Valido(senzaBianchi(valore));
    if (testo.empty()) {
        if (!obbligatorio) {
            return {};
        }
        if (kElementiRisultato.find(elemento) != std::string_view::npos) {
            return "(mancante)";
        }
        testoErrori += "ERR_OBL: Campo obbligatorio vuoto: <";
        testoErrori += elemento;
        testoErrori += ">";
        testoErrori += kCrLf;
        return {};
    }

    const auto citazione = [](std::string_view valoreAvviso) {
        // A value far beyond any field's length is quoted by its start: a
        // host text of megabytes must not be held, nor logged, once more.
        if (caratteri(valoreAvviso) > kCaratteriAvviso) {
            return std::string(copia(valoreAvviso, 1, kCaratteriAvviso)) + "...";
        }
        return std::string(valoreAvviso);
    };
    const auto annota = [&](std::string_view valoreAvviso) {
        avvisi.push_back(
            {std::string(elemento), citazione(valoreAvviso), std::string(base), lunghezza});
    };
    const auto avviso = [&](std::string_view valoreAvviso) {
        annota(valoreAvviso);
        testoAvvisi += kCrLf;
        testoAvvisi += "Nome:";
        testoAvvisi += elemento;
        testoAvvisi += " Valore:";
        testoAvvisi += avvisi.back().valore;
        testoAvvisi += " Tipo:";
        testoAvvisi += base;
        testoAvvisi += " Atteso:";
        testoAvvisi += std::to_string(lunghezza);
    };
    const std::size_t attesi = lunghezza > 0 ? static_cast<std::size_t>(lunghezza) : 0;

    std::string risultato;
    if (base == "AN") {
        if (caratteri(testo) > attesi) {
            avviso(testo);
            risultato = copia(testo, 1, attesi);
        } else {
            risultato = testo;
        }
    } else if (base == "ANF") {
        if (caratteri(testo) != attesi) {
            avviso(testo);
        }
        risultato = testo;
    } else if (base == "DATE") {
        if (!dataLeggibile(testo)) {
            annota(testo);
        }
        // Year-month-day in, day/month/year out; any time after it is dropped.
        risultato = std::string(copia(testo, 9, 2)) + "/" + std::string(copia(testo, 6, 2)) + "/" +
                    std::string(copia(testo, 1, 4));
    } else if (base == "B") {
        const std::string maiuscolo = maiuscoloAscii(testo);
        bool capito = false;
        risultato = comeBooleano(maiuscolo, capito);
        if (!capito) {
            avviso(maiuscolo);
        }
    } else if (base == "NUM") {
        risultato = normalizzaNumero(testo, true);
    } else if (base == "DEC") {
        risultato = normalizzaNumero(testo, false);
    } else {
        risultato = testo;
    }
    return pulisciControlli(risultato);
}

std::string TldCreaNodo::leggiAttributoPaziente(const std::string& attributo) {
    return host.leggi_attributo(attributo);
}

std::string TldCreaNodo::leggiAttributoRiga(const std::string& colonna, const std::string& handle) {
    return host.call_method_pipe(handle, "leggi_attributo", colonna);
}

std::string TldCreaNodo::dammiDataPrescrizione(const std::string& handle) {
    std::string data = leggiAttributoRiga("data_richiesta", handle);
    if (data.empty()) {
        data = leggiAttributoRiga("data_esecuzione_presunta", handle);
    }
    return data;
}

std::string TldCreaNodo::dammiTipoPrescrizione(std::string_view tipo, std::string_view tariffa) {
    constexpr std::string_view kTariffeEscluse = "VD_1946;VD_1935;VD_2609";
    const std::string codice = maiuscoloAscii(tipo);
    if (codice == "_VD" || codice == "EO" || codice == "FAM" || codice == "RIC") {
        return {};
    }
    if (!tariffa.empty() && kTariffeEscluse.find(tariffa) != std::string_view::npos) {
        return {};
    }
    if (codice == "L" || codice == "00" || codice == "_SG") {
        return "lab";
    }
    if (tariffa.find("89.7") != std::string_view::npos ||
        tariffa.find("89.01") != std::string_view::npos) {
        return "spe";
    }
    return "str";
}

void TldCreaNodo::scriviCampi(XmlNode padre, std::span<const Campo> campi,
                              const LettoreCampo& leggi) {
    for (const Campo& campo : campi) {
        if (campo.condizione == Condizione::NonInVariazioni && modalita == 1) {
            continue;
        }
        const std::string valore = campo.fonte == Fonte::Vuoto ? std::string() : leggi(campo);
        padre.appendChild(creaNodo(campo.elemento, valore, campo.tipo, campo.lunghezza));
    }
}

LettoreCampo TldCreaNodo::lettoreRiga(const std::string& handle,
                                      std::vector<ValoreCalcolato> valori) {
    return [this, handle, valori = std::move(valori)](const Campo& campo) -> std::string {
        if (campo.fonte == Fonte::Host) {
            return leggiAttributoRiga(std::string(campo.sorgente), handle);
        }
        for (const ValoreCalcolato& valore : valori) {
            if (valore.nome == campo.sorgente) {
                return valore.testo;
            }
        }
        throw std::logic_error("valore non calcolato: " + std::string(campo.sorgente));
    };
}

}  // namespace kvt
