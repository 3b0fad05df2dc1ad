// SHA-256 through the system's CNG (bcrypt.dll), as Windows 7 has it: a
// provider, a hash object over the data, the digest.
#include <windows.h>

#include <bcrypt.h>

#include <limits>

#include "common/errors.h"
#include "peers/vellodoc/sha256.h"

namespace kvt::vellodoc {
namespace {

struct Provider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~Provider() {
        if (handle) {
            ::BCryptCloseAlgorithmProvider(handle, 0);
        }
    }
};

struct Hash {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~Hash() {
        if (handle) {
            ::BCryptDestroyHash(handle);
        }
    }
};

}  // namespace

Sha256Digest sha256(std::string_view bytes) {
    Sha256Digest digest{};
    Provider provider;
    Hash hash;
    // BCryptHashData takes a non-const pointer; it only reads the data.
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    if (bytes.size() > std::numeric_limits<ULONG>::max() ||
        !BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&provider.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(
            ::BCryptCreateHash(provider.handle, &hash.handle, nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(::BCryptHashData(hash.handle, data, static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(
            ::BCryptFinishHash(hash.handle, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        throw Error("Impossibile calcolare l'impronta SHA-256");
    }
    return digest;
}

}  // namespace kvt::vellodoc
