#include "settings/info_panel.h"

namespace velmora {

void InfoPanelOwner::post(PanelKind kind, const std::string& text) {
    messages_[static_cast<std::size_t>(kind)] = text;
    show();
}

void InfoPanelOwner::withdraw(PanelKind kind) {
    messages_[static_cast<std::size_t>(kind)].reset();
    show();
}

void InfoPanelOwner::withdrawIf(PanelKind kind, const std::string& text) {
    if (messages_[static_cast<std::size_t>(kind)] == text) withdraw(kind);
}

void InfoPanelOwner::show() {
    const std::string* top = nullptr;
    for (const auto& message : messages_)
        if (message) {
            top = &*message;
            break;
        }
    if (!top) {
        if (visible_) display_.setInfoVisible(false);
        visible_ = false;
        shown_.clear();
        return;
    }
    if (*top != shown_ || !visible_) display_.setInfoCaption(*top);
    shown_ = *top;
    if (!visible_) display_.setInfoVisible(true);
    visible_ = true;
}

}  // namespace velmora
