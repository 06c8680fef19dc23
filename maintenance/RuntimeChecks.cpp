#include "maintenance/RuntimeChecks.h"

#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>

namespace {

constexpr char16_t kUninstallKey[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr size_t kMaxEntryText = 1024;

// A string value of `key` as UTF-16 without its terminating NUL, cut at the first NUL and at
// kMaxEntryText characters; empty when missing or not a string.
std::u16string EntryText(const platform::RegistryKey& key, std::u16string_view name)
{
    const platform::RegValue* value = key.FindValue(name);
    if (!value || (value->Type != platform::kRegSz && value->Type != platform::kRegExpandSz))
        return {};
    std::u16string text;
    for (size_t i = 0; i + 1 < value->Data.size() && text.size() < kMaxEntryText; i += 2) {
        char16_t unit = static_cast<char16_t>(value->Data[i] | (value->Data[i + 1] << 8));
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

bool HasEntry(const std::vector<UninstallEntry>& entries, const std::vector<std::u16string>& parts)
{
    for (const UninstallEntry& entry : entries) {
        bool all = std::all_of(parts.begin(), parts.end(), [&entry](const std::u16string& part) {
            return entry.DisplayName.find(part) != std::u16string::npos;
        });
        if (all)
            return true;
    }
    return false;
}

const std::vector<std::u16string> kVc2005Parts = {u"Microsoft Visual C++ 2005", u"Redistributable"};
const std::vector<std::u16string> kVc2008Parts = {u"Microsoft Visual C++ 2008", u"Redistributable"};
const std::vector<std::u16string> kVc2010Parts = {u"Microsoft Visual C++ 2010", u"Redistributable"};
const std::vector<std::u16string> kVc2012Parts = {u"Microsoft Visual C++ 2012", u"Additional Runtime"};
const std::vector<std::u16string> kXinputParts = {u"Microsoft Xbox 360 Accessories"};

} // namespace

std::vector<UninstallEntry> ReadUninstallEntries(const platform::Registry& registry)
{
    std::vector<UninstallEntry> entries;
    std::optional<platform::RegistryTree> tree = registry.Load();
    if (!tree)
        return entries;
    const platform::RegistryKey* uninstall = tree->Find(kUninstallKey);
    if (!uninstall)
        return entries;
    for (const platform::RegistryKey* key : uninstall->SortedSubkeys()) {
        entries.push_back(UninstallEntry{EntryText(*key, u"DisplayIcon"), EntryText(*key, u"DisplayName"),
                                         EntryText(*key, u"DisplayVersion"),
                                         EntryText(*key, u"InstallLocation"), EntryText(*key, u"Publisher")});
    }
    return entries;
}

bool HasUninstallEntry(const platform::Registry& registry, const std::vector<std::u16string>& parts)
{
    return HasEntry(ReadUninstallEntries(registry), parts);
}

bool IsVc2005Installed(const platform::Registry& registry)
{
    return HasUninstallEntry(registry, kVc2005Parts);
}

bool IsVc2008Installed(const platform::Registry& registry)
{
    return HasUninstallEntry(registry, kVc2008Parts);
}

bool IsVc2010Installed(const platform::Registry& registry)
{
    return HasUninstallEntry(registry, kVc2010Parts);
}

bool IsVc2012Installed(const platform::Registry& registry)
{
    return HasUninstallEntry(registry, kVc2012Parts);
}

bool IsXinputInstalled(const platform::Registry& registry)
{
    return HasUninstallEntry(registry, kXinputParts);
}

RuntimeStates ReadRuntimeStates(const platform::Registry& registry, const std::string& systemFolder)
{
    const std::vector<UninstallEntry> entries = ReadUninstallEntries(registry);
    RuntimeStates states;
    states.vc2005 = HasEntry(entries, kVc2005Parts);
    states.vc2008 = HasEntry(entries, kVc2008Parts);
    states.vc2010 = HasEntry(entries, kVc2010Parts);
    states.vc2012 = HasEntry(entries, kVc2012Parts);
    states.xinput = HasEntry(entries, kXinputParts);
    states.directX9c = IsDirectX9cInstalled(systemFolder);
    return states;
}

RuntimeStates ReadRuntimeStates()
{
    return ReadRuntimeStates(platform::Registry(), platform::SystemFolder());
}

bool IsDirectX9cInstalled(const std::string& systemFolder)
{
    std::set<std::string> dlls;
    std::error_code error;
    for (std::filesystem::directory_iterator it(systemFolder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        std::string name = it->path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0)
            dlls.insert(name);
    }
    for (int version = 24; version <= 43; ++version) {
        if (!dlls.count("d3dx9_" + std::to_string(version) + ".dll"))
            return false;
    }
    return true;
}

bool IsVc2005Installed()
{
    return IsVc2005Installed(platform::Registry());
}

bool IsVc2008Installed()
{
    return IsVc2008Installed(platform::Registry());
}

bool IsVc2010Installed()
{
    return IsVc2010Installed(platform::Registry());
}

bool IsVc2012Installed()
{
    return IsVc2012Installed(platform::Registry());
}

bool IsXinputInstalled()
{
    return IsXinputInstalled(platform::Registry());
}

bool IsDirectX9cInstalled()
{
    return IsDirectX9cInstalled(platform::SystemFolder());
}
