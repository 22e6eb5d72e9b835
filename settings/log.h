#pragma once
#include <map>
#include <string>
#include <string_view>

#include "settings/line_file.h"

namespace velmora {

class Clock;
class LocaleFormats;
class MessageSink;

// The program's log. Every call opens, writes one CR LF line in Windows-1251 and closes
// the file.
class Log {
public:
    Log(Clock& clock, LocaleFormats& locale, MessageSink& messages);

    std::string LogPath;
    int LogThreshold = 3;

    // Check before building a costly message: skipped levels must cost nothing.
    bool enabled(int level) const { return level <= LogThreshold; }

    // Whether a line starts with the date and time.
    enum class Time { Stamped, Bare };

    // Msg is UTF-8. An empty FileName means LogPath. Failures show message boxes
    // and are never raised.
    void LogMessage(std::string_view Msg, int Level, Time time = Time::Stamped, LineWrite write = LineWrite::Append,
                    const std::string& FileName = {});

    // For a line a retry may write again and again: the same text at most once a minute, and
    // the next one written says how many were held back.
    void LogRepeating(std::string_view Msg, int Level);

    // The same writer without the threshold, for lines that must be logged whatever LogLevel is.
    void writeLine(std::string_view Msg, Time time, LineWrite write, const std::string& FileName);

    // Shows a failure to write as the log's own failures are shown: one box at a time.
    void notice(const std::string& text);

    // LogMessage for the start-up failure that comes before LogPath is known (an error in
    // the settings): a log that cannot be written then shows no message box.
    void LogWithoutBoxes(std::string_view Msg, int Level);

    // Whether the last writeLine / LogMessage that wrote reached its file intact.
    bool lastWriteSucceeded() const { return lastWriteSucceeded_; }

    const LocaleFormats& locale() const { return locale_; }

private:
    void report(const std::string& text);

    Clock& clock_;
    LocaleFormats& locale_;
    MessageSink& messages_;
    bool boxOpen_ = false;
    bool quiet_ = false;
    bool lastWriteSucceeded_ = true;
    bool failureTold_ = false;
    struct Repeats {
        long long lastWritten = 0;  // milliseconds
        int held = 0;
    };
    std::map<std::string, Repeats, std::less<>> repeats_;
};

}  // namespace velmora
