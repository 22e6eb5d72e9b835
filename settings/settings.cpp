#include "settings/settings.h"

#include <string>

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
    return OutputMode::LogOnly;
}

bool Settings::positionKeyAbsent(std::string_view key) const {
    for (const std::string& absent : absentPositionKeys)
        if (absent == key) return true;
    return false;
}

namespace {

class Reader {
public:
    explicit Reader(const IniFile& ini) : ini_(ini) {}

    void text(const char* section, const char* key, std::string& field) const {
        field = ini_.read(section, key, field);
    }
    void integer(const char* section, const char* key, std::int32_t& field) const {
        field = IntegerOr(ini_.read(section, key, ""), field);
    }
    void boolean(const char* section, const char* key, bool& field) const {
        field = IntegerOr(ini_.read(section, key, ""), field ? 1 : 0) != 0;
    }
    // Addresses must not silently become 0: bad text stops the start-up instead.
    void strictInteger(const char* section, const char* key, std::int32_t& field) const {
        const std::string text = ini_.read(section, key, "0");
        try {
            field = StrictInteger(text);
        } catch (const ProgramError&) {
            throw badValue(section, key, text, "нужно целое число");
        }
    }
    // A safety limit must not silently become no limit either; empty means none.
    void limit(const char* section, const char* key, std::int32_t& field) const {
        const std::string text = ini_.read(section, key, "");
        field = 0;
        if (text.find_first_not_of(" \t") == std::string::npos) return;
        try {
            field = StrictInteger(text);
        } catch (const ProgramError&) {
            throw badValue(section, key, text, "нужно целое число");
        }
        if (field < 0) throw badValue(section, key, text, "оно не может быть меньше нуля");
    }

    // Start-up stops on it: the user must see which line of the file to mend.
    static ProgramError badValue(const char* section, const char* key, const std::string& text, const char* why) {
        return ProgramError("Неверное значение в Velmora.ini: [" + std::string(section) + "] " + key + "=" + text +
                            " (" + why + ")");
    }

private:
    const IniFile& ini_;
};

class Writer {
public:
    explicit Writer(IniFile& ini) : ini_(ini) {}

    void text(const char* section, const char* key, const std::string& value) { ini_.write(section, key, value); }
    void integer(const char* section, const char* key, std::int32_t value) {
        ini_.write(section, key, std::to_string(value));
    }
    void boolean(const char* section, const char* key, bool value) { ini_.write(section, key, value ? "1" : "0"); }

private:
    IniFile& ini_;
};

}  // namespace

void LoadConf(const std::string& path, Settings& settings, TAlarms& alarms) {
    const IniFile ini = IniFile::load(path);
    Reader read(ini);
    settings = Settings{};
    Settings& s = settings;

    read.text("COMMON", "SECTION", s.SECTION);
    read.text("COMMON", "ACCOUNT", s.ACCOUNT);
    read.text("COMMON", "QuikPath", s.QuikPath);
    // Windows takes "/" as a separator too: "C:/QUIK/" must not become "C:/QUIK/\".
    if (!s.QuikPath.empty()) {
        const char last = s.QuikPath.back();
        if (last != pathSeparator() && last != '/') s.QuikPath += pathSeparator();
    }
    read.integer("COMMON", "MarketSpread", s.MarketSpread);
    read.boolean("COMMON", "ManualOrdersMode", s.ManualOrdersMode);
    read.boolean("COMMON", "ConfigureQUIK", s.ConfigureQUIK);
    read.text("COMMON", "OutputWay", s.OutputWay);
    s.SetOutputWay(s.OutputWay);
    read.text("COMMON", "TRIFileName", s.TRIFileName);
    read.integer("COMMON", "LogLevel", s.LogLevel);
    read.text("COMMON", "BookSource", s.BookSourceText);
    {
        const std::string source = NormalizedText(s.BookSourceText);
        s.bookSource = source == "SCRIPT" ? BookSourceKind::Script : BookSourceKind::Memory;
        s.bookSourceUnknown = !source.empty() && source != "SCRIPT" && source != "MEMORY";
    }
    read.text("SCRIPT", "Instruments", s.Instruments);

    read.text("DEFAULT", "DefaultContract", s.DefaultContract);
    read.integer("DEFAULT", "DefaultContractCnt", s.DefaultContractCnt);
    read.integer("DEFAULT", "DefaultLimitStopShift", s.DefaultLimitStopShift);
    read.integer("DEFAULT", "DefaultLimitOrderShift", s.DefaultLimitOrderShift);
    read.limit("DEFAULT", "MaxOrderQuantity", s.MaxOrderQuantity);
    read.boolean("DEFAULT", "DefaultFullView", s.DefaultFullView);
    read.boolean("DEFAULT", "DefaultStayOnTop", s.DefaultStayOnTop);

    for (const char* key : {"Left", "Top", "Height", "FullWidth", "ShortWidth", "DOMPanelWidth", "DOMCol1Width",
                            "DOMCol2Width", "DOMCol3Width", "DOMCol4Width", "DOMCol5Width", "DOMCol6Width",
                            "DOMRowHeight", "DOMRowCount", "DOMFontSize", "DomFontName"})
        if (!ini.contains("POSITION", key)) s.absentPositionKeys.emplace_back(key);
    read.integer("POSITION", "Left", s.Left);
    read.integer("POSITION", "Top", s.Top);
    read.integer("POSITION", "Height", s.Height);
    read.integer("POSITION", "FullWidth", s.FullWidth);
    read.integer("POSITION", "ShortWidth", s.ShortWidth);
    read.integer("POSITION", "DOMPanelWidth", s.DOMPanelWidth);
    read.integer("POSITION", "DOMCol1Width", s.DOMCol1Width);
    read.integer("POSITION", "DOMCol2Width", s.DOMCol2Width);
    read.integer("POSITION", "DOMCol3Width", s.DOMCol3Width);
    read.integer("POSITION", "DOMCol4Width", s.DOMCol4Width);
    read.integer("POSITION", "DOMCol5Width", s.DOMCol5Width);
    read.integer("POSITION", "DOMCol6Width", s.DOMCol6Width);
    read.integer("POSITION", "DOMRowHeight", s.DOMRowHeight);
    read.integer("POSITION", "DOMRowCount", s.DOMRowCount);
    read.integer("POSITION", "DOMFontSize", s.DOMFontSize);
    read.text("POSITION", "DomFontName", s.DomFontName);

    read.integer("HOTKEYS", "MARKETBUY", s.MARKETBUY);
    read.integer("HOTKEYS", "MARKETSELL", s.MARKETSELL);
    read.integer("HOTKEYS", "MARKETPLUSBUY", s.MARKETPLUSBUY);
    read.integer("HOTKEYS", "MARKETPLUSSELL", s.MARKETPLUSSELL);
    read.integer("HOTKEYS", "CLEARALL", s.CLEARALL);
    read.integer("HOTKEYS", "CLEARALLSTOPS", s.CLEARALLSTOPS);

    read.strictInteger("TECH", "DOMBASE", s.DOMBASE);
    read.strictInteger("TECH", "QUIKOnline", s.QUIKOnline);
    read.integer("TECH", "ReadSecVersion", s.ReadSecVersion);
    // Text that is not a number must not pass for the default: start-up reports it.
    const std::string refreshInterval = ini.read("TECH", "RefreshInterval", "");
    if (!refreshInterval.empty()) s.RefreshInterval = IntegerOr(refreshInterval, 0);
    read.integer("TECH", "ReplyTimeout", s.ReplyTimeout);
    // A slip of the sign must not switch the time-out off.
    if (s.ReplyTimeout < 0) s.ReplyTimeout = Settings{}.ReplyTimeout;

    LoadAlarms(ini, alarms);
}

