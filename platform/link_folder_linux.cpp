#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/link_folder.h"
#include "platform/system_error_text.h"

namespace velmora {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string withSeparator(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

std::string slotPath(const std::string& folder, int number) {
    return folder + "velmora-" + std::to_string(number) + ".lock";
}

int openSlot(const std::string& folder, int number) {
    return ::open(slotPath(folder, number).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

class FlockSlot : public InstanceSlot {
public:
    FlockSlot(int number, int fd) : number_(number), fd_(fd) {}
    ~FlockSlot() override { ::close(fd_); }
    int number() const override { return number_; }

private:
    int number_;
    int fd_;
};

}  // namespace

std::string linkFolder() {
    const std::string chosen = environment("VELMORA_LINK_FOLDER");
    if (!chosen.empty()) return withSeparator(chosen);
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return withSeparator(runtime) + "velmora-link/";
    const std::string home = environment("HOME");
    if (!home.empty()) return withSeparator(home) + ".cache/velmora-link/";
    return {};
}

std::string prepareLinkFolder(const std::string& folder) {
    if (folder.empty()) return "папка связи со скриптом не найдена: нет ни XDG_RUNTIME_DIR, ни HOME";
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    // The parents (~/.cache) as a user's own would be made; the folder itself for this user alone.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return "папка связи со скриптом " + folder + " не создана: " + systemErrorText(errno);
    struct stat status{};
    if (::lstat(path.c_str(), &status) != 0)
        return "папка связи со скриптом " + folder + " недоступна: " + systemErrorText(errno);
    if (!S_ISDIR(status.st_mode)) return "на месте папки связи со скриптом " + folder + " не папка";
    // Whoever else may write there could put a command file of their own making in Velmora's place.
    if (status.st_uid != ::geteuid() || (status.st_mode & 022) != 0)
        return "папка связи со скриптом " + folder + " чужая или открыта для записи другим";
    return {};
}

std::unique_ptr<InstanceSlot> InstanceSlot::take(const std::string& folder, std::string& error) {
    for (int number = 1; number <= count; ++number) {
        const int fd = openSlot(folder, number);
        if (fd < 0) {
            error = "файл " + slotPath(folder, number) + " не открыт: " + systemErrorText(errno);
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<FlockSlot>(number, fd);
        ::close(fd);
    }
    error = "в папке " + folder + " заняты все " + std::to_string(count) + " мест Velmora";
    return nullptr;
}

bool InstanceSlot::held(const std::string& folder, int number) {
    const int fd = ::open(slotPath(folder, number).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

}  // namespace velmora
