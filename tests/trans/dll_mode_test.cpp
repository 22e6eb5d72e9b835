#include "trans/order_delivery.h"

#include <dlfcn.h>

#include <cmath>
#include <filesystem>

#include "platform/trans_library.h"
#include "order_fixture.h"
#include "support/fake_view.h"
#include "trans/transactions.h"

namespace velmora::testing {
namespace {

using DllModeTest = OrderFixture;
using testing::FakeView;

TEST_F(DllModeTest, ConnectAndDisconnectLogTheirCalls) {
    desk.settings.QuikPath = "C:\\QUIK\\";
    transLibrary.connectResult = 3;
    desk.library.connect();
    EXPECT_FALSE(desk.library.connected());
    transLibrary.connectResult = 0;
    desk.library.connect();
    EXPECT_TRUE(desk.library.connected());
    desk.library.connect();  // connected already: no second connect, no second line
    desk.library.disconnect();
    EXPECT_EQ(transLibrary.connectTexts, (Texts{"C:\\QUIK\\", "C:\\QUIK\\"}));
    EXPECT_EQ(transLibrary.disconnects, 1);
    // Each connect registers the reply callback again: a reconnect forgets it.
    EXPECT_EQ(transLibrary.replyCallbacks, 1);
    EXPECT_EQ(logLines(), (Texts{"InitDLLMode..", "TRANS2QUIK_CONNECT RES:3; ParamString:C:\\QUIK\\; Errcode:7; ErrMess:",
                                 "Не удается установить связь с QUIK для передачи заявок через dll", "InitDLLMode..",
                                 "TRANS2QUIK_CONNECT RES:0; ParamString:C:\\QUIK\\; Errcode:0; ErrMess:",
                                 "связь с QUIK для передачи заявок через dll установлена", "DoneDLLMode...",
                                 "TRANS2QUIK_DISCONNECT RES: 0; ErrCode:0; Errm:; "}));
}

TEST_F(DllModeTest, AQuikPathLongerThanTheBufferIsRefusedBeforeTheCall) {
    desk.settings.QuikPath = std::string(253, 'q') + "\\";
    EXPECT_TRUE(desk.library.init());
    desk.settings.QuikPath += "q";
    EXPECT_FALSE(desk.library.init());
    ASSERT_EQ(transLibrary.connectTexts.size(), 1u);
    EXPECT_EQ(transLibrary.connectTexts[0].size(), 254u);
    EXPECT_TRUE(logged("QuikPath is longer than 254 bytes"));
}

TEST_F(DllModeTest, AMissingLibraryFailsEveryCallWithItsReason) {
    transLibrary.isAvailable = false;
    desk.library.connect();
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    desk.library.disconnect();
    EXPECT_FALSE(desk.library.connected());
    EXPECT_TRUE(transLibrary.connectTexts.empty() && transLibrary.sent.empty() && transLibrary.disconnects == 0);
    EXPECT_TRUE(logged("TRANS2QUIK library not available: not loaded"));
    EXPECT_TRUE(logged("transaction not delivered: TRANS2QUIK library not available: not loaded"));

    // Put back while the program runs: the next retry loads and connects it.
    transLibrary.putBack = true;
    desk.library.connect();
    EXPECT_TRUE(desk.library.connected());
}

TEST_F(DllModeTest, TheSendsResultAndMessageAreKeptForTheCaller) {
    FakeView view;
    desk.tracking.setPanel(&view);
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    EXPECT_TRUE(desk.library.lastSendResult().called);
    EXPECT_EQ(desk.library.lastSendResult().result, 0);
    transLibrary.sendResult = 6;
    transLibrary.sendMessage = utf8ToCp1251("Нет связи");
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    const LibrarySendResult& refused = desk.library.lastSendResult();
    EXPECT_EQ(refused.result, 6);
    EXPECT_EQ(refused.extendedError, 11);
    EXPECT_EQ(refused.message, "Нет связи");
    EXPECT_TRUE(logged("transaction not delivered: TRANS2QUIK_SEND_ASYNC_TRANSACTION RES:6; Errcode:11; ErrMess:Нет связи"));
    EXPECT_EQ(view.caption, "Заявка 1002 не отправлена: Нет связи");
    transLibrary.isAvailable = false;
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    EXPECT_FALSE(desk.library.lastSendResult().called);
    EXPECT_EQ(view.caption, "Заявка 1003 не отправлена: библиотека TRANS2QUIK не загружена");
    const TrackedTransaction* lost = desk.tracking.tracker().transaction(1003);
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(lost->state, TransState::Rejected);

    // The library's callback repeats the refusal of 1002: logged once, as not delivered.
    desk.tracking.start(ReplySource::Library, "", 5);
    transLibrary.events.events.push_back(LibraryReply{6, 11, 0, 1002, 0, "Нет связи"});
    desk.tracking.poll();
    EXPECT_FALSE(logged("transaction 1002 rejected"));
}

TEST(LoadTransLibrary, TheCallbackFunctionsAreOptionalAndUsedWhereTheLibraryHasThem) {
    auto library = loadTransLibrary(VELMORA_BIN_DIR "/");
    ASSERT_TRUE(library->available()) << library->loadError();
    void* handle = dlopen(VELMORA_BIN_DIR "/TRANS2QUIK.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    bool hasStartOrders = dlsym(handle, "TRANS2QUIK_START_ORDERS") != nullptr;
    bool hasReplyCallback = dlsym(handle, "TRANS2QUIK_SET_TRANSACTIONS_REPLY_CALLBACK") != nullptr;
    dlclose(handle);
    std::int32_t extendedError = -5;
    char message[255] = {};
    std::int32_t result = library->setTransactionsReplyCallback(&extendedError, message, sizeof message);
    EXPECT_EQ(result == LibraryFunctionMissing, !hasReplyCallback);
    if (!hasReplyCallback) {
        EXPECT_NE(std::string(message).find("REPLY_CALLBACK"), std::string::npos);
    }
    if (!hasStartOrders) {
        EXPECT_FALSE(library->startOrders());
    }
}

TEST(LoadTransLibrary, AMissingLibraryOrFunctionLeavesItUnavailableSayingWhy) {
    TempFolder folder;
    auto missing = loadTransLibrary(folder.path());
    EXPECT_FALSE(missing->available());
    EXPECT_NE(missing->loadError().find(folder.file("TRANS2QUIK.so")), std::string::npos);
    EXPECT_FALSE(missing->loadAgain());
    TempFolder putBack;
    auto later = loadTransLibrary(putBack.path());
    std::filesystem::copy_file(VELMORA_BIN_DIR "/TRANS2QUIK.so", putBack.file("TRANS2QUIK.so"));
    EXPECT_TRUE(later->loadAgain()) << later->loadError();
    EXPECT_TRUE(later->available() && later->loadError().empty());

    // A real shared library without the three functions: the maths library.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&::cbrt)), &info), 0);
    std::filesystem::copy_file(info.dli_fname, folder.file("TRANS2QUIK.so"));
    auto wrong = loadTransLibrary(folder.path());
    EXPECT_FALSE(wrong->available());
    EXPECT_NE(wrong->loadError().find("TRANS2QUIK_CONNECT not found"), std::string::npos) << wrong->loadError();
}

}  // namespace
}  // namespace velmora::testing
