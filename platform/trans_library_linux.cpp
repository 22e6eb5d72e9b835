#include <dlfcn.h>

#include "platform/trans_library.h"

namespace velmora {

namespace {

extern "C" {
using ConnectFunction = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);
using DisconnectFunction = std::int32_t (*)(std::int32_t*, char*, std::uint32_t);
using SendFunction = std::int32_t (*)(char*, std::int32_t*, char*, std::uint32_t);
}

class SharedTransLibrary : public TransLibrary {
public:
    explicit SharedTransLibrary(const std::string& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            const char* reason = dlerror();
            error_ = "cannot load " + path + ": " + (reason ? reason : "unknown error");
            return;
        }
        connect_ = reinterpret_cast<ConnectFunction>(symbol("TRANS2QUIK_CONNECT", path));
        disconnect_ = reinterpret_cast<DisconnectFunction>(symbol("TRANS2QUIK_DISCONNECT", path));
        send_ = reinterpret_cast<SendFunction>(symbol("TRANS2QUIK_SEND_ASYNC_TRANSACTION", path));
        if (!connect_ || !disconnect_ || !send_) {
            dlclose(handle_);
            handle_ = nullptr;
            connect_ = nullptr;
            disconnect_ = nullptr;
            send_ = nullptr;
        }
    }
    ~SharedTransLibrary() override {
        if (handle_) dlclose(handle_);
    }
    SharedTransLibrary(const SharedTransLibrary&) = delete;
    SharedTransLibrary& operator=(const SharedTransLibrary&) = delete;

    bool available() const override { return handle_ != nullptr; }
    std::string loadError() const override { return error_; }

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

private:
    void* symbol(const char* name, const std::string& path) {
        dlerror();
        void* address = dlsym(handle_, name);
        if (!address && error_.empty()) error_ = std::string(name) + " not found in " + path;
        return address;
    }

    void* handle_ = nullptr;
    std::string error_;
    ConnectFunction connect_ = nullptr;
    DisconnectFunction disconnect_ = nullptr;
    SendFunction send_ = nullptr;
};

}  // namespace

std::unique_ptr<TransLibrary> loadTransLibrary(const std::string& folder) {
    return std::make_unique<SharedTransLibrary>(folder + "TRANS2QUIK.so");
}

}  // namespace velmora
