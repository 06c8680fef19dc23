#include "platform/RegistryTree.h"

#include <algorithm>

namespace platform {

namespace {

constexpr std::array<const char16_t*, RegistryTree::kRootCount> kRootNames = {
    u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE", u"HKEY_USERS", u"HKEY_CURRENT_CONFIG"};

char16_t FoldChar(char16_t c)
{
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

} // namespace

bool IsStorableName(std::u16string_view name)
{
    return name.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string_view::npos;
}

bool RegNamesEqual(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i]))
            return false;
    }
    return true;
}

std::u16string RegFoldName(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded)
        c = FoldChar(c);
    return folded;
}

RegistryKey* RegistryKey::FindSubkey(std::u16string_view name)
{
    for (auto& subkey : m_subkeys) {
        if (RegNamesEqual(subkey->Name(), name))
            return subkey.get();
    }
    return nullptr;
}

const RegistryKey* RegistryKey::FindSubkey(std::u16string_view name) const
{
    return const_cast<RegistryKey*>(this)->FindSubkey(name);
}

RegistryKey& RegistryKey::CreateSubkey(std::u16string_view name)
{
    if (RegistryKey* existing = FindSubkey(name))
        return *existing;
    m_subkeys.push_back(std::make_unique<RegistryKey>(std::u16string(name)));
    return *m_subkeys.back();
}

bool RegistryKey::DeleteSubkey(std::u16string_view name)
{
    return std::erase_if(m_subkeys, [&](const auto& subkey) { return RegNamesEqual(subkey->Name(), name); }) >
           0;
}

std::vector<const RegistryKey*> RegistryKey::SortedSubkeys() const
{
    std::vector<std::pair<std::u16string, const RegistryKey*>> keyed;
    keyed.reserve(m_subkeys.size());
    for (const auto& subkey : m_subkeys)
        keyed.emplace_back(RegFoldName(subkey->Name()), subkey.get());
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second->Name() < b.second->Name();
    });
    std::vector<const RegistryKey*> sorted;
    sorted.reserve(keyed.size());
    for (const auto& entry : keyed)
        sorted.push_back(entry.second);
    return sorted;
}

const RegValue* RegistryKey::FindValue(std::u16string_view name) const
{
    for (const RegValue& value : m_values) {
        if (RegNamesEqual(value.Name, name))
            return &value;
    }
    return nullptr;
}

void RegistryKey::SetValue(std::u16string_view name, uint32_t type, std::vector<uint8_t> data)
{
    for (RegValue& value : m_values) {
        if (RegNamesEqual(value.Name, name)) {
            value.Type = type;
            value.Data = std::move(data);
            return;
        }
    }
    m_values.push_back(RegValue{std::u16string(name), type, std::move(data)});
}

bool RegistryKey::DeleteValue(std::u16string_view name)
{
    return std::erase_if(m_values, [&](const RegValue& value) { return RegNamesEqual(value.Name, name); }) >
           0;
}

RegistryTree::RegistryTree()
    : m_roots{RegistryKey(kRootNames[0]), RegistryKey(kRootNames[1]), RegistryKey(kRootNames[2]),
              RegistryKey(kRootNames[3]), RegistryKey(kRootNames[4])}
{
}

std::array<const RegistryKey*, RegistryTree::kRootCount> RegistryTree::Roots() const
{
    std::array<const RegistryKey*, kRootCount> roots{};
    for (size_t i = 0; i < kRootCount; ++i)
        roots[i] = &m_roots[i];
    return roots;
}

std::optional<std::vector<std::u16string_view>> RegistryTree::SplitPath(std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        std::u16string_view part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (part.empty() || part.size() > kMaxKeyNameLength || !IsStorableName(part))
            return std::nullopt;
        parts.push_back(part);
        if (parts.size() > kMaxKeyDepth + 1)
            return std::nullopt;
        if (end == std::u16string_view::npos)
            break;
        start = end + 1;
    }
    auto root = std::find_if(kRootNames.begin(), kRootNames.end(),
                             [&](const char16_t* name) { return RegNamesEqual(name, parts[0]); });
    if (root == kRootNames.end())
        return std::nullopt;
    parts[0] = *root;
    return parts;
}

RegistryKey* RegistryTree::Find(std::u16string_view path)
{
    auto parts = SplitPath(path);
    if (!parts)
        return nullptr;
    RegistryKey* key = nullptr;
    for (RegistryKey& root : m_roots) {
        if (root.Name() == (*parts)[0])
            key = &root;
    }
    for (size_t i = 1; key && i < parts->size(); ++i)
        key = key->FindSubkey((*parts)[i]);
    return key;
}

const RegistryKey* RegistryTree::Find(std::u16string_view path) const
{
    return const_cast<RegistryTree*>(this)->Find(path);
}

RegistryKey* RegistryTree::Create(std::u16string_view path)
{
    auto parts = SplitPath(path);
    if (!parts)
        return nullptr;
    RegistryKey* key = nullptr;
    for (RegistryKey& root : m_roots) {
        if (root.Name() == (*parts)[0])
            key = &root;
    }
    for (size_t i = 1; i < parts->size(); ++i)
        key = &key->CreateSubkey((*parts)[i]);
    return key;
}

bool RegistryTree::Delete(std::u16string_view path)
{
    auto parts = SplitPath(path);
    if (!parts || parts->size() < 2)
        return false;
    std::u16string parentPath(path.substr(0, path.rfind(u'\\')));
    if (RegistryKey* parent = Find(parentPath))
        parent->DeleteSubkey(parts->back());
    return true;
}

} // namespace platform
