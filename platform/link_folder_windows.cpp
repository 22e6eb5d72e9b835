#include <windows.h>

#include "platform/link_folder.h"

namespace velmora {

namespace {

std::string environment(const char* name) {
    char value[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string withSeparator(std::string path) {
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    return path;
}

std::string slotPath(const std::string& folder, int number) {
    return folder + "velmora-" + std::to_string(number) + ".lock";
}

// Held without sharing: another program's open of it fails until this one closes, or dies.
HANDLE openSlot(const std::string& folder, int number) {
    return CreateFileA(slotPath(folder, number).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

class ExclusiveSlot : public InstanceSlot {
public:
    ExclusiveSlot(int number, HANDLE file) : number_(number), file_(file) {}
    ~ExclusiveSlot() override { CloseHandle(file_); }
    int number() const override { return number_; }

private:
    int number_;
    HANDLE file_;
};

}  // namespace

std::string linkFolder() {
    const std::string chosen = environment("VELMORA_LINK_FOLDER");
    if (!chosen.empty()) return withSeparator(chosen);
    const std::string local = environment("LOCALAPPDATA");
    if (!local.empty()) return withSeparator(local) + "Velmora\\link\\";
    return {};
}

std::string prepareLinkFolder(const std::string& folder) {
    if (folder.empty()) return "папка связи со скриптом не найдена: нет LOCALAPPDATA";
    // The user's own local application data is private to the user already.
    std::string path = folder;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    for (std::size_t at = path.find_first_of("\\/", 3); at != std::string::npos;
         at = path.find_first_of("\\/", at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return "папка связи со скриптом " + folder + " не создана: ошибка " + std::to_string(GetLastError());
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "на месте папки связи со скриптом " + folder + " не папка";
    return {};
}

std::unique_ptr<InstanceSlot> InstanceSlot::take(const std::string& folder, std::string& error) {
    for (int number = 1; number <= count; ++number) {
        const HANDLE file = openSlot(folder, number);
        if (file != INVALID_HANDLE_VALUE) return std::make_unique<ExclusiveSlot>(number, file);
        if (GetLastError() != ERROR_SHARING_VIOLATION) {
            error = "файл " + slotPath(folder, number) + " не открыт: ошибка " + std::to_string(GetLastError());
            return nullptr;
        }
    }
    error = "в папке " + folder + " заняты все " + std::to_string(count) + " мест Velmora";
    return nullptr;
}

bool InstanceSlot::held(const std::string& folder, int number) {
    const HANDLE file = CreateFileA(slotPath(folder, number).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace velmora
