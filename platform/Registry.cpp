#include "platform/Registry.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr const char* kRegistryFileName = "registry.reg";
constexpr const char* kLockFileName = "registry.lock";
constexpr const char* kTempSuffix = ".tmp-";

// An exclusive flock on a lock file, held for the object's life. flock locks belong to the open file,
// so two threads of one process, each with its own lock object, exclude each other too.
class FileLock {
public:
    explicit FileLock(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing the file releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

enum class ReadResult { Ok, Missing, TooLarge, Failed };

ReadResult ReadBounded(const std::string& path, std::string& out)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat info = {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return ReadResult::Failed;
    if (static_cast<uint64_t>(info.st_size) > kMaxRegFileBytes)
        return ReadResult::TooLarge;
    out.clear();
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return ReadResult::Failed;
        if (got == 0)
            return ReadResult::Ok;
        out.append(buffer, static_cast<size_t>(got));
        if (out.size() > kMaxRegFileBytes)
            return ReadResult::TooLarge;
    }
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

bool WriteFileWholeWithMode(const std::string& path, std::string_view bytes, mode_t mode)
{
    std::string temp = path + kTempSuffix + "XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        return false;
    bool ok = ::fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
    int closeResult = ::close(fd.Release());
    if (!ok || closeResult != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    return true;
}

std::string ErrnoText()
{
    return std::error_code(errno, std::generic_category()).message();
}

bool ValidValueName(std::u16string_view name)
{
    return name.size() <= kMaxValueNameLength && IsStorableName(name);
}

// The full path of the key at `keyPath` as the tree spells it; the key must exist.
std::u16string StoredPath(const RegistryTree& tree, std::u16string_view keyPath)
{
    auto parts = RegistryTree::SplitPath(keyPath);
    std::u16string path((*parts)[0]);
    const RegistryKey* key = tree.Find((*parts)[0]);
    for (size_t i = 1; i < parts->size(); ++i) {
        key = key->FindSubkey((*parts)[i]);
        path += u"\\" + key->Name();
    }
    return path;
}

} // namespace

std::string WindowsFolder()
{
    // The registry belongs to the user, not to a program folder: portable copies share it, and it
    // lies in the installed mode's data folder.
    return XdgDataHome() + "quokka/windows/";
}

std::string SystemFolder()
{
    return WindowsFolder() + "system32/";
}

bool EnsureWindowsFolder()
{
    std::error_code error;
    std::filesystem::create_directories(SystemFolder(), error);
    return std::filesystem::is_directory(SystemFolder(), error);
}

bool WriteFileWhole(const std::string& path, std::string_view bytes)
{
    return WriteFileWholeWithMode(path, bytes, 0644);
}

Registry::Registry(std::string folder) : m_folder(std::move(folder))
{
    if (m_folder.empty())
        m_folder = "./";
    if (m_folder.back() != '/')
        m_folder.push_back('/');
}

std::string Registry::FilePath() const
{
    return m_folder + kRegistryFileName;
}

std::string Registry::LockPath() const
{
    return m_folder + kLockFileName;
}

std::optional<RegistryTree> Registry::Load(std::string* error) const
{
    auto fail = [&](const std::string& message) -> std::optional<RegistryTree> {
        if (error)
            *error = FilePath() + ": " + message;
        return std::nullopt;
    };
    std::string bytes;
    switch (ReadBounded(FilePath(), bytes)) {
    case ReadResult::Missing:
        return RegistryTree();
    case ReadResult::TooLarge:
        return fail("larger than " + std::to_string(kMaxRegFileBytes) + " bytes");
    case ReadResult::Failed:
        return fail(ErrnoText());
    case ReadResult::Ok:
        break;
    }
    RegistryTree tree;
    if (auto parseError = ApplyRegFile(bytes, tree))
        return fail(DescribeRegFileError(*parseError));
    return tree;
}

std::optional<std::vector<std::u16string>> Registry::SubkeyNames(std::u16string_view keyPath, RegView) const
{
    auto tree = Load();
    const RegistryKey* key = tree ? tree->Find(keyPath) : nullptr;
    if (!key)
        return std::nullopt;
    std::vector<std::u16string> names;
    for (const RegistryKey* subkey : key->SortedSubkeys())
        names.push_back(subkey->Name());
    return names;
}

std::optional<RegValue> Registry::QueryValue(std::u16string_view keyPath, std::u16string_view valueName,
                                             RegView) const
{
    auto tree = Load();
    const RegistryKey* key = tree ? tree->Find(keyPath) : nullptr;
    const RegValue* value = key ? key->FindValue(valueName) : nullptr;
    if (!value)
        return std::nullopt;
    return *value;
}

std::optional<std::u16string> Registry::QueryString(std::u16string_view keyPath,
                                                    std::u16string_view valueName, RegView view) const
{
    auto value = QueryValue(keyPath, valueName, view);
    if (!value || (value->Type != kRegSz && value->Type != kRegExpandSz))
        return std::nullopt;
    std::u16string text;
    for (size_t i = 0; i + 1 < value->Data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(value->Data[i] | (value->Data[i + 1] << 8));
        if (c == 0)
            break;
        text.push_back(c);
    }
    return text;
}

bool Registry::Modify(const std::function<bool(RegistryTree&)>& change, std::string* error)
{
    auto fail = [&](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };
    std::error_code ec;
    std::filesystem::create_directories(m_folder + "system32", ec);
    FileLock lock(LockPath());
    if (!lock.Held())
        return fail(LockPath() + ": " + ErrnoText());

    // Temporary files left by a writer that was killed; no writer runs while the lock is held.
    const std::string tempPrefix = std::string(kRegistryFileName) + kTempSuffix;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, ec)) {
        if (entry.path().filename().string().starts_with(tempPrefix))
            std::filesystem::remove(entry.path(), ec);
    }

