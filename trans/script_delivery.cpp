#include "trans/script_delivery.h"

#include <chrono>
#include <vector>

#include "platform/text_encoding.h"
#include "settings/log.h"

namespace velmora {

namespace {

// "|SPBFUT|SPBOPT|", with or without the outer bars.
bool tradesClass(const std::string& classCodes, const std::string& classCode) {
    return ("|" + classCodes + "|").find("|" + classCode + "|") != std::string::npos;
}

}  // namespace

std::int64_t ScriptDelivery::systemEpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ScriptDelivery::ScriptDelivery(ScriptLink& link, Log& log, std::function<LinkTime()> now, EpochClock epochMs)
    : link_(link), log_(log), now_(std::move(now)), epochMs_(std::move(epochMs)) {}

bool ScriptDelivery::open(const std::string& path, const std::string& run) {
    file_ = createPrivateAppendFile(path, fileError_);
    std::string error;
    if (file_ && !file_->append("velmora-commands\t2\t" + run + "\t1\r\n", error)) {
        fileError_ = "файл " + path + " не записан: " + error;
        file_.reset();
    }
    if (!file_) {
        log_.LogMessage("orders through the script impossible: " + fileError_, 1);
        return false;
    }
    log_.LogMessage("orders go to velmora.lua through " + path, 1);
    return true;
}

DeliveryResult ScriptDelivery::deliver(const std::string& text) {
    if (!file_) return {false, fileError_};
    // A command made while the script is not heard could be read after it is back, on another stream.
    if (!link_.heard(now_())) {
        log_.LogMessage("transaction not handed to velmora.lua: the script is not heard", 1);
        return {false, "velmora.lua не на связи"};
    }
    const std::uint64_t seq = ++seq_;
    const std::string line = std::to_string(seq) + "\t" + link_.linkId() + "\t" + std::to_string(epochMs_()) + "\t" +
                             utf8ToCp1251(text) + "\r\n";
    std::string error;
    if (!file_->append(line, error)) {
        log_.LogMessage("command " + std::to_string(seq) + " not written: " + error, 1);
        return {false, "команда скрипту не записана: " + error};
    }
    if (log_.enabled(3)) log_.LogMessage("command " + std::to_string(seq) + " to velmora.lua", 3);
    return {};
}

AccountChoice ScriptDelivery::accountFor(const std::string& configured, const std::string& classCode) {
    if (!configured.empty()) return {configured, {}};
    std::vector<std::string> fitting;
    for (const TradeAccount& account : link_.accounts())
        if (tradesClass(account.classCodes, classCode)) fitting.push_back(account.account);
    if (fitting.size() == 1) {
        if (toldAccounts_[classCode] != fitting.front()) {
            log_.LogMessage("account " + fitting.front() + " taken for class " + classCode +
                                " from the terminal's trade accounts",
                            1);
            toldAccounts_[classCode] = fitting.front();
        }
        return {fitting.front(), {}};
    }
    if (fitting.empty()) {
        if (link_.accounts().empty())
            return {{}, "счёт не выбран: velmora.lua не прислал счетов терминала; укажите ACCOUNT"};
        return {{}, "счёт не выбран: у терминала нет счёта для класса " + classCode + "; укажите ACCOUNT"};
    }
    std::string names;
    for (const std::string& name : fitting) names += (names.empty() ? "" : ", ") + name;
    return {{}, "счёт не выбран: класс " + classCode + " торгуется на счетах " + names + "; укажите ACCOUNT"};
}

}  // namespace velmora
