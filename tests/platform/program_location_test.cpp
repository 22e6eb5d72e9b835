#include "platform/program_location.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace velmora {
namespace {

TEST(ProgramLocationTest, ExecutableFolderHoldsTheRunningProgram) {
    std::string folder = executableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), pathSeparator());
    EXPECT_TRUE(fileExists(folder + VELMORA_TEST_PROGRAM));
}

TEST(ProgramLocationTest, FileExistsOnlyForFiles) {
    testing::TempFolder folder;
    testing::writeFile(folder.file("a.ini"), "");
    EXPECT_TRUE(fileExists(folder.file("a.ini")));
    EXPECT_FALSE(fileExists(folder.file("b.ini")));
    EXPECT_FALSE(fileExists(folder.path()));
}

}  // namespace
}  // namespace velmora
