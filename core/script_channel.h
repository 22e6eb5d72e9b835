#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/link_folder.h"
#include "terminal/script_link.h"
#include "trans/script_delivery.h"

namespace velmora {

class Log;

// This run's place beside other Velmora programs on the machine (a slot in the link folder: its
// TRANS_ID block, and whether another runs), and the link to velmora.lua with the orders sent
// through it, where books or orders go that way.
class ScriptChannel {
public:
    ScriptChannel(Log& log, std::function<LinkTime()> now);

    // Start-up, every mode: a slot of the link folder. Without one (a folder that cannot be made
    // or is not the user's alone), `notices` says why when the script is needed.
    void takeSlot(bool scriptNeeded, std::vector<std::string>& notices);
    // 1 to InstanceSlot::count; 0 without a slot.
    int slot() const { return slot_ ? slot_->number() : 0; }
    // Another Velmora holds a slot now; also when that cannot be known (no slot of our own).
    bool anotherRunMayBeThere() const;

    // Serves the stream and writes the request; with `orders`, makes the command file too.
    void open(bool orders);
    // Whether open() served the stream and wrote the request.
    bool opened() const { return opened_; }
    // The link; one that did not open stays quiet and is never live.
    ScriptLink& link() { return *link_; }
    // The delivery of OutputWay=SCRIPT: it refuses every order while no command file could be made.
    ScriptDelivery& delivery() { return *delivery_; }
    // The request, the stream and the command file go; the slot stays until release.
    void close();
    void release();

private:
    Log& log_;
    std::function<LinkTime()> now_;
    std::string folder_;
    std::unique_ptr<InstanceSlot> slot_;
    std::string run_;
    // Both stand ready even when the link did not open, so that an order then fails with the reason.
    std::unique_ptr<ScriptLink> link_;
    std::unique_ptr<ScriptDelivery> delivery_;
    bool opened_ = false;
};

}  // namespace velmora
