#include "foundation/AppSettings.h"

#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/StringConv.h"

#include <stdexcept>

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

void CAppSettings::LoadUser(UserIdentity& user) const
{
    user.Uid = Read("User", "Uid", "");
    user.Ticket = Read("User", "Ticket", "");
}

void CAppSettings::SaveUser(const UserIdentity& user) const
{
    Write("User", "Uid", user.Uid);
    Write("User", "Ticket", user.Ticket);
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
