#include "platform/system_error_text.h"

#include <cerrno>
#include <cstring>

namespace velmora {

std::string systemErrorText(int error) {
    switch (error) {
        case EACCES:
        case EPERM: return "нет доступа";
        case EROFS: return "диск только для чтения";
        case ENOSPC: return "нет места на диске";
        case ENOENT: return "папка не найдена";
        case EISDIR: return "на его месте папка";
        default: return std::strerror(error);
    }
}

}  // namespace velmora
