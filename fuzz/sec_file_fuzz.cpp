#include <cstddef>
#include <cstdint>

#include "settings/program_error.h"
#include "tests/support/quiet_platform.h"
#include "secs/sec_file_reader.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static quiet::QuietPlatform platform;
    static Log log(platform.clock, platform.locale, platform.messages);
    log.LogThreshold = 1;
    for (int version = 1; version <= 2; ++version) {
        SecFileStream stream{data, size, 0};
        try {
            auto list = FStreamReadSecShareList(stream, version, log);
            if (list)
                for (int i = 0; i < list->Count(); ++i)
                    if (list->at(i).Index != i || list->at(i).Decimals > 18) __builtin_trap();
        } catch (const ProgramError&) {
        }
        if (stream.position > size) __builtin_trap();
    }
    return 0;
}
