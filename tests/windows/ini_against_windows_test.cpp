// The ini read as the profile API of Windows itself reads it (here Wine's): the same file,
// the same keys, the same answers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/ini_file.h"
#include "support/fakes.h"

namespace velmora {
namespace {

using testing::TempFolder;
using testing::writeFile;

std::string profileString(const std::string& path, const char* section, const char* key) {
    char value[2048] = {};
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, path.c_str());
    return value;
}

TEST(IniAgainstWindows, EveryCaseReadsAsTheProfileApiReadsIt) {
    TempFolder folder;
    struct Case {
        const char* name;
        std::string text;
        const char* section;
        const char* key;
    };
    const Case cases[] = {
        {"double quotes", "[COMMON]\r\nQuikPath=\"C:\\Program Files\\QUIK\\\"\r\n", "COMMON", "QuikPath"},
        {"single quotes", "[COMMON]\r\nQuikPath='C:\\QUIK\\'\r\n", "COMMON", "QuikPath"},
        {"one quote", "[COMMON]\r\nQuikPath=\"C:\\QUIK\\\r\n", "COMMON", "QuikPath"},
        {"byte-order mark", "\xEF\xBB\xBF[COMMON]\r\nQuikPath=C:\\QUIK\\\r\n", "COMMON", "QuikPath"},
        {"later section of the name", "[COMMON]\r\nA=1\r\n[TECH]\r\nB=2\r\n[COMMON]\r\nC=3\r\n", "COMMON", "C"},
        {"first of two", "[COMMON]\r\nA=1\r\nA=2\r\n", "COMMON", "A"},
        {"blanks in the brackets", "[ COMMON ]\r\nA=1\r\n", "COMMON", "A"},
        {"text after the bracket", "[COMMON] ; main\r\nA=1\r\n", "COMMON", "A"},
        {"blanks around", "[COMMON]\r\n  A  =  x y  \r\n", "COMMON", "A"},
        {"case of names", "[common]\r\nquikpath=z\r\n", "COMMON", "QuikPath"},
        {"missing key", "[COMMON]\r\nA=1\r\n", "COMMON", "B"},
    };
    for (const Case& item : cases) {
        const std::string path = folder.file("case.ini");
        writeFile(path, item.text);
        EXPECT_EQ(IniFile::load(path).read(item.section, item.key, "<missing>"), profileString(path, item.section, item.key))
            << item.name;
    }
}

}  // namespace
}  // namespace velmora
