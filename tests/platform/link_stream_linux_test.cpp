#include "platform/link_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace velmora {
namespace {

std::string freshFolder(const char* name) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string() + "/";
}

bool readableNow(int fd) {
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}

TEST(LinkStreamLinux, AWriterThatComesAndGoesIsFollowedWithoutSpinningTheLoop) {
    const std::string folder = freshFolder("velmora-link-stream-test");
    std::string error;
    auto stream = openLinkStream(folder, "velmora-link", error);
    ASSERT_TRUE(stream) << error;
    EXPECT_EQ(stream->path(), folder + "velmora-link.fifo");
    const int handle = stream->readableHandle();
    std::string bytes;
    EXPECT_FALSE(stream->poll(bytes).writerGone);
    EXPECT_FALSE(stream->writerPresent());
    EXPECT_FALSE(readableNow(handle));

    for (int round = 0; round < 2; ++round) {
        const int writer = ::open(stream->path().c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(::write(writer, "alive\t1\nhal", 11), 11);
        EXPECT_TRUE(readableNow(handle));
        bytes.clear();
        EXPECT_FALSE(stream->poll(bytes).writerGone);
        EXPECT_EQ(bytes, "alive\t1\nhal");
        EXPECT_TRUE(stream->writerPresent());
        ::close(writer);
        bytes.clear();
        EXPECT_TRUE(stream->poll(bytes).writerGone);
        EXPECT_TRUE(bytes.empty());
        EXPECT_FALSE(stream->writerPresent());
        // Quiet until the next writer, on the same descriptor.
        EXPECT_EQ(stream->readableHandle(), handle);
        EXPECT_FALSE(readableNow(handle));
    }

    // The FIFO goes with its stream: a later run never reads what is left in it.
    const std::string path = stream->path();
    stream.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
    std::filesystem::remove_all(folder);
}

// Whatever stands where the FIFO was is left alone and never read, at start or later; the stream
// is served again once it goes.
TEST(LinkStreamLinux, AnythingButItsOwnFifoInItsPlaceBlocksTheStreamUntilItGoes) {
    const std::string folder = freshFolder("velmora-link-blocked-test");
    const std::string path = folder + "velmora-link.fifo";
    std::string error;
    auto stream = openLinkStream(folder, "velmora-link", error);
    ASSERT_TRUE(stream) << error;
    const int handle = stream->readableHandle();
    const std::vector<std::pair<std::function<void()>, std::string>> blockers = {
        {[&] { std::ofstream(path) << "velmora-link\t1\ttest\n"; }, "обычный файл"},
        {[&] { std::filesystem::create_directory(path); }, "папка"},
        {[&] { std::filesystem::create_symlink(folder + "elsewhere", path); }, "символьная ссылка"},
        {[&] {
             ::mkfifo(path.c_str(), 0666);
             if (::chown(path.c_str(), 65534, 65534) != 0) std::filesystem::remove(path);
         },
         "канал другого пользователя"},
    };
    for (const auto& [block, thing] : blockers) {
        std::filesystem::remove(path);
        block();
        if (!std::filesystem::exists(std::filesystem::symlink_status(path))) continue;  // not root: no chown
        std::string bytes;
        stream->poll(bytes);
        EXPECT_EQ(stream->blockedReason(), "на месте канала " + path + " " + thing);
        for (int i = 0; i < 3; ++i) stream->poll(bytes);
        EXPECT_TRUE(bytes.empty());
        EXPECT_FALSE(readableNow(handle));
        EXPECT_FALSE(stream->retry());
        // A new start finds it in the way as well.
        auto blocked = openLinkStream(folder, "velmora-link", error);
        ASSERT_TRUE(blocked);
        EXPECT_EQ(blocked->blockedReason(), stream->blockedReason());

        std::filesystem::remove(path);
        EXPECT_TRUE(stream->retry());
        EXPECT_TRUE(stream->blockedReason().empty());
        EXPECT_EQ(stream->readableHandle(), handle);
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(::write(writer, "hello\n", 6), 6);
        ::close(writer);
        stream->poll(bytes);
        EXPECT_EQ(bytes, "hello\n");
    }
    stream.reset();
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace velmora
