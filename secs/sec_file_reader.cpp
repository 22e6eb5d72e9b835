#include "secs/sec_file_reader.h"

#include <algorithm>
#include <cstring>

#include "settings/program_error.h"
#include "settings/log.h"
#include "platform/text_encoding.h"

namespace velmora {

namespace {

constexpr std::size_t headerSize = 32;
// A record never starts within this many bytes of the end.
constexpr std::int64_t smallestRecord = 60;
// Prices are shown with at most 18 digits after the point.
constexpr std::uint32_t maxDecimals = 18;
constexpr int logLevel = 4;

[[noreturn]] void fail(const SecFileStream& stream, std::size_t offset, const std::string& what) {
    throw ProgramError("sec.dat: " + what + " at byte offset " + std::to_string(offset) + " (file size " +
                       std::to_string(stream.size) + ")");
}

std::size_t remaining(const SecFileStream& stream) {
    return stream.position < stream.size ? stream.size - stream.position : 0;
}

void require(const SecFileStream& stream, std::size_t count, const char* item) {
    if (remaining(stream) < count)
        fail(stream, stream.position,
             std::string("record cut short: ") + item + " needs " + std::to_string(count) + " bytes, " +
                 std::to_string(remaining(stream)) + " left");
}

std::int32_t peekInt32(const SecFileStream& stream) {
    require(stream, 4, "integer");
    const std::uint8_t* bytes = stream.data + stream.position;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) |
                                     (static_cast<std::uint32_t>(bytes[1]) << 8) |
                                     (static_cast<std::uint32_t>(bytes[2]) << 16) |
                                     (static_cast<std::uint32_t>(bytes[3]) << 24));
}

std::int32_t FStreamReadInt32(SecFileStream& stream) {
    std::int32_t value = peekInt32(stream);
    stream.position += 4;
    return value;
}

void FStreamReadBytes(SecFileStream& stream, std::uint8_t* destination, std::size_t count) {
    require(stream, count, "raw block");
    std::memcpy(destination, stream.data + stream.position, count);
    stream.position += count;
}

std::string FStreamReadString(SecFileStream& stream) {
    std::size_t lengthOffset = stream.position;
    std::int32_t length = FStreamReadInt32(stream);
    if (length == 0) return {};
    if (length < 0) fail(stream, lengthOffset, "negative string length " + std::to_string(length));
    if (static_cast<std::size_t>(length) > remaining(stream))
        fail(stream, lengthOffset,
             "string length " + std::to_string(length) + " runs past the end of the file");
    const char* text = reinterpret_cast<const char*>(stream.data + stream.position);
    // The text ends at the first zero byte, but the item occupies all its bytes.
    const void* zero = std::memchr(text, 0, static_cast<std::size_t>(length));
    std::size_t textLength = zero ? static_cast<const char*>(zero) - text : static_cast<std::size_t>(length);
    stream.position += static_cast<std::size_t>(length);
    std::string_view bytes(text, textLength);
    // Most codes are plain ASCII, the same in both encodings: spare the conversion.
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return cp1251ToUtf8(bytes);
    return std::string(bytes);
}

std::string quoted(const std::string& value) {
    std::string text = "'";
    for (char c : value) {
        text += c;
        if (c == '\'') text += '\'';
    }
    return text + "'";
}

std::string readLoggedString(SecFileStream& stream, Log& log, const char* label) {
    std::string value = FStreamReadString(stream);
    if (log.enabled(logLevel)) log.LogMessage(label + quoted(value), logLevel);
    return value;
}

