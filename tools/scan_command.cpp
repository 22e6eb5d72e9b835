#include "tools/scan_command.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <iterator>

#include "settings/program_error.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/program_location.h"
#include "secs/sec_file_reader.h"
#include "secs/security_list.h"
#include "settings/ini_file.h"
#include "settings/log.h"
#include "settings/number_text.h"
#include "terminal/dombase_scan.h"
#include "terminal/process_finder.h"

namespace velmora {

namespace {

constexpr const char* usage =
    "usage: velmora-scan [--pid PID] [--ini PATH | --quik FOLDER --version N] [--write-ini] [--top N] [--quiet]\n"
    "Finds the address to give as DOMBASE in the TECH section of Velmora.ini.\n";

class StreamMessages : public MessageSink {
public:
    explicit StreamMessages(std::ostream& stream) : stream_(stream) {}
    void show(const std::string& text) override { stream_ << text << '\n'; }

private:
    std::ostream& stream_;
};

struct Options {
    std::uint32_t pid = 0;
    std::string ini;
    std::string quik;
    int version = 0;
    bool writeIni = false;
    bool quiet = false;
    int top = 5;
};

// Whole decimal numbers only: "12x" or "-1" is a typing error, not 12 or a huge pid.
bool parseNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 12 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

// Answers an error text, empty when the arguments are good.
std::string parse(const std::vector<std::string>& arguments, Options& options, bool& help) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return {};
        }
        if (arg == "--write-ini") {
            options.writeIni = true;
            continue;
        }
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (arg != "--pid" && arg != "--ini" && arg != "--quik" && arg != "--version" && arg != "--top")
            return "unknown option " + arg;
        if (i + 1 >= arguments.size()) return "missing value after " + arg;
        const std::string& value = arguments[++i];
        long long number = 0;
        if (arg == "--ini") {
            options.ini = value;
        } else if (arg == "--quik") {
            options.quik = value;
        } else if (arg == "--pid") {
            if (!parseNumber(value, 1, 0xFFFFFFFFll, number)) return "bad process id " + value;
            options.pid = static_cast<std::uint32_t>(number);
        } else if (arg == "--version") {
            if (!parseNumber(value, 1, 2, number)) return "the securities file version is 1 or 2, not " + value;
            options.version = static_cast<int>(number);
        } else {
            if (!parseNumber(value, 1, 1000, number)) return "bad --top " + value;
            options.top = static_cast<int>(number);
        }
    }
    return {};
}

class ProgressBar {
public:
    explicit ProgressBar(std::ostream& stream) : stream_(stream) {}
    void operator()(std::uint64_t done, std::uint64_t total) {
        int percent = total ? static_cast<int>(std::min<std::uint64_t>(done * 100 / total, 100)) : 100;
        if (percent == shown_) return;
        shown_ = percent;
        int filled = percent * 40 / 100;
        char line[64];
        std::snprintf(line, sizeof line, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                      std::string(static_cast<std::size_t>(40 - filled), ' ').c_str(), percent);
        stream_ << line;
        if (percent >= 100) stream_ << '\n';
        stream_.flush();
    }

private:
    std::ostream& stream_;
    int shown_ = -1;
};

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// Fills in the terminal's folder and the securities file's version from the ini where not given.
// False, with the reason told, when no folder is known.
bool findTerminalFolder(Options& options, ScanEnvironment& environment) {
    if (options.ini.empty()) options.ini = environment.defaultIni;
    if (options.quik.empty() || options.version == 0) {
        IniFile ini = IniFile::load(options.ini);
        if (options.quik.empty()) options.quik = ini.read("COMMON", "QuikPath", "");
        if (options.version == 0) options.version = IntegerOr(ini.read("TECH", "ReadSecVersion", ""), 1);
    }
    if (options.quik.empty()) {
        environment.err << "velmora-scan: no terminal folder: set QuikPath in " << options.ini << " or give --quik\n";
        return false;
    }
    if (options.quik.back() != '/' && options.quik.back() != '\\') options.quik += pathSeparator();
    return true;
}

