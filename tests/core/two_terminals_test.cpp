// Two terminals at once, as traders with two brokers run them: the one in QuikPath is read,
// whichever was started first.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/session.h"
#include "support/standin_session.h"

namespace velmora {
namespace {

using testing::FakeTransLibrary;
using testing::StandinProcess;
using testing::TempFolder;

using TwoTerminalsTest = testing::StandinSessionTest;

TEST_F(TwoTerminalsTest, TheTerminalInQuikPathIsTakenOverOneStartedEarlier) {
    TempFolder otherBroker;
    auto first = serve(otherBroker);
    // The second terminal's program lies in QuikPath, as a real installation's does.
    std::filesystem::copy_file(VELMORA_BIN_DIR "/info.exe", quik.file("info.exe"));
    terminal = std::make_unique<StandinProcess>(
        quik.file("info.exe"), std::vector<std::string>{"--folder", quik.path(), "--static", "--write-ini",
                                                        app.file("Velmora.ini"), "--output-way", "TRI"});
    ASSERT_TRUE(terminal->readLine(std::chrono::seconds(10)));  // its DOMBASE line: it is serving
    FakeTransLibrary unused;
    startProgram(static_cast<std::uint32_t>(first->pid()), unused, static_cast<std::uint32_t>(terminal->pid()));
    EXPECT_EQ(session->terminal().processId(), static_cast<std::uint32_t>(terminal->pid()));
    EXPECT_NE(logText().find("terminal process " + std::to_string(terminal->pid()) + " taken: " +
                             quik.file("info.exe")),
              std::string::npos)
        << logText();

    tickTo(3);
    for (const std::string& caption : view.captionsShown) EXPECT_EQ(caption.find("QuikPath"), std::string::npos);

    // It ends while two others run, neither in QuikPath: the first is taken at the next look,
    // which the panel says once its book reads.
    terminal->stop();
    TempFolder thirdBroker;
    auto third = serve(thirdBroker);
    terminals->allow(static_cast<std::uint32_t>(third->pid()));
    EXPECT_TRUE(tickUntil([&] {
        return session->terminal().processId() == static_cast<std::uint32_t>(first->pid()) && view.infoVisible &&
               view.caption.find("QuikPath") != std::string::npos;
    })) << logText();
    EXPECT_EQ(view.caption.rfind("info.exe из папки QuikPath не найден: взят процесс " +
                                     std::to_string(first->pid()),
                                              0),
              0u)
        << view.caption;
}

}  // namespace
}  // namespace velmora
