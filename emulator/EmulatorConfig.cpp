#include "emulator/EmulatorConfig.h"

#include "controller/ControllerDetection.h"
#include "emulator/EmulatorManager.h"
#include "emulator/FcEmulatorConfig.h"
#include "foundation/FileSystem.h"
#include "foundation/IniFile.h"
#include "foundation/StringConv.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace emulator_config {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFcEmulator = "1250001";
constexpr const char* kN64Emulator = "1300001";
constexpr const char* kMdEmulator = "1220001";

// Configuration files are small; anything larger is not one and is not copied.
constexpr size_t kMaxCopyBytes = 256u << 20;
// Folders of defaults being copied in are built under this name first, then renamed into place.
constexpr const char* kNewFolderSuffix = ".quokka-new";

std::mutex g_documentsMutex;
std::string g_documentsFolder;

// `path` with links resolved as far as it exists and no separator at its end but for "/".
std::string Normalised(const std::string& path)
{
    std::error_code ec;
    std::string normal = fs::weakly_canonical(fs::path(path), ec).string();
    if (ec)
        normal = fs::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// Whether `folder` is the home folder or one above it.
bool HoldsHomeFolder(const std::string& folder, const std::string& home)
{
    const std::string outer = Normalised(folder);
    const std::string inner = Normalised(home);
    return outer == "/" || inner == outer || inner.rfind(outer + "/", 0) == 0;
}

// The folder "$" stands for, ending with '/'. A Documents folder that is the home folder itself (or
// one above it, as a desktop without a Documents folder may name it) would let a name after "$" reach
// the desktop's own files ("$/.config/autostart/..."): "Documents" inside the home folder is used
// then.
std::string DocumentsFolder()
{
    std::string folder;
    {
        std::lock_guard lock(g_documentsMutex);
        folder = g_documentsFolder;
    }
    if (folder.empty())
        folder = platform::DocumentsFolder();
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    const std::string home = platform::HomeFolder();
    if (folder.empty() || HoldsHomeFolder(folder, home))
        folder = home + "Documents/";
    return folder;
}

// Whether the text after a "$" names a file inside a folder of its own in the Documents folder
// ("Emu/keys.cfg", not "keys.cfg", which would be one of the user's documents): a plain relative name
// of at least two parts, none empty, "." or "..", the first not hidden (".config", ".local" are the
// desktop's and other programs' files, not documents).
bool IsPlainDocumentsName(const std::string& relative)
{
    size_t start = 0;
    for (int parts = 1;; ++parts) {
        const size_t end = std::min(relative.find_first_of("/\\", start), relative.size());
        const std::string_view part(relative.data() + start, end - start);
        if (part.empty() || part == "." || part == ".." || (parts == 1 && part.front() == '.'))
            return false;
        if (end == relative.size())
            return parts >= 2;
        start = end + 1;
    }
}

// The native (UTF-8) form of a narrow text, or nullopt when it is not valid in the code page.
std::optional<std::string> Native(const std::string& ansi)
{
    try {
        return NativePath(ansi);
    } catch (const std::exception&) {
        platform::TraceF("emulator config: a name that is not valid text was skipped");
        return std::nullopt;
    }
}

// The emulator's folder in native form, ending with '/'; empty when it has none.
std::string EmulatorFolder(const EmulatorRecord& record)
{
    std::string folder = EmulatorManager::EmulatorDirectory(record);
    if (folder.empty())
        return {};
    auto native = Native(folder);
    return native ? *native + "/" : std::string();
}

const char* UserFolderName(int controlMethod)
{
    return controlMethod == 1 ? "UserGamePadCfg" : controlMethod == 2 ? "UserKeyBoardCfg" : nullptr;
}

const char* DefaultFolderName(int controlMethod)
{
    return controlMethod == 1 ? "GamePadCfg" : controlMethod == 2 ? "KeyBoardCfg" : nullptr;
}

// The game's name for "~": the game path's text after its last separator, cut at its last '.'.
std::string GameName(const std::string& gamePath)
{
    size_t slash = gamePath.find_last_of("/\\");
    std::string name = slash == std::string::npos ? gamePath : gamePath.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.resize(dot);
    return name;
}

// The file that a configuration name stands for inside `base` (native, ending with '/'), with "$"
// and "~" expanded. nullopt, with a trace, when the name would leave its base folder.
std::optional<std::string> Resolve(const std::string& base, const std::string& name,
                                   const std::string& gameName)
{
    auto native = Native(name);
    if (!native)
        return std::nullopt;
    std::string folder = base;
    std::string relative = *native;
    if (size_t dollar = relative.find('$'); dollar != std::string::npos) {
        folder = DocumentsFolder();
        relative.erase(0, dollar + 1);
        // "$" stands for the folder without its separator: one separator follows it.
        if (!relative.empty() && (relative.front() == '/' || relative.front() == '\\'))
            relative.erase(0, 1);
        if (!IsPlainDocumentsName(relative)) {
            platform::TraceF("emulator config: \"%s\" is no plain name in the Documents folder, skipped",
                             name.c_str());
            return std::nullopt;
        }
    } else if (size_t tilde = relative.find('~'); tilde != std::string::npos) {
        relative.replace(tilde, 1, gameName);
    }
    std::string joined;
    if (folder.empty() || !JoinInsideFolder(folder, relative, joined)) {
        platform::TraceF("emulator config: \"%s\" leaves its folder, skipped", name.c_str());
        return std::nullopt;
    }
    return joined;
}

// Closes a descriptor when it goes.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : m_fd(fd) {}
    ScopedFd(ScopedFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    ~ScopedFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// The whole of a regular file of at most kMaxCopyBytes. A fifo or device is refused without being
// waited on.
bool ReadWhole(const std::string& path, std::string& bytes)
{
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0)
        return false;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<size_t>(info.st_size) > kMaxCopyBytes)
        return false;
    bytes.clear();
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || bytes.size() + static_cast<size_t>(got) > kMaxCopyBytes)
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

