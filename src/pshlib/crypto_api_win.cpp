// TCryptoAPI over the CryptoAPI of Windows.
//
// ProviderRSA is the key container "Connector2" of the enhanced RSA provider,
// created on the first start; ProviderDH is a verification-only context of the
// enhanced DSS/Diffie-Hellman provider, acquired so that the library starts
// only where both providers are installed. Every digest is a SHA-1 hash object
// of ProviderRSA.
#include <windows.h>
// CryptoAPI needs the types of windows.h first.
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>

#include "common/win32.h"
#include "pshlib/crypto_api.h"

namespace kvt::psh {
namespace {

constexpr const wchar_t* kRsaProvider = L"Microsoft Enhanced Cryptographic Provider v1.0";
constexpr const wchar_t* kDssDhProvider =
    L"Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider";
constexpr DWORD kRsaFull = 1;  // PROV_RSA_FULL
constexpr DWORD kDssDh = 13;   // PROV_DSS_DH
constexpr const wchar_t* kContainer = L"Connector2";
constexpr const wchar_t* kDhContainer = L"DH_Connector2";

bool acquireRsaContainer(HCRYPTPROV& provider) {
    if (CryptAcquireContextW(&provider, kContainer, kRsaProvider, kRsaFull, 0)) {
        return true;
    }
    if (GetLastError() != static_cast<DWORD>(NTE_BAD_KEYSET)) {
        return false;
    }
    if (CryptAcquireContextW(&provider, kContainer, kRsaProvider, kRsaFull, CRYPT_NEWKEYSET)) {
        return true;
    }
    // Another process created the container between the two calls.
    return GetLastError() == static_cast<DWORD>(NTE_EXISTS) &&
           CryptAcquireContextW(&provider, kContainer, kRsaProvider, kRsaFull, 0);
}

// Asks a provider to delete a key container; the result does not matter.
void deleteContainer(const wchar_t* container, const wchar_t* provider, DWORD type) {
    HCRYPTPROV unused = 0;
    CryptAcquireContextW(&unused, container, provider, type, CRYPT_DELETEKEYSET);
}

std::string trimmed(std::string text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

// The system's text for an error code in the given language; empty when the
// system has none.
std::string systemText(DWORD code, DWORD language) {
    wchar_t* buffer = nullptr;
    const DWORD size = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (size > 0 && buffer != nullptr) {
        text = trimmed(win32::narrow(std::wstring_view(buffer, size)));
    }
    LocalFree(buffer);
    return text;
}

}  // namespace

TCryptoAPI::TCryptoAPI() {
    Ready = false;
    HCRYPTPROV dh = 0;
    if (!CryptAcquireContextW(&dh, nullptr, kDssDhProvider, kDssDh, CRYPT_VERIFYCONTEXT)) {
        return;
    }
    ProviderDH = dh;
    HCRYPTPROV rsa = 0;
    if (acquireRsaContainer(rsa)) {
        ProviderRSA = rsa;
        Ready = true;
    }
}

// Each container is deleted by the provider that keeps it: asked of the
// other provider, the deletion finds nothing and the container stays.
TCryptoAPI::~TCryptoAPI() {
    if (ProviderDH != 0) {
        CryptReleaseContext(ProviderDH, 0);
        deleteContainer(kDhContainer, kDssDhProvider, kDssDh);
    }
    if (ProviderRSA != 0) {
        CryptReleaseContext(ProviderRSA, 0);
        deleteContainer(kContainer, kRsaProvider, kRsaFull);
    }
}

std::string TCryptoAPI::LastErrorText() const {
    const DWORD code = GetLastError();
    if (code == ERROR_SUCCESS) {
        return {};
    }
    std::string text = systemText(code, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT));
    if (text.empty()) {
        // No text in the system's default language: any language the system has.
        text = systemText(code, 0);
    }
    if (text.empty()) {
        // Some systems (Wine) have no texts for the CryptoAPI's own codes: the
        // code itself tells the operator more than nothing.
        char number[16] = {};
        std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
        text = number;
    }
    // Reading the text must not change what the next reader finds.
    SetLastError(code);
    return text;
}

HashHandle TCryptoAPI::HashData(std::string_view text) const {
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(ProviderRSA, CALG_SHA1, 0, 0, &hash)) {
        throw CryptoError("Hash creation error");
    }
    // Fed in pieces a DWORD can count.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    for (std::size_t at = 0; at < text.size(); at += kPiece) {
        const std::size_t size = std::min(kPiece, text.size() - at);
        if (!CryptHashData(hash, reinterpret_cast<const BYTE*>(text.data() + at),
                           static_cast<DWORD>(size), 0)) {
            CryptDestroyHash(hash);
            throw CryptoError("Hashing error");
        }
    }
    return static_cast<HashHandle>(hash);
}

bool TCryptoAPI::FreeHash(HashHandle hash) const {
    if (hash != 0) {
        CryptDestroyHash(static_cast<HCRYPTHASH>(hash));
    }
    return true;
}

Sha1Digest TCryptoAPI::GetHashValue(HashHandle hash) const {
    Sha1Digest digest{};
    DWORD size = static_cast<DWORD>(digest.size());
    if (!CryptGetHashParam(static_cast<HCRYPTHASH>(hash), HP_HASHVAL, digest.data(), &size, 0) ||
        size != kSha1Size) {
        throw CryptoError("Hash parm getting error: " + LastErrorText());
    }
    return digest;
}

}  // namespace kvt::psh
