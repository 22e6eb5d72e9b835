#include "platform/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

TEST(LineSplitter, KeepsPartialLinesAndDropsOverlongOnesWhole) {
    LineSplitter reader(8, CarriageReturn::Kept);
    std::vector<std::string> lines;
    reader.feed("alive\t1\nbo", lines);
    reader.feed("ok\n0123456789", lines);
    reader.feed("abc\nbye\n", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"alive\t1", "book", "bye"}));
    EXPECT_EQ(reader.takeOverlongCount(), 1u);
    reader.feed("half", lines);
    reader.reset();
    reader.feed("bye\n", lines);
    EXPECT_EQ(lines.back(), "bye");
}

TEST(LineSplitter, ADroppedCarriageReturnDoesNotCountAgainstTheCap) {
    LineSplitter kept(4, CarriageReturn::Kept);
    LineSplitter dropped(4, CarriageReturn::Dropped);
    std::vector<std::string> keptLines, droppedLines;
    for (const char* piece : {"abcd\r", "\nab\r\r\nabcde\n"}) {
        kept.feed(piece, keptLines);
        dropped.feed(piece, droppedLines);
    }
    EXPECT_EQ(keptLines, (std::vector<std::string>{"ab\r\r"}));
    EXPECT_EQ(kept.takeOverlongCount(), 2u);
    EXPECT_EQ(droppedLines, (std::vector<std::string>{"abcd", "ab\r"}));
    EXPECT_EQ(dropped.takeOverlongCount(), 1u);
}

}  // namespace
}  // namespace velmora
