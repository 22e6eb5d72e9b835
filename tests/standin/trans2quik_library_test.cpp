#include <dlfcn.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>

#include "support/fakes.h"
#include "support/standin_process.h"
#include "terminal_files.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

using Connect = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);
using Disconnect = std::int32_t (*)(std::int32_t*, char*, std::uint32_t);
using Send = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);

class Trans2QuikLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        library = dlopen(VELMORA_BIN_DIR "/TRANS2QUIK.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        connectFunction = reinterpret_cast<Connect>(dlsym(library, "TRANS2QUIK_CONNECT"));
        disconnectFunction = reinterpret_cast<Disconnect>(dlsym(library, "TRANS2QUIK_DISCONNECT"));
        sendFunction = reinterpret_cast<Send>(dlsym(library, "TRANS2QUIK_SEND_ASYNC_TRANSACTION"));
        ASSERT_TRUE(connectFunction && disconnectFunction && sendFunction);
    }
    void TearDown() override {
        if (disconnectFunction) disconnect();
        if (library) dlclose(library);
    }

    // Buffers as the program passes them: a zero-filled 255-byte text and message.
    std::int32_t connect(const std::string& folder) {
        char text[255] = {};
        std::strncpy(text, folder.c_str(), sizeof text - 1);
        std::memset(message, 0, sizeof message);
        return connectFunction(text, &extended, message, sizeof message);
    }
    std::int32_t send(std::string transaction) {
        std::memset(message, 0, sizeof message);
        return sendFunction(transaction.data(), &extended, message, sizeof message);
    }
    std::int32_t disconnect() {
        return disconnectFunction(&extended, message, sizeof message);
    }

    static std::string order(int transId) {
        return "TRANS_ID=" + std::to_string(transId) +
               "; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=NEW_ORDER; TYPE=L; QUANTITY=1; "
               "PRICE=92000; OPERATION=B; ";
    }

    void* library = nullptr;
    Connect connectFunction = nullptr;
    Disconnect disconnectFunction = nullptr;
    Send sendFunction = nullptr;
    std::int32_t extended = 0;
    char message[255] = {};
    TempFolder folder;
};

TEST_F(Trans2QuikLibraryTest, ConnectFailsWithoutATerminalAndFitsItsMessageInTheBuffer) {
    EXPECT_NE(connect(folder.path()), 0);
    EXPECT_GT(std::strlen(message), 0u);
    EXPECT_NE(connect(folder.file("missing/")), 0);

    char small[8];
    std::memset(small, 'x', sizeof small);
    char text[255] = {};
    std::strncpy(text, folder.path().c_str(), sizeof text - 1);
    EXPECT_NE(connectFunction(text, &extended, small, 5), 0);
    EXPECT_EQ(std::strlen(small), 4u);
    EXPECT_EQ(small[5], 'x');

    EXPECT_NE(send(order(1)), 0) << "sending needs a connection";
}

TEST_F(Trans2QuikLibraryTest, SentTransactionsReachTheTerminalOfThatFolderOnly) {
    TempFolder other;
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--static"}));
    StandinProcess otherTerminal(StandinProcess::serving(other.path(), {"--static"}));

    ASSERT_EQ(connect(folder.path()), 0) << message;
    ASSERT_EQ(send(order(101)), 0) << message;
    auto replies = waitForLines(folder.file("quik.tro"), 1, 1s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].rfind("TRANS_ID=101; STATUS=3;", 0), 0u) << replies[0];
    EXPECT_TRUE(fileLines(other.file("quik.tro")).empty());

    // Reconnecting elsewhere, with the trailing separator left off.
    ASSERT_EQ(connect(other.path().substr(0, other.path().size() - 1)), 0) << message;
    ASSERT_EQ(send("TRANS_ID=102; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=NOPE; "), 0);
    EXPECT_EQ(waitForLines(other.file("quik.trr"), 1, 1s).size(), 1u);

    EXPECT_EQ(disconnect(), 0);
    EXPECT_NE(send(order(103)), 0);
}

TEST_F(Trans2QuikLibraryTest, LongFolderPathsConnect) {
    std::string deep = folder.path();
    while (deep.size() <= 160) {
        deep += "a-rather-long-folder-name/";
        mkdir(deep.c_str(), 0700);
    }
    StandinProcess terminal(StandinProcess::serving(deep, {"--static"}));
    ASSERT_EQ(connect(deep + "/"), 0) << message;
    ASSERT_EQ(send(order(201)), 0);
    EXPECT_EQ(waitForLines(deep + "quik.tro", 1, 1s).size(), 1u);
}

TEST_F(Trans2QuikLibraryTest, ATerminalThatEndedIsReportedGone) {
    {
        StandinProcess terminal(StandinProcess::serving(folder.path(), {"--static"}));
        ASSERT_EQ(connect(folder.path()), 0) << message;
        terminal.kill();
    }
    EXPECT_NE(send(order(301)), 0);
    EXPECT_NE(std::string(message).find("gone"), std::string::npos) << message;
    EXPECT_NE(connect(folder.path()), 0);
}

}  // namespace
}  // namespace velmora::testing
