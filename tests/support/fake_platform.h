#pragma once
#include "core/session.h"
#include "support/fakes.h"

namespace velmora::testing {

// The platform as fakes, for a Session under test: fixtures derive from it before their Session.
struct FakePlatform {
    FakeProcessAccess processAccess;
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink sink;
    FakeTransLibrary transLibrary;
    Platform platform() { return Platform{processAccess, clock, locale, sink, transLibrary}; }
};

}  // namespace velmora::testing
