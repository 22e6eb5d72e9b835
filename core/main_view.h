#pragma once
#include <string>
#include <vector>

namespace velmora {

// An item of the instrument chooser: the ticker shown and the position of its
// table in the quote-table list.
struct InstrumentItem {
    std::string ticker;
    int tablePosition = 0;
    bool operator==(const InstrumentItem&) const = default;
};

// What the logic needs of the main window. TfrmMain implements it; tests use a fake.
class MainView {
public:
    virtual ~MainView() = default;

    // pnlInfo, the red panel over the ladder.
    virtual std::string infoCaption() const = 0;
    virtual void setInfoCaption(const std::string& text) = 0;
    virtual void setInfoVisible(bool visible) = 0;

    // Lets the toolkit process pending window messages once.
    virtual void processPendingEvents() = 0;
    // Waits about `milliseconds`, processing window messages meanwhile.
    virtual void pause(int milliseconds) = 0;

    // cbSecName: items sorted by ticker; selectedIndex -1 selects nothing. Must not
    // fire the user's change handler.
    virtual void setInstrumentItems(const std::vector<InstrumentItem>& sortedItems,
                                    int selectedIndex) = 0;
    virtual std::vector<InstrumentItem> instrumentItems() const = 0;
    virtual int selectedInstrumentIndex() const = 0;

    // lePrice and the spin editors (a spin editor's value: its text as an integer,
    // or the editor's minimum when it is not one).
    virtual std::string priceText() const = 0;
    virtual void setPriceText(const std::string& text) = 0;
    virtual int contractCount() const = 0;
    virtual int limitOrderShift() const = 0;
    virtual int limitStopShift() const = 0;

    // Start-up steps that belong to the window.
    virtual void ApplySettingsToWindow() = 0;
    virtual void WriteLadderHeader() = 0;
    virtual void setRefreshTimerEnabled(bool enabled) = 0;
    // The ladder's cell texts changed; repaint the cells that did.
    virtual void ladderChanged() = 0;
    // Whether the ladder shows a book being read: when not, its cells are drawn in grey
    // without the ask and bid colours, their texts unchanged.
    virtual void setLadderLive(bool live) = 0;
    // Ends the program with this exit code once control returns to the message loop.
    virtual void quit(int exitCode) = 0;
};

}  // namespace velmora
