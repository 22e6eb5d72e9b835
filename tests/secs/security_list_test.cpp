#include "secs/security_list.h"

#include <gtest/gtest.h>

#include "settings/program_error.h"

using namespace velmora;

namespace {

std::unique_ptr<TSecShareRecord> security(const std::string& ticker, std::uint32_t id = 0) {
    auto record = std::make_unique<TSecShareRecord>();
    record->Ticker = ticker;
    record->ClassCode = "SPBFUT";
    record->ID = id;
    return record;
}

TEST(SecurityList, AppendNumbersAndAtRefusesOutsidePositions) {
    TSecShareList list;
    EXPECT_THROW(list.at(0), ProgramError);
    list.append(security("A"));
    list.append(security("B"));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.at(1).Ticker, "B");
    EXPECT_EQ(list.at(1).Index, 1);
    EXPECT_THROW(list.at(2), ProgramError);
    EXPECT_THROW(list.at(-1), ProgramError);
}

TEST(SecurityList, FindByTickerTakesFirstExactMatch) {
    TSecShareList list;
    EXPECT_EQ(list.FindByTicker("SiZ6"), nullptr);
    list.append(security("sbrf"));
    list.append(security("SiZ6", 1));
    list.append(security("SiZ6", 2));
    ASSERT_NE(list.FindByTicker("SiZ6"), nullptr);
    EXPECT_EQ(list.FindByTicker("SiZ6")->Index, 1);
    EXPECT_EQ(list.FindByTicker("SBRF"), nullptr);
    EXPECT_EQ(list.FindByTicker("SiZ"), nullptr);
}

TEST(SecurityList, DescriptionShowsAtLeastFourHexDigits) {
    auto record = security("SiZ6");
    EXPECT_EQ(SecShareDescription(*record), "ID:$0000IDX:0; CLASS:SPBFUT; TICKER:SiZ6");
    record->ID = 0x12345;
    record->Index = 3;
    EXPECT_EQ(SecShareDescription(*record), "ID:$12345IDX:3; CLASS:SPBFUT; TICKER:SiZ6");
    record->ID = 0xFFFFFFFF;
    record->Index = 12;
    EXPECT_EQ(SecShareDescription(*record), "ID:$FFFFFFFFIDX:12; CLASS:SPBFUT; TICKER:SiZ6");
}

TEST(SecurityList, PricesScaleByDecimalsWithoutOverflow) {
    TSecShareRecord record;
    record.IntPriceStep = 4000000000u;
    record.Decimals = 2;
    EXPECT_DOUBLE_EQ(record.priceStep(), 40000000.0);
    EXPECT_DOUBLE_EQ(record.stepOffset(-3), -120000000.0);
    EXPECT_DOUBLE_EQ(record.stepOffset(2147483647), 4000000000.0 * 2147483647.0 / 100.0);
    EXPECT_DOUBLE_EQ(record.realPrice(4294967295u), 42949672.95);
    record.Decimals = 0;
    EXPECT_DOUBLE_EQ(record.realPrice(4294967295u), 4294967295.0);
}

}  // namespace
