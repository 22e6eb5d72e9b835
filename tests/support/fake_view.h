#pragma once
#include <functional>
#include <string>
#include <vector>

#include "core/main_view.h"
#include "settings/info_panel.h"

namespace velmora::testing {

// Records what the logic asks of the window.
class FakeView : public MainView, public PanelDisplay {
public:
    std::string caption;
    bool infoVisible = false;
    std::vector<std::string> captionsShown;  // each caption at the moment the panel was shown
    int eventsProcessed = 0;
    int pauses = 0;
    // Called on every pause/processPendingEvents, e.g. to close the window mid-wait.
    std::function<void()> onEvents;

    std::vector<InstrumentItem> items;
    int selected = -1;
    int itemRefills = 0;

    std::string price;
    int contracts = 1;
    int orderShift = 1;
    int stopShift = 1;

    int settingsApplied = 0;
    int headersWritten = 0;
    bool timerEnabled = false;
    int ladderRepaints = 0;
    std::vector<OwnOrder> ownOrders;
    std::string position;
    std::string positionDetail;
    bool ladderLive = true;
    int exitCode = -1;
    std::vector<std::string> calls;  // start-up steps of the window, in order

    // A notice goes after a moment in the window; here, when anything else is said.
    void post(PanelKind kind, const std::string& text) override {
        if (kind != PanelKind::Notice) panel.withdraw(PanelKind::Notice);
        panel.post(kind, text);
    }
    void withdraw(PanelKind kind) override { panel.withdraw(kind); }
    void setInfoCaption(const std::string& text) override { caption = text; }
    void setInfoVisible(bool visible) override {
        if (visible && !infoVisible) captionsShown.push_back(caption);
        infoVisible = visible;
    }
    void processPendingEvents() override {
        ++eventsProcessed;
        if (onEvents) onEvents();
    }
    void pause(int) override {
        ++pauses;
        if (onEvents) onEvents();
    }
    void setInstrumentItems(const std::vector<InstrumentItem>& sortedItems, int selectedIndex) override {
        items = sortedItems;
        selected = selectedIndex;
        ++itemRefills;
    }
    std::vector<InstrumentItem> instrumentItems() const override { return items; }
    int selectedInstrumentIndex() const override { return selected; }
    std::string priceText() const override { return price; }
    void setPriceText(const std::string& text) override { price = text; }
    int contractCount() const override { return contracts; }
    int limitOrderShift() const override { return orderShift; }
    int limitStopShift() const override { return stopShift; }
    void ApplySettingsToWindow() override {
        ++settingsApplied;
        calls.push_back("ApplySettingsToWindow");
    }
    void WriteLadderHeader() override {
        ++headersWritten;
        calls.push_back("WriteLadderHeader");
    }
    void setRefreshTimerEnabled(bool enabled) override {
        timerEnabled = enabled;
        calls.push_back(enabled ? "timer on" : "timer off");
    }
    void ladderChanged() override { ++ladderRepaints; }
    void showOwnOrders(const std::vector<OwnOrder>& orders) override { ownOrders = orders; }
    void setPositionText(const PositionLine& line) override {
        position = line.text;
        positionDetail = line.detail;
    }
    void setLadderLive(bool live) override { ladderLive = live; }

    InfoPanelOwner panel{*this};
    void quit(int code) override {
        exitCode = code;
        calls.push_back("quit " + std::to_string(code));
    }
};

}  // namespace velmora::testing
