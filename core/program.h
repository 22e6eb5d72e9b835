#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "core/terminal_watch.h"
#include "ladder/ladder_grid.h"
#include "platform/process_access.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/quote_table.h"

namespace velmora {

class Clock;
class LocaleFormats;
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
class Program {
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
    bool DLLConnected = false;
    std::uint32_t CycleNum = 0;
    bool TickRunning = false;  // a box opened inside a tick runs the timer's events
    std::int32_t TransIdCounter = 0;

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

    bool instrumentChosen() const { return CurrentQuoteTable != nullptr && CurrentSecurity != nullptr; }
    void clearCurrent() {
        CurrentQuoteTable = nullptr;
        CurrentSecurity = nullptr;
    }
};

}  // namespace velmora
