#include "platform/Paths.h"

#include "platform/Trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {
namespace {

std::string WithSeparator(std::string path)
{
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

// The XDG variable's value when it is an absolute path, else `home` + `fallback`.
std::string XdgFolder(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/')
        return WithSeparator(value);
    return HomeFolder() + fallback;
}

} // namespace

std::string ProgramFolder()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return WithSeparator(fs::current_path(ec).string());
    return WithSeparator(exe.parent_path().string());
}

std::string TempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return WithSeparator(tmp && *tmp ? tmp : "/tmp");
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return WithSeparator(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return WithSeparator(pw->pw_dir);
    return "/";
}

std::string XdgConfigHome()
{
    return XdgFolder("XDG_CONFIG_HOME", ".config/");
}

std::string XdgDataHome()
{
    return XdgFolder("XDG_DATA_HOME", ".local/share/");
}

std::string XdgCacheHome()
{
    return XdgFolder("XDG_CACHE_HOME", ".cache/");
}

FolderEnvironment CurrentFolderEnvironment(const std::string& programFolder)
{
    FolderEnvironment environment;
    environment.configHome = XdgConfigHome();
    environment.dataHome = XdgDataHome();
    environment.cacheHome = XdgCacheHome();
    environment.tempFolder = TempFolder();
    const char* readOnly = std::getenv("QUOKKA_TEST_READONLY_PROGRAM_FOLDER");
    environment.programFolderWritable = !(readOnly != nullptr && *readOnly != '\0') &&
                                        ::faccessat(AT_FDCWD, programFolder.c_str(), W_OK, AT_EACCESS) == 0;
    return environment;
}

ProgramFolders DecideProgramFolders(const std::string& programFolder, const FolderEnvironment& environment)
{
    ProgramFolders folders;
    folders.programFolder = WithSeparator(programFolder);
    if (environment.programFolderWritable) {
        folders.mode = FolderMode::Portable;
        folders.configFolder = folders.programFolder;
        folders.dataFolder = folders.programFolder;
        folders.workFolder = WithSeparator(environment.tempFolder) + "QuokkaAppStore/";
        folders.serversFile = folders.programFolder + "servers.cfg";
        return folders;
    }
    struct stat info;
    if (::lstat((folders.programFolder + kPortableMarker).c_str(), &info) == 0) {
        folders.mode = FolderMode::Refused;
        return folders;
    }
    folders.mode = FolderMode::Installed;
    folders.configFolder = WithSeparator(environment.configHome) + "quokka/";
    folders.dataFolder = WithSeparator(environment.dataHome) + "quokka/";
    folders.workFolder = WithSeparator(environment.cacheHome) + "quokka/";
    // A servers.cfg placed beside the program by whoever installed it wins over the system's.
    const std::string beside = folders.programFolder + "servers.cfg";
    folders.serversFile = ::lstat(beside.c_str(), &info) == 0
                              ? beside
                              : WithSeparator(environment.systemConfigFolder) + "servers.cfg";
    return folders;
}

std::string DocumentsFolder()
{
    std::string home = HomeFolder();
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string dirsFile =
        (configHome && *configHome ? WithSeparator(configHome) : home + ".config/") + "user-dirs.dirs";
    std::ifstream in(dirsFile);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(value.size() > 5 && value[5] == '/' ? 6 : 5);
        if (!value.empty() && value.front() == '/')
            return WithSeparator(value);
    }
    return home + "Documents/";
}

std::string RuntimeFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && IsPrivateFolder(runtime))
        return WithSeparator(runtime);
    const std::string name = "quokka-" + std::to_string(::geteuid());
    return PrivateFolder("/tmp/", name, name + "-");
}

bool IsPrivateFolder(const std::string& path)
{
    struct stat info;
    std::string bare = path;
    while (bare.size() > 1 && bare.back() == '/')
        bare.pop_back();
    return ::lstat(bare.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 077) == 0;
}

std::string PrivateFolder(const std::string& parent, const std::string& name,
                          const std::string& fallbackPrefix)
{
    const std::string base = WithSeparator(parent);
    const std::string preferred = base + name;
    if (::mkdir(preferred.c_str(), 0700) == 0 || errno == EEXIST) {
        if (IsPrivateFolder(preferred))
            return preferred + "/";
    }
    Trace("private folder: " + preferred + " is not a private folder of this user; using another");

    std::vector<std::string> earlier;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(base, ec)) {
        std::string entryName = entry.path().filename().string();
        if (entryName.size() == fallbackPrefix.size() + 6 && entryName.rfind(fallbackPrefix, 0) == 0)
            earlier.push_back(entryName);
    }
    std::sort(earlier.begin(), earlier.end());
    for (const std::string& entryName : earlier) {
        if (IsPrivateFolder(base + entryName))
            return base + entryName + "/";
    }
    std::string made = base + fallbackPrefix + "XXXXXX";
    if (::mkdtemp(made.data()) == nullptr) {
        TraceF("private folder: cannot make one in %s (errno %d)", base.c_str(), errno);
        return "";
    }
    Trace("private folder: made " + made);
    return made + "/";
}

std::optional<std::string> FindNoCase(const std::string& folder, const std::string& name)
{
    std::string base = WithSeparator(folder);
    std::error_code ec;
    if (fs::exists(base + name, ec))
        return base + name;
    for (const auto& entry : fs::directory_iterator(base, ec)) {
        std::string candidate = entry.path().filename().string();
        if (strcasecmp(candidate.c_str(), name.c_str()) == 0)
            return base + candidate;
    }
    return std::nullopt;
}

bool ExistsNoCase(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos)
        return FindNoCase(".", trimmed).has_value();
    return FindNoCase(trimmed.substr(0, slash + 1), trimmed.substr(slash + 1)).has_value();
}

} // namespace platform
