#include "collector/upload_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "collector/peer_process.h"

namespace kvt::collector {
namespace {

using kvt::testing::readFile;
using kvt::testing::TempDir;
using ::testing::HasSubstr;

constexpr const char* kFirst = "0123456789ABCDEF0123456789ABCDEF01234567";
constexpr const char* kSecond = "FEDCBA9876543210FEDCBA9876543210FEDCBA98";

mode_t permissionsOf(const std::filesystem::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 0777;
}

TEST(UploadStoreTest, KeepsTheLatestUploadPerPseudonymByteForByte) {
    TempDir temp;
    const auto folder = temp / "archivio";
    UploadStore store(folder);
    EXPECT_EQ(permissionsOf(folder), 0700u);

    const char raw[] = "<a>\r\nprima\xC3\xA8</a>\n\0x";
    const std::string first(raw, sizeof raw - 1);
    ASSERT_TRUE(store.store(kFirst, first));
    EXPECT_EQ(readFile(folder / (std::string(kFirst) + ".xml")), first);
    EXPECT_EQ(permissionsOf(folder / (std::string(kFirst) + ".xml")), 0600u);

    ASSERT_TRUE(store.store(kFirst, "<b/>"));
    ASSERT_TRUE(store.store(kSecond, "<c/>"));
    EXPECT_EQ(readFile(folder / (std::string(kFirst) + ".xml")), "<b/>");

    const auto uploads = listStore(folder);
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].pseudonym, kFirst);
    EXPECT_EQ(uploads[0].size, 4u);
    EXPECT_EQ(uploads[1].pseudonym, kSecond);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              2);
}

TEST(UploadStoreTest, OnlyAPseudonymNamesAFile) {
    TempDir temp;
    UploadStore store(temp.path());
    EXPECT_FALSE(store.store("../../etc/passwd", "x"));
    EXPECT_FALSE(store.store("0123456789abcdef0123456789abcdef01234567", "x"));
    EXPECT_FALSE(store.store("", "x"));
    EXPECT_TRUE(listStore(temp.path()).empty());
}

TEST(UploadStoreTest, LeftoversOfAnInterruptedWriteAreClearedAndNotListed) {
    TempDir temp;
    kvt::testing::writeFile(temp / ".tmp-123-0", "half");
    kvt::testing::writeFile(temp / "note.txt", "not an upload");
    UploadStore store(temp.path());
    EXPECT_FALSE(std::filesystem::exists(temp / ".tmp-123-0"));
    EXPECT_TRUE(listStore(temp.path()).empty());
}

TEST(UploadStoreTest, ListingShowsPseudonymTimeAndSize) {
    TempDir temp;
    UploadStore store(temp.path());
    ASSERT_TRUE(store.store(kSecond, "12345"));
    const std::string listing = formatListing(listStore(temp.path()));
    EXPECT_THAT(listing, HasSubstr(std::string(kSecond) + "  "));
    EXPECT_THAT(listing, ::testing::ContainsRegex(
                             "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  5\n"));
    EXPECT_THAT(listing, HasSubstr("1 tracciato archiviato"));
    EXPECT_THAT(formatListing({}), HasSubstr("0 tracciati archiviati"));
}

TEST(UploadStoreTest, AFolderThatCannotBeMadeIsAnError) {
    TempDir temp;
    kvt::testing::writeFile(temp / "file", "x");
    EXPECT_THROW(UploadStore(temp / "file" / "sub"), std::runtime_error);
}

}  // namespace
}  // namespace kvt::collector
