#include "platform/link_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
    auto stream = openLinkStream(folder, error);
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

    // A FIFO left by an earlier run is served again; a plain file of that name is not replaced.
    stream.reset();
    EXPECT_TRUE(openLinkStream(folder, error));
    std::filesystem::remove(folder + "velmora-link.fifo");
    std::ofstream(folder + "velmora-link.fifo") << "user's file";
    EXPECT_FALSE(openLinkStream(folder, error));
    EXPECT_NE(error.find("not a FIFO"), std::string::npos);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace velmora
