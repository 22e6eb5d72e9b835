#pragma once
#include <memory>
#include <string>

namespace velmora {

// Where Velmora and velmora.lua meet without a setting: VELMORA_LINK_FOLDER when set, else a
// folder of the user's own (Windows: %LOCALAPPDATA%\Velmora\link\; Linux: under
// $XDG_RUNTIME_DIR, or $HOME/.cache). With its trailing separator; empty when no such place is
// known.
std::string linkFolder();

// Makes `folder` when absent. Empty when it is there and this user's alone to write; otherwise
// why not, in Russian for the panel.
std::string prepareLinkFolder(const std::string& folder);

// One of the places in the link folder a running Velmora holds for its whole run, so that
// programs on one terminal keep apart: their requests, streams and TRANS_IDs. A program that
// crashes frees its slot with its process.
class InstanceSlot {
public:
    static constexpr int count = 8;

    virtual ~InstanceSlot() = default;
    // 1 to count.
    virtual int number() const = 0;

    // The lowest free slot; null, with `error` set, when all are held or none can be made.
    static std::unique_ptr<InstanceSlot> take(const std::string& folder, std::string& error);
    // Whether slot `number` is held now (by any program, this one's own included).
    static bool held(const std::string& folder, int number);
};

}  // namespace velmora
