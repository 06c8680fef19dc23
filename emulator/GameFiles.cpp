#include "emulator/GameFiles.h"

#include "emulator/PlatformTable.h"
#include "foundation/FileSystem.h"
#include "foundation/StringHelpers.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr int kPcPlatform = 138;

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The native form of a narrow path of a record; empty when it is not valid text.
std::string Native(const std::string& ansi)
{
    try {
        return NativePath(ansi);
    } catch (const std::exception&) {
        return {};
    }
}

std::vector<std::string> Extensions(int typeId)
{
    const PlatformInfo* platform = FindPlatform(typeId);
    if (platform == nullptr || *platform->Extensions == '\0')
        return {};
    return SplitString(platform->Extensions, ",");
}

bool IsDiscPlatform(int typeId)
{
    return typeId == 119 || typeId == 129 || typeId == 133 || typeId == 140 || typeId == 142;
}

bool IsCartridgePlatform(int typeId)
{
    switch (typeId) {
    case 120:
    case 121:
    case 122:
    case 124:
    case 125:
    case 127:
    case 130:
    case 131:
    case 148:
        return true;
    default:
        return false;
    }
}

// `path` when something exists there; otherwise the entry of its folder whose name differs only in
// letter case (the first in folder order); empty when there is none.
std::string ExistingIgnoringCase(const std::string& path)
{
    std::error_code ec;
    if (path.empty())
        return {};
    if (fs::exists(path, ec))
        return path;
    size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string wanted = LowerAscii(path.substr(slash == std::string::npos ? 0 : slash + 1));
    if (wanted.empty())
        return {};
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (LowerAscii(it->path().filename().string()) == wanted)
            return it->path().string();
    }
    return {};
}

// A game id is one name inside the game's folder.
bool IsPlainName(const std::string& name)
{
    return !name.empty() && name.find_first_of("/\\") == std::string::npos && name != "." && name != "..";
}

// The files below `folder` whose names end with `extension` (letter case ignored), at most two.
std::vector<std::string> FilesWithExtension(const std::string& folder, const std::string& extension)
{
    std::vector<std::string> found;
    const std::string wanted = LowerAscii(extension);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end && found.size() < 2; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        std::string name = LowerAscii(it->path().filename().string());
        if (name.size() > wanted.size() &&
            name.compare(name.size() - wanted.size(), wanted.size(), wanted) == 0)
            found.push_back(it->path().string());
    }
    return found;
}

// The game's name for "~": the file name without its last extension.
std::string GameName(const std::string& gamePath)
{
    size_t slash = gamePath.rfind('/');
    std::string name = slash == std::string::npos ? gamePath : gamePath.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

// The file of a downloaded game, or empty when it is not found.
std::string LocateDownloadedGame(const GameinfoRecord& row, int typeId)
{
    const std::string folder = Native(row.FilePath);
    if (folder.empty())
        return {};
    if (typeId == kPcPlatform)
        return folder;
    if (typeId == 123 || typeId == 126 || typeId == 146) {
        const std::string name = Native(row.FileName);
        return IsPlainName(name) ? ExistingIgnoringCase(folder + name) : std::string();
    }
    const std::string gameId = Native(row.GameId);
    if (!IsPlainName(gameId))
        return {};
    if (!IsDiscPlatform(typeId) && !IsCartridgePlatform(typeId))
        return {};
    const std::vector<std::string> extensions = Extensions(typeId);
    for (const std::string& extension : extensions) {
        std::string found = ExistingIgnoringCase(folder + gameId + extension);
        if (!found.empty())
            return found;
    }
    if (!IsDiscPlatform(typeId))
        return {};
    for (const std::string& extension : extensions) {
        std::vector<std::string> files = FilesWithExtension(folder, extension);
        if (files.size() == 1)
            return files.front();
    }
    return {};
}

// The discs of a multi-disc game ("_A" to "_D"), in suffix order; a missing suffix adds nothing.
std::vector<std::string> CollectDiscs(const GameinfoRecord& row, int typeId)
{
    std::vector<std::string> discs;
    const std::string folder = Native(row.FilePath);
    const std::string gameId = Native(row.GameId);
    if (folder.empty() || !IsPlainName(gameId) || !IsDiscPlatform(typeId))
        return discs;
    const std::vector<std::string> extensions = Extensions(typeId);
    for (const char* suffix : {"_A", "_B", "_C", "_D"}) {
        for (const std::string& extension : extensions) {
            std::string found = ExistingIgnoringCase(folder + gameId + suffix + extension);
            if (!found.empty()) {
                discs.push_back(found);
                break;
            }
        }
    }
    return discs;
}

std::string QuoteGamePath(const std::string& path)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : path) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
            quoted += '"';
        } else {
            quoted.append(backslashes, '\\');
            quoted += c;
        }
        backslashes = 0;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string BuildLaunchParameters(const std::string& executeParam, const std::string& gamePath)
{
    const std::string quoted = QuoteGamePath(gamePath);
    if (executeParam.empty())
        return quoted;
    std::string params = executeParam;
    if (size_t tilde = params.find('~'); tilde != std::string::npos)
        return params.replace(tilde, 1, GameName(gamePath));
    if (size_t at = params.find('@'); at != std::string::npos)
        return params.replace(at, 1, quoted);
    return params + quoted;
}
