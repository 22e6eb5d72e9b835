#pragma once
#include <memory>

#include "app/tfrm_main.h"
#include "core/program.h"
#include "support/fakes.h"

namespace velmora::testing {

// A program on fakes with the lists start-up would create, and its window built
// without the posted start-up (InitAll does not run in these tests).
struct WindowFixture {
    FakeProcessAccess processes;
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink messages;
    FakeTransLibrary transLibrary;
    TempFolder folder;
    Program program{Platform{processes, clock, locale, messages, transLibrary}};
    std::unique_ptr<TfrmMain> window;

    WindowFixture();
    ~WindowFixture();

    // Shows the window, makes it active and waits until it is.
    bool showActive();
    template <typename T>
    T* child(const char* name) const {
        return window->findChild<T*>(QLatin1String(name));
    }
};

// The design-time settings of the shipped ini, as a first start would have them.
void setDesignSettings(Settings& settings);

}  // namespace velmora::testing
