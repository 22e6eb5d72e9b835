// The real stand-in terminal, run under a name in capitals with a prefix, is found by name,
// read at its chain head, and lost for good once it is killed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/process_access.h"
#include "support/fakes.h"
#include "support/standin_process.h"
#include "terminal/process_finder.h"

namespace velmora {
namespace {

using testing::StandinProcess;
using testing::TempFolder;

TEST(StandinProcessAccess, FoundByNameInCapitalsWithAPrefixReadAtItsBaseAndLostWhenKilled) {
    TempFolder bin, quik;
    const std::string renamed = bin.file("MyINFO.EXE");
    std::filesystem::copy_file(VELMORA_BIN_DIR "/info.exe", renamed);
    StandinProcess terminal(renamed, {"--folder", quik.path(), "--static"});
    auto first = terminal.readLine();
    ASSERT_TRUE(first && first->rfind("DOMBASE=0x", 0) == 0);
    const auto base = static_cast<TerminalAddress>(std::stoul(first->substr(10), nullptr, 16));

    auto processes = makeSystemProcessAccess();
    std::vector<ProcessEntry> found;
    FindProcesses(*processes, "  info.exe ", found);
    auto mine = std::find_if(found.begin(), found.end(),
                             [&](const ProcessEntry& entry) { return entry.id == static_cast<std::uint32_t>(terminal.pid()); });
    ASSERT_NE(mine, found.end());
    EXPECT_EQ(mine->exeName, "MyINFO.EXE");  // reported as it is, not trimmed or upper-cased

    auto handle = processes->open(mine->id);
    ASSERT_TRUE(handle);
    std::uint32_t head = 0;
    ASSERT_TRUE(handle->read(base, &head, sizeof head));
    EXPECT_NE(head, 0u);  // the static books have a chain
    std::uint32_t header[4];
    EXPECT_TRUE(handle->read(head, header, sizeof header));

    terminal.kill();
    terminal.waitForExit(std::chrono::seconds(5));
    EXPECT_FALSE(handle->read(base, &head, sizeof head));
    EXPECT_FALSE(handle->read(head, header, sizeof header));
}

}  // namespace
}  // namespace velmora