bool IsRegularFile(const std::string& path)
{
    std::error_code ec;
    return fs::is_regular_file(fs::path(path), ec);
}

// Writes `bytes` to `path` through a temporary file beside it that is renamed over it, without
// flushing it to the disk. False, with `path` untouched and no temporary file left, on failure.
bool WriteFileUnflushed(const std::string& path, const std::string& bytes)
{
    std::string temporary = path + ".tmp-XXXXXX";
    ScopedFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        return false;
    bool written = ::fchmod(fd.Get(), 0644) == 0;
    for (size_t done = 0; written && done < bytes.size();) {
        ssize_t wrote = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        written = wrote > 0;
        if (written)
            done += static_cast<size_t>(wrote);
    }
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Copies one configuration file, tracing a failure: flushed before its rename, or, with `pending`,
// renamed at once and added to it.
void CopyEntry(const std::string& source, const std::string& target, PendingWrites* pending = nullptr)
{
    bool copied = false;
    if (pending == nullptr) {
        copied = CopyFileWhole(source, target);
    } else {
        std::string bytes;
        if (ReadWhole(source, bytes)) {
            EnsureDirectoryTree(target);
            copied = WriteFileUnflushed(target, bytes);
        }
        if (copied)
            pending->Add(target);
    }
    if (!copied)
        platform::TraceF("emulator config: %s not copied to %s", source.c_str(), target.c_str());
}

// Adds up the sizes of the regular files below `folder`; links are not followed.
uintmax_t TotalSize(const std::string& folder)
{
    std::error_code ec;
    uintmax_t total = 0;
    fs::recursive_directory_iterator it(fs::path(folder), fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code statError;
        if (it->is_regular_file(statError) && !it->is_symlink(statError)) {
            uintmax_t size = it->file_size(statError);
            if (!statError)
                total += size;
        }
    }
    return total;
}

// Copies the folder `from` into `to` (made here), folders and regular files; links and other kinds
// are left out. Single failures are traced and skipped. The files are added to `pending`.
void CopyTree(const fs::path& from, const fs::path& to, PendingWrites& pending)
{
    std::error_code ec;
    fs::create_directories(to, ec);
    fs::directory_iterator it(from, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code statError;
        fs::file_status status = it->symlink_status(statError);
        if (statError)
            continue;
        fs::path target = to / it->path().filename();
        if (fs::is_directory(status))
            CopyTree(it->path(), target, pending);
        else if (fs::is_regular_file(status))
            CopyEntry(it->path().string(), target.string(), &pending);
    }
}

std::optional<std::u16string> KeyPath(const std::string& target)
{
    try {
        std::u16string key = AnsiToUtf16(target);
        if (!key.empty())
            return key;
    } catch (const std::exception&) {
    }
    platform::TraceF("emulator config: registry key \"%s\" skipped", target.c_str());
    return std::nullopt;
}

enum class Direction { BeforeLaunch, AfterExit };

// One entry of either list, both ways.
void TransferEntry(Direction direction, bool registry, const std::string& emulatorFolder,
                   const std::string& userFolder, const std::string& source, const std::string& defaultSource,
                   const std::string& target, const std::string& gameName, PendingWrites* pending)
{
    auto userFile = Resolve(userFolder, source, gameName);
    if (!userFile)
        return;
    if (registry) {
        auto key = KeyPath(target);
        if (!key)
            return;
        std::string error;
        // Made for each use: the registry's folder is the one the environment names now.
        platform::Registry registry;
        if (direction == Direction::BeforeLaunch) {
            platform::EnsureWindowsFolder();
            if (!registry.ImportFile(*userFile, &error))
                platform::TraceF("emulator config: registry import: %s", error.c_str());
        } else {
            EnsureDirectoryTree(*userFile);
            if (!registry.ExportFile(*userFile, *key, &error))
                platform::TraceF("emulator config: registry export: %s", error.c_str());
        }
        return;
    }
    auto emulatorFile = Resolve(emulatorFolder, target, gameName);
    if (!emulatorFile)
        return;
    if (direction == Direction::AfterExit) {
        CopyEntry(*emulatorFile, *userFile);
        return;
    }
    std::string from = *userFile;
    if (!defaultSource.empty() && !IsRegularFile(from)) {
        auto fallback = Resolve(userFolder, defaultSource, gameName);
        if (!fallback)
            return;
        from = *fallback;
    }
    CopyEntry(from, *emulatorFile, pending);
}

// `pending` is given for the way in only: the way back writes the user's data, each file flushed.
void Transfer(Direction direction, const EmulatorRecord& record, int controlMethod,
              const std::string& gamePath, PendingWrites* pending)
{
    const bool registry = record.Configtype == "1";
    if (!registry && record.Configtype != "0")
        return;
    std::string emulatorFolder = EmulatorFolder(record);
    std::string userFolder = UserDirectory(record, controlMethod);
    if (emulatorFolder.empty() || userFolder.empty())
        return;
    std::string gameName;
    if (auto nativeGame = Native(gamePath))
        gameName = GameName(*nativeGame);
    for (const KeyConfigEntry& entry : record.KeyConfig)
        TransferEntry(direction, registry, emulatorFolder, userFolder, entry.Source,
                      direction == Direction::BeforeLaunch ? entry.DefaultSource : std::string(),
                      entry.Target, gameName, pending);
    for (const SetConfigEntry& entry : record.SetConfig)
        TransferEntry(direction, registry, emulatorFolder, userFolder, entry.Source, {}, entry.Target,
                      gameName, pending);
}

void WriteN64(const std::string& file, const CControllerDetection& pads)
{
    const size_t count = pads.Devices().size();
    if (count == 0 || count > 2)
        return;
    for (size_t i = 0; i < count; ++i) {
        std::string section = "DirectInput-Controller " + std::to_string(i);
        if (!IniFile::WriteString(file, section, "GUID", pads.GuidText(static_cast<int>(i))))
            platform::TraceF("emulator config: cannot write %s", file.c_str());
    }
}

void WriteMd(const std::string& file, const CControllerDetection& pads)
{
    const size_t count = pads.Devices().size();
    if (count == 0 || count > 2)
        return;
    std::vector<std::pair<std::string, std::string>> entries{{"Joystick1Using", "2"}};
    if (count == 2)
        entries.emplace_back("Joystick2Using", "3");
    if (!IniFile::WriteStrings(file, "", entries))
        platform::TraceF("emulator config: cannot write %s", file.c_str());
}

} // namespace

