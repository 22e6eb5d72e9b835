#include <dlfcn.h>

#include "platform/library_callbacks.h"
#include "platform/trans_library.h"

namespace velmora {

namespace {

extern "C" {
using ConnectFunction = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);
using DisconnectFunction = std::int32_t (*)(std::int32_t*, char*, std::uint32_t);
using SendFunction = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);
using SetReplyCallbackFunction = std::int32_t (*)(ReplyCallback, std::int32_t*, char*, std::uint32_t);
using SubscribeOrdersFunction = std::int32_t (*)(char*, char*);
using StartOrdersFunction = void (*)(OrderCallback);
using UnsubscribeOrdersFunction = std::int32_t (*)();
}

class SharedTransLibrary : public TransLibrary {
public:
    explicit SharedTransLibrary(std::string path) : path_(std::move(path)) { load(path_); }
    ~SharedTransLibrary() override {
        if (handle_) dlclose(handle_);
    }
    SharedTransLibrary(const SharedTransLibrary&) = delete;
    SharedTransLibrary& operator=(const SharedTransLibrary&) = delete;

    bool available() const override { return handle_ != nullptr; }
    std::string loadError() const override { return error_; }
    bool loadAgain() override {
        if (!handle_) {
            error_.clear();
            load(path_);
        }
        return handle_ != nullptr;
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
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            const char* reason = dlerror();
            error_ = "cannot load " + path + ": " + (reason ? reason : "unknown error");
            return;
        }
        connect_ = reinterpret_cast<ConnectFunction>(symbol("TRANS2QUIK_CONNECT", path));
        disconnect_ = reinterpret_cast<DisconnectFunction>(symbol("TRANS2QUIK_DISCONNECT", path));
        send_ = reinterpret_cast<SendFunction>(symbol("TRANS2QUIK_SEND_ASYNC_TRANSACTION", path));
        setReplyCallback_ = reinterpret_cast<SetReplyCallbackFunction>(
            optionalSymbol("TRANS2QUIK_SET_TRANSACTIONS_REPLY_CALLBACK"));
        subscribeOrders_ = reinterpret_cast<SubscribeOrdersFunction>(optionalSymbol("TRANS2QUIK_SUBSCRIBE_ORDERS"));
        startOrders_ = reinterpret_cast<StartOrdersFunction>(optionalSymbol("TRANS2QUIK_START_ORDERS"));
        unsubscribeOrders_ =
            reinterpret_cast<UnsubscribeOrdersFunction>(optionalSymbol("TRANS2QUIK_UNSUBSCRIBE_ORDERS"));
        if (!connect_ || !disconnect_ || !send_) {
            dlclose(handle_);
            handle_ = nullptr;
            connect_ = nullptr;
            disconnect_ = nullptr;
            send_ = nullptr;
            setReplyCallback_ = nullptr;
            subscribeOrders_ = nullptr;
            startOrders_ = nullptr;
            unsubscribeOrders_ = nullptr;
        }
    }
    void* symbol(const char* name, const std::string& path) {
        dlerror();
        void* address = dlsym(handle_, name);
        if (!address && error_.empty()) error_ = std::string(name) + " not found in " + path;
        return address;
    }
    void* optionalSymbol(const char* name) { return handle_ ? dlsym(handle_, name) : nullptr; }

    std::string path_;
    void* handle_ = nullptr;
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
    return std::make_unique<SharedTransLibrary>(folder + "TRANS2QUIK.so");
}

}  // namespace velmora
