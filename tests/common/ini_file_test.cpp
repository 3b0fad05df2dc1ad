#include "common/ini_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/errors.h"
#include "common/general_functions.h"
#include "test_support.h"

namespace kvt {
namespace {

TEST(IniFileTest, ReadsLikeTheWindowsProfileFunctions) {
    const IniFile ini = IniFile::parse(
        "; last visits\r\n"
        "orphan=before any section\r\n"
        "[Data_Visita]\r\n"
        "RSSMRA80A01H501U=2009-03-15\t10:30\r\n"
        "  spaced key  =   padded value\t \r\n"
        "quoted=\"  inside  \"\r\n"
        "single='x'\r\n"
        "half=\"x\r\n"
        "empty=\r\n"
        "novalue\r\n"
        "dup=first\r\n"
        "dup=second\r\n"
        "[altro]\r\n"
        "RSSMRA80A01H501U=other section\r\n"
        "[data_visita]\r\n"
        "late=second section of the same name\r\n");
    EXPECT_EQ(ini.value("data_visita", "rssmra80a01h501u"), "2009-03-15\t10:30");
    EXPECT_EQ(ini.value("DATA_VISITA", "Spaced Key"), "padded value");
    EXPECT_EQ(ini.value("data_visita", "quoted"), "  inside  ");
    EXPECT_EQ(ini.value("data_visita", "single"), "x");
    EXPECT_EQ(ini.value("data_visita", "half"), "\"x");
    EXPECT_EQ(ini.value("data_visita", "empty"), "");
    EXPECT_EQ(ini.value("data_visita", "novalue"), std::nullopt);
    EXPECT_EQ(ini.value("data_visita", "dup"), "first");
    EXPECT_EQ(ini.value("altro", "RSSMRA80A01H501U"), "other section");
    EXPECT_EQ(ini.value("data_visita", "orphan"), std::nullopt);
    EXPECT_EQ(ini.value("data_visita", "late"), std::nullopt);
    EXPECT_EQ(ini.value("nessuna", "x"), std::nullopt);
}

TEST(IniFileTest, EditingKeepsEveryOtherByte) {
    const std::string original =
        "\xEF\xBB\xBF; commento\n"
        "[data_visita]\n"
        "  AAA = 2009-01-01\t08:00  \n"
        "BBB=2009-01-02\t09:00\n"
        "\n"
        "[altro]\n"
        "x=1";
    IniFile ini = IniFile::parse(original);
    EXPECT_EQ(ini.serialize(), original);

    ini.set("DATA_VISITA", "aaa", "2010-05-06\t07:08");
    ini.set("data_visita", "CCC", "2011-01-01\t00:00");
    ini.set("altro", "y", "2");
    ini.set("nuova", "k", "v");
    EXPECT_EQ(ini.serialize(),
              "\xEF\xBB\xBF; commento\n"
              "[data_visita]\n"
              "AAA=2010-05-06\t07:08\n"
              "BBB=2009-01-02\t09:00\n"
              "CCC=2011-01-01\t00:00\n"
              "\n"
              "[altro]\n"
              "x=1\n"
              "y=2\n"
              "\n"
              "[nuova]\n"
              "k=v\n");
}

TEST(IniFileTest, ACarriageReturnAloneEndsALineAndIsKept) {
    const std::string original = "[s]\rk=a\rb=2\r\nc=3\n";
    IniFile ini = IniFile::parse(original);
    EXPECT_EQ(ini.value("s", "k"), "a");
    EXPECT_EQ(ini.value("s", "b"), "2");
    EXPECT_EQ(ini.value("s", "c"), "3");
    EXPECT_EQ(ini.serialize(), original);
    ini.set("s", "k", "x");
    EXPECT_EQ(ini.serialize(), "[s]\rk=x\rb=2\r\nc=3\n");
}

TEST(IniFileTest, RefusesWhatALineCannotHold) {
    IniFile ini;
    EXPECT_THROW(ini.set("", "k", "v"), Error);
    EXPECT_THROW(ini.set("a]b", "k", "v"), Error);
    EXPECT_THROW(ini.set("s", " ", "v"), Error);
    EXPECT_THROW(ini.set("s", "a=b", "v"), Error);
    EXPECT_THROW(ini.set("s", "[k", "v"), Error);
    EXPECT_THROW(ini.set("s", ";k", "v"), Error);
    EXPECT_THROW(ini.set("s", "k", "two\r\nlines"), Error);
    EXPECT_THROW(ini.set("s\n", "k", "v"), Error);
    EXPECT_EQ(ini.serialize(), "");
}

TEST(IniHelpersTest, RoundTripWithTabAndCaseInsensitiveNames) {
    test::TempFolder folder;
    const auto file = folder / "update_new.ini";
    EXPECT_EQ(leggiIni(file, "data_visita", "RSSMRA80A01H501U"), "");

    scriviIni(file, "data_visita", "RSSMRA80A01H501U", "2009-03-15\t10:30");
    scriviIni(file, "data_visita", "VRDLGU70B02F205X", "2009-03-16\t11:31");
    EXPECT_EQ(test::readBytes(file),
              "[data_visita]\r\nRSSMRA80A01H501U=2009-03-15\t10:30\r\n"
              "VRDLGU70B02F205X=2009-03-16\t11:31\r\n");
    EXPECT_EQ(leggiIni(file, "DATA_VISITA", "rssmra80a01h501u"), "2009-03-15\t10:30");
    EXPECT_EQ(testoADataOra(leggiIni(file, "data_visita", "VRDLGU70B02F205X")).valore,
              (DateTime{2009, 3, 16, 11, 31, 0}));

    // Replacing a value keeps the line where it was.
    scriviIni(file, "Data_Visita", "rssmra80a01h501u", "2010-01-01\t00:00");
    EXPECT_EQ(test::readBytes(file),
              "[data_visita]\r\nRSSMRA80A01H501U=2010-01-01\t00:00\r\n"
              "VRDLGU70B02F205X=2009-03-16\t11:31\r\n");
    EXPECT_EQ(leggiIni(file, "data_visita", "missing"), "");
    EXPECT_EQ(leggiIni(file, "missing", "RSSMRA80A01H501U"), "");
}

TEST(IniHelpersTest, PermissionsAndFailures) {
    test::TempFolder folder;
    const auto file = folder / "update_new.ini";
    scriviIni(file, "s", "k", "v");
    EXPECT_TRUE(test::ownerOnly(file));
#ifndef _WIN32
    struct stat info {};
    ::chmod(file.c_str(), 0644);
    scriviIni(file, "s", "k", "w");
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
#else
    scriviIni(file, "s", "k", "w");
#endif
    EXPECT_EQ(leggiIni(file, "s", "k"), "w");
    // Only the file itself is in the folder: the temporary one was renamed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);

    EXPECT_THROW(scriviIni(folder / "missing" / "x.ini", "s", "k", "v"), Error);
    EXPECT_THROW(scriviIni(folder.path(), "s", "k", "v"), Error);
    EXPECT_THROW(scriviIni(file, "s", "k", "a\nb"), Error);
    EXPECT_EQ(leggiIni(file, "s", "k"), "w");
    EXPECT_EQ(leggiIni(folder.path(), "s", "k"), "");
}

}  // namespace
}  // namespace kvt
