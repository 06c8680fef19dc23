#include "foundation/AppSettings.h"

#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/StringConv.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <strings.h>

CAppSettings::CAppSettings() : CAppSettings(ConfigFilePath()) {}

CAppSettings::CAppSettings(std::string configFilePath) : m_path(std::move(configFilePath))
{
    m_romPath = Read("Set", "RomPath", "");
    m_updateType = Read("Set", "UpdateType", "0");
    m_handleType = Read("Set", "HandleType", "0");
    m_showKeyMapTips = Read("Set", "ShowKeyMapTips", "1");
    m_autoRun = Read("Set", "AutoRun", "0");
    m_isTray = Read("Set", "IsTray", "1");
}

void CAppSettings::Save() const
{
    Write("Set", "RomPath", m_romPath);
    Write("Set", "UpdateType", m_updateType);
    Write("Set", "HandleType", m_handleType);
    Write("Set", "ShowKeyMapTips", m_showKeyMapTips);
    Write("Set", "AutoRun", m_autoRun);
    Write("Set", "IsTray", m_isTray);
}

namespace {

bool IsUserValueText(const std::string& value)
{
    if (value.size() > CAppSettings::kMaxUserValueBytes)
        return false;
    return std::all_of(value.begin(), value.end(), [](unsigned char c) { return c > 0x20 && c < 0x7F; });
}

// Whether the file does not end with a line break and its last line sets `key`: the value may then
// have been cut short by a write that never finished (the program's own writes end every line).
bool LastLineIsUnfinishedKey(const std::string& content, std::string_view key)
{
    if (content.empty() || content.back() == '\n')
        return false;
    size_t start = content.rfind('\n');
    std::string_view line(content);
    line.remove_prefix(start == std::string::npos ? 0 : start + 1);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return false;
    line.remove_prefix(first);
    size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    std::string_view name = line.substr(0, equals);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    return name.size() == key.size() && strncasecmp(name.data(), key.data(), key.size()) == 0;
}

} // namespace

void CAppSettings::LoadUser(UserIdentity& user) const
{
    user.Uid.clear();
    user.Ticket.clear();
    std::string content;
    {
        std::ifstream in(m_path, std::ios::binary);
        if (!in)
            return;
        content.resize(kMaxSettingsFileBytes + 1);
        in.read(content.data(), static_cast<std::streamsize>(content.size()));
        content.resize(static_cast<size_t>(in.gcount()));
        if (content.size() > kMaxSettingsFileBytes)
            return;
    }
    std::string uid = IniFile::GetString(m_path, "User", "Uid", "");
    std::string ticket = IniFile::GetString(m_path, "User", "Ticket", "");
    if (IsUserValueText(uid) && !LastLineIsUnfinishedKey(content, "Uid"))
        user.Uid = std::move(uid);
    if (IsUserValueText(ticket) && !LastLineIsUnfinishedKey(content, "Ticket"))
        user.Ticket = std::move(ticket);
}

bool CAppSettings::SaveUser(const UserIdentity& user) const
{
    // Both values are ASCII (an identifier and an encoded ticket), the same in every code page.
    return IniFile::WriteStrings(m_path, "User", {{"Uid", user.Uid}, {"Ticket", user.Ticket}});
}

// The file holds UTF-8; values are kept in the process code page. Bytes that are not valid UTF-8
// (a file written by hand in another encoding) are kept as they are rather than lost.
std::string CAppSettings::Read(const char* section, const char* key, const char* defaultValue) const
{
    std::string value = IniFile::GetString(m_path, section, key, defaultValue);
    try {
        return Utf8ToOem(value);
    } catch (const std::runtime_error&) {
        return value;
    }
}

void CAppSettings::Write(const char* section, const char* key, const std::string& value) const
{
    std::string utf8;
    try {
        utf8 = AnsiToUtf8(value);
    } catch (const std::runtime_error&) {
        utf8 = value;
    }
    IniFile::WriteString(m_path, section, key, utf8);
}
