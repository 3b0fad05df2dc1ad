#include "host/limiti_host.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace kvt::automation {
namespace {

std::chrono::milliseconds daAmbiente(const char* variabile, std::chrono::milliseconds valore) {
    const char* testo = std::getenv(variabile);
    if (testo == nullptr) {
        return valore;
    }
    long long numero = 0;
    const char* fine = testo + std::strlen(testo);
    const auto [dove, errore] = std::from_chars(testo, fine, numero);
    if (errore != std::errc() || dove != fine || numero <= 0) {
        return valore;
    }
    return std::chrono::milliseconds(numero);
}

}  // namespace

const LimitiHost& limitiHost() {
    static const LimitiHost limiti = [] {
        LimitiHost letti;
        letti.rifiuti = daAmbiente(kVariabileRifiuti, letti.rifiuti);
        letti.attesa = daAmbiente(kVariabileAttesa, letti.attesa);
        return letti;
    }();
    return limiti;
}

}  // namespace kvt::automation
