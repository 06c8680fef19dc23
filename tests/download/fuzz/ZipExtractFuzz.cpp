// Extracts arbitrary bytes as a zip archive into a folder inside a sandbox. Besides not crashing or
// hanging, nothing may appear in the sandbox beside the archive and the destination folder.
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
    zip.ZipExtract(Utf8ToUtf16(archive), Utf8ToUtf16(dest));

    for (const auto& entry : fs::directory_iterator(sandbox)) {
        const std::string name = entry.path().filename().string();
        if (name != "in.zip" && name != "out")
            __builtin_trap();
    }
    std::error_code ignored;
    fs::remove_all(dest, ignored);
    return 0;
}
