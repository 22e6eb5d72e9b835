#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "terminal/book_source.h"
#include "terminal/process_finder.h"
#include "terminal/quote_discovery.h"
#include "terminal/terminal_link.h"

namespace velmora {

class Log;
class ProcessAccess;
class TSecShareList;
struct Settings;

// The books read out of the terminal's memory from DOMBASE, named by the securities file. The
// terminal process is watched: when it ends the books are lost, and a terminal started again
// is taken without a restart.
class MemoryBookSource : public BookSource {
public:
    MemoryBookSource(Settings& settings, Log& log, ProcessAccess& processes, TerminalLink& terminal,
                     QuoteDiscovery& discovery, std::unique_ptr<TSecShareList>& securityList, BookSourceEvents& events);

    bool attach(TerminalWaitView& view, const bool& closing) override;
    BookSourceLoad load(WatchView& view, InstrumentChooser& chooser, const std::function<void()>& letWindowPaint) override;
    void close() override;

    bool watch(WatchView& view, InstrumentChooser& chooser, bool rediscoveryTick) override;
    bool readShownBook() override;

    void rediscover(InstrumentChooser& chooser) override;
    void choose(int index) override;
    const std::vector<InstrumentItem>& offered() const override { return discovery_.offered(); }

    TQuoteTable* shownBook() override { return discovery_.table(); }
    const TSecShareRecord* shownSecurity() override { return discovery_.security(); }
    const TSecShareList* securities() const override { return securityList_.get(); }
    bool ownQuantitiesInBooks() const override { return true; }
    std::string takeLiveNotice() override;

    bool domBaseScanOffered() const override;
    std::string domBaseScanTarget() const override;
    DomBaseScanResult scanForDomBase(const std::function<void(std::uint64_t, std::uint64_t)>& progress) override;
    void useDomBase(TerminalAddress base, const std::string& settingsPath, InstrumentChooser& chooser) override;

    // Reads sec.dat into the security list, a bad file logged as at start-up; false, logged, when
    // the file is missing. Throws ProgramError when it cannot be read at all.
    bool readSecurityList();

private:
    std::string secFilePath() const;
    // Logs which terminal was taken; one not in QuikPath is said in the panel once the ladder is live.
    void noteTerminalTaken(const TerminalTaken& taken);
    void noteTerminalLost();
    bool findTerminalAgain(InstrumentChooser& chooser);

    Settings& settings_;
    Log& log_;
    ProcessAccess& processes_;
    TerminalLink& terminal_;
    QuoteDiscovery& discovery_;
    std::unique_ptr<TSecShareList>& securityList_;
    BookSourceEvents& events_;
    std::string liveNotice_;
    TerminalTaken taken_;  // the terminal read now
};

}  // namespace velmora
