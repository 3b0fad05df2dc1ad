// SHA-256 through OpenSSL's EVP.
#include <openssl/evp.h>

#include "common/errors.h"
#include "peers/vellodoc/sha256.h"

namespace kvt::vellodoc {

Sha256Digest sha256(std::string_view bytes) {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
            1 ||
        length != digest.size()) {
        throw Error("Impossibile calcolare l'impronta SHA-256");
    }
    return digest;
}

}  // namespace kvt::vellodoc
