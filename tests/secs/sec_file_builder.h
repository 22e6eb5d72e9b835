#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "secs/sec_file_reader.h"

namespace velmora::testing {

// The items of one record as the terminal writes them. A non-empty isin gives the
// long tail; otherwise the short tail, ended by baseContract or by a zero.
struct SecRecordBytes {
    std::uint32_t id = 0x457;
    std::string ticker = "SiZ6";
    std::string ticker2 = "Si-12.26";
    std::string ticker3;
    std::uint32_t intPriceStep = 1;
    std::string extra1 = "e1";
    std::string extra2 = "e2";
    std::uint32_t decimals = 0;
    std::int32_t extraInt1 = 11;
    std::int32_t extraInt2 = 12;
    std::string isin;
    std::string tmpS = "tmp";  // version 2 long tail only
    std::string classCode = "SPBFUT";
    std::string smn = "smn";
    std::string z2 = "z2";
    std::string baseContract;
    bool zeroBeforeClass = false;  // short tail only
    std::uint8_t rawFill = 0xA5;
};

// Hand-made securities files: a 32-byte header, then whatever is appended.
class SecFileBuilder {
public:
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(32, 0x48);

    SecFileBuilder& int32(std::int32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> shift));
        return *this;
    }
    SecFileBuilder& string(const std::string& text) {
        int32(static_cast<std::int32_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    SecFileBuilder& raw(std::size_t count, std::uint8_t fill) {
        bytes.insert(bytes.end(), count, fill);
        return *this;
    }
    SecFileBuilder& record(const SecRecordBytes& r, int version) {
        int32(static_cast<std::int32_t>(r.id)).string(r.ticker).string(r.ticker2).string(r.ticker3);
        int32(static_cast<std::int32_t>(r.intPriceStep)).string(r.extra1).string(r.extra2);
        int32(static_cast<std::int32_t>(r.decimals)).int32(r.extraInt1).int32(r.extraInt2);
        if (!r.isin.empty()) {
            string(r.isin);
            if (version == 2) string(r.tmpS);
            string(r.classCode).raw(32, r.rawFill).string(r.smn).string(r.z2).raw(8, r.rawFill);
        } else {
            int32(0);
            if (r.zeroBeforeClass) int32(0);
            string(r.classCode).raw(32, r.rawFill).string(r.smn).string(r.z2).raw(4, r.rawFill);
            if (r.baseContract.empty()) int32(0);
            else string(r.baseContract);
        }
        return *this;
    }
    SecFileStream stream() const { return SecFileStream{bytes.data(), bytes.size(), 0}; }
};

}  // namespace velmora::testing
