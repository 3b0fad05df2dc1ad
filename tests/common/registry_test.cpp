#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "common/reg_file.h"
#include "common/registry.h"

namespace kvt::registry {
namespace {

constexpr const char* kExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n"
    "\"ultimo_utente\"=\"mrossi\"\r\n"
    "\"database\"=\"C:\\\\studio\\\\say \\\"hi\\\".sqlite\"\r\n"
    "@=\"predefinito\"\r\n"
    "this line is not a value\r\n"
    "\r\n"
    "[HKCU\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n"
    "\"ReqTout\"=dword:00015f90\r\n"
    "\"Blob\"=hex:31,32,\\\r\n"
    "  30,30\r\n"
    "\"Path\"=hex(2):25,00,41,00,00,00\r\n"
    "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "\"Broken\"=dword:xyz\r\n";

TEST(RegFileTest, ReadsEveryValueTypeAndSkipsMalformedLines) {
    const RegFile file = RegFile::parse(kExport);
    const auto* user = file.find("HKEY_LOCAL_MACHINE\\software\\quintara-kelvano", "ULTIMO_UTENTE");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->text, "mrossi");
    EXPECT_EQ(file.find("HKLM\\SOFTWARE\\Quintara-Kelvano", "database")->text,
              "C:\\studio\\say \"hi\".sqlite");
    EXPECT_EQ(file.find("HKLM\\SOFTWARE\\Quintara-Kelvano", "")->text, "predefinito");

    const std::string lk = "HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK";
    EXPECT_EQ(file.find(lk, "ReqTout")->type, ValueType::Dword);
    EXPECT_EQ(file.find(lk, "ReqTout")->number, 90000u);
    EXPECT_EQ(file.find(lk, "Blob")->type, ValueType::Binary);
    EXPECT_EQ(file.find(lk, "Blob")->bytes, (std::vector<std::uint8_t>{'1', '2', '0', '0'}));
    EXPECT_EQ(file.find(lk, "Path")->type, ValueType::ExpandString);
    EXPECT_EQ(file.find(lk, "Path")->text, "%A");
    EXPECT_EQ(file.find(lk, "Big")->number, 1u);
    EXPECT_EQ(file.find(lk, "Broken"), nullptr);
}

TEST(RegFileTest, Regedit4HeaderTakesExpandableTextAsSingleBytes) {
    const RegFile file =
        RegFile::parse("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"E\"=hex(2):25,41,e0,00\n");
    EXPECT_EQ(file.find("HKEY_CURRENT_USER\\K", "E")->text, "%A\xC3\xA0");
}

TEST(RegFileTest, ReadsAUtf16ExportWithByteOrderMark) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\K]\r\n\"n\"=\"v\xC3\xA0\"\r\n";
    std::string wide = "\xFF\xFE";
    for (const char16_t c : std::u16string(
             u"Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\K]\r\n\"n\"=\"v\u00E0\"\r\n")) {
        wide += static_cast<char>(c & 0xFF);
        wide += static_cast<char>(c >> 8);
    }
    EXPECT_EQ(RegFile::parse(wide).find("HKCU\\K", "n")->text, "v\xC3\xA0");
    EXPECT_EQ(RegFile::parse(text).find("HKCU\\K", "n")->text, "v\xC3\xA0");
}

TEST(RegFileTest, SerializeRoundTripsEveryType) {
    const RegFile original = RegFile::parse(kExport);
    const RegFile again = RegFile::parse(original.serialize());
    EXPECT_EQ(again.serialize(), original.serialize());
    EXPECT_EQ(again.find("HKLM\\SOFTWARE\\Quintara-Kelvano", "database")->text,
              "C:\\studio\\say \"hi\".sqlite");
}

TEST(RegFileTest, KeyDeletionAndValueDeletion) {
    const RegFile file = RegFile::parse(
        "REGEDIT4\n[HKCU\\A]\n\"x\"=\"1\"\n\"y\"=\"2\"\n[HKCU\\A\\B]\n\"z\"=\"3\"\n"
        "[HKCU\\A]\n\"y\"=-\n[-HKCU\\A\\B]\n");
    EXPECT_NE(file.find("HKCU\\A", "x"), nullptr);
    EXPECT_EQ(file.find("HKCU\\A", "y"), nullptr);
    EXPECT_EQ(file.findKey("HKCU\\A\\B"), nullptr);
}

TEST(RegFileTest, KeyTreeDeletionKeepsSiblingsAndCopiesKeepTheirIndex) {
    RegFile original = RegFile::parse(
        "REGEDIT4\n[HKCU\\A]\n[HKCU\\a\\B\\C]\n[HKCU\\A!]\n[HKCU\\AB]\n[HKCU\\A]B]\n"
        "[-hkey_current_user\\a]\n");
    const RegFile copy = original;
    original = RegFile{};
    std::vector<std::string> left;
    for (const RegFile::Key& key : copy.keys()) {
        left.push_back(key.name);
        EXPECT_EQ(copy.findKey(key.name), &key);
    }
    EXPECT_EQ(left, (std::vector<std::string>{"HKEY_CURRENT_USER\\A!", "HKEY_CURRENT_USER\\AB",
                                              "HKEY_CURRENT_USER\\A]B"}));
}

