#pragma once

namespace velmora {

class BookSource;
class Log;
class MainView;
class TStopOrders;
struct Settings;

// cbSecNameChange: the instrument the user picked in the view is shown, and is the one the
// settings name. The typed price goes; so do the local stops, which belong to the instrument
// shown before, and the user is told so.
void ChangeInstrument(BookSource& books, Settings& settings, TStopOrders* stops, Log& log, MainView& view);

}  // namespace velmora
