// TCryptoAPI and the version record, below the library's exports.
#include "pshlib/crypto_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "pshlib/version_info.h"

namespace kvt::psh {
namespace {

using ::testing::StartsWith;

std::string sha1Hex(const TCryptoAPI& crypto, const std::string& text) {
    const HashHandle hash = crypto.HashData(text);
    const Sha1Digest digest = crypto.GetHashValue(hash);
    EXPECT_TRUE(crypto.FreeHash(hash));
    return TCryptoAPI::BytesToHex(digest.data(), digest.size());
}

TEST(TCryptoAPI, AcquiresBothProviders) {
    TCryptoAPI crypto;
    EXPECT_TRUE(crypto.Ready);
    EXPECT_NE(crypto.ProviderRSA, 0u);
    EXPECT_NE(crypto.ProviderDH, 0u);
    EXPECT_NE(crypto.ProviderRSA, crypto.ProviderDH);
}

TEST(TCryptoAPI, GivesThePublishedSha1Digests) {
    TCryptoAPI crypto;
    ASSERT_TRUE(crypto.Ready);
    EXPECT_EQ(sha1Hex(crypto, "abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(sha1Hex(crypto, ""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
    EXPECT_EQ(sha1Hex(crypto, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
    EXPECT_EQ(sha1Hex(crypto, std::string(1000000, 'a')),
              "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

TEST(TCryptoAPI, HashesBytesWithZerosAndHighBitsAsTheyAre) {
    TCryptoAPI crypto;
    ASSERT_TRUE(crypto.Ready);
    EXPECT_NE(sha1Hex(crypto, std::string("a\0b", 3)), sha1Hex(crypto, "ab"));
    EXPECT_NE(sha1Hex(crypto, "\xE0"), sha1Hex(crypto, "\xC0"));
}

TEST(TCryptoAPI, WritesBytesAsUpperCaseHexadecimal) {
    const std::uint8_t bytes[] = {0x00, 0x0F, 0x10, 0xA0, 0xFF};
    EXPECT_EQ(TCryptoAPI::BytesToHex(bytes, 5), "000F10A0FF");
    EXPECT_EQ(TCryptoAPI::BytesToHex(bytes + 4, 1), "FF");
}

TEST(TCryptoAPI, RaisesItsOwnErrorsAndReadsValuesAgain) {
    TCryptoAPI crypto;
    ASSERT_TRUE(crypto.Ready);
    EXPECT_TRUE(crypto.FreeHash(0));
    try {
        crypto.GetHashValue(0);
        FAIL() << "no error for a missing hash object";
    } catch (const CryptoError& error) {
        EXPECT_THAT(error.what(), StartsWith("Hash parm getting error: "));
    }
    // Without ProviderRSA no hash object can be made.
    const ProviderHandle provider = crypto.ProviderRSA;
    crypto.ProviderRSA = 0;
    try {
        crypto.HashData("abc");
        ADD_FAILURE() << "a hash object without ProviderRSA";
    } catch (const CryptoError& error) {
        EXPECT_STREQ(error.what(), "Hash creation error");
    }
    crypto.ProviderRSA = provider;
    // The value of a hash object can be read again.
    const HashHandle hash = crypto.HashData("abc");
    EXPECT_EQ(crypto.GetHashValue(hash), crypto.GetHashValue(hash));
    EXPECT_TRUE(crypto.FreeHash(hash));
#if !defined(_WIN32)
    // OpenSSL's error queue is emptied by each failure; Windows keeps a
    // thread's last error until the next failing call.
    EXPECT_EQ(crypto.LastErrorText(), "");
#endif
}

TEST(VersionInfo, WritesTheProductVersionInDecimal) {
    FixedVersion version;
    version.productVersionMS = 0x00010000;
    version.productVersionLS = 0x00000002;
    EXPECT_EQ(productVersionText(version), "1.0.0.2");
    version.productVersionMS = 0xFFFF000A;
    version.productVersionLS = 0x0C35FFFF;
    EXPECT_EQ(productVersionText(version), "65535.10.3125.65535");
}

TEST(VersionInfo, ReadsTheRecordOfTheLibraryFile) {
    const auto version = readFixedVersion(PSHLIB_PATH);
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->fileVersionMS, 0x00010000u);
    EXPECT_EQ(version->fileVersionLS, 0x00000002u);
    EXPECT_EQ(productVersionText(*version), "1.0.0.2");
}

TEST(VersionInfo, GivesNothingWithoutARecord) {
    EXPECT_FALSE(readFixedVersion(PSHLIB_NOVERSION_PATH).has_value());
    EXPECT_FALSE(readFixedVersion("/nonexistent/PSHLib.so").has_value());
    EXPECT_FALSE(readFixedVersion("").has_value());

    const std::string notElf = ::testing::TempDir() + "pshlib_not_elf.so";
    std::ofstream(notElf) << "\x7F"
                             "ELF but not really";
    EXPECT_FALSE(readFixedVersion(notElf).has_value());
    std::remove(notElf.c_str());
}

#if !defined(_WIN32)
// The ELF reader's own bounds; on Windows the system reads the resource.
TEST(VersionInfo, ToleratesATruncatedLibraryFile) {
    std::ifstream in(PSHLIB_PATH, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(whole.size(), 4096u);
    const std::string cut = ::testing::TempDir() + "pshlib_cut.so";
    for (std::size_t size :
         {std::size_t{16}, std::size_t{64}, whole.size() / 2, whole.size() - 1}) {
        std::ofstream(cut, std::ios::binary | std::ios::trunc).write(whole.data(), size);
        EXPECT_FALSE(readFixedVersion(cut).has_value()) << size;
    }
    std::remove(cut.c_str());
}
#endif

}  // namespace
}  // namespace kvt::psh
