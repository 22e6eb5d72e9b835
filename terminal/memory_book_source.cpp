#include "terminal/memory_book_source.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/memory_regions.h"
#include "platform/program_location.h"
#include "secs/sec_file_reader.h"
#include "secs/security_list.h"
#include "settings/ini_file.h"
#include "settings/log.h"
#include "settings/normalized_text.h"
#include "settings/program_error.h"
#include "settings/settings.h"

namespace velmora {

namespace {

const char* const wrongPathText = "Неверно указан путь к QUIK в ini-файле  !!!";

std::vector<std::uint8_t> loadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ProgramError("Cannot open file \"" + path + "\"");
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ProgramError("Cannot read file \"" + path + "\"");
    return bytes;
}

}  // namespace

MemoryBookSource::MemoryBookSource(Settings& settings, Log& log, ProcessAccess& processes, TerminalLink& terminal,
                                   QuoteDiscovery& discovery, std::unique_ptr<TSecShareList>& securityList,
                                   BookSourceEvents& events)
    : settings_(settings),
      log_(log),
      processes_(processes),
      terminal_(terminal),
      discovery_(discovery),
      securityList_(securityList),
      events_(events) {}

std::string MemoryBookSource::secFilePath() const { return settings_.QuikPath + "sec.dat"; }

bool MemoryBookSource::attach(TerminalWaitView& view, const bool& closing) {
    std::uint32_t processId = terminal_.processId();
    TerminalTaken taken;
    std::unique_ptr<ProcessHandle> process =
        FindTerminal(processes_, view, closing, processId, settings_.QuikPath, taken);
    if (closing) return false;
    terminal_.attach(processId, std::move(process));
    noteTerminalTaken(taken);
    return true;
}

BookSourceLoad MemoryBookSource::load(WatchView& panel, InstrumentChooser& chooser,
                                      const std::function<void()>& letWindowPaint) {
    log_.LogMessage("LoadSecs...", 4);
    const std::string path = secFilePath();
    if (!fileExists(path)) {
        log_.LogMessage(std::string(wrongPathText) + " " + path, 1);
        // The text as it always was, then the file looked for: the path is what to mend.
        return {true, std::string(wrongPathText) + "\n" + path};
    }
    panel.post(PanelKind::Loading, "Загрузка списка инструментов...");
    letWindowPaint();
    readSecurityList();
    panel.withdraw(PanelKind::Loading);

    log_.LogMessage("Load QuoteTables...", 4);
    rediscover(chooser);
    log_.LogMessage("found QuoteTables:" + std::to_string(discovery_.tables().size()), 4);
    return {};
}

void MemoryBookSource::close() { discovery_.reset(); }

bool MemoryBookSource::readSecurityList() {
    const std::string path = secFilePath();
    if (!fileExists(path)) {
        log_.LogMessage(wrongPathText, 1);
        return false;
    }
    std::vector<std::uint8_t> bytes = loadWholeFile(path);
    SecFileStream stream{bytes.data(), bytes.size(), 0};
    std::string& cause = terminal_.watch().notReadCause;
    cause.clear();
    try {
        securityList_ = FStreamReadSecShareList(stream, settings_.ReadSecVersion, log_);
        if (securityList_ && securityList_->Count() == 0)
            cause = bytes.empty() ? "файл пуст"
                                  : "в нём нет инструментов (ReadSecVersion=" +
                                        std::to_string(settings_.ReadSecVersion) + "?)";
    } catch (const std::exception& error) {
        securityList_.reset();
        log_.LogMessage(std::string("Сбой при чтении списка инструментов :") + error.what(), 1);
        cause = std::string(error.what()) + " (ReadSecVersion=" + std::to_string(settings_.ReadSecVersion) + ")";
    }
    return true;
}

bool MemoryBookSource::readShownBook() {
    TQuoteTable* table = discovery_.table();
    if (!table || !discovery_.security()) return false;
    bool accepted = false;
    try {
        accepted = table->GetQuotes(terminal_.process(), log_);
    } catch (const std::exception& error) {
        log_.LogMessage(std::string("QuoteTable.GetQuotes exception: ") + error.what(), 1);
    }
    if (log_.enabled(4)) log_.LogMessage(table->Description(), 4);
    return accepted;
}

void MemoryBookSource::rediscover(InstrumentChooser& chooser) {
    discovery_.refresh(terminal_.process(), static_cast<TerminalAddress>(settings_.DOMBASE), securityList_.get(),
                       settings_.DefaultContract, chooser, log_);
}

void MemoryBookSource::choose(int index) { discovery_.choose(index, securityList_.get()); }

std::string MemoryBookSource::takeLiveNotice() {
    std::string notice;
    notice.swap(liveNotice_);
    return notice;
}

void MemoryBookSource::noteTerminalLost() {
    const TSecShareRecord* shown = discovery_.security();
    terminal_.watch().terminalLost(log_, terminal_.processId(), terminal_.process() != nullptr,
                                   shown ? shown->Ticker : settings_.DefaultContract,
                                   shown ? shown->ClassCode : std::string());
    events_.terminalProcessLost();
}

