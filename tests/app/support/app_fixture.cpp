#include "app_fixture.h"

#include <QTest>


namespace velmora::testing {

WindowFixture::WindowFixture() {
    session.log().LogPath = folder.file("Velmora.log");
    window = std::make_unique<TfrmMain>(session, TfrmMain::StartUp::Skipped);
}

WindowFixture::~WindowFixture() { window.reset(); }

bool WindowFixture::showActive() {
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window.get());
}

void WindowFixture::design() {
    Settings s = session.settings();
    setDesignSettings(s);
    session.applySettings(s);
}

void setDesignSettings(Settings& s) {
    s.Left = 100;
    s.Top = 100;
    s.Height = 750;
    s.FullWidth = 500;
    s.ShortWidth = 255;
    s.DOMPanelWidth = 250;
    s.DOMCol1Width = s.DOMCol2Width = s.DOMCol3Width = s.DOMCol4Width = s.DOMCol5Width = 40;
    s.DOMCol6Width = 26;
    s.DOMRowHeight = 15;
    s.DOMRowCount = 41;
    s.DOMFontSize = 8;
    s.DomFontName = "Courier New";
    s.DefaultContractCnt = 1;
    s.DefaultLimitOrderShift = 1;
    s.DefaultLimitStopShift = 1;
    s.DefaultFullView = true;
    s.DefaultStayOnTop = false;
}

}  // namespace velmora::testing
