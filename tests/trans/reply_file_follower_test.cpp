#include "trans/reply_file_follower.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace velmora::testing {
namespace {

void append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

std::vector<std::uint32_t> transIds(const ReplyFileNews& news) {
    std::vector<std::uint32_t> ids;
    for (const TransReply& reply : news.replies) ids.push_back(reply.transId);
    return ids;
}

using Ids = std::vector<std::uint32_t>;

class ReplyFileFollowerTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string path = folder.file("quik.tro");
};

TEST_F(ReplyFileFollowerTest, ReadsOnlyWhatIsAddedAndWaitsForALinesEnd) {
    ReplyFileFollower follower(path);
    EXPECT_TRUE(follower.poll().replies.empty());  // no file yet
    writeFile(path, "\r\n");                        // as emptied at start
    append(path, "TRANS_ID=1;STATUS=0;\r\nTRANS_ID=1;STA");
    EXPECT_EQ(transIds(follower.poll()), Ids{1});
    append(path, "TUS=3;ORDER_NUMBER=77;\r");
    EXPECT_TRUE(follower.poll().replies.empty());
    append(path, "\nnonsense\nTRANS_ID=2;STATUS=0;\n");
    ReplyFileNews news = follower.poll();
    EXPECT_EQ(transIds(news), (Ids{1, 2}));
    EXPECT_EQ(news.replies[0].orderNumber, 77u);
    EXPECT_EQ(news.droppedLines, 1u);
    ASSERT_EQ(news.notes.size(), 1u);
    EXPECT_NE(news.notes[0].find("nonsense"), std::string::npos);
    EXPECT_FALSE(news.startedOver);
    EXPECT_EQ(follower.offset(), std::filesystem::file_size(path));
    EXPECT_TRUE(follower.poll().replies.empty());
}

TEST_F(ReplyFileFollowerTest, StartsOverWhenTheFileShrinksIsReplacedOrRewrittenLonger) {
    ReplyFileFollower follower(path);
    writeFile(path, "TRANS_ID=1;STATUS=3;\r\nTRANS_ID=2;STATUS=3;\r\nTRANS_ID=3;ST");
    EXPECT_EQ(transIds(follower.poll()), (Ids{1, 2}));

    writeFile(path, "TRANS_ID=4;STATUS=3;\r\n");  // shorter: the half line before is forgotten
    ReplyFileNews shrunk = follower.poll();
    EXPECT_TRUE(shrunk.startedOver);
    EXPECT_EQ(transIds(shrunk), Ids{4});

    // Emptied and written past the place reached between two polls, in place.
    writeFile(path, "TRANS_ID=5;STATUS=3;\r\nTRANS_ID=6;STATUS=3;\r\n");
    EXPECT_EQ(transIds(follower.poll()), (Ids{5, 6}));

    // Another file under the name, with the very same first bytes.
    std::string bytes = "TRANS_ID=5;STATUS=3;\r\nTRANS_ID=6;STATUS=3;\r\nTRANS_ID=7;STATUS=3;\r\n";
    writeFile(folder.file("next.tro"), bytes);
    std::filesystem::rename(folder.file("next.tro"), path);
    ReplyFileNews replaced = follower.poll();
    EXPECT_TRUE(replaced.startedOver);
    EXPECT_EQ(transIds(replaced), (Ids{5, 6, 7}));
}

TEST_F(ReplyFileFollowerTest, AnOverlongLineIsDroppedUnkeptAndAPollReadsABoundedAmount) {
    ReplyFileFollower follower(path, {.maxLineBytes = 100, .maxBytesPerPoll = 64, .maxNotesPerPoll = 10});
    std::string exact = "TRANS_ID=8;STATUS=3;DESCRIPTION=\"" + std::string(100 - 35, 'x') + "\";";
    ASSERT_EQ(exact.size(), 100u);
    writeFile(path, "TRANS_ID=1;STATUS=3;" + std::string(300, ' ') + "\r\n" + exact + "\r\nTRANS_ID=9;STATUS=3;\n");
    Ids ids;
    std::size_t dropped = 0;
    for (int poll = 0; poll < 8; ++poll) {
        ReplyFileNews news = follower.poll();
        for (std::uint32_t id : transIds(news)) ids.push_back(id);
        dropped += news.droppedLines;
    }
    EXPECT_EQ(ids, (Ids{8, 9}));
    EXPECT_EQ(dropped, 1u);
    EXPECT_EQ(follower.offset(), std::filesystem::file_size(path));
}

}  // namespace
}  // namespace velmora::testing