void MemoryBookSource::noteTerminalTaken(const TerminalTaken& taken) {
    if (taken.id == 0) return;
    taken_ = taken;
    const std::string path = taken.path.empty() ? std::string("path unknown") : taken.path;
    log_.LogMessage("terminal process " + std::to_string(taken.id) + " taken: " + path +
                        (taken.inQuikPath ? std::string() : " (not in QuikPath " + settings_.QuikPath + ")"),
                    1);
    // With two terminals running, orders priced from one book could land in the other's files.
    // Said once the ladder is live, so that start-up's own captions do not hide it. A lone
    // terminal elsewhere has no other book to be confused with: the log says it.
    liveNotice_ = taken.inQuikPath || taken.running < 2 ? std::string()
                                                        : "info.exe из папки QuikPath не найден: взят процесс " +
                                                              std::to_string(taken.id) +
                                                              (taken.path.empty() ? std::string() : " (" + taken.path + ")");
}

// Opens a running terminal and reloads what depends on it, as start-up does but without
// waiting or boxes. False when there is none yet or its securities cannot be read.
bool MemoryBookSource::findTerminalAgain(InstrumentChooser& chooser) {
    std::uint32_t processId = 0;
    TerminalTaken taken;
    std::unique_ptr<ProcessHandle> process = OpenRunningTerminal(processes_, processId, settings_.QuikPath, taken);
    if (!process) return false;
    log_.LogMessage("terminal found again: process " + std::to_string(processId), 1);
    auto notTaken = [&] {
        log_.LogMessage("terminal process " + std::to_string(processId) + " not taken: no securities; looking again",
                        1);
        return false;
    };

    // The securities may have changed with the terminal; nothing may point into the old list.
    discovery_.clearShown();
    log_.LogMessage("LoadSecs...", 4);
    try {
        if (!readSecurityList()) return notTaken();
    } catch (const std::exception& error) {
        log_.LogMessage(std::string("Сбой при чтении списка инструментов :") + error.what(), 1);
        return notTaken();
    }
    terminal_.attach(processId, std::move(process));
    noteTerminalTaken(taken);
    terminal_.watch().terminalFound();

    // DefaultContract names the instrument shown before: every choice of the user sets it.
    log_.LogMessage("Load QuoteTables...", 4);
    rediscover(chooser);
    log_.LogMessage("found QuoteTables:" + std::to_string(discovery_.tables().size()), 4);
    events_.terminalTakenAgain();
    return true;
}

bool MemoryBookSource::watch(WatchView& view, InstrumentChooser& chooser, bool rediscoveryTick) {
    TerminalWatch& watch = terminal_.watch();
    if (!watch.lost && terminal_.processGone()) {
        const bool wasLive = watch.ladderLive();
        noteTerminalLost();
        watch.applyLook(view, wasLive);
    }
    if (watch.lost && rediscoveryTick && findTerminalAgain(chooser)) watch.applyLook(view, false);
    // Re-shown every tick: an alarm blinking in the same panel hides it.
    if (!watch.ladderLive()) watch.showCaption(view);
    return !watch.lost;
}

bool MemoryBookSource::domBaseScanOffered() const {
    const TerminalWatch& watch = terminal_.watch();
    return terminal_.process() != nullptr && watch.notRead && !watch.lost && watch.notReadCause.empty() &&
           securityList_ != nullptr;
}

std::string MemoryBookSource::domBaseScanTarget() const {
    const std::uint32_t id = terminal_.processId();
    const bool known = taken_.id == id && id != 0;
    std::string text = "Процесс " + std::to_string(id) + (known && !taken_.path.empty() ? " (" + taken_.path + ")" : "");
    if (known && !taken_.inQuikPath)
        text += "\nВнимание: это не терминал из папки QuikPath (" + settings_.QuikPath +
                "), а заявки уходят в файлы QuikPath";
    return text;
}

DomBaseScanResult MemoryBookSource::scanForDomBase(
    const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
    DomBaseScanResult result;
    ProcessHandle* process = terminal_.process();
    if (!process || !securityList_) return result;
    const std::vector<MemoryRegion> regions = listReadableRegions(terminal_.processId());
    if (regions.empty()) {
        log_.LogMessage("DOMBASE scan: the memory map of process " + std::to_string(terminal_.processId()) +
                            " cannot be read",
                        1);
        return result;
    }
    DomBaseScanOptions options;
    options.maxCandidates = 5;
    options.progress = progress;
    result = ScanForDomBase(*process, regions, *securityList_, "info.exe", log_, options);
    log_.LogMessage("DOMBASE scan: " + std::to_string(result.candidates.size()) + " candidates in " +
                        std::to_string(result.bytesScanned) + " bytes of process " +
                        std::to_string(terminal_.processId()),
                    1);
    return result;
}

void MemoryBookSource::useDomBase(TerminalAddress base, const std::string& settingsPath, InstrumentChooser& chooser) {
    char text[16];
    std::snprintf(text, sizeof text, "$%08X", base);
    settings_.DOMBASE = static_cast<std::int32_t>(base);
    // Written in place: every other line of the user's file stays as it is.
    WriteProfileString(settingsPath, "TECH", "DOMBASE", text);
    log_.LogMessage(std::string("DOMBASE=") + text + " taken from the scan and written into " + settingsPath, 1);
    rediscover(chooser);
}

}  // namespace velmora
