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
    std::size_t top = messages_.size();
    for (std::size_t kind = 0; kind < messages_.size(); ++kind)
        if (messages_[kind]) {
            top = kind;
            break;
        }
    if (top == messages_.size()) {
        if (visible_) display_.setInfoVisible(false);
        visible_ = false;
        shown_.clear();
        return;
    }
    std::string text = *messages_[top];
    // What became of an order must not hide under a lost book: the user could send it again.
    const auto& outcome = messages_[static_cast<std::size_t>(PanelKind::OrderOutcome)];
    if (top == static_cast<std::size_t>(PanelKind::BookNotLive) && outcome) text += "\n" + *outcome;
    if (text != shown_ || !visible_) display_.setInfoCaption(text);
    shown_ = std::move(text);
    if (!visible_) display_.setInfoVisible(true);
    visible_ = true;
}

}  // namespace velmora
