#pragma once
#include <string>
#include <vector>

#include "terminal/instrument_chooser.h"
#include "terminal/process_finder.h"

namespace velmora {

// What the logic needs of the main window. TfrmMain implements it; tests use a fake.
class MainView : public TerminalWaitView, public InstrumentChooser {
public:
    virtual ~MainView() = default;

    // Lets the toolkit process pending window messages once.
    virtual void processPendingEvents() = 0;

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
