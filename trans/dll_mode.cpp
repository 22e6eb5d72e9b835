#include "trans/dll_mode.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/program.h"
#include "platform/trans_library.h"
#include "settings/text_encoding.h"

namespace velmora {

namespace {

constexpr std::uint32_t bufferSize = 255;

// The library writes 8-bit text and may fill its buffer to the last byte.
std::string LibraryText(char (&buffer)[bufferSize]) {
    buffer[bufferSize - 1] = '\0';
    return cp1251ToUtf8(buffer);
}

}  // namespace

bool InitDLLMode(Program& program) {
    Log& log = program.log;
    log.LogMessage("InitDLLMode..", 3);
    TransLibrary& library = program.platform.transLibrary;
    if (!library.available()) {
        log.LogMessage("TRANS2QUIK library not available: " + library.loadError(), 1);
        return false;
    }
    std::string path = utf8ToCp1251(program.settings.QuikPath);
    if (path.size() > bufferSize - 1) {
        log.LogMessage("QuikPath is longer than 254 bytes, cannot connect to TRANS2QUIK: " +
                           program.settings.QuikPath,
                       1);
        return false;
    }
    char connectionText[bufferSize] = {};
    std::memcpy(connectionText, path.data(), path.size());
    std::int32_t extendedError = 0;
    char errorMessage[bufferSize] = {};
    std::int32_t result = library.connect(connectionText, &extendedError, errorMessage, bufferSize);
    if (log.enabled(3))
        log.LogMessage("TRANS2QUIK_CONNECT RES:" + std::to_string(result) +
                           "; ParamString:" + LibraryText(connectionText) +
                           "; Errcode:" + std::to_string(extendedError) +
                           "; ErrMess:" + LibraryText(errorMessage),
                       3);
    return result == 0;
}

void DoneDLLMode(Program& program) {
    Log& log = program.log;
    log.LogMessage("DoneDLLMode...", 3);
    TransLibrary& library = program.platform.transLibrary;
    if (!library.available()) {
        log.LogMessage("TRANS2QUIK library not available: " + library.loadError(), 3);
        return;
    }
    std::int32_t extendedError = 0;
    char errorMessage[bufferSize] = {};
    std::int32_t result = library.disconnect(&extendedError, errorMessage, bufferSize);
    if (log.enabled(3))
        log.LogMessage("TRANS2QUIK_DISCONNECT RES: " + std::to_string(result) +
                           "; ErrCode:" + std::to_string(extendedError) +
                           "; Errm:" + LibraryText(errorMessage) + "; ",
                       3);
}

void SendTransactionDLL(Program& program, const std::string& text) {
    TransLibrary& library = program.platform.transLibrary;
    if (!library.available()) {
        program.log.LogMessage("transaction not delivered: TRANS2QUIK library not available: " +
                                   library.loadError(),
                               1);
        return;
    }
    std::string bytes = utf8ToCp1251(text);
    std::vector<char> transaction(bytes.begin(), bytes.end());
    transaction.push_back('\0');
    std::int32_t extendedError = 0;
    char errorMessage[bufferSize] = {};
    // An order the terminal rejects shows only there; one the library could not pass on
    // (the terminal gone) would leave no trace at all.
    std::int32_t result = library.sendAsyncTransaction(transaction.data(), &extendedError, errorMessage, bufferSize);
    if (result != 0)
        program.log.LogMessage("transaction not delivered: TRANS2QUIK_SEND_ASYNC_TRANSACTION RES:" +
                                   std::to_string(result) + "; Errcode:" + std::to_string(extendedError) +
                                   "; ErrMess:" + LibraryText(errorMessage),
                               1);
}

void ConnectTransLibrary(Program& program) {
    if (InitDLLMode(program)) {
        program.DLLConnected = true;
        program.log.LogMessage("связь с QUIK для передачи заявок через dll установлена", 1);
    } else {
        program.log.LogMessage("Не удается установить связь с QUIK для передачи заявок через dll", 1);
    }
}

}  // namespace velmora
