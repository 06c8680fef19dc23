#pragma once

#include "foundation/JsonObjectBase.h"
#include "store/EmulatorRecord.h"
#include "store/StoreListFormat.h" // LeadingInt, the leading-digits rule

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The emulator list that the update server offers: for each platform the emulators that can be
// installed, where to download them, how to start them and which configuration files they carry.
// Every value is a JSON string; scalar texts arrive in the process code page (see CJsonObjectBase).

// One key-mapping entry: what is copied from the user's folder to the emulator's and back.
class CKeyConfigBase : public CJsonObjectBase {
public:
    CKeyConfigBase() { BindFields(); }
    void BindFields() override;

    std::string source;
    std::string target;
    std::string defaultsource;
};

// One settings-file entry.
class CSetConfigBase : public CJsonObjectBase {
public:
    CSetConfigBase() { BindFields(); }
    void BindFields() override;

    std::string source;
    std::string target;
};

// One listed emulator. Owns its configuration entries.
class CEmulatorBase : public CJsonObjectBase {
public:
    CEmulatorBase() { BindFields(); }
    CEmulatorBase(const CEmulatorBase&) = delete;
    CEmulatorBase& operator=(const CEmulatorBase&) = delete;

    void BindFields() override;
    JsonObjectPtr NewArrayElement(const std::string& key) override;

    std::string emulatorid;
    std::string name;
    std::string version;
    std::string downloadurl;
    std::string update;
    std::string description;
    std::string emulatortype;
    std::string system;
    std::vector<std::string> execute; // UTF-8, as strings inside arrays are kept
    std::string executeparam;
    std::string configtype;
    std::vector<JsonObjectPtr> keyconfig; // CKeyConfigBase
    std::vector<JsonObjectPtr> setconfig; // CSetConfigBase
};

// The whole list: one array of emulators per platform key. Owns its emulators.
class CEmulatorList : public CJsonObjectBase {
public:
    static constexpr size_t kKeyCount = 17;
    // The platform keys in the order the list is read; an earlier key wins a repeated emulator id.
    static const std::array<const char*, kKeyCount>& Keys();

    CEmulatorList() { BindFields(); }
    CEmulatorList(const CEmulatorList&) = delete;
    CEmulatorList& operator=(const CEmulatorList&) = delete;

    void BindFields() override;
    // A CEmulatorBase for an element of any of the seventeen keys; null for any other key.
    JsonObjectPtr NewArrayElement(const std::string& key) override;

    // The emulators under the key at `index` of Keys(), in list order (each a CEmulatorBase).
    const std::vector<JsonObjectPtr>& Platform(size_t index) const { return m_platforms[index]; }

private:
    std::array<std::vector<JsonObjectPtr>, kKeyCount> m_platforms;
};

// Compares two dotted versions component by component, each by the leading-digits rule, a missing
// component counting as 0: "2.0" is newer than "1.9.9", "1.2" equals "1.2.0". Returns a negative
// number, 0 or a positive number as `a` is older than, equal to or newer than `b`.
int CompareVersions(std::string_view a, std::string_view b);

// Whether `name` can name an emulator's folder: not empty, not "." or "..", and without '/', '\\'
// or NUL. A listed emulator with any other name is dropped, so no folder operation on it can leave
// the platform's folder.
bool IsSafeEmulatorName(std::string_view name);

// The record of a listed emulator: every field from the list, Emulatortype by the leading-digits
// rule, the list's texts in the process code page, IsDefault "0".
EmulatorRecord ToEmulatorRecord(const CEmulatorBase& emulator);

// Parses a list text (UTF-8 JSON) and merges it: the keys in order, each array in order, each
// emulator under its EmulatorId unless that id came earlier (the first occurrence wins) or its name
// is unsafe (IsSafeEmulatorName), in which case it is dropped. Unknown keys are ignored. Returns
// nullopt when the text is not JSON or its top level is not an object.
std::optional<EmulatorMap> ParseEmulatorList(const std::string& text);