    auto tree = Load(error);
    if (!tree)
        return false;
    if (!change(*tree))
        return false;
    std::string bytes = ExportRegTree(*tree);
    if (bytes.size() > kMaxRegFileBytes)
        return fail("the registry would grow past " + std::to_string(kMaxRegFileBytes) + " bytes");
    if (!WriteFileWholeWithMode(FilePath(), bytes, 0600))
        return fail(FilePath() + ": " + ErrnoText());
    return true;
}

bool Registry::CreateKey(std::u16string_view keyPath)
{
    return Modify([&](RegistryTree& tree) { return tree.Create(keyPath) != nullptr; });
}

bool Registry::DeleteKey(std::u16string_view keyPath)
{
    return Modify([&](RegistryTree& tree) { return tree.Delete(keyPath); });
}

bool Registry::SetValue(std::u16string_view keyPath, std::u16string_view valueName, uint32_t type,
                        std::vector<uint8_t> data)
{
    if (!ValidValueName(valueName))
        return false;
    return Modify([&](RegistryTree& tree) {
        RegistryKey* key = tree.Create(keyPath);
        if (!key)
            return false;
        return key->SetValue(valueName, type, std::move(data));
    });
}

bool Registry::SetString(std::u16string_view keyPath, std::u16string_view valueName, std::u16string_view text)
{
    std::vector<uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return SetValue(keyPath, valueName, kRegSz, std::move(data));
}

bool Registry::SetDword(std::u16string_view keyPath, std::u16string_view valueName, uint32_t number)
{
    return SetValue(keyPath, valueName, kRegDword,
                    {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                     static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)});
}

bool Registry::DeleteValue(std::u16string_view keyPath, std::u16string_view valueName)
{
    return Modify([&](RegistryTree& tree) {
        RegistryKey* key = tree.Find(keyPath);
        if (!key)
            return false;
        key->DeleteValue(valueName);
        return true;
    });
}

bool Registry::ImportFile(const std::string& regFile, std::string* error)
{
    std::string bytes;
    switch (ReadBounded(regFile, bytes)) {
    case ReadResult::Ok:
        break;
    case ReadResult::TooLarge:
        if (error)
            *error = regFile + ": larger than " + std::to_string(kMaxRegFileBytes) + " bytes";
        return false;
    default:
        if (error)
            *error = regFile + ": " + ErrnoText();
        return false;
    }
    if (!ImportText(bytes, error)) {
        if (error)
            *error = regFile + ": " + *error;
        return false;
    }
    return true;
}

bool Registry::ImportText(std::string_view bytes, std::string* error)
{
    // Checked once before taking the lock, so a bad file never waits for other writers.
    RegistryTree scratch;
    if (auto parseError = ApplyRegFile(bytes, scratch)) {
        if (error)
            *error = DescribeRegFileError(*parseError);
        return false;
    }
    // Together with what the registry holds, the file may still pass the tree's bounds.
    std::optional<RegFileError> applyError;
    const bool written = Modify(
        [&](RegistryTree& tree) {
            applyError = ApplyRegFile(bytes, tree);
            return !applyError.has_value();
        },
        error);
    if (applyError && error)
        *error = DescribeRegFileError(*applyError);
    return written;
}

bool Registry::ExportFile(const std::string& regFile, std::u16string_view keyPath, std::string* error) const
{
    auto tree = Load(error);
    if (!tree)
        return false;
    std::string bytes;
    if (keyPath.empty()) {
        bytes = ExportRegTree(*tree);
    } else {
        const RegistryKey* key = tree->Find(keyPath);
        if (!key) {
            if (error)
                *error = "no key " + Utf16ToUtf8(keyPath);
            return false;
        }
        bytes = ExportRegKey(*key, StoredPath(*tree, keyPath));
    }
    if (!WriteFileWhole(regFile, bytes)) {
        if (error)
            *error = regFile + ": " + ErrnoText();
        return false;
    }
    return true;
}

} // namespace platform
