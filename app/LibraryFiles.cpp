#include "app/LibraryFiles.h"

#include "download/DownloadTaskPreparation.h"
#include "emulator/LocalGameImport.h"
#include "emulator/PlatformTable.h"
#include "foundation/AppPaths.h"
#include "foundation/StringHelpers.h"
#include "platform/Trace.h"
#include "platform/Trash.h"

#include <filesystem>
#include <functional>
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

// Whether a path left under an earlier library folder has the place `matches` accepts, given its
// segments: as it is stored (no "." or "..", checked before resolving) and still once resolved, so a
// linked folder above it cannot make it name something else.
bool HasShapeWrittenAndResolved(const std::string& text, const fs::path& resolved,
                                const std::function<bool(const std::vector<std::string>&)>& matches)
{
    const std::vector<std::string> written = Segments(fs::path(text));
    for (const std::string& segment : written) {
        if (segment == "." || segment == "..")
            return false;
    }
    return matches(written) && matches(Segments(resolved));
}

// A platform of the table by its exact short name, never the entry for all platforms.
bool IsRealPlatform(const std::string& platform)
{
    if (!IsPlainNameSegment(platform))
        return false;
    std::optional<int> typeId = ShortNameToTypeId(platform);
    return typeId && *typeId != kAllPlatformsTypeId;
}

// Whether `folder` (resolved, its last component kept) is where the download engine files the game:
// <some library folder>/<platform short name>/<game id>. A folder named like the local games' folder
// is never a library folder.
bool HasDownloadedGameShape(const std::string& text, const fs::path& resolved, const std::string& gameId,
                            const std::string& platform)
{
    if (!IsPlainNameSegment(gameId) || !IsRealPlatform(platform))
        return false;
    return HasShapeWrittenAndResolved(text, resolved, [&](const std::vector<std::string>& segments) {
        const size_t n = segments.size();
        // At least one folder above the platform folder: the library folder is never the file system's root.
        return n >= 3 && segments[n - 1] == gameId && segments[n - 2] == platform &&
               segments[n - 3] != kLocalGameFolderName;
    });
}

// Whether `path` (resolved, its last component kept) is where the folder watcher finds a game of
// `platform`: <some library folder>/LocalGame/<platform folder>/<file>, the folder one the watcher
// scans and named after the row's platform, the file's name ending with one of its extensions.
// Files of subfolders, and files dropped from elsewhere, are where the user keeps them.
bool HasLocalGameShape(const std::string& text, const fs::path& resolved, const std::string& platform)
{
    if (!IsRealPlatform(platform))
        return false;
    bool scanned = false;
    for (const std::string& name : SplitString(PlatformDirNames, ","))
        scanned = scanned || name == platform;
    if (!scanned)
        return false;
    const std::string_view extensions = ShortNameToExtensions(platform);
    return HasShapeWrittenAndResolved(text, resolved, [&](const std::vector<std::string>& segments) {
        const size_t n = segments.size();
        return n >= 4 && segments[n - 2] == platform && segments[n - 3] == kLocalGameFolderName &&
               MatchesExtensionList(segments[n - 1], extensions);
    });
}

enum class EarlierItem { GameFolder, GameFile };

// Moves a local game's file (resolved, its last component kept) to the trash; on failure it stays and
// the reason is traced and handed to `trashError`.
bool TrashLocalGameFile(const std::string& text, const fs::path& target, std::string* trashError)
{
    std::string error;
    if (platform::MoveToTrash(target.string(), &error))
        return true;
    platform::TraceF("library: %s cannot be moved to the trash (%s); kept", text.c_str(), error.c_str());
    if (trashError != nullptr)
        *trashError = error;
    return false;
}

// Deletes `target` (resolved, its last component kept), a game's folder or file under an earlier
// library folder, when `hasShape` and it is of the kind expected: a real folder, or a regular file;
// a link is neither, since whose it is is unknown. Nothing inside or above the library folder or the
// local games in use goes. Returns whether something was removed.
bool DeleteFromEarlierLibrary(const std::string& text, const fs::path& target, bool hasShape,
                              EarlierItem kind, const std::string& romDir, const std::string& localGameDir,
                              std::string* trashError = nullptr)
{
    bool refused = !hasShape;
    for (const std::string& inUse : {romDir, localGameDir}) {
        if (auto kept = ResolvedRoot(inUse))
            refused = refused || DepthInside(target, *kept) >= 0 || DepthInside(*kept, target) >= 0;
    }
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (ec || !fs::exists(status))
        return false; // already gone
    const bool expected =
        kind == EarlierItem::GameFolder ? fs::is_directory(status) : fs::is_regular_file(status);
    if (refused || !expected) {
        platform::TraceF("library: %s is not where the library keeps that game; kept", text.c_str());
        return false;
    }
    if (kind == EarlierItem::GameFile)
        return TrashLocalGameFile(text, target, trashError);
    const std::uintmax_t removed = fs::remove_all(target, ec);
    if (ec)
        platform::TraceF("library: %s cannot be deleted: %s", text.c_str(), ec.message().c_str());
    return removed > 0 && removed != static_cast<std::uintmax_t>(-1);
}

} // namespace

bool DeleteLocalGameFile(const std::string& path, const std::string& romDir, std::string* trashError)
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
    return TrashLocalGameFile(path, *target, trashError); // a link goes itself, never its target
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
    // folder in the very place the download engine gives that game goes.
    return DeleteFromEarlierLibrary(folder, *target,
                                    HasDownloadedGameShape(folder, *target, gameId, platform),
                                    EarlierItem::GameFolder, romDir, localGameDir);
}

bool DeleteLocalGame(const std::string& path, const std::string& platform, const std::string& romDir,
                     const std::string& localGameDir, std::string* trashError)
{
    auto target = ResolveParent(path);
    auto root = ResolvedRoot(romDir);
    if (!target || (root && DepthInside(*target, *root) >= 0))
        return DeleteLocalGameFile(path, romDir, trashError);

    // Outside the library folder in use: the file was found under an earlier one's local games, or
    // dropped from where the user keeps it. Only a plain file where the watcher finds games goes.
    return DeleteFromEarlierLibrary(path, *target, HasLocalGameShape(path, *target, platform),
                                    EarlierItem::GameFile, romDir, localGameDir, trashError);
}

std::string DownloadedGameFolder(const std::string& filePath)
{
    size_t slash = filePath.rfind('/');
    return slash == std::string::npos ? std::string() : filePath.substr(0, slash + 1);
}
