#include "app/LibraryFiles.h"

#include "download/DownloadTaskPreparation.h"
#include "emulator/PlatformTable.h"
#include "platform/Trace.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The folder under each library folder that holds the local games' platform folders.
constexpr char kLocalGameFolderName[] = "LocalGame";

// The path with its folders resolved and its last component kept as it is (a link stays the link).
// Empty when the path is empty, relative, has no last component, or its folder cannot be resolved.
std::optional<fs::path> ResolveParent(const std::string& text)
{
    if (text.empty() || text.front() != '/')
        return std::nullopt;
    fs::path path = fs::path(text).lexically_normal();
    if (!path.has_filename())
        path = path.parent_path(); // "a/b/" names b
    const fs::path name = path.filename();
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    std::error_code ec;
    fs::path parent = fs::canonical(path.parent_path(), ec);
    if (ec)
        return std::nullopt;
    return parent / name;
}

// How many components `path` lies below `root` (both resolved): 0 for the root itself, -1 outside.
int DepthInside(const fs::path& path, const fs::path& root)
{
    auto p = path.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
        if (r->empty())
            continue; // a trailing separator of the root
        if (p == path.end() || *p != *r)
            return -1;
    }
    int depth = 0;
    for (; p != path.end(); ++p) {
        if (!p->empty())
            ++depth;
    }
    return depth;
}

std::optional<fs::path> ResolvedRoot(const std::string& folder)
{
    if (folder.empty() || folder.front() != '/')
        return std::nullopt;
    std::error_code ec;
    fs::path root = fs::canonical(folder, ec);
    if (ec)
        return std::nullopt;
    return root;
}

// The path's components without the root and without empty ones ("/a//b/" gives a, b).
std::vector<std::string> Segments(const fs::path& path)
{
    std::vector<std::string> segments;
    for (const fs::path& part : path.relative_path()) {
        if (!part.empty())
            segments.push_back(part.string());
    }
    return segments;
}

// Whether `folder` (resolved, its last component kept) is where the download engine files the game:
// <some library folder>/<platform short name>/<game id>, written as it is stored (no "." or "..",
// checked before resolving) and still of that shape once resolved, so a linked folder above it cannot
// make it name something else. A folder named like the local games' folder is never a library folder.
bool HasDownloadedGameShape(const std::string& text, const fs::path& resolved, const std::string& gameId,
                            const std::string& platform)
{
    if (!IsPlainNameSegment(gameId) || !IsPlainNameSegment(platform))
        return false;
    std::optional<int> typeId = ShortNameToTypeId(platform);
    if (!typeId || *typeId == kAllPlatformsTypeId)
        return false;
    const std::vector<std::string> written = Segments(fs::path(text));
    for (const std::string& segment : written) {
        if (segment == "." || segment == "..")
            return false;
    }
    const std::vector<std::string> real = Segments(resolved);
    for (const std::vector<std::string>* segments : {&written, &real}) {
        const size_t n = segments->size();
        // At least one folder above the platform folder: the library folder is never the file system's root.
        if (n < 3 || (*segments)[n - 1] != gameId || (*segments)[n - 2] != platform ||
            (*segments)[n - 3] == kLocalGameFolderName)
            return false;
    }
    return true;
}

} // namespace

bool DeleteLocalGameFile(const std::string& path, const std::string& romDir)
{
    auto root = ResolvedRoot(romDir);
    auto target = ResolveParent(path);
    if (!root || !target || DepthInside(*target, *root) < 1) {
        platform::TraceF("library: %s is not inside the library folder; its file is kept", path.c_str());
        return false;
    }
    std::error_code ec;
    fs::file_status status = fs::symlink_status(*target, ec);
    if (ec || !fs::exists(status))
        return false;
    if (fs::is_directory(status)) {
        platform::TraceF("library: %s is a folder, not a game file; kept", path.c_str());
        return false;
    }
    bool removed = fs::remove(*target, ec); // a link goes itself, never its target
    if (ec)
        platform::TraceF("library: %s cannot be deleted: %s", path.c_str(), ec.message().c_str());
    return removed;
}

bool DeleteDownloadedGameFolder(const std::string& folder, const std::string& romDir,
                                const std::string& localGameDir)
{
    auto root = ResolvedRoot(romDir);
    auto target = ResolveParent(folder);
    bool inLocal = false;
    if (target) {
        if (auto local = ResolvedRoot(localGameDir))
            inLocal = DepthInside(*target, *local) >= 0;
    }
    if (!root || !target || DepthInside(*target, *root) < 2 || inLocal) {
        platform::TraceF("library: %s is not a game folder of the library; kept", folder.c_str());
        return false;
    }
    std::error_code ec;
    fs::file_status status = fs::symlink_status(*target, ec);
    if (ec || !fs::exists(status))
        return false;
    // remove_all does not follow links: a link at the folder's place, or inside it, goes itself.
    std::uintmax_t removed = fs::remove_all(*target, ec);
    if (ec)
        platform::TraceF("library: %s cannot be deleted: %s", folder.c_str(), ec.message().c_str());
    return removed > 0;
}

bool DeleteDownloadedGame(const std::string& folder, const std::string& gameId, const std::string& platform,
                          const std::string& romDir, const std::string& localGameDir)
{
    auto target = ResolveParent(folder);
    auto root = ResolvedRoot(romDir);
    if (!target || (root && DepthInside(*target, *root) >= 0))
        return DeleteDownloadedGameFolder(folder, romDir, localGameDir);

    // Outside the library folder in use: the game was installed under an earlier one. Only a real
    // folder in the very place the download engine gives that game goes, and never one that holds
    // the library or the local games in use.
    bool refused = !HasDownloadedGameShape(folder, *target, gameId, platform);
    for (const std::string& inUse : {romDir, localGameDir}) {
        if (auto kept = ResolvedRoot(inUse))
            refused = refused || DepthInside(*target, *kept) >= 0 || DepthInside(*kept, *target) >= 0;
    }
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(*target, ec);
    if (ec || !fs::exists(status))
        return false;                           // already gone
    if (refused || !fs::is_directory(status)) { // a link is no game folder here: whose it is is unknown
        platform::TraceF("library: %s is not the folder of game %s; kept", folder.c_str(), gameId.c_str());
        return false;
    }
    std::uintmax_t removed = fs::remove_all(*target, ec);
    if (ec)
        platform::TraceF("library: %s cannot be deleted: %s", folder.c_str(), ec.message().c_str());
    return removed > 0;
}

std::string DownloadedGameFolder(const std::string& filePath)
{
    size_t slash = filePath.rfind('/');
    return slash == std::string::npos ? std::string() : filePath.substr(0, slash + 1);
}
