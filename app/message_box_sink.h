#pragma once
#include <deque>
#include <string>

#include "platform/message_sink.h"

namespace velmora {

// The program's message boxes: modal, the text only, under the program's caption. show() queues;
// the window calls showPending() once a command or tick has returned. A text already waiting
// or on screen is not queued again: a log that cannot be written would otherwise stack a box
// per line while the first one is open.
class MessageBoxSink : public MessageSink {
public:
    void show(const std::string& text) override;
    void showPending() override;

private:
    std::deque<std::string> pending_;
    std::string onScreen_;
    bool showing_ = false;
};

}  // namespace velmora
