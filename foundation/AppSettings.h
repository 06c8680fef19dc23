#pragma once

#include <string>

// The user identity kept in the settings file's User section.
struct UserIdentity {
    std::string Uid;
    std::string Ticket;
};

// The program's settings, section Set of the settings file (quokka.cfg in the program folder).
// There is no shared instance: whoever needs a value makes a short-lived object, which reads the
// file when it is constructed, may change values and Save them. The file is the single source of
// truth between windows and threads. Values are narrow strings in the process code page and are
// compared as whole strings ("1" and "01" differ).
class CAppSettings {
public:
    // Reads the six Set values from ConfigFilePath(), or from the given file.
    CAppSettings();
    explicit CAppSettings(std::string configFilePath);

    const std::string& RomPath() const { return m_romPath; }
    const std::string& HandleType() const { return m_handleType; }
    const std::string& UpdateType() const { return m_updateType; }
    const std::string& ShowKeyMapTips() const { return m_showKeyMapTips; }
    const std::string& AutoRun() const { return m_autoRun; }
    const std::string& IsTray() const { return m_isTray; }

    // Setters change only this object; Save writes.
    void SetRomPath(std::string value) { m_romPath = std::move(value); }
    void SetHandleType(std::string value) { m_handleType = std::move(value); }
    void SetUpdateType(std::string value) { m_updateType = std::move(value); }
    void SetShowKeyMapTips(std::string value) { m_showKeyMapTips = std::move(value); }
    void SetAutoRun(std::string value) { m_autoRun = std::move(value); }
    void SetIsTray(std::string value) { m_isTray = std::move(value); }

    // Writes all six Set keys, in the order RomPath, UpdateType, HandleType, ShowKeyMapTips,
    // AutoRun, IsTray. A failed write is ignored.
    void Save() const;

    // The User pair: Uid then Ticket. Reading never fails: a value that is missing, longer than
    // kMaxUserValueBytes, holds anything but printable ASCII without spaces, or stands on an
    // unfinished last line of the file (a file cut short), and every value of a file larger than
    // kMaxSettingsFileBytes, reads as empty, so the next download registers again.
    void LoadUser(UserIdentity& user) const;
    // Writes Uid then Ticket in one replacement of the file, so the pair is never half new.
    // Returns false when the file cannot be written or a value holds a line break.
    bool SaveUser(const UserIdentity& user) const;

    static constexpr size_t kMaxUserValueBytes = 1000;
    static constexpr size_t kMaxSettingsFileBytes = 1024 * 1024;

    const std::string& FilePath() const { return m_path; }

private:
    std::string Read(const char* section, const char* key, const char* defaultValue) const;
    void Write(const char* section, const char* key, const std::string& value) const;

    std::string m_path;
    // Member order as the settings are documented; they are read and written in the file's order.
    std::string m_romPath;
    std::string m_handleType;
    std::string m_updateType;
    std::string m_showKeyMapTips;
    std::string m_autoRun;
    std::string m_isTray;
};
