#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/program_error.h"
#include "support/fakes.h"

namespace velmora {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

TEST(IniFileTest, ReadsNamesWithoutRegardToCaseAndTrimsValues) {
    TempFolder folder;
    writeFile(folder.file("a.ini"), "[Common]\r\n  QuikPath =  C:\\QUIK  \r\nEmpty=\r\n");
    IniFile ini = IniFile::load(folder.file("a.ini"));
    EXPECT_EQ(ini.read("COMMON", "quikpath", "-"), "C:\\QUIK");
    EXPECT_EQ(ini.read("common", "EMPTY", "-"), "");
    EXPECT_TRUE(ini.contains("COMMON", "Empty"));
    EXPECT_EQ(ini.read("COMMON", "Missing", "-"), "-");
    EXPECT_EQ(ini.read("OTHER", "QuikPath", "-"), "-");
    EXPECT_FALSE(ini.contains("OTHER", "QuikPath"));
}

TEST(IniFileTest, FirstMatchingSectionAndKeyWin) {
    TempFolder folder;
    writeFile(folder.file("a.ini"), "[A]\nk=1\nK=2\n[B]\nk=3\n[a]\nk=4\nonly=5\n");
    IniFile ini = IniFile::load(folder.file("a.ini"));
    EXPECT_EQ(ini.read("A", "k", "-"), "1");
    EXPECT_EQ(ini.read("b", "K", "-"), "3");
    // A repeated section is not searched: the first one with the name is the section.
    EXPECT_EQ(ini.read("A", "only", "-"), "-");
}

TEST(IniFileTest, CutsValuesAt2047Characters) {
    TempFolder folder;
    // Cyrillic letters are one byte on disk and one character in the value.
    std::string onDisk = "[S]\r\nk=" + std::string(2046, 'x') + "\xC0\xC1\r\n";
    writeFile(folder.file("a.ini"), onDisk);
    std::string value = IniFile::load(folder.file("a.ini")).read("S", "k", "");
    EXPECT_EQ(value, std::string(2046, 'x') + "А");
}

TEST(IniFileTest, WriteReplacesInPlaceAndKeepsEveryOtherLineByteForByte) {
    TempFolder folder;
    const std::string before =
        "; \xEA\xEE\xEC\xEC\xE5\xED\xF2\xE0\xF0\xE8\xE9\r\n"
        "[COMMON]\r\n"
        "Account = OLD  \r\n"
        "Unknown= keep me \r\n"
        "\r\n"
        "[TECH]\r\n"
        "DOMBASE=$1A\r\n";
    writeFile(folder.file("a.ini"), before);
    IniFile ini = IniFile::load(folder.file("a.ini"));
    ini.write("common", "ACCOUNT", "Счёт");
    ini.save(folder.file("a.ini"));
    std::string expected = before;
    expected.replace(expected.find("Account = OLD  "), 15, "Account=\xD1\xF7\xB8\xF2");
    EXPECT_EQ(readFile(folder.file("a.ini")), expected);
}

TEST(IniFileTest, WriteAppendsMissingKeyToItsSectionAndMissingSectionToTheFile) {
    TempFolder folder;
    writeFile(folder.file("a.ini"), "[A]\nx=1\n\n[B]\ny=2\n");
    IniFile ini = IniFile::load(folder.file("a.ini"));
    ini.write("A", "z", "3");
    ini.write("C", "w", "4");
    ini.write("C", "v", "5");
    ini.save(folder.file("a.ini"));
    EXPECT_EQ(readFile(folder.file("a.ini")), "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n\r\n[C]\r\nw=4\r\nv=5\r\n");
}

TEST(IniFileTest, LineBreaksInAValueCannotForgeKeys) {
    TempFolder folder;
    IniFile ini;
    ini.write("S", "a", "1\r\nb=2");
    ini.save(folder.file("a.ini"));
    IniFile back = IniFile::load(folder.file("a.ini"));
    EXPECT_FALSE(back.contains("S", "b"));
    EXPECT_EQ(back.read("S", "a", ""), "1  b=2");
}

TEST(IniFileTest, SaveAndProfileWriteFailuresNameTheFile) {
    TempFolder folder;
    std::string path = folder.file("no such folder/a.ini");
    try {
        IniFile().save(path);
        FAIL() << "no error";
    } catch (const ProgramError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + path);
    }
    EXPECT_THROW(WriteProfileString(path, "S", "k", "v"), ProgramError);
    // A path that is a folder cannot be read for update: it must not be replaced.
    EXPECT_THROW(WriteProfileString(folder.path(), "S", "k", "v"), ProgramError);
}

TEST(IniFileTest, WriteProfileStringCreatesOrUpdatesTheFile) {
    TempFolder folder;
    std::string path = folder.file("info.ini");
    WriteProfileString(path, "transactions", "a", "1");
    writeFile(path, readFile(path) + "; note\r\n");
    WriteProfileString(path, "TRANSACTIONS", "a", "2");
    EXPECT_EQ(readFile(path), "[transactions]\r\na=2\r\n; note\r\n");
}

TEST(IniFileTest, ReadsAsTheWindowsProfileReaderDoes) {
    TempFolder folder;
    // Quotes around a value go; a lone or unmatched one stays. Blanks inside the brackets and
    // text after them do not change the section's name.
    writeFile(folder.file("a.ini"),
              "[ COMMON ] ; main\r\nQuikPath=\"C:\\Program Files\\QUIK\\\"\r\nA='x y'\r\nB=\"x'\r\nC=\"\r\n");
    IniFile ini = IniFile::load(folder.file("a.ini"));
    EXPECT_EQ(ini.read("COMMON", "QuikPath", "-"), "C:\\Program Files\\QUIK\\");
    EXPECT_EQ(ini.read("COMMON", "A", "-"), "x y");
    EXPECT_EQ(ini.read("COMMON", "B", "-"), "\"x'");
    EXPECT_EQ(ini.read("COMMON", "C", "-"), "\"");
}

TEST(IniFileTest, AFileWithTheUtf8MarkIsReadAndSavedAsUtf8) {
    TempFolder folder;
    const std::string mark = "\xEF\xBB\xBF";
    writeFile(folder.file("a.ini"), mark + "[COMMON]\r\nQuikPath=C:\\QUIK\\\r\n[ALARMS]\r\nALARM1=09:30 09:45 Клиринг\r\n");
    IniFile ini = IniFile::load(folder.file("a.ini"));
    EXPECT_EQ(ini.read("COMMON", "QuikPath", "-"), "C:\\QUIK\\");
    EXPECT_EQ(ini.read("ALARMS", "ALARM1", "-"), "09:30 09:45 Клиринг");
    ini.write("COMMON", "ACCOUNT", "Счёт");
    ini.save(folder.file("a.ini"));
    EXPECT_EQ(readFile(folder.file("a.ini")),
              mark + "[COMMON]\r\nQuikPath=C:\\QUIK\\\r\nACCOUNT=Счёт\r\n[ALARMS]\r\nALARM1=09:30 09:45 Клиринг\r\n");
}

}  // namespace
}  // namespace velmora
