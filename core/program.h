#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "platform/process_access.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/quote_table.h"
#include "terminal/terminal_watch.h"
#include "trans/order_delivery.h"
#include "trans/transactions.h"

namespace velmora {

class Clock;
class LocaleFormats;
class MainView;
class MessageSink;
class TransLibrary;
class TAlarms;
class TStopOrders;
class TSecShareList;
struct TSecShareRecord;

// What the platform provides; owned elsewhere (the window's main or a test).
struct Platform {
    ProcessAccess& processes;
    Clock& clock;
    LocaleFormats& locale;
    MessageSink& messages;
    TransLibrary& transLibrary;
};

// The program-wide state, in one place, passed to whoever needs it. Touched only
// from the user-interface thread.
class Program : public OrderSource {
public:
    explicit Program(Platform platform);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    Platform platform;
    Log log;
    Settings settings;

    std::string ProgramDir;  // with its trailing separator
    std::string SettingsPath;
    std::string SecFilePath;

    bool AppClosing = false;
    std::uint32_t CycleNum = 0;
    bool TickRunning = false;  // a box opened inside a tick runs the timer's events

    FileDelivery fileDelivery{settings, log};
    LibraryDelivery library{platform.transLibrary, settings, log};
    LogOnlyDelivery logOnly;
    OrderSender sender{settings, log, platform.messages};
    // The delivery OutputWay names.
    OrderDelivery& delivery() override;

    // Created by start-up, freed by shutdown.
    std::unique_ptr<TQuoteTables> quoteTables;
    std::unique_ptr<TStopOrders> StopOrders;
    std::unique_ptr<TAlarms> Alarms;
    std::unique_ptr<TSecShareList> SecurityList;

    // Refer into quoteTables / SecurityList; set and cleared together.
    TQuoteTable* CurrentQuoteTable = nullptr;
    const TSecShareRecord* CurrentSecurity = nullptr;

    std::uint32_t TerminalProcessId = 0;
    std::unique_ptr<ProcessHandle> TerminalProcess;

    std::string LastAlarmText;
    TerminalWatch watch;

    LadderGrid ladder;
    OrderEntry orders{settings, log, watch, ladder, sender, *this};

    TQuoteTable* shownTable() override { return CurrentQuoteTable; }
    const TSecShareRecord* shownSecurity() override { return CurrentSecurity; }
    TStopOrders* stops() override { return StopOrders.get(); }
    const TSecShareList* securities() override;

    bool instrumentChosen() const { return CurrentQuoteTable != nullptr && CurrentSecurity != nullptr; }
    void clearCurrent() {
        CurrentQuoteTable = nullptr;
        CurrentSecurity = nullptr;
    }
};

// The sender's commands on the current security; nothing while there is none.
void SendNewOrder(Program& program, int Operation, std::int32_t Quantity, double Price);
void SendKillAll(Program& program);
bool QuantityAllowed(Program& program, std::int32_t quantity, const char* what);
// RefreshDOM of the shown book onto the program's ladder.
bool RefreshDOM(Program& program);

// The order commands on the program's own parts.
void BuyAtEditorPrice(Program& program, MainView& view);
void SellAtEditorPrice(Program& program, MainView& view);
void MarketBuy(Program& program, MainView& view);
void MarketSell(Program& program, MainView& view);
void MarketPlusBuy(Program& program, MainView& view);
void MarketPlusSell(Program& program, MainView& view);
void ClearAllOrders(Program& program, MainView& view);
void ClearAllStops(Program& program);
void SetStop(Program& program, MainView& view);
void LadderMouseDown(Program& program, MainView& view, MouseButton button, bool shift, int column, int row);
void PriceStep(Program& program, MainView& view, bool up);
void AddStopOrder(Program& program, std::uint8_t Direction, double Price, std::int32_t Quantity,
                  bool spacedDirection = false);
void CheckStopOrders(Program& program);
void FireStopOrder(Program& program, int Index, double TriggerPrice);
void ShowStopQuantities(Program& program);

// acRefreshQuoteTables: one discovery pass, refilling cbSecName and re-pointing
// CurrentQuoteTable / CurrentSecurity.
void RefreshQuoteTables(Program& program, MainView& view);
// cbSecNameChange: the user picked an instrument.
void SecNameChange(Program& program, MainView& view);

}  // namespace velmora
