// Whole-file reads and atomic writes, as every upload, answer and last-visit
// file of a run goes through them.
#include "common/files.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/paths.h"
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
    EXPECT_TRUE(test::ownerOnly(file));

#ifndef _WIN32
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
#endif
    files::writeAtomically(file, std::string(100000, 'x'));
    EXPECT_EQ(test::readBytes(file), std::string(100000, 'x'));
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
#endif

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
#ifndef _WIN32
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
#endif
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
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
#endif
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

TEST(FileHelpersTest, OnlyTheTemporariesOfInterruptedWritesAreRemoved) {
    test::TempFolder folder;
    const auto nomi = [&] {
        std::vector<std::string> trovati;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            trovati.push_back(paths::toUtf8(entry.path().filename()));
        }
        std::sort(trovati.begin(), trovati.end());
        return trovati;
    };
    files::writeAtomically(folder / "a_kvt.xml", "whole");
    for (const char* altro :
         {".a_kvt.xml", ".a_kvt.xml.12345", ".a_kvt.xml.12345!", "a.xml.123456"}) {
        test::writeBytes(folder / altro, "kept");
    }
    std::filesystem::create_directory(folder / ".cartella.AbC123");
    const std::vector<std::string> prima = nomi();
    // The temporary file of a replacement, named as the clean-up knows it;
    // a process killed while writing leaves it behind.
    std::string temporaneo;
    {
        files::AtomicFile interrotto(folder / "a_kvt.xml");
        interrotto.write("half");
        for (const std::string& nome : nomi()) {
            if (!std::binary_search(prima.begin(), prima.end(), nome)) {
                temporaneo = nome;
            }
        }
    }
    ASSERT_TRUE(files::isInterruptedWriteName(temporaneo)) << temporaneo;
    ASSERT_TRUE(temporaneo.starts_with(".a_kvt.xml."));
    EXPECT_EQ(nomi(), prima);  // left without a commit: gone
    test::writeBytes(folder / temporaneo, "half");

    EXPECT_EQ(files::removeInterruptedWrites(folder.path()), 1);
    EXPECT_EQ(nomi(), prima);
    EXPECT_EQ(test::readBytes(folder / "a_kvt.xml"), "whole");
    EXPECT_EQ(files::removeInterruptedWrites(folder / "missing"), 0);
}

TEST(FileHelpersTest, NamesWithAccentsThroughEveryFileOperation) {
    test::TempFolder folder;
    // UTF-8 texts as the program holds them; the names on disk are the same
    // characters (on Windows, wide names).
    const std::string cartella = paths::toUtf8(folder.path()) + paths::kSeparator + "Citt\xC3\xA0";
    ASSERT_TRUE(std::filesystem::create_directory(paths::fromUtf8(cartella)));
    EXPECT_TRUE(
        std::filesystem::is_directory(folder.path() / std::filesystem::path(u8"Citt\u00E0")));
    const std::string file = cartella + paths::kSeparator + "perch\xC3\xA8_kvt.xml";
    files::writeAtomically(paths::fromUtf8(file), "contenuto");
    EXPECT_EQ(files::readAll(paths::fromUtf8(file)), "contenuto");
    {
        files::AtomicFile pezzi(paths::fromUtf8(file));
        pezzi.write("nuovo");
        pezzi.commit();
    }
    EXPECT_EQ(
        files::readAll(folder.path() / std::filesystem::path(u8"Citt\u00E0/perch\u00E8_kvt.xml")),
        "nuovo");
    std::vector<std::string> elenco;
    for (const auto& entry : std::filesystem::directory_iterator(paths::fromUtf8(cartella))) {
        elenco.push_back(paths::toUtf8(entry.path()));
    }
    EXPECT_EQ(elenco, std::vector<std::string>{file});
    EXPECT_EQ(paths::toUtf8(paths::fromUtf8(file)), file);
    EXPECT_TRUE(files::writeNewPrivate(
        paths::fromUtf8(cartella + paths::kSeparator + "\xC3\xA8.tmp"), "x"));
    EXPECT_EQ(files::removeInterruptedWrites(paths::fromUtf8(cartella)), 0);
    EXPECT_TRUE(std::filesystem::remove(paths::fromUtf8(file)));
}

}  // namespace
}  // namespace kvt
