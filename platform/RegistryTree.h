#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
// Keys and values one tree may hold, root keys not counted. Far above what programs and their
// installers write; they keep a file of tiny lines from building a tree of gigabytes.
inline constexpr size_t kMaxKeyCount = 200000;
inline constexpr size_t kMaxValueCount = 1000000;

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

// What a tree holds, shared by its keys so that each change is counted where it is made.
struct RegistryCounts {
    size_t Keys = 0;
    size_t Values = 0;
};

// A key: its name as created, its values in the order they were created, its subkeys. Names are
// looked up without regard to case, each in time logarithmic (subkeys) or constant (values) in the
// key's size; an existing name keeps its case and its place when it is set again.
class RegistryKey {
public:
    // A key of a tree counts what is made and removed below it in `counts` (null: nothing counted,
    // nothing refused).
    explicit RegistryKey(std::u16string name, RegistryCounts* counts = nullptr)
        : m_name(std::move(name)), m_counts(counts)
    {
    }
    RegistryKey(RegistryKey&&) = default;
    RegistryKey& operator=(RegistryKey&&) = default;

    const std::u16string& Name() const { return m_name; }

    RegistryKey* FindSubkey(std::u16string_view name);
    const RegistryKey* FindSubkey(std::u16string_view name) const;
    // The subkey of that name, made when missing; nullptr when it is missing and the tree already
    // holds kMaxKeyCount keys.
    RegistryKey* CreateSubkey(std::u16string_view name);
    // Removes the subkey with everything below it; false when there was none.
    bool DeleteSubkey(std::u16string_view name);
    // Subkeys ordered by name without regard to case (the order an export writes them in).
    std::vector<const RegistryKey*> SortedSubkeys() const;
    size_t SubkeyCount() const { return m_subkeys.size(); }

    const RegValue* FindValue(std::u16string_view name) const;
    // Sets the value, made when missing. False, nothing changed, when it is missing and the tree
    // already holds kMaxValueCount values.
    bool SetValue(std::u16string_view name, uint32_t type, std::vector<uint8_t> data);
    bool DeleteValue(std::u16string_view name);
    // The values in creation order.
    const std::vector<RegValue>& Values() const;

    // This key's subkeys and values and everything below them.
    RegistryCounts CountBelow() const;

private:
    void Compact() const;

    std::u16string m_name;
    RegistryCounts* m_counts = nullptr;
    // Keyed by RegFoldName, so iteration gives the export's order.
    std::map<std::u16string, std::unique_ptr<RegistryKey>> m_subkeys;
    // A deleted value leaves a hole (its index entry gone) until Values() is next read, so that
    // removing many values of one key stays linear.
    mutable std::vector<RegValue> m_values;
    mutable std::vector<bool> m_deleted;
    mutable size_t m_deletedCount = 0;
    mutable std::unordered_map<std::u16string, size_t> m_valueIndex; // folded name -> m_values index
};

// The whole registry in memory: the five root keys, each under its full name (HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG). Key paths are the root's
// full name and then key names, separated by backslashes. One tree belongs to one thread. A tree
// holds at most kMaxKeyCount keys and kMaxValueCount values; what would pass them is refused.
class RegistryTree {
public:
    static constexpr size_t kRootCount = 5;

    RegistryTree();
    RegistryTree(RegistryTree&&) = default;
    RegistryTree& operator=(RegistryTree&&) = default;
    RegistryTree(const RegistryTree&) = delete;
    RegistryTree& operator=(const RegistryTree&) = delete;

    // Keys (root keys not counted) and values the tree holds.
    const RegistryCounts& Counts() const { return *m_counts; }

    // The root keys in the order an export writes them.
    std::array<const RegistryKey*, kRootCount> Roots() const;

    // Splits a key path into its root's full name (as the tree spells it) and the key names below it.
    // nullopt when the root is not one of the five full names, a name is empty, longer than
    // kMaxKeyNameLength or not storable, or the path is deeper than kMaxKeyDepth.
    static std::optional<std::vector<std::u16string_view>> SplitPath(std::u16string_view path);

    // nullptr when the path is invalid or a key on it is missing.
    RegistryKey* Find(std::u16string_view path);
    const RegistryKey* Find(std::u16string_view path) const;
    // Makes every missing key on the path; nullptr for an invalid path, or when the keys to make
    // would pass kMaxKeyCount (the keys made before that stay).
    RegistryKey* Create(std::u16string_view path);
    // Removes the key and its subtree. A missing key is no error; a root key cannot be removed.
    // Returns false for an invalid path or a root.
    bool Delete(std::u16string_view path);

private:
    // On the heap, so that keys still point at it once the tree has moved.
    std::unique_ptr<RegistryCounts> m_counts;
    std::array<RegistryKey, kRootCount> m_roots;
};

} // namespace platform
