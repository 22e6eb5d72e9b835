#pragma once
#include <cstddef>

namespace velmora {

// Formats a crash report into a fixed buffer and hands it to the platform's raw write. It allocates
// nothing and calls nothing but that write, so a signal handler or an exception filter can use it.
// Lines end in CR LF.
class CrashReportWriter {
public:
    using RawWrite = bool (*)(void* file, const char* bytes, std::size_t count);

    CrashReportWriter(RawWrite rawWrite, void* file) : rawWrite_(rawWrite), file_(file) {}
    ~CrashReportWriter() { flush(); }
    CrashReportWriter(const CrashReportWriter&) = delete;
    CrashReportWriter& operator=(const CrashReportWriter&) = delete;

    CrashReportWriter& text(const char* value) {
        while (*value) put(*value++);
        return *this;
    }
    CrashReportWriter& line(const char* value = "") { return text(value).text("\r\n"); }
    CrashReportWriter& decimal(long long value) {
        if (value < 0) put('-');
        return digits(value < 0 ? 0 - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value), 10, 1);
    }
    CrashReportWriter& padded(unsigned long long value, int width) { return digits(value, 10, width); }
    CrashReportWriter& hex(unsigned long long value, int width = 2 * static_cast<int>(sizeof(void*))) {
        text("0x");
        return digits(value, 16, width);
    }
    // Copies bytes as they are, turning bare LF line ends into CR LF.
    CrashReportWriter& raw(const char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (bytes[i] == '\n' && lastPut_ != '\r') put('\r');
            put(bytes[i]);
        }
        return *this;
    }
    // Date and time from its parts, "2026-12-08 09:30:05".
    CrashReportWriter& dateTime(int year, int month, int day, int hour, int minute, int second) {
        padded(year, 4).text("-").padded(month, 2).text("-").padded(day, 2).text(" ");
        return padded(hour, 2).text(":").padded(minute, 2).text(":").padded(second, 2);
    }
    void flush() {
        if (used_ != 0 && !failed_) failed_ = !rawWrite_(file_, buffer_, used_);
        used_ = 0;
    }

private:
    CrashReportWriter& digits(unsigned long long value, unsigned base, int width) {
        char reversed[32];
        int count = 0;
        do {
            reversed[count++] = "0123456789ABCDEF"[value % base];
            value /= base;
        } while (value != 0 && count < 32);
        while (count < width && count < 32) reversed[count++] = '0';
        while (count > 0) put(reversed[--count]);
        return *this;
    }
    void put(char c) {
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = c;
        lastPut_ = c;
    }

    RawWrite rawWrite_;
    void* file_;
    char buffer_[1024];
    std::size_t used_ = 0;
    char lastPut_ = 0;
    bool failed_ = false;  // a full disk loses the rest of the report, nothing more
};

}  // namespace velmora
