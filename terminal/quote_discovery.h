#pragma once

namespace velmora {

class Program;
class MainView;

// acRefreshQuoteTables: one discovery pass, refilling cbSecName and re-pointing
// CurrentQuoteTable / CurrentSecurity.
void RefreshQuoteTables(Program& program, MainView& view);

// cbSecNameChange: the user picked an instrument.
void SecNameChange(Program& program, MainView& view);

}  // namespace velmora
