#include "platform/library_events.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/library_callbacks.h"
#include "platform/text_encoding.h"

namespace velmora {
namespace {

TEST(LibraryEvents, CallbacksOnTheLibrarysThreadQueueCopiesThatTakeGivesInUtf8) {
    LibraryEventQueue::process().take();
    std::string message = utf8ToCp1251("Заявка отвергнута");
    std::string classCode = "SPBFUT", secCode = utf8ToCp1251("Си");
    std::thread library([&] {
#if UINTPTR_MAX > 0xFFFFFFFFu
        queueingReplyCallback()(0, 7, 6, 2147483647u, 12345678901ull, message.data(), 99);
        queueingOrderCallback()(1, 42, 68359610ull, classCode.data(), secCode.data(), 100.5, 3, 301.5, 1, 2, 99);
#else
        queueingReplyCallback()(0, 7, 6, 2147483647u, 12345678901.0, message.data());
        queueingOrderCallback()(1, 42, 68359610.0, classCode.data(), secCode.data(), 100.5, 3, 301.5, 1, 2);
#endif
    });
    library.join();
    message.assign(message.size(), 'x');  // the library's buffer is reused after the call

    LibraryEventBatch batch = LibraryEventQueue::process().take();
    ASSERT_EQ(batch.events.size(), 2u);
    EXPECT_EQ(batch.dropped, 0u);
    const auto& reply = std::get<LibraryReply>(batch.events[0]);
    EXPECT_EQ(reply.extendedError, 7);
    EXPECT_EQ(reply.replyCode, 6);
    EXPECT_EQ(reply.transId, 2147483647u);
    EXPECT_EQ(reply.orderNumber, 12345678901ull);
    EXPECT_EQ(reply.message, "Заявка отвергнута");
    const auto& order = std::get<LibraryOrder>(batch.events[1]);
    EXPECT_EQ(order.number, 68359610u);
    EXPECT_EQ(order.secCode, "Си");
    EXPECT_EQ(order.balance, 3);
    EXPECT_TRUE(order.isSell);
    EXPECT_EQ(order.status, 2);
    EXPECT_TRUE(LibraryEventQueue::process().take().events.empty());

    LibraryEventQueue full;
    for (std::size_t i = 0; i < LibraryEventQueue::capacity + 3; ++i) full.push(LibraryReply{});
    LibraryEventBatch capped = full.take();
    EXPECT_EQ(capped.events.size(), LibraryEventQueue::capacity);
    EXPECT_EQ(capped.dropped, 3u);
}

}  // namespace
}  // namespace velmora
