// Reads arbitrary bytes as an FC configuration file. Besides not crashing, what is saved must read back
// to the same text: saving is a fixed point after one load.
#include "emulator/FcEmulatorConfig.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFcEmulatorConfig config;
    config.LoadText(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string first = config.SaveText();
    config.LoadText(first);
    if (config.SaveText() != first)
        __builtin_trap();
    return 0;
}
