#pragma once
#include <string>

namespace velmora {

// Shows a simple modal message box with the text only. The window supplies the
// real one; tests record the texts.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const std::string& text) = 0;
};

}  // namespace velmora