void PendingWrites::Add(std::string path)
{
    if (std::find(m_paths.begin(), m_paths.end(), path) == m_paths.end())
        m_paths.push_back(std::move(path));
}

bool PendingWrites::Flush()
{
    // Writeback of every file of a group is started before the first wait, so the waits overlap:
    // once the first file's flush has committed the file system's journal, the others' are mostly
    // done. Groups keep the number of open files small.
    constexpr size_t kGroup = 64;
    bool flushed = true;
    for (size_t first = 0; first < m_paths.size(); first += kGroup) {
        const size_t end = std::min(m_paths.size(), first + kGroup);
        std::vector<ScopedFd> files;
        files.reserve(end - first);
        for (size_t i = first; i < end; ++i) {
            files.emplace_back(::open(m_paths[i].c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
            if (files.back().Get() >= 0)
                ::sync_file_range(files.back().Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        }
        for (size_t i = first; i < end; ++i) {
            const int fd = files[i - first].Get();
            if (fd < 0 || ::fsync(fd) != 0) {
                platform::TraceF("emulator config: %s not flushed", m_paths[i].c_str());
                flushed = false;
            }
        }
    }
    m_paths.clear();
    return flushed;
}

void SetDocumentsFolder(const std::string& folder)
{
    std::lock_guard lock(g_documentsMutex);
    g_documentsFolder = folder;
}

std::string UserDirectory(const EmulatorRecord& record, int controlMethod)
{
    const char* name = UserFolderName(controlMethod);
    std::string folder = EmulatorFolder(record);
    if (name == nullptr || folder.empty())
        return {};
    return folder + name + "/";
}

bool CopyFileWhole(const std::string& source, const std::string& target)
{
    std::string bytes;
    if (!ReadWhole(source, bytes))
        return false;
    EnsureDirectoryTree(target);
    return platform::WriteFileWhole(target, bytes);
}

void EnsureUserDirectory(const EmulatorRecord& record, int controlMethod)
{
    std::string userFolder = UserDirectory(record, controlMethod);
    if (userFolder.empty() || TotalSize(userFolder) != 0)
        return;
    const fs::path user = fs::path(userFolder).parent_path();
    const fs::path defaults = user.parent_path() / DefaultFolderName(controlMethod);
    std::error_code ec;
    if (!fs::is_directory(defaults, ec)) {
        platform::TraceF("emulator config: no defaults in %s", defaults.c_str());
        return;
    }
    // The copy is built beside the user folder and renamed into place, so a copy cut short by a
    // crash never passes for a user folder that holds bytes.
    fs::path fresh = user;
    fresh += kNewFolderSuffix;
    fs::remove_all(fresh, ec);
    PendingWrites copied;
    CopyTree(defaults, fresh, copied);
    copied.Flush();
    fs::remove_all(user, ec);
    fs::rename(fresh, user, ec);
    if (ec) {
        platform::TraceF("emulator config: cannot make %s: %s", user.c_str(), ec.message().c_str());
        fs::remove_all(fresh, ec);
    }
}

void TransferBeforeLaunch(const EmulatorRecord& record, int controlMethod, const std::string& gamePath)
{
    PendingWrites pending;
    TransferBeforeLaunch(record, controlMethod, gamePath, pending);
    pending.Flush();
}

void TransferBeforeLaunch(const EmulatorRecord& record, int controlMethod, const std::string& gamePath,
                          PendingWrites& pending)
{
    Transfer(Direction::BeforeLaunch, record, controlMethod, gamePath, &pending);
}

void TransferAfterExit(const EmulatorRecord& record, int controlMethod, const std::string& gamePath)
{
    Transfer(Direction::AfterExit, record, controlMethod, gamePath, nullptr);
}

void RestoreDefaults(const EmulatorRecord& record, int controlMethod)
{
    std::string userFolder = UserDirectory(record, controlMethod);
    if (userFolder.empty())
        return;
    std::error_code ec;
    fs::remove_all(fs::path(userFolder).parent_path(), ec);
    if (ec)
        platform::TraceF("emulator config: cannot remove %s: %s", userFolder.c_str(), ec.message().c_str());
}

void WriteControllers(const EmulatorRecord& record)
{
    WriteControllers(record, {});
}

void WriteControllers(const EmulatorRecord& record, const std::string& gamePath, PendingWrites* pending)
{
    const bool fc = record.EmulatorId == kFcEmulator;
    const bool n64 = record.EmulatorId == kN64Emulator;
    const bool md = record.EmulatorId == kMdEmulator;
    if ((!fc && !n64 && !md) || record.KeyConfig.empty())
        return;
    std::string folder = EmulatorFolder(record);
    if (folder.empty())
        return;
    std::string gameName;
    if (auto nativeGame = Native(gamePath))
        gameName = GameName(*nativeGame);
    auto file = Resolve(folder, record.KeyConfig.front().Target, gameName);
    if (!file)
        return;

    CControllerDetection pads(true);
    pads.Enumerate();
    if (fc) {
        if (!CFcEmulatorConfig::WriteControllers(*file, pads.InstanceGuids())) {
            platform::TraceF("emulator config: cannot write %s", file->c_str());
        } else if (pending != nullptr) {
            pending->Add(*file);
        } else {
            PendingWrites written;
            written.Add(*file);
            written.Flush();
        }
    } else if (n64) {
        WriteN64(*file, pads);
    } else {
        WriteMd(*file, pads);
    }
}

} // namespace emulator_config
