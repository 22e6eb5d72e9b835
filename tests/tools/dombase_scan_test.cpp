#include "terminal/dombase_scan.h"

#include <gtest/gtest.h>

#include "secs/security_list.h"
#include "settings/log.h"
#include "support/fakes.h"
#include "terminal/book_layout.h"

namespace velmora::testing {
namespace {

TSecShareList securities(int count) {
    TSecShareList list;
    for (int i = 0; i < count; ++i) {
        auto record = std::make_unique<TSecShareRecord>();
        record->Ticker = "T" + std::to_string(i);
        list.append(std::move(record));
    }
    return list;
}

class DomBaseScanTest : public ::testing::Test {
protected:
    FakeMemory memory;
    BookLayout layout{memory};
    TSecShareList list = securities(5);
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink messages;
    Log log{clock, locale, messages};

    void SetUp() override { log.LogThreshold = -1; }

    // `count` headers from `at`, each with a sound two-level book, the last ending the chain;
    // answers the header addresses.
    std::vector<TerminalAddress> chain(TerminalAddress at, int count) {
        memory.map(at, 0x10000);
        std::vector<TerminalAddress> headers;
        for (int i = 0; i < count; ++i) headers.push_back(at + static_cast<TerminalAddress>(i) * 0x400);
        for (int i = 0; i < count; ++i) {
            TerminalAddress header = headers[static_cast<std::size_t>(i)];
            TerminalAddress array = at + 0x4000 + static_cast<TerminalAddress>(i) * 0x400;
            layout.header(header, i + 1 < count ? headers[static_cast<std::size_t>(i) + 1] : 0, i % 5, array);
            layout.fill(header, array, at + 0x8000 + static_cast<TerminalAddress>(i) * 0x100, {bid(100, 5), ask(101, 3)});
        }
        return headers;
    }

    DomBaseScanResult scan(const std::vector<MemoryRegion>& regions) {
        FakeProcessHandle process(memory);
        return ScanForDomBase(process, regions, list, "info.exe", log);
    }
};

TEST_F(DomBaseScanTest, RanksTheHeadInTheImagesDataFirstAndWordsPointingAtItBelow) {
    auto headers = chain(0x110000, 3);
    memory.map(0x100000, 0x1000);
    memory.map(0x400000, 0x2000);
    memory.writeWord(0x401800, headers[0]);  // the head, in the image's zero-filled data
    memory.writeWord(0x400100, 0x401800);    // code that names the head word
    memory.writeWord(0x100010, headers[0]);  // a copy on the heap
    memory.writeWord(0x100020, headers[1]);  // a stray into the chain
    std::vector<MemoryRegion> regions = {
        {0x100000, 0x101000, ""},
        {0x110000, 0x120000, ""},
        {0x400000, 0x401000, "/opt/quik/INFO.EXE"},
        {0x401000, 0x402000, ""},
    };
    auto result = scan(regions);
    ASSERT_GE(result.candidates.size(), 4u);
    const auto& c = result.candidates;
    EXPECT_EQ(c[0].base, 0x401800u);
    EXPECT_TRUE(c[0].inImage);
    EXPECT_EQ(c[0].headers, 3);
    EXPECT_EQ(c[0].books, 3);
    EXPECT_EQ(c[0].tickers, (std::vector<std::string>{"T0", "T1", "T2"}));
    EXPECT_EQ(c[1].base, 0x400100u) << "one header longer, otherwise the same";
    EXPECT_EQ(c[1].headers, 4);
    EXPECT_EQ(c[2].base, 0x100010u);
    EXPECT_FALSE(c[2].inImage);
    EXPECT_EQ(c[3].base, 0x100020u);
    EXPECT_EQ(c[3].books, 2);
    EXPECT_EQ(result.bytesScanned, 0x1000u + 0x10000 + 0x2000);
}

TEST_F(DomBaseScanTest, ChainsThatLoopLeaveTheListOrRunOutOfMemoryAreNoCandidates) {
    auto looped = chain(0x200000, 3);
    memory.writeWord(looped[2], looped[1]);  // the last header leads back into the chain
    auto outside = chain(0x300000, 3);
    memory.writeWord(outside[2] + 4, 5);  // one past the list
    auto cut = chain(0x500000, 2);
    memory.writeWord(cut[1], 0x600FFC);  // a next header whose 12 bytes cross the region's end
    memory.map(0x600000, 0x1000);
    memory.writeWord(0x600FFC, 0);
    memory.writeWord(0x100000, looped[0]);
    memory.writeWord(0x100004, outside[0]);
    memory.writeWord(0x100008, cut[0]);
    memory.map(0x100000, 0x1000);
    std::vector<MemoryRegion> regions = {
        {0x100000, 0x101000, ""}, {0x200000, 0x210000, ""}, {0x300000, 0x310000, ""},
        {0x500000, 0x510000, ""}, {0x600000, 0x601000, ""},
    };
    auto result = scan(regions);
    for (const auto& candidate : result.candidates)
        ADD_FAILURE() << std::hex << candidate.base << " with " << std::dec << candidate.books << " books";
}

TEST_F(DomBaseScanTest, AnUnreadablePageCostsOnlyItselfAndTouchingRegionsJoin) {
    // The region list says readable, but one page is not (a guard page, a page just freed).
    memory.map(0x200000, 0xFF000);
    memory.map(0x300000, 0x100000);
    auto headers = chain(0x380000, 2);
    memory.writeWord(0x200100, headers[0]);
    // A header in the last bytes of one region, its book read across into the next.
    memory.map(0x500000, 0x2000);
    layout.header(0x500FF0, 0, 1, 0x501100);
    layout.fill(0x500FF0, 0x501100, 0x501400, {ask(7, 1)});
    memory.writeWord(0x200200, 0x500FF0);
    std::vector<MemoryRegion> regions = {
        {0x200000, 0x400000, ""}, {0x500000, 0x501000, ""}, {0x501000, 0x502000, "other.dll"}};

    auto result = scan(regions);
    // The head, the word across the joint, and the first header's own next word.
    ASSERT_EQ(result.candidates.size(), 3u);
    EXPECT_EQ(result.candidates[0].base, 0x200100u);
    EXPECT_EQ(result.candidates[0].books, 2);
    EXPECT_EQ(result.candidates[1].base, 0x200200u);
    EXPECT_EQ(result.candidates[1].tickers, std::vector<std::string>{"T1"});
    EXPECT_EQ(result.bytesScanned, 0x200000u - 0x1000 + 0x2000);
}

}  // namespace
}  // namespace velmora::testing
