// Feeds arbitrary bytes to the .reg reader. Whatever it accepts must export and read back to the same
// export, so a file the registry writes can always be read again.
#include "platform/RegFile.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    platform::RegistryTree tree;
    if (platform::ApplyRegFile(std::string_view(reinterpret_cast<const char*>(data), size), tree))
        return 0;
    const std::string first = platform::ExportRegTree(tree);
    if (first.size() > platform::kMaxRegFileBytes)
        return 0; // the registry refuses to store such a tree
    platform::RegistryTree again;
    if (platform::ApplyRegFile(first, again))
        __builtin_trap();
    if (platform::ExportRegTree(again) != first)
        __builtin_trap();
    return 0;
}
