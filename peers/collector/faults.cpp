#include "collector/faults.h"

#include <array>
#include <charconv>
#include <stdexcept>

namespace kvt::collector {
namespace {

struct KindInfo {
    std::string_view name;
    FaultKind kind;
    enum class Value { None, Required, Optional } value;
    long defaultValue;
    long minimum;
    long maximum;
};

constexpr std::array<KindInfo, 12> kKinds = {{
    {"refuse-patient", FaultKind::RefusePatient, KindInfo::Value::None, 0, 0, 0},
    {"refuse-request", FaultKind::RefuseRequest, KindInfo::Value::None, 0, 0, 0},
    {"delay", FaultKind::Delay, KindInfo::Value::Required, 0, 1, 3600000},
    {"drop", FaultKind::Drop, KindInfo::Value::None, 0, 0, 0},
    {"malformed", FaultKind::Malformed, KindInfo::Value::None, 0, 0, 0},
    {"no-codes", FaultKind::NoCodes, KindInfo::Value::None, 0, 0, 0},
    {"status", FaultKind::Status, KindInfo::Value::Required, 0, 400, 599},
    {"connect-status", FaultKind::ConnectStatus, KindInfo::Value::Required, 0, 400, 599},
    {"get-only", FaultKind::GetOnly, KindInfo::Value::None, 0, 0, 0},
    {"stall", FaultKind::Stall, KindInfo::Value::Optional, 60000, 1, 3600000},
    {"oversize", FaultKind::Oversize, KindInfo::Value::None, 0, 0, 0},
    {"forge-log", FaultKind::ForgeLog, KindInfo::Value::None, 0, 0, 0},
}};

template <typename T>
std::optional<T> wholeNumber(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

[[noreturn]] void refuse(std::string_view option, std::string_view reason) {
    throw std::invalid_argument("--fault " + std::string(option) + ": " + std::string(reason));
}

}  // namespace

bool FaultSelection::hits(std::uint64_t k) const {
    switch (mode) {
        case Mode::Every:
            return true;
        case Mode::Nth:
            return k == nth;
        case Mode::Share:
            return k >= 1 && (k * percent) / 100 > ((k - 1) * percent) / 100;
    }
    return false;
}

Fault parseFault(std::string_view option) {
    std::string_view rest = option;
    FaultSelection when;
    if (const std::size_t at = rest.find('@'); at != std::string_view::npos) {
        std::string_view selector = rest.substr(at + 1);
        rest = rest.substr(0, at);
        if (selector.ends_with('%')) {
            const auto percent = wholeNumber<unsigned>(selector.substr(0, selector.size() - 1));
            if (!percent || *percent < 1 || *percent > 100) {
                refuse(option, "la quota va da 1% a 100%");
            }
            when = {FaultSelection::Mode::Share, 0, *percent};
        } else {
            const auto nth = wholeNumber<std::uint64_t>(selector);
            if (!nth || *nth < 1) {
                refuse(option, "dopo @ va il numero della richiesta (da 1) o una quota (P%)");
            }
            when = {FaultSelection::Mode::Nth, *nth, 0};
        }
    }
    std::string_view name = rest;
    std::optional<std::string_view> valueText;
    if (const std::size_t equals = rest.find('='); equals != std::string_view::npos) {
        name = rest.substr(0, equals);
        valueText = rest.substr(equals + 1);
    }
    for (const KindInfo& info : kKinds) {
        if (info.name != name) {
            continue;
        }
        Fault fault{info.kind, info.defaultValue, when, std::string(option)};
        if (info.value == KindInfo::Value::None) {
            if (valueText) {
                refuse(option, "questo guasto non prende valori");
            }
            return fault;
        }
        if (!valueText) {
            if (info.value == KindInfo::Value::Required) {
                refuse(option, "manca il valore (" + std::string(info.name) + "=...)");
            }
            return fault;
        }
        const auto value = wholeNumber<long>(*valueText);
        if (!value || *value < info.minimum || *value > info.maximum) {
            refuse(option, "valore fuori dall'intervallo " + std::to_string(info.minimum) + ".." +
                               std::to_string(info.maximum));
        }
        fault.value = *value;
        return fault;
    }
    refuse(option, "guasto sconosciuto");
}

void FaultPlan::add(Fault fault) {
    std::lock_guard lock(mutex_);
    entries_.push_back({std::move(fault), 0});
}

std::optional<Fault> FaultPlan::nextQuery() {
    return next(false);
}
std::optional<Fault> FaultPlan::nextConnect() {
    return next(true);
}

std::optional<Fault> FaultPlan::next(bool connect) {
    std::lock_guard lock(mutex_);
    std::optional<Fault> chosen;
    for (Entry& entry : entries_) {
        if (entry.fault.onConnect() != connect) {
            continue;
        }
        ++entry.seen;
        if (!chosen && entry.fault.when.hits(entry.seen)) {
            chosen = entry.fault;
        }
    }
    return chosen;
}

std::string_view faultUsage() {
    return "  --fault GUASTO[=VALORE][@QUANDO]  (ripetibile) QUANDO: N = solo l'N-esima "
           "richiesta,\n"
           "                                  P% = quella quota delle richieste; senza: tutte\n"
           "     refuse-patient      rifiuta il paziente (codice 290)\n"
           "     refuse-request      rifiuta la richiesta (codice 190)\n"
           "     delay=MS            risponde dopo MS millisecondi\n"
           "     drop                chiude la connessione senza rispondere\n"
           "     malformed           risponde XML non ben formato\n"
           "     no-codes            risponde senza gli elementi vekCodiceErrore\n"
           "     status=CODICE       risponde alla richiesta con lo stato HTTP CODICE (es. 503, "
           "500)\n"
           "     connect-status=CODICE  risponde alla verifica di connessione (GET) con CODICE\n"
           "     get-only            accetta solo la verifica di connessione: la richiesta trova\n"
           "                         la connessione chiusa, nulla e' letto o archiviato\n"
           "     stall[=MS]          invia meta' risposta e poi si ferma (60000 ms se non detto)\n"
           "     oversize            risponde oltre il limite di 16 MiB del connettore\n"
           "     forge-log           rifiuta il paziente con una descrizione che contiene un a "
           "capo\n"
           "                         e una sequenza di escape del terminale\n";
}

}  // namespace kvt::collector
