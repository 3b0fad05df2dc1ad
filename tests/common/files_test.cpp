// Whole-file reads and atomic writes, as every upload, answer and last-visit
// file of a run goes through them.
#include "common/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/errors.h"
#include "test_support.h"

namespace kvt {
namespace {

TEST(FileHelpersTest, ReadsWholeFilesOfEverySizeByteForByte) {
    test::TempFolder folder;
    // Empty, smaller than, exactly and beyond one read, with every byte value.
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65535},
                                   std::size_t{65536}, std::size_t{65537}, std::size_t{300001}}) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>((i * 7 + 3) % 256);
        }
        const auto file = folder / ("f" + std::to_string(size));
        test::writeBytes(file, bytes);
        const auto read = files::readAll(file);
        ASSERT_TRUE(read.has_value()) << size;
        EXPECT_EQ(*read, bytes) << size;
    }
    EXPECT_FALSE(files::readAll(folder / "missing").has_value());
    EXPECT_FALSE(files::readAll(folder.path()).has_value());  // a folder
}

TEST(FileHelpersTest, AtomicWriteReplacesKeepsModeAndLeavesNoTemporary) {
    test::TempFolder folder;
    const auto file = folder / "a_kvt.xml";
    files::writeAtomically(file, "first");
    EXPECT_EQ(test::readBytes(file), "first");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    files::writeAtomically(file, std::string(100000, 'x'));
    EXPECT_EQ(test::readBytes(file), std::string(100000, 'x'));
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_THROW(files::writeAtomically(folder / "no" / "such" / "folder.xml", "x"), Error);
}

TEST(FileHelpersTest, AtomicFileInPiecesReplacesOnlyOnCommit) {
    test::TempFolder folder;
    const auto file = folder / "b_kvt.xml";
    files::writeAtomically(file, "old");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const auto voci = [&] {
        int n = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator(folder.path())) {
            ++n;
        }
        return n;
    };
    {
        files::AtomicFile pieces(file);
        pieces.write("new ");
        pieces.write(std::string(70000, 'y'));
        // Until the commit a reader still finds the old file whole.
        EXPECT_EQ(test::readBytes(file), "old");
        pieces.write("end");
        pieces.commit();
    }
    EXPECT_EQ(test::readBytes(file), "new " + std::string(70000, 'y') + "end");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(voci(), 1);

    // Left without a commit (an error while writing the pieces): the target
    // is unchanged and nothing is left behind.
    {
        files::AtomicFile abandoned(file);
        abandoned.write("half");
    }
    EXPECT_EQ(test::readBytes(file), "new " + std::string(70000, 'y') + "end");
    EXPECT_EQ(voci(), 1);

    files::AtomicFile twice(folder / "c.xml");
    twice.commit();
    EXPECT_THROW(twice.write("late"), Error);
    EXPECT_THROW(twice.commit(), Error);
    EXPECT_EQ(test::readBytes(folder / "c.xml"), "");
}

}  // namespace
}  // namespace kvt
