#include "emulator/LocalGameImport.h"

#include "emulator/PlatformTable.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/StringConv.h"
#include "platform/CodePage.h"
#include "platform/Trace.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPlatformMame = 123;
constexpr int kPlatformArcade = 126;
constexpr int kPlatformMamePlus = 146;
// Deeper trees than this are not game libraries; the bound keeps a hostile tree from exhausting the stack.
constexpr int kMaxDepth = 64;
// An icon larger than this is not an icon: the toolkit would not draw it anyway.
constexpr uLong kMaxIconBytes = 8 * 1024 * 1024;

bool IsArcadePlatform(int typeId)
{
    return typeId == kPlatformMame || typeId == kPlatformArcade || typeId == kPlatformMamePlus;
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix)
{
    if (suffix.size() > text.size())
        return false;
    text.remove_prefix(text.size() - suffix.size());
    return std::equal(text.begin(), text.end(), suffix.begin(),
                      [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

std::string FileNameOf(std::string_view path)
{
    size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

struct UnzCloser {
    void operator()(void* unz) const { unzClose(static_cast<unzFile>(unz)); }
};

// Extracts the archive entry `entryName` (letter case ignored) into `destination`, through a
// temporary file renamed into place, so the cache never holds half an icon. False when the archive
// or the entry is missing, the entry is neither stored nor deflated, it unpacks past kMaxIconBytes
// (whatever its header says) or the file cannot be written.
bool ExtractEntry(const std::string& archive, const std::string& entryName, const std::string& destination)
{
    std::unique_ptr<void, UnzCloser> unz(unzOpen64(archive.c_str()));
    if (!unz)
        return false;
    if (unzLocateFile(unz.get(), entryName.c_str(), 2 /* case-insensitive */) != UNZ_OK)
        return false;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(unz.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    // Other methods would be handed out as their compressed bytes.
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return false;
    if (unzOpenCurrentFile(unz.get()) != UNZ_OK)
        return false;
    // Unique per process and call: the watcher and the drop import may extract one icon at once.
    static std::atomic<unsigned> sequence{0};
    std::string temporary =
        destination + ".part" + std::to_string(::getpid()) + "-" + std::to_string(++sequence);
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok = file != nullptr;
    char buffer[16384];
    uLong written = 0;
    while (ok) {
        int read = unzReadCurrentFile(unz.get(), buffer, sizeof buffer);
        if (read < 0)
            ok = false;
        if (read <= 0)
            break;
        written += static_cast<uLong>(read);
        if (written > kMaxIconBytes) {
            ok = false;
            break;
        }
        ok = std::fwrite(buffer, 1, static_cast<size_t>(read), file) == static_cast<size_t>(read);
    }
    // A damaged entry shows as a CRC error only when it is closed.
    if (unzCloseCurrentFile(unz.get()) != UNZ_OK)
        ok = false;
    if (file && std::fclose(file) != 0)
        ok = false;
    if (ok && std::rename(temporary.c_str(), destination.c_str()) != 0)
        ok = false;
    if (!ok)
        std::remove(temporary.c_str());
    return ok;
}

// The icon of an arcade game: a cached image named after it, else one taken from the icon archive.
std::string ArcadeIcon(const std::string& name, int typeId, const LocalGameResources& resources)
{
    if (name.empty())
        return {};
    const std::string& cache = typeId == kPlatformArcade ? resources.ArcadeImageDir : resources.MameImageDir;
    if (cache.empty())
        return {};
    static const char* const kExtensions[] = {".ico", ".png", ".jpg"};
    for (const char* extension : kExtensions) {
        std::string path = cache + name + extension;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            return path;
    }
    const std::string archive = resources.InstancePath + "LocalGameRes/icon/arcade.zip";
    for (const char* extension : kExtensions) {
        std::string path = cache + name + extension;
        if (ExtractEntry(archive, name + extension, path))
            return path;
    }
    return {};
}

std::string ArcadeDisplayName(const std::string& name, const LocalGameResources& resources)
{
    const std::string ini = resources.InstancePath + "LocalGameRes/gamelist/arcade_ch.ini";
    std::string listed = IniFile::GetString(ini, "games", name, "");
    if (listed.empty())
        return {};
    try {
        return Utf8ToOem(listed);
    } catch (const std::exception&) {
        platform::TraceF("local import: the arcade name of %s is not UTF-8", name.c_str());
        return {};
    }
}

} // namespace

LocalGameResources LocalGameResources::FromAppPaths()
{
    AppPaths paths = GetAppPaths();
    return {paths.InstancePath, paths.MameImageDir, paths.ArcadeImageDir};
}

bool MatchesExtensionList(std::string_view fileName, std::string_view extensionList)
{
    while (!extensionList.empty()) {
        size_t comma = extensionList.find(',');
        std::string_view extension = extensionList.substr(0, comma);
        if (!extension.empty() && EndsWithIgnoringCase(fileName, extension))
            return true;
        if (comma == std::string_view::npos)
            break;
        extensionList.remove_prefix(comma + 1);
    }
    return false;
}

bool ProcessCodePageIsUtf8()
{
    return platform::IsUtf8Name(platform::ProcessCodePage());
}

std::string NativeNameToAnsi(const std::string& native)
{
    return NativeNameToAnsi(native, ProcessCodePageIsUtf8());
}

std::string NativeNameToAnsi(const std::string& native, bool utf8CodePage)
{
    if (utf8CodePage)
        return native;
    try {
        std::string ansi = Utf8ToOem(native);
        if (AnsiToUtf8(ansi) == native)
            return ansi;
    } catch (const std::exception&) {
    }
    return native;
}

std::string DisplayNameOf(std::string_view path)
{
    std::string name = FileNameOf(path);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

std::optional<LocalGameRecord> MakeLocalGameRow(const std::string& nativePath, int platformTypeId,
                                                const LocalGameResources& resources)
{
    const PlatformInfo* platform = FindPlatform(platformTypeId);
    if (!platform)
        return std::nullopt;
    struct stat info {};
    if (::stat(nativePath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;

    LocalGameRecord row;
    const std::string plainName = DisplayNameOf(nativePath);
    row.GameName = NativeNameToAnsi(plainName);
    if (IsArcadePlatform(platformTypeId)) {
        std::string listed = ArcadeDisplayName(plainName, resources);
        if (!listed.empty())
            row.GameName = listed;
        row.Icon = NativeNameToAnsi(ArcadeIcon(plainName, platformTypeId, resources));
    }
    char size[64];
    std::snprintf(size, sizeof size, "%.2f", static_cast<double>(info.st_size) / 1048576.0);
    row.Size = size;
    row.EmulatorShortName = platform->ShortName;
    row.FilePath = NativeNameToAnsi(nativePath);
    row.FileName = NativeNameToAnsi(FileNameOf(nativePath));
    row.EmulatorId = std::to_string(platformTypeId);
    return row;
}

CFolderWalker::CFolderWalker(Callbacks callbacks) : m_callbacks(std::move(callbacks)) {}

void CFolderWalker::Reset()
{
    m_seen.clear();
}

bool CFolderWalker::Walk(const std::string& root)
{
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    WalkFolder(root, 0);
    return true;
}

void CFolderWalker::WalkFolder(const std::string& folder, int depth)
{
    if (depth > kMaxDepth)
        return;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return;
    if (!m_seen.emplace(static_cast<unsigned long>(info.st_dev), static_cast<unsigned long>(info.st_ino))
             .second)
        return; // met before in this walk: a link loop or a second link to one folder
    if (m_callbacks.onFolder && !m_callbacks.onFolder(folder))
        return;

    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        if (m_reportedUnreadable.insert(folder).second)
            platform::TraceF("local import: folder %s skipped: %s", folder.c_str(), std::strerror(errno));
        return;
    }
    struct Entry {
        std::string name;
        bool folder;
    };
    std::vector<Entry> entries;
    while (dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat target {};
            isFolder =
                ::fstatat(::dirfd(dir.get()), entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        }
        entries.push_back({entry->d_name, isFolder});
    }
    dir.reset();
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& entry : entries) {
        if (m_callbacks.stop && m_callbacks.stop())
            return;
        std::string path = folder + "/" + entry.name;
        if (entry.folder)
            WalkFolder(path, depth + 1);
        else if (m_callbacks.onFile)
            m_callbacks.onFile(path, entry.name);
    }
}

bool AddImportedGame(const LocalGameRecord& row, CLocalLibrary& library, CGameStore& store,
                     platform::WindowHandle* window)
{
    if (!library.AddLocalGame(row))
        return false;
    auto inserted = std::make_unique<LocalGameRecord>(row);
    store.Submit(kStoreAddLocalGame, inserted.release(), true, true); // the store frees it, even when refused
    platform::PostMessage(window, WM_LOCAL_GAME_ADDED, 0, std::make_unique<LocalGameRecord>(row));
    return true;
}
