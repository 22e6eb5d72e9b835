#include "ladder/ladder_grid.h"

#include <gtest/gtest.h>

using velmora::LadderGrid;

TEST(LadderGrid, WritesOnlyChangedTextsAndReportsThem) {
    LadderGrid grid(5);
    EXPECT_TRUE(grid.setCell(1, 2, "100.00"));
    EXPECT_FALSE(grid.setCell(1, 2, "100.00"));
    EXPECT_FALSE(grid.clearCell(2, 3));  // already empty
    auto changed = grid.takeChangedCells();
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].row, 1);
    EXPECT_EQ(changed[0].column, 2);
    EXPECT_TRUE(grid.takeChangedCells().empty());
}

TEST(LadderGrid, OutOfRangeCellsAreEmptyAndNeverWritten) {
    LadderGrid grid(2);
    EXPECT_FALSE(grid.setCell(2, 0, "x"));
    EXPECT_FALSE(grid.setCell(0, 7, "x"));
    EXPECT_EQ(grid.cell(-1, 0), "");
    grid.setCell(1, 5, "3");
    grid.setRowCount(1);
    EXPECT_TRUE(grid.takeChangedCells().empty());
    grid.setRowCount(3);
    EXPECT_EQ(grid.cell(1, 5), "");
}
