#include <dlfcn.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "platform/text_encoding.h"
#include "support/fakes.h"
#include "support/standin_process.h"
#include "terminal_files.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

using Connect = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);
using Disconnect = std::int32_t (*)(std::int32_t*, char*, std::uint32_t);
using Send = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);
using ReplyCallback = void (*)(std::int32_t, std::int32_t, std::int32_t, std::uint32_t, std::uint64_t, char*,
                               std::intptr_t);
using OrderCallback = void (*)(std::int32_t, std::uint32_t, std::uint64_t, char*, char*, double, std::int64_t, double,
                               std::int32_t, std::int32_t, std::intptr_t);
using SetReplyCallback = std::int32_t (*)(ReplyCallback, std::int32_t*, char*, std::uint32_t);
using SubscribeOrders = std::int32_t (*)(char*, char*);
using StartOrders = void (*)(OrderCallback);
using UnsubscribeOrders = std::int32_t (*)();

struct Reply {
    std::int32_t result, replyCode;
    std::uint32_t transId;
    std::uint64_t orderNumber;
    std::string message;
};
struct OrderEvent {
    std::int32_t mode;
    std::uint32_t transId;
    std::uint64_t number;
    std::string classCode, secCode;
    double price;
    std::int64_t balance;
    bool sell;
    std::int32_t status;
};

// What the callbacks brought, and on which threads; plain functions can only reach a global.
struct Received {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Reply> replies;
    std::vector<OrderEvent> orders;
    std::set<std::thread::id> threads;

    void clear() {
        std::lock_guard guard(lock);
        replies.clear();
        orders.clear();
        threads.clear();
    }
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 3s) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, timeout, done);
    }
} received;

void onReply(std::int32_t result, std::int32_t, std::int32_t replyCode, std::uint32_t transId, std::uint64_t number,
             char* message, std::intptr_t) {
    std::lock_guard guard(received.lock);
    received.replies.push_back({result, replyCode, transId, number, message ? cp1251ToUtf8(message) : "(null)"});
    received.threads.insert(std::this_thread::get_id());
    received.changed.notify_all();
}

void onOrder(std::int32_t mode, std::uint32_t transId, std::uint64_t number, char* classCode, char* secCode,
             double price, std::int64_t balance, double, std::int32_t isSell, std::int32_t status, std::intptr_t) {
    std::lock_guard guard(received.lock);
    received.orders.push_back({mode, transId, number, classCode, secCode, price, balance, isSell != 0, status});
    received.threads.insert(std::this_thread::get_id());
    received.changed.notify_all();
}

