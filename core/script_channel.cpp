#include "core/script_channel.h"

#include "settings/log.h"

namespace velmora {

ScriptChannel::ScriptChannel(Log& log, std::function<LinkTime()> now)
    : log_(log),
      now_(std::move(now)),
      link_(std::make_unique<ScriptLink>(log)),
      delivery_(std::make_unique<ScriptDelivery>(*link_, log, now_)) {}

void ScriptChannel::takeSlot(bool scriptNeeded, std::vector<std::string>& notices) {
    if (slot_) return;
    folder_ = linkFolder();
    std::string problem = prepareLinkFolder(folder_);
    if (problem.empty()) {
        slot_ = InstanceSlot::take(folder_, problem);
        if (slot_) {
            log_.LogMessage("link folder " + folder_ + ", place " + std::to_string(slot_->number()), 1);
            return;
        }
    }
    log_.LogMessage("no place in the link folder: " + problem, 1);
    if (scriptNeeded) notices.push_back("Нет связи со скриптом: " + problem);
}

bool ScriptChannel::anotherRunMayBeThere() const {
    if (!slot_) return true;
    for (int number = 1; number <= InstanceSlot::count; ++number)
        if (number != slot_->number() && InstanceSlot::held(folder_, number)) return true;
    return false;
}

void ScriptChannel::open(bool orders) {
    close();
    if (!slot_) return;
    run_ = NewRunId();
    LinkPlace place{folder_, slot_->number(), run_, {}};
    if (orders) {
        const std::string commands = folder_ + "velmora-" + std::to_string(slot_->number()) + "-" + run_ + ".cmd";
        if (delivery_->open(commands, run_)) place.commands = commands;
    }
    opened_ = link_->open(place);
}

void ScriptChannel::close() {
    // The request goes before the command file, so the script never looks for a file that is gone.
    opened_ = false;
    std::unique_ptr<ScriptDelivery> sender = std::move(delivery_);
    link_ = std::make_unique<ScriptLink>(log_);
    sender.reset();
    delivery_ = std::make_unique<ScriptDelivery>(*link_, log_, now_);
}

void ScriptChannel::release() {
    close();
    slot_.reset();
}

}  // namespace velmora
