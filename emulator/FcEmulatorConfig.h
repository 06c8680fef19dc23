#pragma once

#include "controller/Guid.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The FC emulator's configuration file: lines of a key, blanks and a value, byte blocks in base64.
//
// The object holds the file as an ordered map from key to value text (byte-wise key order, "!version"
// = "1" unless the file says otherwise) and, beside it, a typed storage for each of the 302 known keys
// (FcConfigKeys.h). Loading fills the map from a file and decodes every known key present into its
// storage; keys the program does not know stay in the map untouched. Saving encodes every storage
// back into the map and writes the whole map. One object belongs to one thread.
class CFcEmulatorConfig {
public:
    // Records of the "GamePadConfig" block: ten per gamepad, 84 bytes each, with the device GUID at
    // offset 20 of each record.
    static constexpr size_t kGamePadRecordSize = 84;
    static constexpr size_t kRecordsPerGamePad = 10;
    static constexpr size_t kGamePadGuidOffset = 20;
    static constexpr int kMaxGamePads = 4;

    // Every storage at its default; the map holds only "!version" = "1".
    CFcEmulatorConfig();

    // Resets to the defaults, then reads the file. Returns false when it cannot be opened, leaving the
    // defaults in place.
    bool Load(const std::string& path);
    // Resets to the defaults, then reads configuration text.
    void LoadText(std::string_view text);

    // Encodes every storage into the map and writes the map in key order, one "key value" line each.
    // The file is replaced whole (written beside it, then renamed over it), so a failure leaves the old
    // file as it was. Returns false, writing nothing, when the file cannot be opened for writing.
    bool Save(const std::string& path);
    // Encodes every storage into the map and returns the text that Save writes.
    std::string SaveText();

    // Sets the device GUID of all ten records of gamepad `pad` (0 to 3) in "GamePadConfig".
    void SetGamePadGuid(int pad, const Guid& guid);

    // The controller update before a gamepad run: loads the file (defaults when it cannot be read),
    // gives gamepad i the GUID of controller i for the first four controllers, and saves. Returns the
    // result of the save.
    static bool WriteControllers(const std::string& path, const std::vector<Guid>& controllers);

    // The value text of a key in the map, if present.
    std::optional<std::string> Value(const std::string& key) const;
    const std::map<std::string, std::string>& Entries() const { return m_entries; }
    // The storage of a known non-text key, or null for a text or unknown key.
    const std::vector<uint8_t>* Storage(std::string_view key) const;
    // The storage of a known text key (nullopt when absent or not a text key).
    std::optional<std::string> Text(std::string_view key) const;

private:
    struct Slot {
        std::vector<uint8_t> bytes;      // for sizes other than 0
        std::optional<std::string> text; // for size 0
    };

    void Reset();
    void ParseLines(std::string_view text);
    void DecodeAll();
    void EncodeAll();
    int IndexOf(std::string_view key) const;

    std::map<std::string, std::string> m_entries;
    std::vector<Slot> m_slots; // parallel to FcConfigKeys()
};
