#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Value types as the registry numbers them; any other number is kept with its data as raw bytes.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegDwordBigEndian = 5;
inline constexpr uint32_t kRegLink = 6;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// Bounds that keep a hostile or broken file from building an unbounded tree.
inline constexpr size_t kMaxKeyDepth = 512;      // keys below a root key
inline constexpr size_t kMaxKeyNameLength = 255; // UTF-16 units of one key name
inline constexpr size_t kMaxValueNameLength = 16383;

// One value: its name (empty for a key's default value) with the case it was created with, its type,
// and its data as the registry holds it (strings as UTF-16LE with their terminating NUL).
struct RegValue {
    std::u16string Name;
    uint32_t Type = kRegNone;
    std::vector<uint8_t> Data;
};

// Compares two names as the registry does: without regard to the case of ASCII, Latin-1, Greek and
// Cyrillic letters.
bool RegNamesEqual(std::u16string_view a, std::u16string_view b);
// False for a name that a .reg file could not carry: one holding a line break or a NUL.
bool IsStorableName(std::u16string_view name);
// The name folded to upper case as RegNamesEqual compares it; sorting by it orders names without case.
std::u16string RegFoldName(std::u16string_view name);

// A key: its name as created, its values in the order they were created, its subkeys. Names are
// looked up without regard to case; an existing name keeps its case and its place when it is set again.
class RegistryKey {
public:
    explicit RegistryKey(std::u16string name) : m_name(std::move(name)) {}

    const std::u16string& Name() const { return m_name; }

    RegistryKey* FindSubkey(std::u16string_view name);
    const RegistryKey* FindSubkey(std::u16string_view name) const;
    // The subkey of that name, made when missing.
    RegistryKey& CreateSubkey(std::u16string_view name);
    // Removes the subkey with everything below it; false when there was none.
    bool DeleteSubkey(std::u16string_view name);
    // Subkeys ordered by name without regard to case.
    std::vector<const RegistryKey*> SortedSubkeys() const;
    size_t SubkeyCount() const { return m_subkeys.size(); }

    const RegValue* FindValue(std::u16string_view name) const;
    void SetValue(std::u16string_view name, uint32_t type, std::vector<uint8_t> data);
    bool DeleteValue(std::u16string_view name);
    const std::vector<RegValue>& Values() const { return m_values; }

private:
    std::u16string m_name;
    std::vector<RegValue> m_values;
    std::vector<std::unique_ptr<RegistryKey>> m_subkeys;
};

// The whole registry in memory: the five root keys, each under its full name (HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG). Key paths are the root's
// full name and then key names, separated by backslashes. One tree belongs to one thread.
class RegistryTree {
public:
    static constexpr size_t kRootCount = 5;

    RegistryTree();

    // The root keys in the order an export writes them.
    std::array<const RegistryKey*, kRootCount> Roots() const;

    // Splits a key path into its root's full name (as the tree spells it) and the key names below it.
    // nullopt when the root is not one of the five full names, a name is empty, longer than
    // kMaxKeyNameLength or not storable, or the path is deeper than kMaxKeyDepth.
    static std::optional<std::vector<std::u16string_view>> SplitPath(std::u16string_view path);

    // nullptr when the path is invalid or a key on it is missing.
    RegistryKey* Find(std::u16string_view path);
    const RegistryKey* Find(std::u16string_view path) const;
    // Makes every missing key on the path; nullptr only for an invalid path.
    RegistryKey* Create(std::u16string_view path);
    // Removes the key and its subtree. A missing key is no error; a root key cannot be removed.
    // Returns false for an invalid path or a root.
    bool Delete(std::u16string_view path);

private:
    std::array<RegistryKey, kRootCount> m_roots;
};

} // namespace platform
