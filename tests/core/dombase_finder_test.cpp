// A wrong DOMBASE mended from the window: the scan of the attached terminal finds the address,
// which is written into the ini in place, and the ladder comes up without a restart.
#include <gtest/gtest.h>

#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "support/standin_session.h"

namespace velmora {
namespace {

using testing::FakeTransLibrary;
using testing::readFile;

using DomBaseFinderTest = testing::StandinSessionTest;

TEST_F(DomBaseFinderTest, AWrongDombaseIsFoundByTheScanAndTakenWithoutARestart) {
    startTerminal("TRI", 1);
    WriteProfileString(app.file("Velmora.ini"), "TECH", "DOMBASE", "$00001000");
    FakeTransLibrary unused;
    startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);
    ASSERT_TRUE(view.timerEnabled) << logText();
    EXPECT_FALSE(session->domBaseScanOffered());
    tickTo(NotReadTicks + 2);
    ASSERT_TRUE(session->terminal().watch().notRead);
    ASSERT_TRUE(session->domBaseScanOffered());
    // The stand-in runs from the build, not from QuikPath: the dialog names it and warns.
    const std::string target = session->domBaseScanTarget();
    EXPECT_EQ(target.rfind("Процесс " + std::to_string(terminal->pid()), 0), 0u) << target;
    EXPECT_NE(target.find("не терминал из папки QuikPath"), std::string::npos) << target;

    std::uint64_t lastDone = 0, total = 0;
    DomBaseScanResult result = session->ScanAttachedTerminal([&](std::uint64_t done, std::uint64_t all) {
        lastDone = done;
        total = all;
    });
    ASSERT_FALSE(result.candidates.empty()) << logText();
    // The terminal's own head is among them; the best may be another word of its image that
    // points at the same chain, which the ladder then proves.
    bool found = false;
    for (const DomBaseCandidate& candidate : result.candidates) found |= candidate.base == terminal->domBase();
    EXPECT_TRUE(found || result.candidates.front().inImage);
    EXPECT_GT(total, 0u);
    EXPECT_EQ(lastDone, total);

    runLogic([&] { session->UseDomBase(result.candidates.front().base, view); });
    char expected[32];
    std::snprintf(expected, sizeof expected, "DOMBASE=$%08X\r\n", result.candidates.front().base);
    EXPECT_NE(readFile(app.file("Velmora.ini")).find(expected), std::string::npos) << readFile(app.file("Velmora.ini"));
    EXPECT_TRUE(tickUntil([&] { return view.ladderLive && !session->ladder().cell(21, LadderGrid::PriceColumn).empty(); }))
        << logText();
    EXPECT_FALSE(session->domBaseScanOffered());
}

}  // namespace
}  // namespace velmora
