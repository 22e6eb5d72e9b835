#pragma once
#include <QIcon>

namespace velmora {

// The tool-bar images, by the index the window's actions use:
// 0 move to the corner, 1 stay on top, 3 short view, 4 full view, 5 save, 6 font,
// 7 home page. Drawn here so the program ships no image files.
enum class ToolImage { ToLeftTop = 0, StayOnTop = 1, ShortView = 3, FullView = 4, Save = 5, Font = 6, HomePage = 7 };

QIcon toolImage(ToolImage image);
// The window's own icon: a small ladder.
QIcon programIcon();

}  // namespace velmora
