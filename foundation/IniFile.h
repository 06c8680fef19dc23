#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// INI files read and written with the semantics of the Windows profile functions, which every
// settings file of the program (and of the emulators it configures) relies on:
// - a missing file, section or key gives the default;
// - section and key names compare without regard to ASCII letter case; spaces around names and
//   values are ignored, and a value wrapped in matching quotes loses them;
// - the first matching section and the first matching key in it win;
// - a write creates the file, the section and the key as needed and keeps every other line as it
//   was (comments, order, line endings); the file is replaced atomically, so a crash never leaves
//   half a file;
// - a read value is cut at 1023 UTF-16 units.
// Paths are native (UTF-8) file names; contents are taken as bytes (UTF-8 here). Calls are safe
// across threads: each file has its own lock for the duration of one call.
class IniFile {
public:
    static constexpr size_t kMaxValueUnits = 1023;

    static std::string GetString(const std::string& path, std::string_view section, std::string_view key,
                                 std::string_view defaultValue);

    // Returns false when the file cannot be written (missing folder, no permission), and refuses
    // (false, the file untouched) a section, key or value holding a CR or LF, which could otherwise
    // add lines to the file.
    static bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                            std::string_view value);

    // Writes several keys of one section in a single replacement of the file, in the given order,
    // so a reader sees either none or all of them. Lines it writes always end with a line break.
    // Refuses like WriteString when any name or value holds a line break (nothing is written).
    static bool WriteStrings(const std::string& path, std::string_view section,
                             const std::vector<std::pair<std::string, std::string>>& entries);

    // Removes one key, or a whole section with its keys. Missing ones are not an error.
    static bool DeleteKey(const std::string& path, std::string_view section, std::string_view key);
    static bool DeleteSection(const std::string& path, std::string_view section);

    // The key names of a section, in file order (empty when the section is missing).
    static std::vector<std::string> GetKeys(const std::string& path, std::string_view section);
};
