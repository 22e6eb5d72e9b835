#include <windows.h>

#include "platform/library_callbacks.h"
#include "platform/trans_library.h"

namespace velmora {

namespace {

using ConnectFunction = std::int32_t(__stdcall*)(char*, std::int32_t*, char*, std::uint32_t);
using DisconnectFunction = std::int32_t(__stdcall*)(std::int32_t*, char*, std::uint32_t);
using SendFunction = std::int32_t(__stdcall*)(char*, std::int32_t*, char*, std::uint32_t);
using SetReplyCallbackFunction = std::int32_t(__stdcall*)(ReplyCallback, std::int32_t*, char*, std::uint32_t);
using SubscribeOrdersFunction = std::int32_t(__stdcall*)(char*, char*);
using StartOrdersFunction = void(__stdcall*)(OrderCallback);
using UnsubscribeOrdersFunction = std::int32_t(__stdcall*)();

class DllTransLibrary : public TransLibrary {
public:
    explicit DllTransLibrary(std::string path) : path_(std::move(path)) { load(path_); }
    ~DllTransLibrary() override {
        if (module_) FreeLibrary(module_);
    }
    DllTransLibrary(const DllTransLibrary&) = delete;
    DllTransLibrary& operator=(const DllTransLibrary&) = delete;

    bool available() const override { return module_ != nullptr; }
    std::string loadError() const override { return error_; }
    bool loadAgain() override {
        if (!module_) {
            error_.clear();
            load(path_);
        }
        return module_ != nullptr;
    }

    std::int32_t connect(char* connectionText, std::int32_t* extendedError, char* errorMessage,
                         std::uint32_t errorMessageSize) override {
        return connect_(connectionText, extendedError, errorMessage, errorMessageSize);
    }
    std::int32_t disconnect(std::int32_t* extendedError, char* errorMessage,
                            std::uint32_t errorMessageSize) override {
        return disconnect_(extendedError, errorMessage, errorMessageSize);
    }
    std::int32_t sendAsyncTransaction(char* transaction, std::int32_t* extendedError, char* errorMessage,
                                      std::uint32_t errorMessageSize) override {
        return send_(transaction, extendedError, errorMessage, errorMessageSize);
    }
    std::int32_t setTransactionsReplyCallback(std::int32_t* extendedError, char* errorMessage,
                                              std::uint32_t errorMessageSize) override {
        if (!setReplyCallback_)
            return TransLibrary::setTransactionsReplyCallback(extendedError, errorMessage, errorMessageSize);
        return setReplyCallback_(queueingReplyCallback(), extendedError, errorMessage, errorMessageSize);
    }
    std::int32_t subscribeOrders(char* classCode, char* secCodes) override {
        return subscribeOrders_ ? subscribeOrders_(classCode, secCodes) : LibraryFunctionMissing;
    }
    bool startOrders() override {
        if (!startOrders_) return false;
        startOrders_(queueingOrderCallback());
        return true;
    }
    std::int32_t unsubscribeOrders() override {
        return unsubscribeOrders_ ? unsubscribeOrders_() : LibraryFunctionMissing;
    }

private:
    void load(const std::string& path) {
        module_ = LoadLibraryA(path.c_str());
        if (!module_) {
            error_ = "cannot load " + path + ": error " + std::to_string(GetLastError());
            return;
        }
        connect_ = reinterpret_cast<ConnectFunction>(procedure("TRANS2QUIK_CONNECT", 16, &path));
        disconnect_ = reinterpret_cast<DisconnectFunction>(procedure("TRANS2QUIK_DISCONNECT", 12, &path));
        send_ = reinterpret_cast<SendFunction>(procedure("TRANS2QUIK_SEND_ASYNC_TRANSACTION", 16, &path));
        setReplyCallback_ = reinterpret_cast<SetReplyCallbackFunction>(
            procedure("TRANS2QUIK_SET_TRANSACTIONS_REPLY_CALLBACK", 16, nullptr));
        subscribeOrders_ =
            reinterpret_cast<SubscribeOrdersFunction>(procedure("TRANS2QUIK_SUBSCRIBE_ORDERS", 8, nullptr));
        startOrders_ = reinterpret_cast<StartOrdersFunction>(procedure("TRANS2QUIK_START_ORDERS", 4, nullptr));
        unsubscribeOrders_ =
            reinterpret_cast<UnsubscribeOrdersFunction>(procedure("TRANS2QUIK_UNSUBSCRIBE_ORDERS", 0, nullptr));
        if (!connect_ || !disconnect_ || !send_) {
            FreeLibrary(module_);
            module_ = nullptr;
            connect_ = nullptr;
            disconnect_ = nullptr;
            send_ = nullptr;
            setReplyCallback_ = nullptr;
            subscribeOrders_ = nullptr;
            startOrders_ = nullptr;
            unsubscribeOrders_ = nullptr;
        }
    }
    // void (*)() converts to any other function type without complaint.
    using AnyFunction = void (*)();

    // Exported either by plain name or by its stdcall decoration. A missing one is a load error
    // only when `path` is given.
    AnyFunction procedure(const char* name, int argumentBytes, const std::string* path) {
        FARPROC address = GetProcAddress(module_, name);
        if (!address) {
            std::string decorated = "_" + std::string(name) + "@" + std::to_string(argumentBytes);
            address = GetProcAddress(module_, decorated.c_str());
        }
        if (!address && path && error_.empty()) error_ = std::string(name) + " not found in " + *path;
        return reinterpret_cast<AnyFunction>(address);
    }

    std::string path_;
    HMODULE module_ = nullptr;
    std::string error_;
    ConnectFunction connect_ = nullptr;
    DisconnectFunction disconnect_ = nullptr;
    SendFunction send_ = nullptr;
    SetReplyCallbackFunction setReplyCallback_ = nullptr;
    SubscribeOrdersFunction subscribeOrders_ = nullptr;
    StartOrdersFunction startOrders_ = nullptr;
    UnsubscribeOrdersFunction unsubscribeOrders_ = nullptr;
};

}  // namespace

std::unique_ptr<TransLibrary> loadTransLibrary(const std::string& folder) {
    return std::make_unique<DllTransLibrary>(folder + "TRANS2QUIK.dll");
}

}  // namespace velmora
