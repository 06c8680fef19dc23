#pragma once

#include "platform/RegFile.h"
#include "platform/RegistryTree.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The folder that stands in for the Windows folder: XdgDataHome() + "quokka/windows/". It holds the
// registry file and the system folder. Ends with '/'.
std::string WindowsFolder();
// The system folder of DLLs inside the Windows folder: WindowsFolder() + "system32/".
std::string SystemFolder();
// Makes the Windows folder and its system folder when missing. False when they cannot be made.
bool EnsureWindowsFolder();

// Registry views. A 64-bit and a 32-bit view are asked for by programs that know of both; there is
// one view here, and every view reads and writes it.
enum class RegView { Default, Bits64, Bits32 };

// The per-user registry, kept in one file in a Windows folder ("registry.reg", in the format that
// ExportRegTree writes).
//
// Every change is a transaction: the file is read, changed in memory and written whole to a temporary
// file beside it, which is synced and renamed over it, all under an exclusive flock on
// "registry.lock" in the same folder. Threads and processes that change the registry at the same time
// therefore take turns, none loses another's change, and a process killed at any moment leaves either
// the old or the new file. Reading needs no lock: the file is always whole.
//
// A registry file that cannot be read (too large, not a registry export) makes every call fail and is
// never overwritten. The object holds only the folder's name, so calls may come from any thread.
class Registry {
public:
    explicit Registry(std::string folder = WindowsFolder());

    // The registry file and the lock file.
    std::string FilePath() const;
    std::string LockPath() const;

    // The whole registry as it is now; nullopt (and `error` filled when given) when the file cannot be
    // read. A missing file is an empty registry.
    std::optional<RegistryTree> Load(std::string* error = nullptr) const;

    // Reads. Each returns nullopt when the key (or value) is missing or the registry cannot be read.
    std::optional<std::vector<std::u16string>> SubkeyNames(std::u16string_view keyPath,
                                                           RegView view = RegView::Default) const;
    std::optional<RegValue> QueryValue(std::u16string_view keyPath, std::u16string_view valueName,
                                       RegView view = RegView::Default) const;
    // A string value (REG_SZ or REG_EXPAND_SZ) as UTF-16 without its terminating NUL, cut at the first
    // NUL; nullopt for a missing value or one of another type.
    std::optional<std::u16string> QueryString(std::u16string_view keyPath, std::u16string_view valueName,
                                              RegView view = RegView::Default) const;

    // One transaction: `change` gets the current registry and returns whether to write it. Returns
    // true when the change was written; false when the registry could not be read or written, or
    // `change` declined (nothing is written then).
    bool Modify(const std::function<bool(RegistryTree&)>& change, std::string* error = nullptr);

    // Single changes, each its own transaction. Names longer than the bounds or holding a line
    // break or NUL are refused.
    bool CreateKey(std::u16string_view keyPath);
    // Removes a key with its subtree; true also when it was not there. Root keys cannot be removed.
    bool DeleteKey(std::u16string_view keyPath);
    // Makes the key when missing.
    bool SetValue(std::u16string_view keyPath, std::u16string_view valueName, uint32_t type,
                  std::vector<uint8_t> data);
    bool SetString(std::u16string_view keyPath, std::u16string_view valueName, std::u16string_view text);
    bool SetDword(std::u16string_view keyPath, std::u16string_view valueName, uint32_t number);
    // True also when the value was not there; false when the key is missing.
    bool DeleteValue(std::u16string_view keyPath, std::u16string_view valueName);

    // Imports a .reg file (see RegFile.h) as one transaction: when the file is refused nothing
    // changes, and `error` names the line and the reason.
    bool ImportFile(const std::string& regFile, std::string* error = nullptr);
    bool ImportText(std::string_view bytes, std::string* error = nullptr);

    // Writes the export of `keyPath` and its subtree (the whole registry when empty) to `regFile`,
    // replacing it whole. False, with `error`, for a missing key or a file that cannot be written.
    bool ExportFile(const std::string& regFile, std::u16string_view keyPath = {},
                    std::string* error = nullptr) const;

private:
    std::string m_folder;
};

// Writes `bytes` to `path` through a temporary file in the same folder that is synced and renamed
// over it, so `path` is always either the old or the new file. Returns false on failure (errno set).
bool WriteFileWhole(const std::string& path, std::string_view bytes);

} // namespace platform
