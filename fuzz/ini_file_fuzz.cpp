#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "settings/program_error.h"
#include "settings/alarms.h"
#include "settings/ini_file.h"
#include "settings/settings.h"

using namespace velmora;

// The input is written as a settings file and loaded as start-up would load it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/velmora-ini-fuzz-" + std::to_string(getpid()) + ".ini";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    Settings settings;
    TAlarms alarms;
    try {
        LoadConf(path, settings, alarms);
    } catch (const ProgramError&) {
    }
    IniFile ini = IniFile::load(path);
    ini.write("POSITION", "Left", "12");
    if (ini.read("position", "LEFT", "") != "12") __builtin_trap();
    return 0;
}
