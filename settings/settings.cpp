#include "settings/settings.h"

#include <string>
#include <vector>

#include "settings/program_error.h"
#include "platform/program_location.h"
#include "settings/alarms.h"
#include "settings/ini_file.h"
#include "settings/normalized_text.h"
#include "settings/number_text.h"

namespace velmora {

OutputMode OutputModeOf(const std::string& outputWay) {
    const std::string mode = NormalizedText(outputWay);
    if (mode == "TRI") return OutputMode::TRI;
    if (mode == "DLL") return OutputMode::DLL;
    if (mode == "SCRIPT") return OutputMode::Script;
    return OutputMode::LogOnly;
}

bool Settings::positionKeyAbsent(std::string_view key) const {
    for (const std::string& absent : absentPositionKeys)
        if (absent == key) return true;
    return false;
}

namespace {

// Start-up stops on it: the user must see which line of the file to mend.
ProgramError badValue(const SettingKey& row, const std::string& text, const char* why) {
    return ProgramError("Неверное значение в Velmora.ini: [" + std::string(row.section) + "] " + row.key + "=" +
                        text + " (" + why + ")");
}

std::int32_t strictValue(const SettingKey& row, const std::string& text) {
    try {
        return StrictInteger(text);
    } catch (const ProgramError&) {
        throw badValue(row, text, "нужно целое число");
    }
}

std::int32_t readInteger(const IniFile& ini, const SettingKey& row, std::int32_t field) {
    switch (row.value) {
        case IniValue::Address:
            // Addresses must not silently become 0: bad text stops the start-up instead.
            return strictValue(row, ini.read(row.section, row.key, "0"));
        case IniValue::Limit: {
            // A safety limit must not silently become no limit either; empty means none.
            const std::string text = ini.read(row.section, row.key, "");
            if (TrimmedText(text, Blank::SpaceOrTab).empty()) return 0;
            const std::int32_t limit = strictValue(row, text);
            if (limit < 0) throw badValue(row, text, "оно не может быть меньше нуля");
            return limit;
        }
        case IniValue::Interval: {
            // Text that is not a number must not pass for the default: start-up reports it.
            const std::string text = ini.read(row.section, row.key, "");
            return text.empty() ? field : IntegerOr(text, 0);
        }
        default: return IntegerOr(ini.read(row.section, row.key, ""), field);
    }
}

void readKey(const IniFile& ini, const SettingKey& row, Settings& settings) {
    if (auto text = std::get_if<std::string Settings::*>(&row.field)) {
        settings.**text = ini.read(row.section, row.key, settings.**text);
    } else if (auto integer = std::get_if<std::int32_t Settings::*>(&row.field)) {
        settings.**integer = readInteger(ini, row, settings.**integer);
    } else if (auto flag = std::get_if<bool Settings::*>(&row.field)) {
        settings.**flag = IntegerOr(ini.read(row.section, row.key, ""), settings.**flag ? 1 : 0) != 0;
    }
}

std::string savedText(const SettingKey& row, const Settings& settings) {
    if (auto text = std::get_if<std::string Settings::*>(&row.field)) return settings.**text;
    if (auto integer = std::get_if<std::int32_t Settings::*>(&row.field)) return std::to_string(settings.**integer);
    return settings.*std::get<bool Settings::*>(row.field) ? "1" : "0";
}

std::vector<SettingKey> makeTable() {
    using S = Settings;
    using enum IniValue;
    std::vector<SettingKey> keys = {
        {"COMMON", "SECTION", &S::SECTION, Text, Saved::Yes},
        {"COMMON", "ACCOUNT", &S::ACCOUNT, Text, Saved::Yes},
        {"COMMON", "QuikPath", &S::QuikPath, Text, Saved::Yes},
        {"COMMON", "MarketSpread", &S::MarketSpread, Integer, Saved::Yes},
        {"COMMON", "ManualOrdersMode", &S::ManualOrdersMode, Flag, Saved::Yes},
        {"COMMON", "ConfigureQUIK", &S::ConfigureQUIK, Flag, Saved::No},
        {"COMMON", "OutputWay", &S::OutputWay, Text, Saved::No},
        {"COMMON", "TRIFileName", &S::TRIFileName, Text, Saved::No},
        {"COMMON", "LogLevel", &S::LogLevel, Integer, Saved::No},
        {"COMMON", "BookSource", &S::BookSourceText, Text, Saved::No},
        {"COMMON", "LadderMode", &S::LadderModeText, Text, Saved::No},
        {"SCRIPT", "Instruments", &S::Instruments, Text, Saved::No},
        {"DEFAULT", "DefaultContract", &S::DefaultContract, Text, Saved::Yes},
        {"DEFAULT", "DefaultContractCnt", &S::DefaultContractCnt, Integer, Saved::Yes},
        {"DEFAULT", "DefaultLimitStopShift", &S::DefaultLimitStopShift, Integer, Saved::Yes},
        {"DEFAULT", "DefaultLimitOrderShift", &S::DefaultLimitOrderShift, Integer, Saved::Yes},
        {"DEFAULT", "MaxOrderQuantity", &S::MaxOrderQuantity, Limit, Saved::Yes},
        {"DEFAULT", "DefaultFullView", &S::DefaultFullView, Flag, Saved::Yes},
        {"DEFAULT", "DefaultStayOnTop", &S::DefaultStayOnTop, Flag, Saved::Yes},
        {"POSITION", "Left", &S::Left, Integer, Saved::Yes},
        {"POSITION", "Top", &S::Top, Integer, Saved::Yes},
        {"POSITION", "Height", &S::Height, Integer, Saved::Yes},
        {"POSITION", "FullWidth", &S::FullWidth, Integer, Saved::Yes},
        {"POSITION", "ShortWidth", &S::ShortWidth, Integer, Saved::Yes},
        {"POSITION", "DOMPanelWidth", &S::DOMPanelWidth, Integer, Saved::Yes},
    };
    for (const NamedField& column : ladderColumnWidthKeys)
        keys.push_back({"POSITION", column.key, column.field, Integer, Saved::Yes});
    keys.insert(keys.end(), {
        {"POSITION", "DOMRowHeight", &S::DOMRowHeight, Integer, Saved::Yes},
        {"POSITION", "DOMRowCount", &S::DOMRowCount, Integer, Saved::Yes},
        {"POSITION", "DOMFontSize", &S::DOMFontSize, Integer, Saved::Yes},
        {"POSITION", "DomFontName", &S::DomFontName, Text, Saved::Yes},
    });
    for (const NamedField& hotkey : hotkeyKeys)
        keys.push_back({"HOTKEYS", hotkey.key, hotkey.field, Integer, Saved::Yes});
    keys.insert(keys.end(), {
        {"TECH", "DOMBASE", &S::DOMBASE, Address, Saved::No},
        {"TECH", "QUIKOnline", &S::QUIKOnline, Address, Saved::No},
        {"TECH", "ReadSecVersion", &S::ReadSecVersion, Integer, Saved::No},
        {"TECH", "RefreshInterval", &S::RefreshInterval, Interval, Saved::Yes},
        {"TECH", "ReplyTimeout", &S::ReplyTimeout, Integer, Saved::No},
    });
    return keys;
}

}  // namespace

std::span<const SettingKey> SettingKeys() {
    static const std::vector<SettingKey> keys = makeTable();
    return keys;
}

void LoadConf(const std::string& path, Settings& settings, TAlarms& alarms) {
    const IniFile ini = IniFile::load(path);
    settings = Settings{};
    Settings& s = settings;
    for (const SettingKey& row : SettingKeys()) {
        readKey(ini, row, s);
        if (std::string_view(row.section) == "POSITION" && !ini.contains("POSITION", row.key))
            s.absentPositionKeys.emplace_back(row.key);
    }

    // Windows takes "/" as a separator too: "C:/QUIK/" must not become "C:/QUIK/\".
    if (!s.QuikPath.empty()) {
        const char last = s.QuikPath.back();
        if (last != pathSeparator() && last != '/') s.QuikPath += pathSeparator();
    }
    s.SetOutputWay(s.OutputWay);
    const std::string source = NormalizedText(s.BookSourceText);
    s.bookSource = source == "SCRIPT" ? BookSourceKind::Script : BookSourceKind::Memory;
    s.bookSourceUnknown = !source.empty() && source != "SCRIPT" && source != "MEMORY";
    const std::string ladder = NormalizedText(s.LadderModeText);
    s.ladderMode = ladder == "PRICES" ? LadderMode::Prices : LadderMode::Levels;
    s.ladderModeUnknown = !ladder.empty() && ladder != "PRICES" && ladder != "LEVELS";
    // A slip of the sign must not switch the time-out off.
    if (s.ReplyTimeout < 0) s.ReplyTimeout = Settings{}.ReplyTimeout;

    LoadAlarms(ini, alarms);
}

void SaveConf(const std::string& path, const Settings& settings) {
    IniFile ini = IniFile::loadForUpdate(path);
    for (const SettingKey& row : SettingKeys())
        if (row.saved == Saved::Yes) ini.write(row.section, row.key, savedText(row, settings));
    // Written once with every key set rather than once per key.
    ini.save(path);
}

}  // namespace velmora
