#include "support/standin_process.h"

#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/session.h"

namespace velmora::testing {

StandinProcess::StandinProcess(const std::vector<std::string>& arguments) {
    start(std::string(VELMORA_BIN_DIR) + "/info.exe", arguments);
    auto line = readLine(std::chrono::seconds(10));
    if (!line || line->rfind("DOMBASE=0x", 0) != 0) {
        stop();
        throw std::runtime_error("the stand-in terminal did not print DOMBASE (got '" + line.value_or("") + "')");
    }
    firstLine_ = *line;
    domBase_ = static_cast<std::uint32_t>(std::stoul(line->substr(8), nullptr, 16));
}

StandinProcess::StandinProcess(const std::string& session, const std::vector<std::string>& arguments) {
    start(session, arguments);
}

StandinProcess::~StandinProcess() {
    stop();
}

std::vector<std::string> StandinProcess::serving(const std::string& folder, std::vector<std::string> extra) {
    std::vector<std::string> arguments{"--folder", folder};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

BookDump readBookDump(StandinProcess& terminal, std::chrono::milliseconds timeout) {
    BookDump books;
    while (auto line = terminal.readLine(timeout)) {
        if (*line == "END") return books;
        std::istringstream fields(*line);
        std::string ticker;
        BookLevel level;
        fields >> ticker >> level.side >> level.price >> level.quantity >> level.own;
        books[ticker].push_back(level);
    }
    return {};
}

bool tickUntil(Session& session, MainView& view, const std::function<bool()>& ready, int ticks) {
    for (int i = 0; i < ticks; ++i) {
        session.RefreshTick(view);
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace velmora::testing
