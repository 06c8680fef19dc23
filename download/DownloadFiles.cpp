#include "download/DownloadFiles.h"

#include "foundation/AppMessages.h"
#include "foundation/FileSystem.h"
#include "foundation/StringConv.h"
#include "store/GameStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace downloadfiles {

std::string Native(const std::string& ansiPath)
{
    try {
        return NativePath(ansiPath);
    } catch (...) {
        return {};
    }
}

std::string WithSeparator(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return CollapseSeparators(folder);
}

int64_t ParseLength(const std::string& text)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return -1;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || value < 0)
        return -1;
    return value;
}

std::string Megabytes(int64_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / 1048576.0);
    return text;
}

int64_t FileSize(const std::string& ansiPath)
{
    struct stat info {};
    std::string native = Native(ansiPath);
    if (native.empty() || ::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<int64_t>(info.st_size);
}

bool StoreTaskRecord(CGameStore* store, const DownloadTaskRecord& record)
{
    if (!store)
        return false;
    return store->Submit(kStoreUpdateDownload, new DownloadTaskRecord(record), true, false);
}

} // namespace downloadfiles
