#include "trans/terminal_config.h"

#include <string>
#include <utility>
#include <vector>

#include "settings/ini_file.h"
#include "settings/settings.h"

namespace velmora {

void ConfigureTerminalFileMode(const Settings& settings) {
    std::vector<std::pair<std::string, std::string>> keys;
    if (settings.outputMode == OutputMode::DLL) {
        keys = {{"start-loading-transactions-from-file-automatically", "0"},
                {"start-external-transactions-processing-automatically", "1"}};
    } else if (settings.outputMode == OutputMode::TRI) {
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
