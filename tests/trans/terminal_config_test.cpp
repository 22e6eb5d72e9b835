#include "trans/terminal_config.h"

#include <filesystem>

#include "settings/program_error.h"
#include "order_fixture.h"

namespace velmora::testing {
namespace {

class TerminalConfigTest : public OrderFixture {
protected:
    std::string ini = folder.file("info.ini");

    // The lines of one section, in file order.
    std::vector<std::string> section(const std::string& name) const {
        std::vector<std::string> lines;
        bool inside = false;
        for (const std::string& line : fileLines(ini)) {
            if (!line.empty() && line[0] == '[')
                inside = line == "[" + name + "]";
            else if (inside && !line.empty())
                lines.push_back(line);
        }
        return lines;
    }
};

TEST_F(TerminalConfigTest, FileModeWritesItsKeysInOrderThenDllChangesOnlyTheStartKeys) {
    writeFile(ini, "[main]\r\nserver=1.2.3.4\r\n");
    desk.settings.SetOutputWay(" tri");
    ConfigureTerminalFileMode(desk.settings);
    std::vector<std::string> fileMode = {
        "start-external-transactions-processing-automatically=0",
        "start-loading-transactions-from-file-automatically=1",
        "write_error_transactions_file=1",
        "input_transactions_file=" + folder.file("quik.tri"),
        "output_transactions_file=" + folder.file("quik.tro"),
        "error_transactions_file=" + folder.file("quik.trr"),
        "transactions_file_reading_timeout=100"};
    EXPECT_EQ(section("transactions"), fileMode);

    desk.settings.SetOutputWay("DLL");
    ConfigureTerminalFileMode(desk.settings);
    fileMode[0] = "start-external-transactions-processing-automatically=1";
    fileMode[1] = "start-loading-transactions-from-file-automatically=0";
    EXPECT_EQ(section("transactions"), fileMode);
    EXPECT_EQ(section("main"), std::vector<std::string>{"server=1.2.3.4"});
}

TEST_F(TerminalConfigTest, AnyOtherModeWritesNothingAndErrorsNameTheFile) {
    for (std::string mode : {"", "DL L"}) {
        desk.settings.SetOutputWay(mode);
        ConfigureTerminalFileMode(desk.settings);
    }
    EXPECT_FALSE(std::filesystem::exists(ini));

    desk.settings.QuikPath = folder.file("missing/");
    desk.settings.SetOutputWay("DLL");
    try {
        ConfigureTerminalFileMode(desk.settings);
        ADD_FAILURE() << "no error raised";
    } catch (const ProgramError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + folder.file("missing/info.ini"));
    }
}

}  // namespace
}  // namespace velmora::testing
