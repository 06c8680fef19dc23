#include "maintenance/SystemSetActions.h"

#include "emulator/EmulatorManager.h"
#include "maintenance/UpdateHandOff.h"
#include "platform/Paths.h"
#include "platform/Trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string WithSeparator(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

std::string FileNameOf(const std::string& path)
{
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The desktop entry's quoting of one argument, then its string escaping: '"', '`', '$' and '\\'
// get a backslash inside the quotes, '%' doubles (a field code otherwise), and the backslashes of
// the result are escaped again as a string value's are, with line breaks and tabs as escapes.
std::string QuoteExecArgument(const std::string& argument)
{
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool WriteWhole(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out << text;
        out.flush();
        if (!out) {
            out.close();
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string ReadLink(const std::string& path)
{
    std::vector<char> buffer(4096);
    ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size())
        return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::vector<std::string> CommandLineOf(const std::string& procFolder)
{
    std::ifstream in(procFolder + "cmdline", std::ios::binary);
    std::vector<std::string> argv;
    std::string argument;
    while (std::getline(in, argument, '\0'))
        argv.push_back(argument);
    return argv;
}

bool IsShell(const std::string& fileName)
{
    return fileName == "sh" || fileName == "dash" || fileName == "bash";
}

} // namespace

bool IsDriveRoot(const std::string& folder)
{
    const std::string withSeparator = WithSeparator(folder);
    if (withSeparator == "/" || withSeparator == WithSeparator(platform::HomeFolder()))
        return true;
    struct stat self {};
    struct stat parent {};
    if (::stat(withSeparator.c_str(), &self) != 0 || ::stat((withSeparator + "..").c_str(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev;
}

bool IsWritableFolder(const std::string& folder)
{
    std::string probe = WithSeparator(folder) + ".quokka-write-XXXXXX";
    int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::optional<std::string> PrepareLibraryFolder(const std::string& picked)
{
    if (picked.empty())
        return std::nullopt;
    std::string folder = WithSeparator(picked);
    if (IsDriveRoot(folder))
        folder += "Games/";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec) || !IsWritableFolder(folder)) {
        platform::TraceF("settings: the library folder %s cannot be written", folder.c_str());
        return std::nullopt;
    }
    return folder;
}

std::string AutostartEntryPath()
{
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base =
        configHome && *configHome == '/' ? WithSeparator(configHome) : platform::HomeFolder() + ".config/";
    return base + "autostart/QuokkaApp.desktop";
}

std::string AutostartEntryText(const std::string& exePath)
{
    return "[Desktop Entry]\nType=Application\nName=Quokka模拟器\nExec=" + QuoteExecArgument(exePath) +
           "\nTerminal=false\n";
}

void ApplyAutostart(bool enabled)
{
    const std::string path = AutostartEntryPath();
    if (!enabled) {
        ::unlink(path.c_str());
        return;
    }
    const std::string exe = RunningExecutable();
    if (exe.empty())
        return;
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (!WriteWhole(path, AutostartEntryText(exe)))
        platform::TraceF("settings: cannot write %s", path.c_str());
}

bool IsProgramRunning(const std::string& fileName)
{
    if (fileName.empty())
        return false;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return false;
    bool found = false;
    while (!found) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr)
            break;
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string folder = "/proc/" + pid + "/";
        const std::string exeName = FileNameOf(ReadLink(folder + "exe"));
        if (exeName == fileName) {
            found = true;
            break;
        }
        // A script started through /bin/sh: the shell's first argument that is not an option.
        const std::vector<std::string> argv = CommandLineOf(folder);
        if (argv.empty() || !(IsShell(exeName) || IsShell(FileNameOf(argv.front()))))
            continue;
        for (size_t i = 1; i < argv.size(); ++i) {
            if (!argv[i].empty() && argv[i].front() == '-')
                continue;
            found = FileNameOf(argv[i]) == fileName;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

bool IsProcessInFolder(const std::string& folder)
{
    std::error_code ec;
    const fs::path wanted = fs::canonical(folder, ec);
    if (ec || folder.empty())
        return false;
    const std::string inside = WithSeparator(wanted.string());
    const std::string self = std::to_string(::getpid());
    bool found = false;
    for (fs::directory_iterator it("/proc", ec), end; !found && !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() || pid == self || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string cwd = ReadLink("/proc/" + pid + "/cwd");
        found = !cwd.empty() && (cwd == wanted.string() || cwd.rfind(inside, 0) == 0);
    }
    return found;
}

bool IsEmulatorRunning(const EmulatorRecord& record)
{
    if (record.Execute.empty())
        return false;
    if (IsProgramRunning(FileNameOf(record.Execute.front())))
        return true;
    // A launcher that replaces itself with the emulator (exec) leaves no process of its own name;
    // the emulator it became still runs in the emulator's folder, where it was started.
    return IsProcessInFolder(EmulatorManager::EmulatorDirectory(record));
}
