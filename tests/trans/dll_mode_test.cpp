#include "trans/dll_mode.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/trans_library.h"
#include "program_fixture.h"
#include "trans/transactions.h"

namespace velmora::testing {
namespace {

using DllModeTest = ProgramFixture;

TEST_F(DllModeTest, ConnectPassesQuikPathAndLogsTheOutcome) {
    program.settings.QuikPath = "C:\\QUIK\\";
    ConnectTransLibrary(program);
    ASSERT_EQ(transLibrary.connectTexts, std::vector<std::string>{"C:\\QUIK\\"});
    EXPECT_TRUE(program.DLLConnected);
    EXPECT_TRUE(logged("InitDLLMode.."));
    EXPECT_TRUE(logged("TRANS2QUIK_CONNECT RES:0; ParamString:C:\\QUIK\\; Errcode:0; ErrMess:"));
    EXPECT_TRUE(logged("связь с QUIK для передачи заявок через dll установлена"));

    program.DLLConnected = false;
    transLibrary.connectResult = 3;
    ConnectTransLibrary(program);
    EXPECT_FALSE(program.DLLConnected);
    EXPECT_TRUE(logged("TRANS2QUIK_CONNECT RES:3; ParamString:C:\\QUIK\\; Errcode:7; ErrMess:"));
    EXPECT_TRUE(logged("Не удается установить связь с QUIK для передачи заявок через dll"));

    DoneDLLMode(program);
    EXPECT_EQ(transLibrary.disconnects, 1);
    EXPECT_TRUE(logged("DoneDLLMode..."));
    EXPECT_TRUE(logged("TRANS2QUIK_DISCONNECT RES: 0; ErrCode:0; Errm:; "));
}

TEST_F(DllModeTest, AQuikPathLongerThanTheBufferIsRefusedBeforeTheCall) {
    program.settings.QuikPath = std::string(253, 'q') + "\\";
    EXPECT_TRUE(InitDLLMode(program));
    ASSERT_EQ(transLibrary.connectTexts.size(), 1u);
    EXPECT_EQ(transLibrary.connectTexts[0].size(), 254u);

    program.settings.QuikPath = std::string(254, 'q') + "\\";
    EXPECT_FALSE(InitDLLMode(program));
    EXPECT_EQ(transLibrary.connectTexts.size(), 1u);
    EXPECT_TRUE(loggedStartingWith("QuikPath is longer than 254 bytes"));
}

TEST_F(DllModeTest, AMissingLibraryFailsEveryCallWithItsReasonAndTheProgramGoesOn) {
    transLibrary.isAvailable = false;
    ConnectTransLibrary(program);
    ConnectTransLibrary(program);
    EXPECT_FALSE(program.DLLConnected);
    EXPECT_TRUE(transLibrary.connectTexts.empty());
    EXPECT_TRUE(logged("TRANS2QUIK library not available: not loaded"));

    SendNewOrder(program, 0, 1, 100);
    EXPECT_TRUE(transLibrary.sent.empty());
    EXPECT_TRUE(logged("transaction not delivered: TRANS2QUIK library not available: not loaded"));
    DoneDLLMode(program);
    EXPECT_EQ(transLibrary.disconnects, 0);
}

TEST(LoadTransLibrary, MissingLibraryOrFunctionsLeaveItUnavailableSayingWhy) {
    TempFolder folder;
    auto missing = loadTransLibrary(folder.path());
    EXPECT_FALSE(missing->available());
    EXPECT_NE(missing->loadError().find(folder.file("TRANS2QUIK.so")), std::string::npos);

    // A real shared library without the three functions: the C++ runtime itself.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::terminate), &info), 0);
    std::filesystem::copy_file(info.dli_fname, folder.file("TRANS2QUIK.so"));
    auto wrong = loadTransLibrary(folder.path());
    EXPECT_FALSE(wrong->available());
    EXPECT_NE(wrong->loadError().find("TRANS2QUIK_CONNECT not found"), std::string::npos) << wrong->loadError();
}

}  // namespace
}  // namespace velmora::testing
