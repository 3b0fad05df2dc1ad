#pragma once
// The good upload of the tests and the bad ones made from it, each with one
// fault: out of order, a required element missing, a wrong version, a
// lower-case pseudonym.
#include <stdexcept>
#include <string>

#include "collector/peer_process.h"

namespace kvt::testing {

inline constexpr const char* kGoodPseudonym = "8C4E2D9A7B1F3E5D6C0A9B8E7D6C5B4A3F2E1D0C";

inline std::string goodUpload() {
    return readFile(KVT_TEST_GOOD_UPLOAD);
}

inline std::string replacedOnce(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) {
        throw std::logic_error("fixture lacks " + from);
    }
    return text.replace(at, from.size(), to);
}

inline std::string uploadOutOfOrder() {
    const std::string version = "<vekVersione>KVT 1.1</vekVersione>";
    const std::string operation = "<vekTipoOperazione>UPLO</vekTipoOperazione>";
    std::string text = replacedOnce(goodUpload(), version, "@@");
    text = replacedOnce(text, operation, version);
    return replacedOnce(text, "@@", operation);
}

inline std::string uploadMissingRequired() {
    return replacedOnce(goodUpload(), "<trxCodAslAssistito>301</trxCodAslAssistito>", "");
}

inline std::string uploadWrongVersion() {
    return replacedOnce(goodUpload(), "<vekVersione>KVT 1.1</vekVersione>",
                        "<vekVersione>KVT 1.0</vekVersione>");
}

inline std::string uploadWithPseudonym(const std::string& pseudonym) {
    return replacedOnce(goodUpload(), kGoodPseudonym, pseudonym);
}

inline std::string uploadLowerCasePseudonym() {
    return uploadWithPseudonym("8c4e2d9a7b1f3e5d6c0a9b8e7d6c5b4a3f2e1d0c");
}

}  // namespace kvt::testing
