#include "emulator/GameFiles.h"

#include "emulator/PlatformTable.h"
#include "foundation/FileSystem.h"
#include "foundation/StringHelpers.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kPcPlatform = 138;
// A chunk of a ROM copy: about what a disk writes in a few milliseconds, so a stop is seen at once.
constexpr size_t kCopyChunk = 1u << 20;

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

// `text` written for the inside of a quoted part, as platform::SplitCommandLine reads one: each quote
// escaped, the backslashes before it doubled, and the backslashes at its end doubled when a quote
// (after any backslashes of its own) comes next, so that they are not taken as that quote's escape.
std::string EscapeInQuotes(const std::string& text, bool quoteFollows)
{
    std::string escaped;
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            escaped.append(backslashes * 2 + 1, '\\');
            escaped += '"';
        } else {
            escaped.append(backslashes, '\\');
            escaped += c;
        }
        backslashes = 0;
    }
    escaped.append(quoteFollows ? backslashes * 2 : backslashes, '\\');
    return escaped;
}

// Whether `text` begins with a quote, after any backslashes.
bool QuoteFollows(std::string_view text)
{
    const size_t first = text.find_first_not_of('\\');
    return first != std::string_view::npos && text[first] == '"';
}

// Whether the character at `pos` of a parameter text lies inside a quoted part, reading the text up
// to it as platform::SplitCommandLine does.
bool InsideQuotesAt(std::string_view params, size_t pos)
{
    bool quoted = false;
    for (size_t i = 0; i < pos; ++i) {
        if (params[i] == '\\') {
            size_t end = params.find_first_not_of('\\', i);
            if (end == std::string_view::npos || end >= pos)
                break;
            // An odd run escapes the quote after it; an even run leaves it to be read below.
            i = params[end] == '"' && (end - i) % 2 == 1 ? end : end - 1;
            continue;
        }
        if (params[i] != '"')
            continue;
        if (quoted && i + 1 < pos && params[i + 1] == '"')
            ++i; // a doubled quote inside a quoted part is a literal quote
        else
            quoted = !quoted;
    }
    return quoted;
}

// The template `params` with its placeholder character at `pos` replaced by `text`, written so that
// the argument there holds `text` as it is, whatever blanks, quotes or backslashes it has: inside a
// quoted part of the template it is escaped; outside one it is quoted. A quote of the template right
// after the placeholder would open a quoted part; it is taken as the one the text opened instead,
// because closing a quoted part right before a quote would give a literal quote.
std::string PutArgumentText(const std::string& params, size_t pos, const std::string& text)
{
    const std::string head = params.substr(0, pos);
    std::string rest = params.substr(pos + 1);
    if (InsideQuotesAt(params, pos))
        return head + EscapeInQuotes(text, QuoteFollows(rest)) + rest;
    if (!rest.empty() && rest.front() == '"') {
        rest.erase(0, 1);
        return head + "\"" + EscapeInQuotes(text, QuoteFollows(rest)) + rest;
    }
    return head + "\"" + EscapeInQuotes(text, true) + "\"" + rest;
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
    return "\"" + EscapeInQuotes(path, true) + "\"";
}

std::string BuildLaunchParameters(const std::string& executeParam, const std::string& gamePath)
{
    if (executeParam.empty())
        return QuoteGamePath(gamePath);
    if (size_t tilde = executeParam.find('~'); tilde != std::string::npos)
        return PutArgumentText(executeParam, tilde, GameName(gamePath));
    if (size_t at = executeParam.find('@'); at != std::string::npos)
        return PutArgumentText(executeParam, at, gamePath);
    return executeParam + QuoteGamePath(gamePath);
}

bool StartsLikeAnOption(const std::string& gamePath)
{
    const size_t slash = gamePath.rfind('/');
    const std::string name = slash == std::string::npos ? gamePath : gamePath.substr(slash + 1);
    return !name.empty() && name.front() == '-';
}

bool CopyGameIntoRoms(const std::string& gamePath, const std::string& roms, const platform::Event& stop)
{
    const std::string target = roms + "/" + fs::path(gamePath).filename().string();
    std::error_code ec;
    if (fs::exists(target, ec))
        return true;
    std::error_code typeError;
    if (!fs::is_regular_file(gamePath, typeError))
        return false;
    fs::create_directories(roms, ec);
    const std::string partial = target + ".part" + std::to_string(::getpid());
    bool whole = false;
    {
        std::ifstream in(gamePath, std::ios::binary);
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        std::vector<char> chunk(kCopyChunk);
        while (in && out && !stop.IsSet()) {
            in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            out.write(chunk.data(), in.gcount());
        }
        whole = in.eof() && !in.bad() && out && !stop.IsSet();
        out.close();
        whole = whole && !out.fail();
    }
    const bool linked = whole && ::link(partial.c_str(), target.c_str()) == 0;
    fs::remove(partial, ec);
    return linked || fs::exists(target, ec);
}
