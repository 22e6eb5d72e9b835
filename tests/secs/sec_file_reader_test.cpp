#include "secs/sec_file_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "settings/program_error.h"
#include "secs/sec_file_builder.h"
#include "settings/log.h"
#include "platform/text_encoding.h"
#include "support/fakes.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

class SecFileReaderTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink sink;
    TempFolder folder;
    Log log{clock, locale, sink};

    void SetUp() override {
        log.LogPath = folder.file("Velmora.log");
        log.LogThreshold = 4;
    }

    std::unique_ptr<TSecShareList> read(const SecFileBuilder& file, int version) {
        // An exact-size copy, so a read past the end is caught by the sanitizers.
        std::vector<std::uint8_t> bytes = file.bytes;
        SecFileStream stream{bytes.data(), bytes.size(), 0};
        return FStreamReadSecShareList(stream, version, log);
    }

    std::string errorOf(const SecFileBuilder& file, int version) {
        try {
            read(file, version);
        } catch (const ProgramError& error) {
            return error.what();
        }
        ADD_FAILURE() << "no error";
        return {};
    }

    // The messages of the log, without their time stamps.
    std::vector<std::string> logLines() {
        std::string stamp = locale.formatDateTime(clock.time) + " [7]   ";
        std::string text = cp1251ToUtf8(readFile(log.LogPath));
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            std::string line = text.substr(start, end - start);
            EXPECT_EQ(line.substr(0, stamp.size()), stamp);
            lines.push_back(line.substr(stamp.size()));
        }
        EXPECT_EQ(start, text.size());
        return lines;
    }
};

TEST_F(SecFileReaderTest, LongTailRecordKeepsEveryItem) {
    SecRecordBytes r;
    r.ticker3 = "t3";
    r.intPriceStep = 4000000000u;
    r.decimals = 18;
    r.extraInt1 = -1;
    r.isin = "RU000A0JX0J2";
    r.baseContract = "ignored";  // a long tail has none
    SecFileBuilder file;
    file.record(r, 1);
    auto list = read(file, 1);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->Count(), 1);
    const TSecShareRecord& s = list->at(0);
    EXPECT_EQ(s.RecordKind, 0);
    EXPECT_EQ(s.ID, 0x457u);
    EXPECT_EQ(s.Ticker, "SiZ6");
    EXPECT_EQ(s.Ticker2, "Si-12.26");
    EXPECT_EQ(s.Ticker3, "t3");
    EXPECT_EQ(s.IntPriceStep, 4000000000u);
    EXPECT_EQ(s.Extra1, "e1");
    EXPECT_EQ(s.Extra2, "e2");
    EXPECT_EQ(s.Decimals, 18u);
    EXPECT_EQ(s.ExtraInt1, -1);
    EXPECT_EQ(s.ExtraInt2, 12);
    EXPECT_EQ(s.ISIN, "RU000A0JX0J2");
    EXPECT_EQ(s.ClassCode, "SPBFUT");
    EXPECT_EQ(s.Smn, "smn");
    EXPECT_EQ(s.Z2, "z2");
    std::array<std::uint8_t, 32> filled;
    filled.fill(0xA5);
    EXPECT_EQ(s.RawBlock1, filled);
    EXPECT_EQ(s.RawBlock2, (std::array<std::uint8_t, 8>{0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}));
    EXPECT_EQ(s.BaseContract, "");
}

TEST_F(SecFileReaderTest, VersionTwoDropsTheExtraStringAndLogsEveryItem) {
    SecRecordBytes r;
    r.ticker = "O'K";
    r.isin = "ISIN1";
    r.tmpS = "drop me";
    SecFileBuilder file;
    file.record(r, 2);
    auto list = read(file, 2);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->at(0).ClassCode, "SPBFUT");
    EXPECT_EQ(list->at(0).RecordKind, 0);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              " Reading sec num:1", "TICKER:'O''K'", "TICKER2:'Si-12.26'", "TICKER3:''",
                              "ISIN:'ISIN1'", "tmpS:drop me", "CLASS:'SPBFUT'", "smn:'smn'", "z2:'z2'",
                              "FStreamReadSecShare success sec: ID:$0457IDX:0; CLASS:SPBFUT; TICKER:O'K",
                              " Reading sec num:2"}));
}

TEST_F(SecFileReaderTest, ShortTailsWithAndWithoutBaseContract) {
    SecRecordBytes withBase;
    withBase.ticker = "RIZ6";
    withBase.baseContract = "RTS";
    SecRecordBytes withoutBase;
    withoutBase.ticker = "GAZP";
    withoutBase.classCode = "TQBR";
    withoutBase.zeroBeforeClass = true;
    SecFileBuilder file;
    file.record(withBase, 2).record(withoutBase, 2);
    auto list = read(file, 2);
    ASSERT_EQ(list->Count(), 2);

    const TSecShareRecord& first = list->at(0);
    EXPECT_EQ(first.RecordKind, 1);
    EXPECT_EQ(first.BaseContract, "RTS");
    EXPECT_EQ(first.ClassCode, "SPBFUT");
    EXPECT_EQ(first.ISIN, "");
    EXPECT_EQ(first.RawBlock2, (std::array<std::uint8_t, 8>{0xA5, 0xA5, 0xA5, 0xA5, 0, 0, 0, 0}));

    const TSecShareRecord& second = list->at(1);
    EXPECT_EQ(second.RecordKind, 2);
    EXPECT_EQ(second.BaseContract, "");
    EXPECT_EQ(second.ClassCode, "TQBR");
    EXPECT_EQ(second.Ticker, "GAZP");
    EXPECT_EQ(second.Smn, "smn");

    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u * 8 + 1);
    EXPECT_EQ(lines[4], "CLASS:'SPBFUT'");
    EXPECT_EQ(lines[15], "FStreamReadSecShare success sec: ID:$0457IDX:1; CLASS:TQBR; TICKER:GAZP");
}

