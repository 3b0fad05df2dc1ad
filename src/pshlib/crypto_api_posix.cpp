// TCryptoAPI over OpenSSL's EVP interface.
//
// What stands in for the two key containers: the library keeps no key and
// writes no file, so instead of persistent containers the object creates a
// private OpenSSL library context when it is made and frees it when it is
// destroyed (the containers' creation at start and deletion at unload). Two
// providers are loaded into that context: "default" is ProviderRSA, where every
// SHA-1 digest is computed, and "base" is ProviderDH, which offers no algorithm
// and is only acquired and released. A context of our own also keeps the
// pseudonym independent of the host process's OpenSSL configuration.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <memory>

#include "pshlib/crypto_api.h"

namespace kvt::psh {
namespace {

OSSL_LIB_CTX* asContext(std::uintptr_t handle) {
    return reinterpret_cast<OSSL_LIB_CTX*>(handle);
}
OSSL_PROVIDER* asProvider(ProviderHandle handle) {
    return reinterpret_cast<OSSL_PROVIDER*>(handle);
}

// One hash object of the service: the fetched algorithm and its running state.
struct HashObject {
    EVP_MD* algorithm = nullptr;
    EVP_MD_CTX* state = nullptr;

    ~HashObject() {
        EVP_MD_CTX_free(state);
        EVP_MD_free(algorithm);
    }
};

HashObject* asHash(HashHandle handle) {
    return reinterpret_cast<HashObject*>(handle);
}

}  // namespace

TCryptoAPI::TCryptoAPI() {
    Ready = false;
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    if (context == nullptr) {
        return;
    }
    container_ = reinterpret_cast<std::uintptr_t>(context);
    ProviderDH = reinterpret_cast<ProviderHandle>(OSSL_PROVIDER_load(context, "base"));
    if (ProviderDH == 0) {
        return;
    }
    ProviderRSA = reinterpret_cast<ProviderHandle>(OSSL_PROVIDER_load(context, "default"));
    Ready = ProviderRSA != 0;
}

TCryptoAPI::~TCryptoAPI() {
    if (ProviderDH != 0) {
        OSSL_PROVIDER_unload(asProvider(ProviderDH));
    }
    if (ProviderRSA != 0) {
        OSSL_PROVIDER_unload(asProvider(ProviderRSA));
    }
    if (container_ != 0) {
        OSSL_LIB_CTX_free(asContext(container_));
    }
}

std::string TCryptoAPI::LastErrorText() const {
    const unsigned long code = ERR_peek_last_error();
    if (code == 0) {
        return {};
    }
    char buffer[256] = {};
    ERR_error_string_n(code, buffer, sizeof buffer);
    std::string_view text(buffer);
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

HashHandle TCryptoAPI::HashData(std::string_view text) const {
    auto hash = std::make_unique<HashObject>();
    if (ProviderRSA != 0) {
        // The property query pins the algorithm to ProviderRSA's implementation.
        hash->algorithm = EVP_MD_fetch(asContext(container_), "SHA1", "provider=default");
        hash->state = EVP_MD_CTX_new();
    }
    if (hash->algorithm == nullptr || hash->state == nullptr ||
        EVP_DigestInit_ex2(hash->state, hash->algorithm, nullptr) != 1) {
        ERR_clear_error();
        throw CryptoError("Hash creation error");
    }
    if (!text.empty() && EVP_DigestUpdate(hash->state, text.data(), text.size()) != 1) {
        ERR_clear_error();
        throw CryptoError("Hashing error");
    }
    return reinterpret_cast<HashHandle>(hash.release());
}

bool TCryptoAPI::FreeHash(HashHandle hash) const {
    if (hash != 0) {
        delete asHash(hash);
    }
    return true;
}

Sha1Digest TCryptoAPI::GetHashValue(HashHandle hash) const {
    // The value is read from a copy of the running state, so that it can be
    // read again from the same hash object.
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> finished(EVP_MD_CTX_new(),
                                                                           &EVP_MD_CTX_free);
    unsigned char value[EVP_MAX_MD_SIZE] = {};
    unsigned int size = 0;
    const HashObject* object = asHash(hash);
    if (object == nullptr || object->state == nullptr || finished == nullptr ||
        EVP_MD_CTX_copy_ex(finished.get(), object->state) != 1 ||
        EVP_DigestFinal_ex(finished.get(), value, &size) != 1 || size != kSha1Size) {
        const std::string reason = LastErrorText();
        ERR_clear_error();
        throw CryptoError("Hash parm getting error: " + reason);
    }
    Sha1Digest digest{};
    std::copy(value, value + kSha1Size, digest.begin());
    return digest;
}

}  // namespace kvt::psh
