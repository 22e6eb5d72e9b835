// velmora-scan: finds the DOMBASE of a running terminal by trying every aligned word of
// its readable memory as the head of the order-book chain.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/program_error.h"
#include "platform/clock.h"
#include "platform/memory_regions.h"
#include "platform/message_sink.h"
#include "platform/process_access.h"
#include "platform/program_location.h"
#include "secs/sec_file_reader.h"
#include "secs/security_list.h"
#include "settings/ini_file.h"
#include "settings/log.h"
#include "settings/number_text.h"
#include "terminal/dombase_scan.h"
#include "terminal/process_finder.h"

using namespace velmora;

namespace {

struct StderrMessages : MessageSink {
    void show(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
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

void usage() {
    std::fprintf(stderr,
                 "usage: velmora-scan [--pid PID] [--ini PATH | --quik FOLDER --version N] [--write-ini] [--top N] "
                 "[--quiet]\n"
                 "Finds the address to give as DOMBASE in the TECH section of Velmora.ini.\n");
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw ProgramError("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "--pid") options.pid = static_cast<std::uint32_t>(std::stoul(value()));
        else if (arg == "--ini") options.ini = value();
        else if (arg == "--quik") options.quik = value();
        else if (arg == "--version") options.version = std::stoi(value());
        else if (arg == "--write-ini") options.writeIni = true;
        else if (arg == "--top") options.top = std::stoi(value());
        else if (arg == "--quiet") options.quiet = true;
        else if (arg == "--help" || arg == "-h") return false;
        else throw ProgramError("unknown option " + arg);
    }
    return true;
}

void progressBar(std::uint64_t done, std::uint64_t total) {
    static int shown = -1;
    int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent == shown) return;
    shown = percent;
    int filled = percent * 40 / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", 40 - filled, "",
                 percent);
    if (percent >= 100) std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (!parse(argc, argv, options)) {
            usage();
            return 2;
        }
        if (options.ini.empty()) options.ini = executableFolder() + "Velmora.ini";
        if (options.quik.empty() || options.version == 0) {
            IniFile ini = IniFile::load(options.ini);
            if (options.quik.empty()) options.quik = ini.read("COMMON", "QuikPath", "");
            if (options.version == 0) options.version = IntegerOr(ini.read("TECH", "ReadSecVersion", ""), 1);
        }
        if (!options.quik.empty() && options.quik.back() != pathSeparator()) options.quik += pathSeparator();

        auto clock = makeSystemClock();
        auto locale = makeSystemLocaleFormats();
        StderrMessages messages;
        Log log(*clock, *locale, messages);
        log.LogThreshold = -1;  // the scan's many trial reads are nobody's business

        std::string secPath = options.quik + "sec.dat";
        std::ifstream secFile(secPath, std::ios::binary);
        if (!secFile) {
            std::fprintf(stderr, "velmora-scan: cannot read the securities file %s (set QuikPath in %s or give --quik)\n",
                         secPath.c_str(), options.ini.c_str());
            return 1;
        }
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(secFile)), std::istreambuf_iterator<char>());
        SecFileStream stream{bytes.data(), bytes.size(), 0};
        auto securities = FStreamReadSecShareList(stream, options.version, log);
        if (!securities || securities->Count() == 0) {
            std::fprintf(stderr, "velmora-scan: no securities in %s (version %d)\n", secPath.c_str(), options.version);
            return 1;
        }

        auto processes = makeSystemProcessAccess();
        std::string imageName = "info.exe";
        if (options.pid == 0) {
            std::vector<ProcessEntry> found;
            FindProcesses(*processes, "info.exe", found);
            if (found.empty()) {
                std::fprintf(stderr, "velmora-scan: no terminal (info.exe) is running; start it or give --pid\n");
                return 1;
            }
            options.pid = found.front().id;
            imageName = found.front().exeName;
        }
        auto process = processes->open(options.pid);
        auto regions = listReadableRegions(options.pid);
        if (!process || regions.empty()) {
            std::fprintf(stderr, "velmora-scan: cannot read the memory of process %u\n", options.pid);
            return 1;
        }

        DomBaseScanOptions scanOptions;
        scanOptions.maxCandidates = static_cast<std::size_t>(std::max(options.top, 1));
        if (!options.quiet) scanOptions.progress = progressBar;
        DomBaseScanResult result = ScanForDomBase(*process, regions, *securities, imageName, log, scanOptions);

        if (result.candidates.empty()) {
            std::fprintf(stderr, "velmora-scan: no order-book chain found in %llu bytes of process %u\n",
                         static_cast<unsigned long long>(result.bytesScanned), options.pid);
            return 1;
        }
        std::printf("scanned %llu bytes of process %u; best candidates:\n",
                    static_cast<unsigned long long>(result.bytesScanned), options.pid);
        for (const DomBaseCandidate& candidate : result.candidates) {
            std::string tickers;
            for (std::size_t i = 0; i < candidate.tickers.size() && i < 8; ++i)
                tickers += (i ? ", " : "") + candidate.tickers[i];
            if (candidate.tickers.size() > 8) tickers += ", ...";
            std::printf("DOMBASE=0x%08X  %s tables:%d books:%d  %s\n", candidate.base,
                        candidate.inImage ? "image" : "heap ", candidate.tables, candidate.books, tickers.c_str());
        }
        if (options.writeIni) {
            char value[16];
            std::snprintf(value, sizeof value, "0x%08X", result.candidates.front().base);
            WriteProfileString(options.ini, "TECH", "DOMBASE", value);
            std::printf("wrote DOMBASE=%s into %s\n", value, options.ini.c_str());
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmora-scan: %s\n", error.what());
        return 1;
    }
}
