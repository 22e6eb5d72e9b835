#include "support/fakes.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace velmora::testing {

void FakeMemory::write(TerminalAddress address, const void* bytes, std::size_t count) {
    map(address, count);
    const auto* source = static_cast<const std::uint8_t*>(bytes);
    for (std::size_t i = 0; i < count; ++i) {
        TerminalAddress at = address + static_cast<TerminalAddress>(i);
        auto region = std::prev(regions_.upper_bound(at));
        region->second[at - region->first] = source[i];
    }
}

void FakeMemory::writeWord(TerminalAddress address, std::uint32_t value) {
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    write(address, bytes, 4);
}

void FakeMemory::writeWords(TerminalAddress address, const std::vector<std::uint32_t>& values) {
    for (std::size_t i = 0; i < values.size(); ++i)
        writeWord(address + static_cast<TerminalAddress>(4 * i), values[i]);
}

void FakeMemory::map(TerminalAddress address, std::size_t count) {
    if (count == 0) return;
    std::uint64_t begin = address;
    std::uint64_t end = begin + count;
    // Merge with every region that touches or overlaps [begin, end).
    auto it = regions_.upper_bound(address);
    if (it != regions_.begin()) {
        auto previous = std::prev(it);
        if (previous->first + previous->second.size() >= begin) it = previous;
    }
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> merged;
    while (it != regions_.end() && it->first <= end) {
        begin = std::min<std::uint64_t>(begin, it->first);
        end = std::max<std::uint64_t>(end, it->first + it->second.size());
        merged.emplace_back(it->first, std::move(it->second));
        it = regions_.erase(it);
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(end - begin), 0);
    for (auto& [start, content] : merged)
        std::copy(content.begin(), content.end(), bytes.begin() + static_cast<std::ptrdiff_t>(start - begin));
    regions_[static_cast<TerminalAddress>(begin)] = std::move(bytes);
}

void FakeMemory::unmap(TerminalAddress address) {
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return;
    --it;
    if (address < it->first + it->second.size()) regions_.erase(it);
}

bool FakeMemory::read(TerminalAddress address, void* destination, std::size_t count) const {
    ++readCount;
    if (failAll) return false;
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return false;
    --it;
    std::uint64_t offset = address - it->first;
    if (offset + count > it->second.size()) return false;
    std::memcpy(destination, it->second.data() + offset, count);
    return true;
}

bool FakeProcessHandle::read(TerminalAddress address, void* destination, std::size_t count) {
    return memory_.read(address, destination, count);
}

std::vector<ProcessEntry> FakeProcessAccess::listProcesses() {
    ++listCalls;
    return processes;
}

std::unique_ptr<ProcessHandle> FakeProcessAccess::open(std::uint32_t processId) {
    opened.push_back(processId);
    return std::make_unique<FakeProcessHandle>(memory, &ended[processId]);
}

std::string FakeLocale::formatDateTime(const LocalDateTime& when) const {
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", when.day, when.month, when.year,
                  when.hour, when.minute, when.second);
    return text;
}

std::int32_t FakeTransLibrary::connect(char* connectionText, std::int32_t* extendedError, char*,
                                       std::uint32_t) {
    connectTexts.emplace_back(connectionText);
    *extendedError = connectResult == 0 ? 0 : 7;
    return connectResult;
}

std::int32_t FakeTransLibrary::disconnect(std::int32_t* extendedError, char*, std::uint32_t) {
    ++disconnects;
    *extendedError = 0;
    return 0;
}

std::int32_t FakeTransLibrary::sendAsyncTransaction(char* transaction, std::int32_t* extendedError,
                                                    char* errorMessage, std::uint32_t errorMessageSize) {
    sent.emplace_back(transaction);
    *extendedError = sendResult == 0 ? 0 : 11;
    WriteLibraryMessage(sendMessage, errorMessage, errorMessageSize);
    return sendResult;
}

TempFolder::TempFolder() {
    std::random_device random;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate = base / ("velmora-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string() + "/";
            break;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

namespace {

// Each test process meets its stand-ins' scripts in a link folder of its own, apart from a
// Velmora the developer runs and from the test processes beside it.
struct IsolatedLinkFolder {
    TempFolder folder;
    IsolatedLinkFolder() {
#ifdef _WIN32
        _putenv_s("VELMORA_LINK_FOLDER", folder.path().c_str());
#else
        ::setenv("VELMORA_LINK_FOLDER", folder.path().c_str(), 1);
#endif
    }
};
const IsolatedLinkFolder isolatedLinkFolder;

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace velmora::testing