void SaveConf(const std::string& path, const Settings& settings) {
    IniFile ini = IniFile::loadForUpdate(path);
    Writer write(ini);
    const Settings& s = settings;

    write.text("COMMON", "SECTION", s.SECTION);
    write.text("COMMON", "ACCOUNT", s.ACCOUNT);
    write.text("COMMON", "QuikPath", s.QuikPath);
    write.integer("COMMON", "MarketSpread", s.MarketSpread);
    write.boolean("COMMON", "ManualOrdersMode", s.ManualOrdersMode);

    write.text("DEFAULT", "DefaultContract", s.DefaultContract);
    write.integer("DEFAULT", "DefaultContractCnt", s.DefaultContractCnt);
    write.integer("DEFAULT", "DefaultLimitStopShift", s.DefaultLimitStopShift);
    write.integer("DEFAULT", "DefaultLimitOrderShift", s.DefaultLimitOrderShift);
    write.integer("DEFAULT", "MaxOrderQuantity", s.MaxOrderQuantity);
    write.boolean("DEFAULT", "DefaultFullView", s.DefaultFullView);
    write.boolean("DEFAULT", "DefaultStayOnTop", s.DefaultStayOnTop);

    write.integer("POSITION", "Left", s.Left);
    write.integer("POSITION", "Top", s.Top);
    write.integer("POSITION", "Height", s.Height);
    write.integer("POSITION", "FullWidth", s.FullWidth);
    write.integer("POSITION", "ShortWidth", s.ShortWidth);
    write.integer("POSITION", "DOMPanelWidth", s.DOMPanelWidth);
    write.integer("POSITION", "DOMCol1Width", s.DOMCol1Width);
    write.integer("POSITION", "DOMCol2Width", s.DOMCol2Width);
    write.integer("POSITION", "DOMCol3Width", s.DOMCol3Width);
    write.integer("POSITION", "DOMCol4Width", s.DOMCol4Width);
    write.integer("POSITION", "DOMCol5Width", s.DOMCol5Width);
    write.integer("POSITION", "DOMCol6Width", s.DOMCol6Width);
    write.integer("POSITION", "DOMRowHeight", s.DOMRowHeight);
    write.integer("POSITION", "DOMRowCount", s.DOMRowCount);
    write.integer("POSITION", "DOMFontSize", s.DOMFontSize);
    write.text("POSITION", "DomFontName", s.DomFontName);

    write.integer("HOTKEYS", "MARKETBUY", s.MARKETBUY);
    write.integer("HOTKEYS", "MARKETSELL", s.MARKETSELL);
    write.integer("HOTKEYS", "MARKETPLUSBUY", s.MARKETPLUSBUY);
    write.integer("HOTKEYS", "MARKETPLUSSELL", s.MARKETPLUSSELL);
    write.integer("HOTKEYS", "CLEARALL", s.CLEARALL);
    write.integer("HOTKEYS", "CLEARALLSTOPS", s.CLEARALLSTOPS);

    write.integer("TECH", "RefreshInterval", s.RefreshInterval);

    // Written once with every key set rather than once per key.
    ini.save(path);
}

}  // namespace velmora
