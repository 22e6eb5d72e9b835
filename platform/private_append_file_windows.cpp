#include <windows.h>

#include "platform/private_append_file.h"

namespace velmora {

namespace {

class AppendFile : public PrivateAppendFile {
public:
    AppendFile(std::string path, HANDLE file) : path_(std::move(path)), file_(file) {}
    ~AppendFile() override {
        CloseHandle(file_);
        DeleteFileA(path_.c_str());
    }
    const std::string& path() const override { return path_; }
    bool append(std::string_view bytes, std::string& error) override {
        DWORD written = 0;
        if (WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size())
            return true;
        error = "ошибка " + std::to_string(GetLastError());
        return false;
    }

private:
    std::string path_;
    HANDLE file_;
};

}  // namespace

std::unique_ptr<PrivateAppendFile> createPrivateAppendFile(const std::string& path, std::string& error) {
    // Append-only access: every write lands at the end, whole. Readers may read and the script
    // may not delete it under us; the user's own profile folder keeps others out.
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "файл " + path + " не создан: ошибка " + std::to_string(GetLastError());
        return nullptr;
    }
    return std::make_unique<AppendFile>(path, file);
}

}  // namespace velmora
