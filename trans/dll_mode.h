#pragma once
#include <string>

namespace velmora {

class Program;

// The terminal's transaction library: connect with QuikPath, disconnect, send.
bool InitDLLMode(Program& program);
void DoneDLLMode(Program& program);
void SendTransactionDLL(Program& program, const std::string& text);

// Start-up and the tick's retry: InitDLLMode, then DLLConnected and the outcome's log line.
void ConnectTransLibrary(Program& program);

}  // namespace velmora
