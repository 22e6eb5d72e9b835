#pragma once
#include <string>
#include <vector>

#include "terminal/position_text.h"
#include "orders/order_entry.h"
#include "orders/order_tracker.h"
#include "terminal/instrument_chooser.h"
#include "terminal/process_finder.h"
#include "terminal/terminal_watch.h"

namespace velmora {

// What the logic needs of the main window. TfrmMain implements it; tests use a fake.
class MainView : public TerminalWaitView, public OrderEditors, public InstrumentChooser {
public:
    virtual ~MainView() = default;

    // Lets the toolkit process pending window messages once.
    virtual void processPendingEvents() = 0;

    // Start-up steps that belong to the window.
    virtual void ApplySettingsToWindow() = 0;
    virtual void WriteLadderHeader() = 0;
    virtual void setRefreshTimerEnabled(bool enabled) = 0;
    // The ladder's cell texts changed; repaint the cells that did.
    virtual void ladderChanged() = 0;
    // The "Заявки" tab: the own active orders of the instrument shown, newest first.
    virtual void showOwnOrders(const std::vector<OwnOrder>& orders) = 0;
    // The position line above the ladder and its tooltip. Where positions are told at all, its
    // room is kept from the start, so that the first one moves no row of the ladder.
    virtual void reservePositionLine(bool) {}
    virtual void setPositionText(const PositionLine&) {}
    // Ends the program with this exit code once the command or start-up step has returned and
    // its boxes have been shown.
    virtual void quit(int exitCode) = 0;
};

}  // namespace velmora
