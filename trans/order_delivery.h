#pragma once
#include <cstdint>
#include <string>

#include "settings/line_file.h"

namespace velmora {

class Log;
class TransLibrary;
struct Settings;

// Whether a transaction reached the terminal's hands; when not, why, in Russian for the panel.
struct DeliveryResult {
    bool handedOver = true;
    std::string failure;
};

// The account a transaction names; a refusal when none can be told.
struct AccountChoice {
    std::string account;
    std::string refusal;  // in Russian, for the panel
};

// Hands a formed transaction to the terminal. The text is UTF-8 and already checked.
class OrderDelivery {
public:
    virtual ~OrderDelivery() = default;
    // ACCOUNT as set is used as it is.
    virtual AccountChoice accountFor(const std::string& configured, const std::string& /*classCode*/) {
        return {configured, {}};
    }
    virtual DeliveryResult deliver(const std::string& text) = 0;
    // Whether the terminal answers what is delivered; false when nothing goes to it at all.
    virtual bool reachesTerminal() const { return true; }
};

// OutputWay=TRI: one line appended to TRIFileName, whatever LogLevel is.
class FileDelivery : public OrderDelivery {
public:
    FileDelivery(const Settings& settings, Log& log) : settings_(settings), log_(log) {}
    DeliveryResult deliver(const std::string& text) override;
    // Start-up: empties quik.tri, quik.tro and quik.trr (one empty line each). A failure is told
    // once, naming the file and why.
    void emptyExchangeFiles();

private:
    bool writeLine(const std::string& path, const std::string& line, LineWrite write);

    const Settings& settings_;
    Log& log_;
};

// What the library answered to one send. A result other than 0 is that transaction's rejection.
struct LibrarySendResult {
    bool called = false;  // false: the library was not available and nothing was sent
    std::int32_t result = 0;
    std::int32_t extendedError = 0;
    std::string message;  // the library's message, UTF-8
};

// OutputWay=DLL: the terminal's transaction library, connected with QuikPath.
class LibraryDelivery : public OrderDelivery {
public:
    LibraryDelivery(TransLibrary& library, const Settings& settings, Log& log)
        : library_(library), settings_(settings), log_(log) {}
    DeliveryResult deliver(const std::string& text) override;
    // The answer to the last deliver().
    const LibrarySendResult& lastSendResult() const { return lastSendResult_; }

    // The library's connect call and its log line; false when it did not connect.
    bool init();
    // Orders of this instrument come through the order callback from now on; a later call
    // replaces the instrument. Kept for the reconnects.
    void followOrders(const std::string& classCode, const std::string& ticker);
    // Start-up and the tick's retry: init, then connected() and the outcome's log line.
    void connect();
    // The library's disconnect call; connected() is false afterwards.
    void disconnect();
    bool connected() const { return connected_; }
    // Start-up begins unconnected whatever a previous run left.
    void forget() { connected_ = false; }

private:
    TransLibrary& library_;
    const Settings& settings_;
    Log& log_;
    void registerCallbacks();
    void subscribeOrders();

    bool connected_ = false;
    LibrarySendResult lastSendResult_;
    std::string followedClass_;
    std::string followedTicker_;
};

// Any other OutputWay: the formed order is logged and goes nowhere, which the log says each time.
class LogOnlyDelivery : public OrderDelivery {
public:
    explicit LogOnlyDelivery(Log& log) : log_(log) {}
    DeliveryResult deliver(const std::string& text) override;
    bool reachesTerminal() const override { return false; }

private:
    Log& log_;
};

}  // namespace velmora
