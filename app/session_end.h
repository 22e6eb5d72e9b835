#pragma once

namespace velmora {

class TfrmMain;

// The system ending the program closes it as the window's close does, so that the log says so,
// the request file goes and the library is disconnected: SIGTERM, SIGINT and SIGHUP on Linux, a
// logoff or shutdown on Windows. For the window's whole life; a later window takes it over.
void closeOnSessionEnd(TfrmMain& window);

}  // namespace velmora
