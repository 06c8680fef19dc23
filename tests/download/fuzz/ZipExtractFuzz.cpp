// Extracts arbitrary bytes as a zip archive into a folder inside a sandbox. Besides not crashing or
// hanging, nothing may appear in the sandbox beside the archive and the destination folder, a failed
// extraction leaves that folder empty, and no extraction writes past its bounds, which are small here
// (and the free space made smaller still at times) so that every path past them is reached quickly.
#include "download/Zip.h"
#include "foundation/StringConv.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string& Sandbox()
{
    static const std::string path = [] {
        std::string pattern = (fs::temp_directory_path() / "quokka-zipfuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern + "/";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& sandbox = Sandbox();
    const std::string archive = sandbox + "in.zip";
    const std::string dest = sandbox + "out/";
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CZip zip;
    constexpr int64_t kBound = 1 << 20;
    const int64_t freeBytes = size % 3 == 0 ? 64 << 10 : -1;
    zip.SetLimits({.ratio = 4,
                   .floorBytes = 256 << 10,
                   .hardCapBytes = kBound,
                   .freeBytes = [freeBytes](const std::string&) { return freeBytes; }});
    const int result = zip.ZipExtract(Utf8ToUtf16(archive), Utf8ToUtf16(dest));

    for (const auto& entry : fs::directory_iterator(sandbox)) {
        const std::string name = entry.path().filename().string();
        if (name != "in.zip" && name != "out")
            __builtin_trap();
    }
    std::error_code ignored;
    if (result != kZipExtractDone && !fs::is_empty(dest, ignored))
        __builtin_trap();
    if (result == kZipExtractNoSpace && freeBytes < 0)
        __builtin_trap();
    uintmax_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dest))
        if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored))
            written += entry.file_size(ignored);
    if (written > kBound)
        __builtin_trap();
    fs::remove_all(dest, ignored);
    return 0;
}
