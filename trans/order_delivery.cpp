#include "trans/order_delivery.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/system_error_text.h"
#include "platform/text_encoding.h"
#include "platform/trans_library.h"
#include "settings/line_file.h"
#include "settings/log.h"
#include "settings/settings.h"

namespace velmora {

namespace {

constexpr std::uint32_t bufferSize = 255;

// The library writes 8-bit text and may fill its buffer to the last byte.
std::string LibraryText(char (&buffer)[bufferSize]) {
    buffer[bufferSize - 1] = '\0';
    return cp1251ToUtf8(buffer);
}

}  // namespace

bool FileDelivery::writeLine(const std::string& path, const std::string& line, LineWrite write) {
    return WriteLineToFile(path, line, write, line, [this](const std::string& text) { log_.notice(text); });
}

DeliveryResult FileDelivery::deliver(const std::string& text) {
    const std::string& path = settings_.TRIFileName;
    // An empty path would send the line to the program's own log. A failure is told once, in
    // the order's own words, not as a box for each step of the write.
    std::string firstError;
    const auto keepFirst = [&](const std::string& error) {
        if (firstError.empty()) firstError = error;
    };
    const bool written = !path.empty() && WriteLineToFile(path, text, LineWrite::Append, path, keepFirst);
    if (written) return {};
    log_.LogMessage("transaction not delivered: cannot write to \"" + path + "\"" +
                        (firstError.empty() ? std::string() : " (" + firstError + ")"),
                    1);
    return {false, "не удалось записать файл " + path};
}

void FileDelivery::emptyExchangeFiles() {
    const std::string& quikPath = settings_.QuikPath;
    // A QuikPath that names no folder would fail every write of every file, a box each; the
    // missing securities file says what is wrong once, a few steps later.
    std::error_code ignored;
    if (!quikPath.empty() && !std::filesystem::is_directory(quikPath, ignored)) {
        log_.LogMessage("Папка QUIK не найдена, файлы обмена не очищены: " + quikPath, 1);
        return;
    }
    for (const std::string& path : {settings_.TRIFileName, quikPath + "quik.tro", quikPath + "quik.trr"}) {
        if (path.empty()) continue;
        int error = 0;
        errno = 0;
        if (WriteLineToFile(path, "", LineWrite::StartOver, path, [&error](const std::string&) {
                if (error == 0) error = errno != 0 ? errno : EIO;
            }))
            continue;
        // One text for the user: the other files of the folder would fail for the same reason.
        const std::string text = "Файл " + path + " не очищен: " + systemErrorText(error);
        log_.LogMessage(text, 1);
        log_.notice(text);
        return;
    }
}

bool LibraryDelivery::init() {
    log_.LogMessage("InitDLLMode..", 3);
    // The file may have been put back since: every retry loads it again.
    if (!library_.loadAgain()) {
        log_.LogRepeating("TRANS2QUIK library not available: " + library_.loadError(), 1);
        return false;
    }
    std::string path = utf8ToCp1251(settings_.QuikPath);
    if (path.size() > bufferSize - 1) {
        log_.LogMessage("QuikPath is longer than 254 bytes, cannot connect to TRANS2QUIK: " + settings_.QuikPath, 1);
        return false;
    }
    char connectionText[bufferSize] = {};
    std::memcpy(connectionText, path.data(), path.size());
    std::int32_t extendedError = 0;
    char errorMessage[bufferSize] = {};
    std::int32_t result = library_.connect(connectionText, &extendedError, errorMessage, bufferSize);
    if (log_.enabled(3))
        log_.LogMessage("TRANS2QUIK_CONNECT RES:" + std::to_string(result) +
                            "; ParamString:" + LibraryText(connectionText) +
                            "; Errcode:" + std::to_string(extendedError) + "; ErrMess:" + LibraryText(errorMessage),
                        3);
    return result == 0;
}

void LibraryDelivery::registerCallbacks() {
    std::int32_t extendedError = 0;
    char errorMessage[bufferSize] = {};
    std::int32_t result = library_.setTransactionsReplyCallback(&extendedError, errorMessage, bufferSize);
    // Without it orders still go; only their fate stays unknown, which the time-out then says.
    if (result != 0)
        log_.LogMessage("TRANS2QUIK_SET_TRANSACTIONS_REPLY_CALLBACK RES:" + std::to_string(result) +
                            "; ErrMess:" + LibraryText(errorMessage),
                        1);
    subscribeOrders();
}

void LibraryDelivery::subscribeOrders() {
    if (followedTicker_.empty()) return;
    library_.unsubscribeOrders();
    std::string classCode = utf8ToCp1251(followedClass_);
    std::string ticker = utf8ToCp1251(followedTicker_);
    std::vector<char> classText(classCode.begin(), classCode.end());
    std::vector<char> tickerText(ticker.begin(), ticker.end());
    classText.push_back('\0');
    tickerText.push_back('\0');
    std::int32_t result = library_.subscribeOrders(classText.data(), tickerText.data());
    if (result != 0 || !library_.startOrders())
        log_.LogMessage("TRANS2QUIK_SUBSCRIBE_ORDERS " + followedClass_ + " " + followedTicker_ +
                            " RES:" + std::to_string(result) + ": own orders are not followed",
                        1);
}

void LibraryDelivery::followOrders(const std::string& classCode, const std::string& ticker) {
    if (classCode == followedClass_ && ticker == followedTicker_) return;
    followedClass_ = classCode;
    followedTicker_ = ticker;
    if (connected_) subscribeOrders();
}

void LibraryDelivery::connect() {
    // Connected already (a terminal taken again before its loss was told): nothing to do, and
    // nothing to log twice.
    if (connected_) return;
    if (init()) {
        connected_ = true;
        log_.LogMessage("связь с QUIK для передачи заявок через dll установлена", 1);
        // A reconnect forgets what the library was told before.
        registerCallbacks();
    } else {
        log_.LogMessage("Не удается установить связь с QUIK для передачи заявок через dll", 1);
    }
}

void LibraryDelivery::disconnect() {
    connected_ = false;
    log_.LogMessage("DoneDLLMode...", 3);
    if (!library_.available()) {
        log_.LogMessage("TRANS2QUIK library not available: " + library_.loadError(), 3);
        return;
    }
    std::int32_t extendedError = 0;
    char errorMessage[bufferSize] = {};
    std::int32_t result = library_.disconnect(&extendedError, errorMessage, bufferSize);
    if (log_.enabled(3))
        log_.LogMessage("TRANS2QUIK_DISCONNECT RES: " + std::to_string(result) +
                            "; ErrCode:" + std::to_string(extendedError) + "; Errm:" + LibraryText(errorMessage) +
                            "; ",
                        3);
}

DeliveryResult LibraryDelivery::deliver(const std::string& text) {
    lastSendResult_ = {};
    if (!library_.available()) {
        log_.LogMessage("transaction not delivered: TRANS2QUIK library not available: " + library_.loadError(), 1);
        return {false, "библиотека TRANS2QUIK не загружена"};
    }
    std::string bytes = utf8ToCp1251(text);
    std::vector<char> transaction(bytes.begin(), bytes.end());
    transaction.push_back('\0');
    std::int32_t extendedError = 0;
    char errorMessage[bufferSize] = {};
    // An order the terminal rejects shows only there; one the library could not pass on
    // (the terminal gone) would leave no trace at all.
    std::int32_t result = library_.sendAsyncTransaction(transaction.data(), &extendedError, errorMessage, bufferSize);
    lastSendResult_ = {true, result, extendedError, LibraryText(errorMessage)};
    if (result == 0) return {};
    log_.LogMessage("transaction not delivered: TRANS2QUIK_SEND_ASYNC_TRANSACTION RES:" + std::to_string(result) +
                        "; Errcode:" + std::to_string(extendedError) + "; ErrMess:" + lastSendResult_.message,
                    1);
    return {false, lastSendResult_.message.empty() ? "код " + std::to_string(result) : lastSendResult_.message};
}

DeliveryResult LogOnlyDelivery::deliver(const std::string&) {
    log_.LogMessage("transaction not delivered: OutputWay is neither TRI, DLL nor SCRIPT", 1);
    return {false, "OutputWay не TRI, не DLL и не SCRIPT"};
}

}  // namespace velmora
