#include "trans/terminal_config.h"

#include <string>
#include <utility>
#include <vector>

#include "core/program.h"
#include "settings/ini_file.h"
#include "settings/normalized_text.h"

namespace velmora {

void ConfigureTerminalFileMode(Program& program) {
    const Settings& settings = program.settings;
    std::vector<std::pair<std::string, std::string>> keys;
    std::string mode = NormalizedText(settings.OutputWay);
    if (mode == "DLL") {
        keys = {{"start-loading-transactions-from-file-automatically", "0"},
                {"start-external-transactions-processing-automatically", "1"}};
    } else if (mode == "TRI") {
        keys = {{"start-external-transactions-processing-automatically", "0"},
                {"start-loading-transactions-from-file-automatically", "1"},
                {"write_error_transactions_file", "1"},
                {"input_transactions_file", settings.TRIFileName},
                {"output_transactions_file", settings.QuikPath + "quik.tro"},
                {"error_transactions_file", settings.QuikPath + "quik.trr"},
                {"transactions_file_reading_timeout", "100"}};
    }
    std::string path = settings.QuikPath + "info.ini";
    for (const auto& [key, value] : keys) WriteProfileString(path, "transactions", key, value);
}

}  // namespace velmora
