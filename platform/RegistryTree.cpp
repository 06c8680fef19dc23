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
    auto found = m_subkeys.find(RegFoldName(name));
    return found == m_subkeys.end() ? nullptr : found->second.get();
}

const RegistryKey* RegistryKey::FindSubkey(std::u16string_view name) const
{
    return const_cast<RegistryKey*>(this)->FindSubkey(name);
}

RegistryKey* RegistryKey::CreateSubkey(std::u16string_view name)
{
    std::u16string folded = RegFoldName(name);
    auto found = m_subkeys.lower_bound(folded);
    if (found != m_subkeys.end() && found->first == folded)
        return found->second.get();
    if (m_counts) {
        if (m_counts->Keys >= kMaxKeyCount)
            return nullptr;
        ++m_counts->Keys;
    }
    auto made = m_subkeys.emplace_hint(found, std::move(folded),
                                       std::make_unique<RegistryKey>(std::u16string(name), m_counts));
    return made->second.get();
}

bool RegistryKey::DeleteSubkey(std::u16string_view name)
{
    auto found = m_subkeys.find(RegFoldName(name));
    if (found == m_subkeys.end())
        return false;
    if (m_counts) {
        const RegistryCounts below = found->second->CountBelow();
        m_counts->Keys -= below.Keys + 1;
        m_counts->Values -= below.Values;
    }
    m_subkeys.erase(found);
    return true;
}

std::vector<const RegistryKey*> RegistryKey::SortedSubkeys() const
{
    std::vector<const RegistryKey*> sorted;
    sorted.reserve(m_subkeys.size());
    for (const auto& [folded, subkey] : m_subkeys)
        sorted.push_back(subkey.get());
    return sorted;
}

RegistryCounts RegistryKey::CountBelow() const
{
    RegistryCounts counts;
    counts.Keys = m_subkeys.size();
    counts.Values = m_valueIndex.size();
    for (const auto& [folded, subkey] : m_subkeys) {
        const RegistryCounts below = subkey->CountBelow();
        counts.Keys += below.Keys;
        counts.Values += below.Values;
    }
    return counts;
}

const RegValue* RegistryKey::FindValue(std::u16string_view name) const
{
    auto found = m_valueIndex.find(RegFoldName(name));
    return found == m_valueIndex.end() ? nullptr : &m_values[found->second];
}

bool RegistryKey::SetValue(std::u16string_view name, uint32_t type, std::vector<uint8_t> data)
{
    std::u16string folded = RegFoldName(name);
    auto found = m_valueIndex.find(folded);
    if (found != m_valueIndex.end()) {
        RegValue& value = m_values[found->second];
        value.Type = type;
        value.Data = std::move(data);
        return true;
    }
    if (m_counts) {
        if (m_counts->Values >= kMaxValueCount)
            return false;
        ++m_counts->Values;
    }
    m_valueIndex.emplace(std::move(folded), m_values.size());
    m_values.push_back(RegValue{std::u16string(name), type, std::move(data)});
    m_deleted.push_back(false);
    return true;
}

bool RegistryKey::DeleteValue(std::u16string_view name)
{
    auto found = m_valueIndex.find(RegFoldName(name));
    if (found == m_valueIndex.end())
        return false;
    m_deleted[found->second] = true;
    m_values[found->second].Data.clear();
    ++m_deletedCount;
    m_valueIndex.erase(found);
    if (m_counts)
        --m_counts->Values;
    return true;
}

const std::vector<RegValue>& RegistryKey::Values() const
{
    if (m_deletedCount > 0)
        Compact();
    return m_values;
}

void RegistryKey::Compact() const
{
    size_t kept = 0;
    for (size_t i = 0; i < m_values.size(); ++i) {
        if (m_deleted[i])
            continue;
        if (kept != i)
            m_values[kept] = std::move(m_values[i]);
        m_valueIndex[RegFoldName(m_values[kept].Name)] = kept;
        ++kept;
    }
    m_values.resize(kept);
    m_deleted.assign(kept, false);
    m_deletedCount = 0;
}

RegistryTree::RegistryTree()
    : m_counts(std::make_unique<RegistryCounts>()), m_roots{RegistryKey(kRootNames[0], m_counts.get()),
                                                            RegistryKey(kRootNames[1], m_counts.get()),
                                                            RegistryKey(kRootNames[2], m_counts.get()),
                                                            RegistryKey(kRootNames[3], m_counts.get()),
                                                            RegistryKey(kRootNames[4], m_counts.get())}
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
    for (size_t i = 1; key && i < parts->size(); ++i)
        key = key->CreateSubkey((*parts)[i]);
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
