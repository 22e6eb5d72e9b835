#pragma once
#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace velmora {

// What the red panel over the ladder says, by kind, the most important first.
enum class PanelKind {
    Notice,          // a short word after a command, taken away after a moment
    Alarm,           // a time-of-day reminder, blinking: between its showings the rest shows
    BookNotLive,     // the terminal or the link lost, the book not read, a refusal for that
    OrderOutcome,    // a rejection, an order not sent, no reply: shown below a BookNotLive
    StartupProblem,  // a setting that fell back at start-up
    Auction,         // the shown book is crossed
    TerminalNotice,  // which terminal was taken while two run
    Loading,         // a start-up step that takes a while
    Count_
};

// pnlInfo, as its writers see it: each posts its own message under its kind and takes it away;
// the panel shows the most important. Nobody reads the panel back.
class InfoPanel {
public:
    virtual ~InfoPanel() = default;
    // The message of `kind`, replacing the one of that kind before.
    virtual void post(PanelKind kind, const std::string& text) = 0;
    // Takes the message of `kind` away.
    virtual void withdraw(PanelKind kind) = 0;
    // A short word that goes by itself after a moment.
    virtual void showNotice(const std::string& text) { post(PanelKind::Notice, text); }
};

// What the panel draws on: its text, and whether it shows.
class PanelDisplay {
public:
    virtual ~PanelDisplay() = default;
    virtual void setInfoCaption(const std::string& text) = 0;
    virtual void setInfoVisible(bool visible) = 0;
};

// Keeps one message of each kind and shows the most important on its display, touching the
// display only when what shows changes.
class InfoPanelOwner : public InfoPanel {
public:
    explicit InfoPanelOwner(PanelDisplay& display) : display_(display) {}

    void post(PanelKind kind, const std::string& text) override;
    void withdraw(PanelKind kind) override;
    // Takes the message of `kind` away only while it is still `text` (a later one of that kind stays).
    void withdrawIf(PanelKind kind, const std::string& text);
    // What shows; empty while the panel is hidden.
    const std::string& shown() const { return shown_; }

private:
    void show();

    PanelDisplay& display_;
    std::array<std::optional<std::string>, static_cast<std::size_t>(PanelKind::Count_)> messages_;
    std::string shown_;
    bool visible_ = false;
};

}  // namespace velmora