class Trans2QuikLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        library = dlopen(VELMORA_BIN_DIR "/TRANS2QUIK.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        connectFunction = reinterpret_cast<Connect>(dlsym(library, "TRANS2QUIK_CONNECT"));
        disconnectFunction = reinterpret_cast<Disconnect>(dlsym(library, "TRANS2QUIK_DISCONNECT"));
        sendFunction = reinterpret_cast<Send>(dlsym(library, "TRANS2QUIK_SEND_ASYNC_TRANSACTION"));
        ASSERT_TRUE(connectFunction && disconnectFunction && sendFunction);
        setReplyCallback = reinterpret_cast<SetReplyCallback>(dlsym(library, "TRANS2QUIK_SET_TRANSACTIONS_REPLY_CALLBACK"));
        subscribeOrders = reinterpret_cast<SubscribeOrders>(dlsym(library, "TRANS2QUIK_SUBSCRIBE_ORDERS"));
        startOrders = reinterpret_cast<StartOrders>(dlsym(library, "TRANS2QUIK_START_ORDERS"));
        unsubscribeOrders = reinterpret_cast<UnsubscribeOrders>(dlsym(library, "TRANS2QUIK_UNSUBSCRIBE_ORDERS"));
        ASSERT_TRUE(setReplyCallback && subscribeOrders && startOrders && unsubscribeOrders);
        received.clear();
        ASSERT_EQ(setReplyCallback(onReply, &extended, message, sizeof message), 0);
    }
    void TearDown() override {
        if (disconnectFunction) disconnect();
        if (unsubscribeOrders) unsubscribeOrders();
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
    SetReplyCallback setReplyCallback = nullptr;
    SubscribeOrders subscribeOrders = nullptr;
    StartOrders startOrders = nullptr;
    UnsubscribeOrders unsubscribeOrders = nullptr;
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
    ASSERT_TRUE(received.waitFor([] { return received.replies.size() == 1; })) << "no reply";
    EXPECT_EQ(received.replies[0].transId, 101u);
    EXPECT_EQ(received.replies[0].replyCode, 3);
    // Replies to the library go to its callback; the results file is for transactions of the file.
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(std::filesystem::exists(folder.file("quik.tro")));

    // Reconnecting elsewhere, with the trailing separator left off.
    ASSERT_EQ(connect(other.path().substr(0, other.path().size() - 1)), 0) << message;
    ASSERT_EQ(send("TRANS_ID=102; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=NOPE; ACTION=NEW_ORDER; "), 0);
    ASSERT_TRUE(received.waitFor([] { return received.replies.size() == 2; })) << "no reply";
    EXPECT_EQ(received.replies[1].transId, 102u);
    EXPECT_EQ(received.replies[1].replyCode, 5);
    EXPECT_EQ(received.replies[1].message, "Неизвестный инструмент SPBFUT NOPE");

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
    EXPECT_TRUE(received.waitFor([] { return received.replies.size() == 1; }));
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

TEST_F(Trans2QuikLibraryTest, CallbacksBringRepliesAndOrderChangesOnTheLibrarysOwnThread) {
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--static", "--dump-books"}));
    readBookDump(terminal);
    ASSERT_EQ(connect(folder.path()), 0) << message;
    std::string futures = "SPBFUT", tickers = "SiZ6|RIZ6";
    ASSERT_EQ(subscribeOrders(futures.data(), tickers.data()), 0);
    startOrders(onOrder);
    // The load: the earlier session's order, alone and so the last (mode 2).
    ASSERT_TRUE(received.waitFor([] { return received.orders.size() == 1; })) << "no load";
    EXPECT_EQ(received.orders[0].mode, 2);
    EXPECT_EQ(received.orders[0].number, 5000001u);
    EXPECT_EQ(received.orders[0].secCode, "SiZ6");
    EXPECT_EQ(received.orders[0].balance, 2);
    EXPECT_EQ(received.orders[0].status, 1);

    ASSERT_EQ(send(order(7)), 0) << message;
    ASSERT_TRUE(received.waitFor([] { return received.replies.size() == 1 && received.orders.size() == 2; }));
    const Reply accepted = received.replies[0];
    EXPECT_EQ(accepted.result, 0);
    EXPECT_EQ(accepted.replyCode, 3);
    EXPECT_EQ(accepted.transId, 7u);
    EXPECT_EQ(accepted.orderNumber, 5000002u);
    EXPECT_EQ(accepted.message, "(160) Заявка на покупку N 5000002 зарегистрирована.");
    const OrderEvent placed = received.orders[1];
    EXPECT_EQ(placed.mode, 0);
    EXPECT_EQ(placed.transId, 7u);
    EXPECT_EQ(placed.number, accepted.orderNumber);
    EXPECT_EQ(placed.classCode, "SPBFUT");
    EXPECT_DOUBLE_EQ(placed.price, 92000);
    EXPECT_EQ(placed.balance, 1);
    EXPECT_FALSE(placed.sell);
    EXPECT_EQ(placed.status, 1);

    // An order of a ticker not subscribed is replied to but brings no order change.
    ASSERT_EQ(send("TRANS_ID=8; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=BRF7; ACTION=NEW_ORDER; TYPE=L; QUANTITY=1; "
                   "PRICE=70.00; OPERATION=B; "), 0);
    ASSERT_TRUE(received.waitFor([] { return received.replies.size() == 2; }));
    ASSERT_EQ(send("TRANS_ID=9; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=KILL_ORDER; ORDER_KEY=5000002; "), 0);
    ASSERT_TRUE(received.waitFor([] { return received.replies.size() == 3 && received.orders.size() == 3; }));
    EXPECT_EQ(received.replies[2].replyCode, 3);
    EXPECT_EQ(received.orders[2].number, 5000002u);
    EXPECT_EQ(received.orders[2].status, 2);
    BookDump book;
    for (int changed = 0; changed < 3; ++changed) book = readBookDump(terminal);  // after each order and the cancel
    for (const BookLevel& level : book["SiZ6"])
        if (level.price == 92000) ADD_FAILURE() << "the cancelled order still rests";

    // The library, like the terminal's, takes no kill-all of every order: refused, nothing sent.
    ASSERT_NE(send("TRANS_ID=10; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=KILL_ALL_ORDERS; "), 0);
    EXPECT_NE(cp1251ToUtf8(message).find("KILL_ALL_ORDERS"), std::string::npos) << message;
    std::this_thread::sleep_for(200ms);
    std::lock_guard guard(received.lock);
    EXPECT_EQ(received.replies.size(), 3u);
    EXPECT_EQ(received.threads.size(), 1u);
    EXPECT_EQ(received.threads.count(std::this_thread::get_id()), 0u) << "callbacks on the caller's thread";
}

TEST_F(Trans2QuikLibraryTest, TheMovingMarketFillsRestingOrders) {
    // Slow moves, so that the orders rest at the best prices before the first one.
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--seed", "3", "--rate", "150", "--dump-books"}));
    std::uint32_t bestBid = 0, bestAsk = 0;
    BookDump start = readBookDump(terminal);
    for (const BookLevel& level : start["SiZ6"]) {
        if (level.side == 'B') bestBid = level.price;
        else if (bestAsk == 0) bestAsk = level.price;
    }
    ASSERT_EQ(connect(folder.path()), 0) << message;
    std::string all;
    ASSERT_EQ(subscribeOrders(all.data(), all.data()), 0);
    startOrders(onOrder);
    const std::string head = "ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=NEW_ORDER; TYPE=L; QUANTITY=5; ";
    ASSERT_EQ(send("TRANS_ID=1; " + head + "PRICE=" + std::to_string(bestBid) + "; OPERATION=B; "), 0);
    ASSERT_EQ(send("TRANS_ID=2; " + head + "PRICE=" + std::to_string(bestAsk) + "; OPERATION=S; "), 0);
    // Every walk of the price trades away the best level of one side, and our order with it.
    auto filled = [] {
        for (const OrderEvent& event : received.orders)
            if (event.mode == 0 && event.status == 3) return true;
        return false;
    };
    ASSERT_TRUE(received.waitFor(filled, 10s));
    std::lock_guard guard(received.lock);
    for (const OrderEvent& event : received.orders)
        if (event.status == 3) {
            EXPECT_EQ(event.balance, 0);
            EXPECT_EQ(event.price, event.sell ? bestAsk : bestBid);
        }
}

}  // namespace
}  // namespace velmora::testing
