#pragma once
#include <memory>

#include "app/tfrm_main.h"
#include "core/session.h"
#include "support/fake_platform.h"

namespace velmora::testing {

// A program on fakes with the lists start-up would create, and its window built
// without the posted start-up (InitAll does not run in these tests).
struct WindowFixture : FakePlatform {
    TempFolder folder;
    Session session{platform(), SessionOptions{folder.path()}};
    std::unique_ptr<TfrmMain> window;

    WindowFixture();
    ~WindowFixture();

    // One setting changed, as the window's editors change them.
    template <typename Field, typename Value>
    void set(Field Settings::*field, Value value) {
        Settings edited = session.settings();
        edited.*field = value;
        session.applySettings(edited);
    }
    // The design-time settings of the shipped ini, as a first start would have them.
    void design();

    // Shows the window, makes it active and waits until it is.
    bool showActive();
    template <typename T>
    T* child(const char* name) const {
        return window->findChild<T*>(QLatin1String(name));
    }
};

void setDesignSettings(Settings& settings);

}  // namespace velmora::testing
