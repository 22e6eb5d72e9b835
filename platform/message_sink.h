#pragma once
#include <string>

namespace velmora {

// Shows a simple modal message box with the text only. The window supplies the
// real one; tests record the texts.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const std::string& text) = 0;
    // Where show() only queues the box (the window, so that no box's event loop runs inside a
    // command or a tick), the queued boxes appear here; a sink that shows at once has none.
    virtual void showPending() {}
};

}  // namespace velmora
