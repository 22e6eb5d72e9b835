#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/info_panel.h"

namespace velmora {
namespace {

struct RecordingDisplay : PanelDisplay {
    std::vector<std::string> drawn;  // each text drawn, and "-" for each hiding
    void setInfoCaption(const std::string& text) override { drawn.push_back(text); }
    void setInfoVisible(bool visible) override {
        if (!visible) drawn.push_back("-");
    }
};

TEST(InfoPanelOwner, ShowsTheMostImportantMessageAndWhatWasUnderItWhenItGoes) {
    RecordingDisplay display;
    InfoPanelOwner panel(display);
    panel.post(PanelKind::Auction, "auction");
    panel.post(PanelKind::BookNotLive, "lost");
    panel.post(PanelKind::Loading, "loading");  // under the others: draws nothing
    panel.post(PanelKind::BookNotLive, "lost");  // the same again: draws nothing
    EXPECT_EQ(panel.shown(), "lost");
    panel.post(PanelKind::OrderOutcome, "no reply");  // never hidden under the lost book
    panel.withdraw(PanelKind::OrderOutcome);
    panel.withdraw(PanelKind::BookNotLive);
    panel.withdrawIf(PanelKind::Auction, "another");  // a later message of the kind stays
    EXPECT_EQ(panel.shown(), "auction");
    panel.withdraw(PanelKind::Auction);
    panel.withdraw(PanelKind::Loading);
    EXPECT_EQ(panel.shown(), "");
    EXPECT_EQ(display.drawn, (std::vector<std::string>{"auction", "lost", "lost\nno reply", "lost", "auction", "loading", "-"}));
}

}  // namespace
}  // namespace velmora