TEST(RegFileTest, ChangesKeepTheNamesAsFirstWritten) {
    RegFile file = RegFile::parse("REGEDIT4\n[HKCU\\Soft\\LK]\n\"LogFilename\"=\"a\"\n");
    file.set("hkey_current_user\\SOFT\\lk", "LOGFILENAME", Value::string("b"));
    file.set("HKCU\\SOFT\\LK", "Url", Value::string("u"));
    EXPECT_TRUE(file.remove("HKCU\\soft\\lk", "url"));
    EXPECT_EQ(file.serialize(),
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Soft\\LK]\r\n"
              "\"LogFilename\"=\"b\"\r\n");
}

// A whole exported HKCU has tens of thousands of keys and binary values of
// hundreds of kilobytes, wrapped by regedit over thousands of lines: either
// is read in well under a second, even in a sanitizer build.
TEST(RegFileTest, ReadsLargeExportsWithinBudget) {
    std::string binary = "Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\K]\r\n\"Blob\"=hex:";
    std::vector<std::uint8_t> bytes(128 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02x%s", bytes[i], i % 25 == 24 ? ",\\\r\n  " : ",");
        binary += i + 1 < bytes.size() ? hex : std::string(hex, 2);
    }
    std::string keys = "REGEDIT4\r\n";
    for (int i = 0; i < 20000; ++i) {
        keys += "\r\n[HKEY_CURRENT_USER\\Software\\Vendor" + std::to_string(i % 50) + "\\Key" +
                std::to_string(i) + "]\r\n\"Name\"=\"" + std::to_string(i) + "\"\r\n";
    }
    const auto secondsToParse = [](const std::string& text, RegFile& file) {
        const auto start = std::chrono::steady_clock::now();
        file = RegFile::parse(text);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    RegFile file;
    EXPECT_LT(secondsToParse(binary, file), 1.0);
    EXPECT_EQ(file.find("HKCU\\K", "blob")->bytes, bytes);
    EXPECT_LT(secondsToParse(keys, file), 1.0);
    EXPECT_EQ(file.keys().size(), 20000u);
    EXPECT_EQ(file.find("HKCU\\software\\vendor49\\key19999", "name")->text, "19999");
}

#ifndef _WIN32
// The registry store of POSIX: one registry-export file.
class RegistryStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // One file per process: CTest runs the cases of this fixture at once,
        // and one of them removes its file.
        path_ = std::filesystem::temp_directory_path() /
                ("kvt_registry_test_" + std::to_string(::getpid()) + ".reg");
        std::ofstream(path_, std::ios::binary) << kExport;
        ::setenv("KVT_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("KVT_REGISTRY");
        std::filesystem::remove(path_);
    }
    std::filesystem::path path_;
};

TEST_F(RegistryStoreTest, ReadsByRootKeyPathAndName) {
    const auto v = readValue(Root::CurrentUser, "\\SOFTWARE\\Norvix\\VEKConnector\\LK", "reqtout");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->number, 90000u);
    EXPECT_FALSE(readValue(Root::LocalMachine, "\\SOFTWARE\\Norvix\\VEKConnector\\LK", "ReqTout"));
    EXPECT_TRUE(keyExists(Root::LocalMachine, "SOFTWARE\\Quintara-Kelvano"));
    EXPECT_FALSE(keyExists(Root::LocalMachine, "SOFTWARE\\Nowhere"));
}

TEST_F(RegistryStoreTest, MissingFileIsAnEmptyRegistry) {
    std::filesystem::remove(path_);
    EXPECT_FALSE(readValue(Root::CurrentUser, "SOFTWARE\\Norvix\\VEKConnector\\LK", "ReqTout"));
}

TEST_F(RegistryStoreTest, SeesARewriteInPlaceOfTheSameSize) {
    EXPECT_EQ(readValue(Root::LocalMachine, "SOFTWARE\\Quintara-Kelvano", "ultimo_utente")->text,
              "mrossi");
    // As on a file system whose clock ticks coarser than the two writes.
    const auto modified = std::filesystem::last_write_time(path_);
    std::string changed = kExport;
    changed.replace(changed.find("mrossi"), 6, "mbianc");
    std::ofstream(path_, std::ios::binary) << changed;
    std::filesystem::last_write_time(path_, modified);
    EXPECT_EQ(readValue(Root::LocalMachine, "SOFTWARE\\Quintara-Kelvano", "ultimo_utente")->text,
              "mbianc");
}

TEST_F(RegistryStoreTest, SaveAtomicallyReplacesTheFile) {
    // Read once, so that the store has the file parsed already; a change of
    // the same size made within the same second must still be seen.
    EXPECT_FALSE(readValue(Root::CurrentUser, "SOFTWARE\\Norvix\\VEKConnector\\LK", "Url"));
    RegFile file = RegFile::load(path_);
    file.set("HKLM\\SOFTWARE\\Quintara-Kelvano", "ultimo_utente", Value::string("mbianc"));
    file.saveAtomically(path_);
    EXPECT_EQ(readValue(Root::LocalMachine, "SOFTWARE\\Quintara-Kelvano", "ultimo_utente")->text,
              "mbianc");
    file.set("HKLM\\SOFTWARE\\Quintara-Kelvano", "ultimo_utente", Value::string("mrossi"));
    file.set("HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK", "Url",
             Value::string("http://127.0.0.1:1/lk"));
    file.saveAtomically(path_);
    EXPECT_EQ(readValue(Root::CurrentUser, "SOFTWARE\\Norvix\\VEKConnector\\LK", "Url")->text,
              "http://127.0.0.1:1/lk");
    EXPECT_EQ(readValue(Root::LocalMachine, "SOFTWARE\\Quintara-Kelvano", "ultimo_utente")->text,
              "mrossi");
}
#endif

}  // namespace
}  // namespace kvt::registry
