#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "settings/program_error.h"
#include "platform/program_location.h"
#include "settings/alarms.h"
#include "platform/text_encoding.h"
#include "support/fakes.h"

namespace velmora {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

class SettingsTest : public ::testing::Test {
protected:
    Settings load(const std::string& content) {
        writeFile(path, content);
        Settings settings;
        alarms.Clear();
        LoadConf(path, settings, alarms);
        return settings;
    }

    TempFolder folder;
    std::string path = folder.file("Velmora.ini");
    TAlarms alarms;
};

TEST_F(SettingsTest, MissingFileGivesEveryDefault) {
    Settings settings;
    settings.LogLevel = 9;
    LoadConf(folder.file("none.ini"), settings, alarms);
    EXPECT_EQ(settings.SECTION, "FORTS");
    EXPECT_EQ(settings.QuikPath, "");
    EXPECT_EQ(settings.DOMBASE, 0);
    EXPECT_EQ(settings.LogLevel, 1);
    EXPECT_TRUE(settings.DefaultFullView);
    EXPECT_EQ(settings.MARKETPLUSBUY, 32880);
    EXPECT_EQ(settings.DomFontName, "Courier New");
    EXPECT_EQ(alarms.Count(), 0);
}

TEST_F(SettingsTest, ReadsIntegerAndBooleanFormsWithDefaultsForBadText) {
    Settings settings = load(
        "[common]\r\nmarketspread=0x10\r\nLogLevel= abc\r\nManualOrdersMode=-3\r\n"
        "[DEFAULT]\r\nDefaultFullView=2\r\nDefaultStayOnTop=\r\nDefaultContractCnt= -5\r\n"
        "[POSITION]\r\nLeft=$10\r\nTop=x10\r\n[HOTKEYS]\r\nMARKETBUY=0\r\nCLEARALL=junk\r\n");
    EXPECT_EQ(settings.MarketSpread, 16);
    EXPECT_EQ(settings.LogLevel, 1);
    EXPECT_TRUE(settings.ManualOrdersMode);
    EXPECT_TRUE(settings.DefaultFullView);
    EXPECT_TRUE(settings.DefaultStayOnTop);
    EXPECT_EQ(settings.DefaultContractCnt, -5);
    EXPECT_EQ(settings.Left, 16);
    EXPECT_EQ(settings.Top, 16);
    EXPECT_EQ(settings.MARKETBUY, 0);
    EXPECT_EQ(settings.CLEARALL, 116);
}

TEST_F(SettingsTest, DombaseIsConvertedStrictly) {
    for (const char* value : {"$1A", "0x1A", "26"})
        EXPECT_EQ(load(std::string("[TECH]\r\nDOMBASE=") + value + "\r\n").DOMBASE, 26) << value;
    EXPECT_EQ(load("[TECH]\r\nQUIKOnline=1\r\n").DOMBASE, 0);
    EXPECT_THROW(load("[TECH]\r\nDOMBASE=\r\n"), ProgramError);
    EXPECT_THROW(load("[TECH]\r\nDOMBASE=zz\r\n"), ProgramError);
    EXPECT_THROW(load("[TECH]\r\nQUIKOnline=zz\r\n"), ProgramError);
    // Addresses above 2 GiB stay usable.
    EXPECT_EQ(static_cast<std::uint32_t>(load("[TECH]\r\nDOMBASE=$8A0B0C0D\r\n").DOMBASE), 0x8A0B0C0Du);
}

TEST_F(SettingsTest, MaxOrderQuantityIsNoLimitWhenEmptyAndNeverSilentlyWhenBad) {
    EXPECT_EQ(load("[DEFAULT]\r\nMaxOrderQuantity=25\r\n").MaxOrderQuantity, 25);
    EXPECT_EQ(load("[DEFAULT]\r\nMaxOrderQuantity=\r\n").MaxOrderQuantity, 0);
    EXPECT_EQ(load("[DEFAULT]\r\n").MaxOrderQuantity, 0);
    EXPECT_THROW(load("[DEFAULT]\r\nMaxOrderQuantity=1O\r\n"), ProgramError);
    EXPECT_THROW(load("[DEFAULT]\r\nMaxOrderQuantity=-1\r\n"), ProgramError);
}

TEST_F(SettingsTest, QuikPathGetsOneTrailingSeparator) {
    const std::string separator(1, pathSeparator());
    EXPECT_EQ(load("[COMMON]\r\nQuikPath=C:" + separator + "QUIK\r\n").QuikPath, "C:" + separator + "QUIK" + separator);
    EXPECT_EQ(load("[COMMON]\r\nQuikPath=C:" + separator + "QUIK" + separator + "\r\n").QuikPath,
              "C:" + separator + "QUIK" + separator);
    EXPECT_EQ(load("[COMMON]\r\nQuikPath=\r\n").QuikPath, "");
    EXPECT_EQ(load("[COMMON]\r\nQuikPath=C:/QUIK/\r\n").QuikPath, "C:/QUIK/");  // "/" separates on Windows too
}

TEST_F(SettingsTest, ReadsAlarmsAfterTheOtherKeys) {
    load(utf8ToCp1251("[ALARMS]\r\nALARM1=09:30 09:45 Обед\r\n"));
    ASSERT_EQ(alarms.Count(), 1);
    EXPECT_EQ(alarms.items[0]->Text, " Обед");
}

TEST_F(SettingsTest, SavedFileLoadsBackToTheSameValues) {
    // Distinct values off the defaults for every saved key, negative ones and modifier bits included,
    // so that a key written but not read, or read into another field, shows.
    Settings saved;
    std::int32_t n = 0;
    for (const SettingKey& row : SettingKeys()) {
        if (row.saved == Saved::No) continue;
        ++n;
        if (auto text = std::get_if<std::string Settings::*>(&row.field))
            saved.**text = "Счёт-" + std::to_string(n) + pathSeparator();
        else if (auto integer = std::get_if<std::int32_t Settings::*>(&row.field))
            saved.**integer = row.value == IniValue::Limit ? n : (n - 5) * 4099 + 1;
        else
            saved.*std::get<bool Settings::*>(row.field) = !(saved.*std::get<bool Settings::*>(row.field));
    }
    SaveConf(path, saved);

    Settings loaded;
    LoadConf(path, loaded, alarms);
    for (const SettingKey& row : SettingKeys()) {
        if (row.saved == Saved::No) continue;
        std::visit([&](auto field) { EXPECT_EQ(loaded.*field, saved.*field) << row.key; }, row.field);
    }
}

TEST_F(SettingsTest, SaveWritesInPlaceAndLeavesUnsavedKeysByteForByte) {
    const std::string before =
        "; \xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8\r\n"
        "[COMMON]\r\n"
        "OutputWay = tri \r\n"
        "SECTION=FORTS\r\n"
        "LogLevel=5\r\n"
        "ConfigureQUIK=1\r\n"
        "TRIFileName=x.tri\r\n"
        "Custom=kept\r\n"
        "\r\n"
        "[DEFAULT]\r\n"
        "DefaultFullView=2\r\n"
        "\r\n"
        "[TECH]\r\n"
        "DOMBASE = $1A\r\n"
        "QUIKOnline=0\r\n"
        "[ALARMS]\r\n"
        "ALARM1=09:30 09:45 \xCE\xE1\xE5\xE4\r\n";
    writeFile(path, before);
    Settings settings;
    LoadConf(path, settings, alarms);
    SaveConf(path, settings);

    const std::string expected =
        "; \xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8\r\n"
        "[COMMON]\r\n"
        "OutputWay = tri \r\n"
        "SECTION=FORTS\r\n"
        "LogLevel=5\r\n"
        "ConfigureQUIK=1\r\n"
        "TRIFileName=x.tri\r\n"
        "Custom=kept\r\n"
        "ACCOUNT=\r\nQuikPath=\r\nMarketSpread=0\r\nManualOrdersMode=0\r\n"
        "\r\n"
        "[DEFAULT]\r\n"
        "DefaultFullView=1\r\n"
        "DefaultContract=\r\nDefaultContractCnt=0\r\nDefaultLimitStopShift=0\r\nDefaultLimitOrderShift=0\r\n"
        "MaxOrderQuantity=0\r\n"
        "DefaultStayOnTop=1\r\n"
        "\r\n"
        "[TECH]\r\n"
        "DOMBASE = $1A\r\n"
        "QUIKOnline=0\r\n"
        "RefreshInterval=100\r\n"
        "[ALARMS]\r\n"
        "ALARM1=09:30 09:45 \xCE\xE1\xE5\xE4\r\n"
        "\r\n"
        "[POSITION]\r\nLeft=0\r\nTop=0\r\nHeight=0\r\nFullWidth=0\r\nShortWidth=0\r\nDOMPanelWidth=0\r\n"
        "DOMCol1Width=0\r\nDOMCol2Width=0\r\nDOMCol3Width=0\r\nDOMCol4Width=0\r\nDOMCol5Width=0\r\n"
        "DOMCol6Width=0\r\nDOMCol7Width=48\r\nDOMRowHeight=0\r\nDOMRowCount=0\r\nDOMFontSize=0\r\nDomFontName=Courier New\r\n"
        "\r\n"
        "[HOTKEYS]\r\nMARKETBUY=112\r\nMARKETSELL=113\r\nMARKETPLUSBUY=32880\r\nMARKETPLUSSELL=32881\r\n"
        "CLEARALL=116\r\nCLEARALLSTOPS=0\r\nCENTER=114\r\nFLATTEN=117\r\nREVERSE=0\r\nRESETVOLUME=0\r\n";
    EXPECT_EQ(readFile(path), expected);
}

TEST_F(SettingsTest, FailedSaveNamesTheFile) {
    std::string missing = folder.file("gone/Velmora.ini");
    try {
        SaveConf(missing, Settings{});
        FAIL() << "no error";
    } catch (const ProgramError& error) {
        EXPECT_NE(std::string(error.what()).find(missing), std::string::npos);
    }
}

TEST_F(SettingsTest, BookSourceIsMemoryUnlessItSaysScript) {
    Settings missing = load("[COMMON]\r\nOutputWay=TRI\r\n");
    EXPECT_EQ(missing.bookSource, BookSourceKind::Memory);
    EXPECT_FALSE(missing.bookSourceUnknown);
    Settings script = load("[COMMON]\r\nBookSource= Script \r\n[SCRIPT]\r\nInstruments=SPBFUT:SiZ6\r\n");
    EXPECT_EQ(script.bookSource, BookSourceKind::Script);
    EXPECT_EQ(script.Instruments, "SPBFUT:SiZ6");
    Settings other = load("[COMMON]\r\nBookSource=LUA\r\n");
    EXPECT_EQ(other.bookSource, BookSourceKind::Memory);
    EXPECT_TRUE(other.bookSourceUnknown);
}

}  // namespace
}  // namespace velmora
