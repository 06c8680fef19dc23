// Parses arbitrary bytes as a volume list. Besides not crashing or hanging (the parse is linear):
// every volume has a non-empty URL without ',' or '|' and a number that is not negative.
#include "download/VolumeList.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& [number, url] : ParseVolumeUrlList(text))
        if (number < 0 || url.empty() || url.find_first_of(",|") != std::string::npos)
            __builtin_trap();
    return 0;
}
