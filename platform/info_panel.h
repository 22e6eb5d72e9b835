#pragma once
#include <string>

namespace velmora {

// pnlInfo, the red panel over the ladder. The window supplies it; tests record it.
class InfoPanel {
public:
    virtual ~InfoPanel() = default;
    virtual std::string infoCaption() const = 0;
    virtual void setInfoCaption(const std::string& text) = 0;
    virtual void setInfoVisible(bool visible) = 0;
    // A word for the user that the window takes away again after a moment.
    virtual void showNotice(const std::string& text) {
        setInfoCaption(text);
        setInfoVisible(true);
    }
};

}  // namespace velmora