// Answers the selector: the length prefix of the ISIN, left unconsumed when not zero.
std::int32_t ReadSecShareHead(SecFileStream& stream, TSecShareRecord& record, Log& log) {
    record.ID = static_cast<std::uint32_t>(FStreamReadInt32(stream));
    record.Ticker = readLoggedString(stream, log, "TICKER:");
    record.Ticker2 = readLoggedString(stream, log, "TICKER2:");
    record.Ticker3 = readLoggedString(stream, log, "TICKER3:");
    record.IntPriceStep = static_cast<std::uint32_t>(FStreamReadInt32(stream));
    record.Extra1 = FStreamReadString(stream);
    record.Extra2 = FStreamReadString(stream);
    record.Decimals = static_cast<std::uint32_t>(FStreamReadInt32(stream));
    // One odd record must not cost the others (books name securities by position): keep it,
    // with its prices at the most digits a price text has.
    if (record.Decimals > maxDecimals) {
        log.LogMessage("sec.dat: security " + record.Ticker + " (ID " + std::to_string(record.ID) + ") has Decimals " +
                           std::to_string(record.Decimals) + "; its prices use 18",
                       1);
        record.Decimals = maxDecimals;
    }
    record.ExtraInt1 = FStreamReadInt32(stream);
    record.ExtraInt2 = FStreamReadInt32(stream);
    std::int32_t selector = peekInt32(stream);
    if (selector == 0) stream.position += 4;
    return selector;
}

void readClassAndBlocks(SecFileStream& stream, TSecShareRecord& record, Log& log, std::size_t rawBlock2Size) {
    record.ClassCode = readLoggedString(stream, log, "CLASS:");
    FStreamReadBytes(stream, record.RawBlock1.data(), record.RawBlock1.size());
    record.Smn = readLoggedString(stream, log, "smn:");
    record.Z2 = readLoggedString(stream, log, "z2:");
    FStreamReadBytes(stream, record.RawBlock2.data(), rawBlock2Size);
}

void ReadSecShareLongTail1(SecFileStream& stream, TSecShareRecord& record, Log& log) {
    record.ISIN = readLoggedString(stream, log, "ISIN:");
    readClassAndBlocks(stream, record, log, record.RawBlock2.size());
}

void ReadSecShareLongTail2(SecFileStream& stream, TSecShareRecord& record, Log& log) {
    record.ISIN = readLoggedString(stream, log, "ISIN:");
    // An item of the newer layout that nothing uses; read to stay in step.
    std::string unused = FStreamReadString(stream);
    if (log.enabled(logLevel)) log.LogMessage("tmpS:" + unused, logLevel);
    readClassAndBlocks(stream, record, log, record.RawBlock2.size());
}

void ReadSecShareShortTail(SecFileStream& stream, TSecShareRecord& record, Log& log) {
    if (peekInt32(stream) == 0) stream.position += 4;
    readClassAndBlocks(stream, record, log, 4);
    if (peekInt32(stream) == 0) {
        stream.position += 4;
        record.RecordKind = 2;
    } else {
        record.BaseContract = FStreamReadString(stream);
    }
}

std::unique_ptr<TSecShareRecord> FStreamReadSecShare(SecFileStream& stream, std::int32_t version, Log& log) {
    if (static_cast<std::int64_t>(stream.position) > static_cast<std::int64_t>(stream.size) - smallestRecord)
        return nullptr;
    auto record = std::make_unique<TSecShareRecord>();
    if (ReadSecShareHead(stream, *record, log) != 0) {
        if (version == 1) ReadSecShareLongTail1(stream, *record, log);
        else ReadSecShareLongTail2(stream, *record, log);
        record->RecordKind = 0;
    } else {
        ReadSecShareShortTail(stream, *record, log);
    }
    return record;
}

}  // namespace

std::unique_ptr<TSecShareList> FStreamReadSecShareList(SecFileStream& stream, std::int32_t version, Log& log) {
    if (version != 1 && version != 2) return nullptr;
    auto list = std::make_unique<TSecShareList>();
    // A file shorter than its header has no records; keep the cursor on its bytes.
    stream.position = std::min(headerSize, stream.size);
    for (int number = 1;; ++number) {
        if (log.enabled(logLevel)) log.LogMessage(" Reading sec num:" + std::to_string(number), logLevel);
        auto record = FStreamReadSecShare(stream, version, log);
        if (!record) return list;
        // The success line carries the Index, which the list assigns on append.
        TSecShareRecord& appended = *record;
        list->append(std::move(record));
        if (log.enabled(logLevel))
            log.LogMessage("FStreamReadSecShare success sec: " + SecShareDescription(appended), logLevel);
    }
}

}  // namespace velmora
