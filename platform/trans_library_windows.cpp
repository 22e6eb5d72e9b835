#include <windows.h>

#include "platform/trans_library.h"

namespace velmora {

namespace {

using ConnectFunction = std::int32_t(__stdcall*)(char*, std::int32_t*, char*, std::uint32_t);
using DisconnectFunction = std::int32_t(__stdcall*)(std::int32_t*, char*, std::uint32_t);
using SendFunction = std::int32_t(__stdcall*)(char*, std::int32_t*, char*, std::uint32_t);

class DllTransLibrary : public TransLibrary {
public:
    explicit DllTransLibrary(const std::string& path) {
        module_ = LoadLibraryA(path.c_str());
        if (!module_) {
            error_ = "cannot load " + path + ": error " + std::to_string(GetLastError());
            return;
        }
        connect_ = reinterpret_cast<ConnectFunction>(procedure("TRANS2QUIK_CONNECT", 16, path));
        disconnect_ = reinterpret_cast<DisconnectFunction>(procedure("TRANS2QUIK_DISCONNECT", 12, path));
        send_ = reinterpret_cast<SendFunction>(procedure("TRANS2QUIK_SEND_ASYNC_TRANSACTION", 16, path));
        if (!connect_ || !disconnect_ || !send_) {
            FreeLibrary(module_);
            module_ = nullptr;
            connect_ = nullptr;
            disconnect_ = nullptr;
            send_ = nullptr;
        }
    }
    ~DllTransLibrary() override {
        if (module_) FreeLibrary(module_);
    }
    DllTransLibrary(const DllTransLibrary&) = delete;
    DllTransLibrary& operator=(const DllTransLibrary&) = delete;

    bool available() const override { return module_ != nullptr; }
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
    // void (*)() converts to any other function type without complaint.
    using AnyFunction = void (*)();

    // Exported either by plain name or by its stdcall decoration.
    AnyFunction procedure(const char* name, int argumentBytes, const std::string& path) {
        FARPROC address = GetProcAddress(module_, name);
        if (!address) {
            std::string decorated = "_" + std::string(name) + "@" + std::to_string(argumentBytes);
            address = GetProcAddress(module_, decorated.c_str());
        }
        if (!address && error_.empty()) error_ = std::string(name) + " not found in " + path;
        return reinterpret_cast<AnyFunction>(address);
    }

    HMODULE module_ = nullptr;
    std::string error_;
    ConnectFunction connect_ = nullptr;
    DisconnectFunction disconnect_ = nullptr;
    SendFunction send_ = nullptr;
};

}  // namespace

std::unique_ptr<TransLibrary> loadTransLibrary(const std::string& folder) {
    return std::make_unique<DllTransLibrary>(folder + "TRANS2QUIK.dll");
}

}  // namespace velmora
