#pragma once
// TCryptoAPI: the library's one helper object over the platform's
// cryptographic service. It holds the two provider contexts the digests are
// computed in and turns the service's hash objects into the pseudonym's
// pieces: create and feed (HashData), read (GetHashValue), destroy (FreeHash)
// and write as hexadecimal (BytesToHex).
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kvt::psh {

// A failure of the cryptographic service inside the library; never leaves it.
class CryptoError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Handles of the service's objects, 0 when not acquired.
using ProviderHandle = std::uintptr_t;
using HashHandle = std::uintptr_t;

constexpr std::size_t kSha1Size = 20;
using Sha1Digest = std::array<std::uint8_t, kSha1Size>;

class TCryptoAPI {
  public:
    // Acquires ProviderDH, then ProviderRSA; Ready tells whether both were.
    TCryptoAPI();
    virtual ~TCryptoAPI();
    TCryptoAPI(const TCryptoAPI&) = delete;
    TCryptoAPI& operator=(const TCryptoAPI&) = delete;

    // The context every digest is computed in.
    ProviderHandle ProviderRSA = 0;
    // A verification-only context: acquired and released, used for nothing
    // else, so that the library starts only where the service is complete.
    ProviderHandle ProviderDH = 0;
    bool Ready = false;

    // The service's text for this thread's last error, without blanks or line
    // breaks at its ends; empty when there is none.
    std::string LastErrorText() const;
    // Two upper-case hexadecimal digits per byte, first to last.
    static std::string BytesToHex(const std::uint8_t* bytes, std::size_t count);
    // A new SHA-1 hash object in ProviderRSA fed with the bytes of the text.
    // Raises CryptoError "Hash creation error" or "Hashing error"; the hash
    // object never outlives a failure.
    HashHandle HashData(std::string_view text) const;
    // Destroys the hash object when the handle is not 0; always true.
    bool FreeHash(HashHandle hash) const;
    // The 20 digest bytes of the hash object. Raises CryptoError
    // "Hash parm getting error: " + LastErrorText.
    Sha1Digest GetHashValue(HashHandle hash) const;

  private:
    // The private store the two providers are loaded into (see the
    // implementation): created with the object, deleted with it.
    std::uintptr_t container_ = 0;
};

}  // namespace kvt::psh