TEST_F(SecFileReaderTest, StringsStopAtZeroByteAndAreConvertedToUtf8) {
    SecRecordBytes r;
    r.ticker = std::string("AB\0CD", 5);
    r.ticker2 = "\xD1\xE1\xE5\xF0";  // "Сбер" in Windows-1251
    r.ticker3 = std::string("\0\0", 2);
    SecFileBuilder file;
    file.record(r, 1);
    auto list = read(file, 1);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->at(0).Ticker, "AB");
    EXPECT_EQ(list->at(0).Ticker2, "Сбер");
    EXPECT_EQ(list->at(0).Ticker3, "");
    // Items after them are still in step.
    EXPECT_EQ(list->at(0).ClassCode, "SPBFUT");
    EXPECT_EQ(list->at(0).Z2, "z2");
    EXPECT_EQ(logLines().at(2), "TICKER2:'Сбер'");
}

TEST_F(SecFileReaderTest, FilesTooShortForARecordGiveAnEmptyList) {
    for (std::size_t size : {0u, 10u, 32u, 91u}) {
        std::filesystem::remove(log.LogPath);
        std::vector<std::uint8_t> bytes(size, 0xFF);
        SecFileStream stream{bytes.data(), bytes.size(), 0};
        auto list = FStreamReadSecShareList(stream, 1, log);
        ASSERT_TRUE(list) << size;
        EXPECT_EQ(list->Count(), 0) << size;
        EXPECT_LE(stream.position, size);
        EXPECT_EQ(logLines(), std::vector<std::string>{" Reading sec num:1"}) << size;
    }
}

TEST_F(SecFileReaderTest, EveryRecordInFileOrderWithItsIndex) {
    SecFileBuilder file;
    for (int i = 0; i < 5; ++i) {
        SecRecordBytes r;
        r.ticker = "T" + std::to_string(i);
        if (i % 2 == 0) r.isin = "I" + std::to_string(i);
        if (i == 3) r.baseContract = "B";
        file.record(r, 1);
    }
    file.raw(59, 0x7F);  // a tail too short for a record is ignored
    log.LogThreshold = 3;
    auto list = read(file, 1);
    ASSERT_EQ(list->Count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list->at(i).Index, i);
        EXPECT_EQ(list->at(i).Ticker, "T" + std::to_string(i));
    }
    EXPECT_FALSE(std::filesystem::exists(log.LogPath));
}

TEST_F(SecFileReaderTest, UnknownVersionReadsAndLogsNothing) {
    SecFileBuilder file;
    file.record(SecRecordBytes{}, 1);
    for (int version : {0, 3, -1}) EXPECT_FALSE(read(file, version)) << version;
    EXPECT_FALSE(std::filesystem::exists(log.LogPath));
}

TEST_F(SecFileReaderTest, BadLengthsAreRefusedWithTheirOffset) {
    SecFileBuilder negative;
    negative.int32(1).int32(-5).raw(100, 0);
    std::string message = errorOf(negative, 1);
    EXPECT_NE(message.find("negative"), std::string::npos) << message;
    EXPECT_NE(message.find("offset 36"), std::string::npos) << message;

    SecFileBuilder pastEnd;
    pastEnd.int32(1).string("SiZ6").int32(200).raw(100, 0);
    message = errorOf(pastEnd, 1);
    EXPECT_NE(message.find("past the end"), std::string::npos) << message;
    EXPECT_NE(message.find("offset 44"), std::string::npos) << message;
}

TEST_F(SecFileReaderTest, TooManyDecimalsKeepTheRecordAtItsPosition) {
    log.LogThreshold = 1;
    SecRecordBytes odd;
    odd.ticker = "ODD";
    odd.decimals = 19;
    SecFileBuilder file;
    file.record(SecRecordBytes{}, 1).record(odd, 1).record(SecRecordBytes{}, 1);
    auto list = read(file, 1);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ(list->at(1).Ticker, "ODD");
    EXPECT_EQ(list->at(1).Decimals, 18u);
    EXPECT_EQ(list->at(2).Index, 2);
    EXPECT_EQ(logLines(), std::vector<std::string>{"sec.dat: security ODD (ID 1111) has Decimals 19; its prices use 18"});
}

TEST_F(SecFileReaderTest, EveryTruncationIsRefusedOrEndsBeforeTheCutRecord) {
    SecRecordBytes longTail;
    longTail.isin = "ISIN";
    SecRecordBytes shortTail;
    shortTail.baseContract = "BASE";
    SecFileBuilder whole;
    whole.record(longTail, 2);
    std::size_t secondStart = whole.bytes.size();
    whole.record(shortTail, 2);
    log.LogThreshold = 1;

    for (std::size_t size = 92; size < whole.bytes.size(); ++size) {
        SecFileBuilder cut;
        cut.bytes.assign(whole.bytes.begin(), whole.bytes.begin() + static_cast<std::ptrdiff_t>(size));
        bool secondRead = size >= secondStart + 60;
        if (size < secondStart || secondRead) {
            std::string message = errorOf(cut, 2);
            EXPECT_NE(message.find("offset"), std::string::npos) << size << ": " << message;
        } else {
            auto list = read(cut, 2);
            EXPECT_EQ(list->Count(), 1) << size;
        }
    }
    EXPECT_EQ(read(whole, 2)->Count(), 2);
}

}  // namespace
