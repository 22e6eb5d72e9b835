#include "settings/log.h"

#include <cmath>
#include <string>

#include "platform/clock.h"
#include "platform/message_sink.h"
#include "settings/line_file.h"

namespace velmora {

Log::Log(Clock& clock, LocaleFormats& locale, MessageSink& messages)
    : clock_(clock), locale_(locale), messages_(messages) {}

void Log::LogMessage(std::string_view Msg, int Level, Time time, LineWrite write, const std::string& FileName) {
    if (Level > LogThreshold) return;
    writeLine(Msg, time, write, FileName);
}

void Log::LogRepeating(std::string_view Msg, int Level) {
    if (Level > LogThreshold) return;
    constexpr long long minute = 60000;
    const long long now = std::llround(toDayCount(clock_.now()) * 86400000.0);
    auto found = repeats_.find(Msg);
    if (found == repeats_.end()) {
        // Retries repeat a few texts; a text that keeps changing must not grow this without end.
        if (repeats_.size() >= 64) repeats_.clear();
        repeats_.emplace(std::string(Msg), Repeats{now, 0});
        writeLine(Msg, Time::Stamped, LineWrite::Append, {});
        return;
    }
    Repeats& repeats = found->second;
    // A clock set back counts as a minute gone.
    if (now - repeats.lastWritten < minute && now >= repeats.lastWritten) {
        ++repeats.held;
        return;
    }
    const int held = repeats.held;
    repeats = {now, 0};
    std::string line(Msg);
    if (held > 0) line += " (" + std::to_string(held) + " repeats not logged since)";
    writeLine(line, Time::Stamped, LineWrite::Append, {});
}

void Log::LogWithoutBoxes(std::string_view Msg, int Level) {
    if (Level > LogThreshold) return;
    quiet_ = true;
    writeLine(Msg, Time::Stamped, LineWrite::Append, {});
    quiet_ = false;
}

void Log::writeLine(std::string_view Msg, Time time, LineWrite write, const std::string& FileName) {
    const std::string& path = FileName.empty() ? LogPath : FileName;
    // Before start-up knows where the log goes there is nowhere to write and nothing to tell.
    if (path.empty()) {
        lastWriteSucceeded_ = false;
        return;
    }
    std::string line;
    if (time == Time::Stamped) {
        LocalDateTime now = clock_.now();
        std::string stamp = " [" + std::to_string(now.millisecond) + "]";
        while (stamp.size() < 7) stamp += ' ';
        line = locale_.formatDateTime(now) + stamp;
    }
    line += Msg;
    // A log that cannot be written fails on every line: its failure is told for the first line
    // only, until a line gets through again.
    // One write fails at opening, writing and closing alike: the first says it.
    bool told = failureTold_ && FileName.empty();
    lastWriteSucceeded_ = WriteLineToFile(path, line, write, Msg, [this, &told](const std::string& text) {
        if (told) return;
        told = true;
        report(text);
    });
    if (FileName.empty() && (lastWriteSucceeded_ || !quiet_)) failureTold_ = !lastWriteSucceeded_;
}

void Log::notice(const std::string& text) { report(text); }

void Log::report(const std::string& text) {
    // A modal box runs an event loop, so ticks keep logging while it is open. Nested
    // boxes would pile up until the stack gives out; show one at a time.
    if (boxOpen_ || quiet_) return;
    boxOpen_ = true;
    try {
        messages_.show(text);
    } catch (...) {
        boxOpen_ = false;
        throw;
    }
    boxOpen_ = false;
}

}  // namespace velmora
