// PSHLib's main module: the three exports, the start and the exit.
#include "pshlib/pshlib.h"

#include <cstring>
#include <string>

#include "pshlib/crypto_api.h"
#include "pshlib/library.h"
#include "pshlib/version_info.h"

namespace kvt::psh {
namespace {

constexpr std::size_t kPseudonymLength = 2 * kSha1Size;

// The library's one helper object, from start to exit.
TCryptoAPI* cryptoApi = nullptr;
// The last pseudonym and its zero; the caller copies it before the next call.
char resultBuffer[kPseudonymLength + 1] = {};
// The last version text: "65535.65535.65535.65535" at most.
char versionBuffer[32] = {};

// Blanks and control characters off both ends, a-z upper-cased; every other
// byte (accented letters included) stays as it is.
std::string normalisedCode(const char* code) {
    const std::string_view text = code != nullptr ? code : "";
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first])) {
        ++first;
    }
    while (last > first && isBlank(text[last - 1])) {
        --last;
    }
    std::string normalised(text.substr(first, last - first));
    for (char& c : normalised) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return normalised;
}

std::string pseudonymOf(const TCryptoAPI& crypto, const std::string& text) {
    const HashHandle hash = crypto.HashData(text);
    Sha1Digest digest;
    try {
        digest = crypto.GetHashValue(hash);
    } catch (...) {
        crypto.FreeHash(hash);
        throw;
    }
    crypto.FreeHash(hash);
    return TCryptoAPI::BytesToHex(digest.data(), digest.size());
}

std::string aboutText() {
    return "PSH Library V." + versionText() + "\n" + std::string(37, '_') + "\n\n" +
           "Libreria di pseudonimizzazione del codice fiscale per il progetto KVT.\n"
           "Copyright (C) 2026 progetto vd_kvt. Tutti i diritti riservati.";
}

}  // namespace

bool libraryStart() {
    try {
        cryptoApi = new TCryptoAPI();
        if (!cryptoApi->Ready) {
            throw CryptoError("Impossibile inizializzare la libreria:\n" +
                              cryptoApi->LastErrorText());
        }
        return true;
    } catch (const CryptoError& error) {
        // Where the loader lets a library refuse to load, it does; elsewhere
        // it stays loaded without its service and PSHCalc answers null, so no
        // record gets a pseudonym either way.
        showError("PSHLib DLL", error.what());
    } catch (...) {
    }
    return false;
}

void libraryExit() {
    try {
        delete cryptoApi;
    } catch (...) {
    }
    cryptoApi = nullptr;
}

}  // namespace kvt::psh

extern "C" {

PSH_API const char* PSH_CALL PSHCalc(const char* code) {
    using namespace kvt::psh;
    try {
        startOnFirstUse();
        if (cryptoApi == nullptr || !cryptoApi->Ready) {
            return nullptr;
        }
        const std::string pseudonym = pseudonymOf(*cryptoApi, normalisedCode(code));
        if (pseudonym.size() != kPseudonymLength) {
            return nullptr;
        }
        std::memcpy(resultBuffer, pseudonym.data(), kPseudonymLength);
        resultBuffer[kPseudonymLength] = '\0';
        return resultBuffer;
    } catch (...) {
        return nullptr;
    }
}

PSH_API const char* PSH_CALL PSHVersion(void) {
    using namespace kvt::psh;
    std::string text = kUnknownVersion;
    try {
        text = versionText();
    } catch (...) {
    }
    if (text.size() >= sizeof versionBuffer) {
        text = kUnknownVersion;
    }
    std::memcpy(versionBuffer, text.c_str(), text.size() + 1);
    return versionBuffer;
}

PSH_API void PSH_CALL PSHAbout(void) {
    using namespace kvt::psh;
    try {
        showInformation(aboutText());
    } catch (...) {
    }
}

}  // extern "C"