// The terminal's securities, or none with the reason told.
std::unique_ptr<TSecShareList> readSecurities(const Options& options, Log& log, std::ostream& err) {
    const std::string secPath = options.quik + "sec.dat";
    std::ifstream secFile(secPath, std::ios::binary);
    if (!secFile) {
        err << "velmora-scan: cannot read the securities file " << secPath << " (set QuikPath in " << options.ini
            << " or give --quik)\n";
        return nullptr;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(secFile)), std::istreambuf_iterator<char>());
    SecFileStream stream{bytes.data(), bytes.size(), 0};
    auto securities = FStreamReadSecShareList(stream, options.version, log);
    if (!securities || securities->Count() == 0) {
        err << "velmora-scan: no securities in " << secPath << " (version " << options.version << ")\n";
        return nullptr;
    }
    return securities;
}

// Picks the running terminal when no --pid names one. False, with the reason told, when none runs.
bool chooseProcess(Options& options, ScanEnvironment& environment, std::string& imageName) {
    if (options.pid != 0) return true;
    std::vector<ProcessEntry> found;
    FindProcesses(environment.processes, "info.exe", found);
    if (found.empty()) {
        environment.err << "velmora-scan: no terminal (info.exe) is running; start it or give --pid\n";
        return false;
    }
    if (found.size() > 1)
        environment.err << "velmora-scan: " << found.size() << " terminals are running; scanning process "
                        << found.front().id << " (give --pid for another)\n";
    options.pid = found.front().id;
    imageName = found.front().exeName;
    return true;
}

void printCandidates(std::ostream& out, const DomBaseScanResult& result, std::uint32_t pid) {
    out << "scanned " << result.bytesScanned << " bytes of process " << pid << "; best candidates:\n";
    for (const DomBaseCandidate& candidate : result.candidates) {
        std::string tickers;
        for (std::size_t i = 0; i < candidate.tickers.size() && i < 8; ++i)
            tickers += (i ? ", " : "") + candidate.tickers[i];
        if (candidate.tickers.size() > 8) tickers += ", ...";
        out << "DOMBASE=" << hex8(candidate.base) << "  " << (candidate.inImage ? "image" : "heap ")
            << " tables:" << candidate.tables << " books:" << candidate.books << "  " << tickers << '\n';
    }
}

}  // namespace

int RunScanCommand(const std::vector<std::string>& arguments, ScanEnvironment& environment) {
    std::ostream& out = environment.out;
    std::ostream& err = environment.err;
    Options options;
    bool help = false;
    if (std::string problem = parse(arguments, options, help); !problem.empty() || help) {
        if (!help) err << "velmora-scan: " << problem << '\n';
        err << usage;
        return 2;
    }
    try {
        if (!findTerminalFolder(options, environment)) return 1;

        auto clock = makeSystemClock();
        auto locale = makeSystemLocaleFormats();
        StreamMessages messages(err);
        Log log(*clock, *locale, messages);
        log.LogThreshold = -1;  // the scan's many trial reads are nobody's business

        auto securities = readSecurities(options, log, err);
        if (!securities) return 1;
        std::string imageName = "info.exe";
        if (!chooseProcess(options, environment, imageName)) return 1;
        auto process = environment.processes.open(options.pid);
        auto regions = environment.regions(options.pid);
        if (!process || regions.empty()) {
            err << "velmora-scan: cannot read the memory of process " << options.pid
                << " (no such process, or no right to read it)\n";
            return 1;
        }

        DomBaseScanOptions scanOptions;
        scanOptions.maxCandidates = static_cast<std::size_t>(options.top);
        ProgressBar bar(err);
        if (!options.quiet) scanOptions.progress = [&bar](std::uint64_t done, std::uint64_t total) { bar(done, total); };
        DomBaseScanResult result = ScanForDomBase(*process, regions, *securities, imageName, log, scanOptions);

        if (result.candidates.empty()) {
            err << "velmora-scan: no order-book chain found in " << result.bytesScanned << " bytes of process "
                << options.pid << "\n";
            return 1;
        }
        printCandidates(out, result, options.pid);
        if (options.writeIni) {
            const std::string value = hex8(result.candidates.front().base);
            WriteProfileString(options.ini, "TECH", "DOMBASE", value);
            out << "wrote DOMBASE=" << value << " into " << options.ini << '\n';
        }
        return 0;
    } catch (const std::exception& error) {
        err << "velmora-scan: " << error.what() << '\n';
        return 1;
    }
}

}  // namespace velmora
