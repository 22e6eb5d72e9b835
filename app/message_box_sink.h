#pragma once
#include "platform/message_sink.h"

namespace velmora {

// The program's message boxes: modal, the text only, under the program's caption.
class MessageBoxSink : public MessageSink {
public:
    void show(const std::string& text) override;
};

}  // namespace velmora
