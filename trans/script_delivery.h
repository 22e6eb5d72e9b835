#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/private_append_file.h"
#include "terminal/script_link.h"
#include "trans/order_delivery.h"

namespace velmora {

class Log;

// OutputWay=SCRIPT: each transaction is a command appended to this run's command file, which
// velmora.lua reads and hands to the terminal's sendTransaction; its answer comes on the link.
// A command is written once and never again, and only while the script is heard; the script
// sends none made on another stream or older than 2 s, so an order goes once or not at all.
class ScriptDelivery : public OrderDelivery {
public:
    // Milliseconds since 1970-01-01 UTC: the script compares them with its own clock.
    using EpochClock = std::function<std::int64_t()>;
    static std::int64_t systemEpochMs();

    ScriptDelivery(ScriptLink& link, Log& log, std::function<LinkTime()> now, EpochClock epochMs = systemEpochMs);

    // Makes the run's command file; false, logged, when it cannot be: every order then fails.
    bool open(const std::string& path, const std::string& run);
    void close() { file_.reset(); }

    DeliveryResult deliver(const std::string& text) override;
    // An empty ACCOUNT: the one of the terminal's accounts that trades the class.
    AccountChoice accountFor(const std::string& configured, const std::string& classCode) override;

private:
    ScriptLink& link_;
    Log& log_;
    std::function<LinkTime()> now_;
    EpochClock epochMs_;
    std::unique_ptr<PrivateAppendFile> file_;
    std::string fileError_;
    std::uint64_t seq_ = 0;
    std::map<std::string, std::string> toldAccounts_;  // class -> the account last logged for it
};

}  // namespace velmora
