#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>

#include "platform/crash_reporter.h"

namespace velmora {

namespace {

void copyText(char* text, std::size_t capacity, const std::string& value) {
    if (capacity == 0) return;
    std::size_t length = value.size() < capacity - 1 ? value.size() : capacity - 1;
    std::memcpy(text, value.data(), length);
    text[length] = '\0';
}

std::string demangledName(const char* mangled) {
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && readable ? readable : mangled;
    std::free(readable);
    return name;
}

}  // namespace

void describeCurrentException(char* text, std::size_t capacity) {
    std::exception_ptr current = std::current_exception();
    if (!current) {
        copyText(text, capacity, "std::terminate without an active exception");
        return;
    }
    const std::type_info* type = abi::__cxa_current_exception_type();
    std::string description = "uncaught exception " + (type ? demangledName(type->name()) : std::string("of unknown type"));
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& error) {
        description += ": ";
        description += error.what();
    } catch (...) {
    }
    copyText(text, capacity, description);
}

}  // namespace velmora
