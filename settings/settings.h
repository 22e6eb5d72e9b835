#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <variant>

namespace velmora {

class TAlarms;

// How orders reach the terminal, from OutputWay compared trimmed and with a..z upper-cased.
enum class OutputMode { LogOnly, TRI, DLL, Script };
OutputMode OutputModeOf(const std::string& outputWay);

// Where the books come from: the terminal's memory, or velmora.lua over the link.
enum class BookSourceKind { Memory, Script };
// One row a book level, anchored on the spread; or one row a price step, rows that stay put.
enum class LadderMode { Levels, Prices };

// One field per ini key, named by the key.
struct Settings {
    // COMMON
    std::string SECTION = "FORTS";
    std::string ACCOUNT;
    std::string QuikPath;  // ends in the folder separator unless empty
    std::int32_t MarketSpread = 0;
    bool ManualOrdersMode = false;
    bool ConfigureQUIK = false;
    std::string OutputWay;  // as written; set it with SetOutputWay so outputMode follows
    OutputMode outputMode = OutputMode::LogOnly;
    std::string TRIFileName;  // replaced at start-up by QuikPath + "quik.tri"
    std::int32_t LogLevel = 1;
    std::string BookSourceText;  // as written; empty when the key is missing
    BookSourceKind bookSource = BookSourceKind::Memory;
    bool bookSourceUnknown = false;  // neither MEMORY nor SCRIPT: taken as MEMORY, to be logged
    std::string LadderModeText;      // as written; empty when the key is missing
    LadderMode ladderMode = LadderMode::Levels;
    bool ladderModeUnknown = false;  // neither LEVELS nor PRICES: taken as LEVELS, to be logged
    // DEFAULT
    std::string DefaultContract;
    std::int32_t DefaultContractCnt = 0;
    std::int32_t DefaultLimitStopShift = 0;
    std::int32_t DefaultLimitOrderShift = 0;
    std::int32_t MaxOrderQuantity = 0;  // lots per order or stop; 0 = no limit
    bool DefaultFullView = true;
    bool DefaultStayOnTop = true;
    // SCRIPT: CLASS:TICKER,... as written
    std::string Instruments;
    // POSITION
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Height = 0;
    std::int32_t FullWidth = 0;
    std::int32_t ShortWidth = 0;
    std::int32_t DOMPanelWidth = 0;
    std::int32_t DOMCol1Width = 0;
    std::int32_t DOMCol2Width = 0;
    std::int32_t DOMCol3Width = 0;
    std::int32_t DOMCol4Width = 0;
    std::int32_t DOMCol5Width = 0;
    std::int32_t DOMCol6Width = 0;
    // The traded volume's column, new to older files: its width before the user sets one.
    std::int32_t DOMCol7Width = 48;
    std::int32_t DOMRowHeight = 0;
    std::int32_t DOMRowCount = 0;
    std::int32_t DOMFontSize = 0;
    std::string DomFontName = "Courier New";
    // The [POSITION] keys the file lacks (a first start lacks them all): their defaults are expected,
    // not a fault to report.
    std::vector<std::string> absentPositionKeys;
    bool positionKeyAbsent(std::string_view key) const;
    // HOTKEYS: Windows virtual-key code + 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt; 0 = none
    std::int32_t MARKETBUY = 112;
    std::int32_t MARKETSELL = 113;
    std::int32_t MARKETPLUSBUY = 32880;
    std::int32_t MARKETPLUSSELL = 32881;
    std::int32_t CLEARALL = 116;
    std::int32_t CLEARALLSTOPS = 0;
    std::int32_t CENTER = 114;
    std::int32_t FLATTEN = 117;
    std::int32_t REVERSE = 0;
    std::int32_t RESETVOLUME = 0;
    // TECH
    std::int32_t DOMBASE = 0;
    std::int32_t QUIKOnline = 0;
    std::int32_t ReadSecVersion = 1;
    // The refresh timer's interval in milliseconds; 0 marks text that is not a number.
    std::int32_t RefreshInterval = 100;
    // Seconds a transaction waits for the terminal's final reply; 0 = for ever.
    std::int32_t ReplyTimeout = 5;

    void SetOutputWay(std::string text) {
        OutputWay = std::move(text);
        outputMode = OutputModeOf(OutputWay);
    }
};

// A field of Settings named by its ini key, for the keys the window handles as a list.
struct NamedField {
    const char* key;
    std::int32_t Settings::*field;
};

// The ladder's column widths in [POSITION], first column first.
inline constexpr NamedField ladderColumnWidthKeys[] = {
    {"DOMCol1Width", &Settings::DOMCol1Width}, {"DOMCol2Width", &Settings::DOMCol2Width},
    {"DOMCol3Width", &Settings::DOMCol3Width}, {"DOMCol4Width", &Settings::DOMCol4Width},
    {"DOMCol5Width", &Settings::DOMCol5Width}, {"DOMCol6Width", &Settings::DOMCol6Width},
    {"DOMCol7Width", &Settings::DOMCol7Width}};

// The hotkeys in [HOTKEYS], in the order of the file and of the window's settings page.
inline constexpr NamedField hotkeyKeys[] = {
    {"MARKETBUY", &Settings::MARKETBUY},         {"MARKETSELL", &Settings::MARKETSELL},
    {"MARKETPLUSBUY", &Settings::MARKETPLUSBUY}, {"MARKETPLUSSELL", &Settings::MARKETPLUSSELL},
    {"CLEARALL", &Settings::CLEARALL},           {"CLEARALLSTOPS", &Settings::CLEARALLSTOPS},
    {"CENTER", &Settings::CENTER},               {"FLATTEN", &Settings::FLATTEN},
    {"REVERSE", &Settings::REVERSE},             {"RESETVOLUME", &Settings::RESETVOLUME}};

// How a key's text becomes its field's value.
enum class IniValue {
    Text,
    Integer,   // text that is not a number keeps the default
    Flag,      // an integer, true unless 0; text that is not a number keeps the default
    Address,   // missing is 0; text that is not a number stops the start-up
    Limit,     // empty is no limit; text that is not a number, or below 0, stops the start-up
    Interval,  // empty keeps the default; text that is not a number is 0, for start-up to report
};

// Whether SaveConf writes the key back; the others are edited in the file only.
enum class Saved { No, Yes };

using SettingField = std::variant<std::string Settings::*, std::int32_t Settings::*, bool Settings::*>;

// One key of Velmora.ini. Its default is the field's initial value in Settings.
struct SettingKey {
    const char* section;
    const char* key;
    SettingField field;
    IniValue value;
    Saved saved;
};

// Every key but the alarms, in the order of the file: LoadConf reads them, SaveConf writes the saved ones.
std::span<const SettingKey> SettingKeys();

// Fills `settings` and appends the alarm entries to `alarms`. A missing file gives
// every default. Throws ProgramError on a DOMBASE / QUIKOnline / MaxOrderQuantity that is not a number
// or an alarm time that cannot be read.
void LoadConf(const std::string& path, Settings& settings, TAlarms& alarms);

// Writes the saved keys in place, keeping every other line. Throws ProgramError
// naming the file when it cannot be written.
void SaveConf(const std::string& path, const Settings& settings);

}  // namespace velmora
