#pragma once

#include "store/EmulatorRecord.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The list texts that the game store keeps in single TEXT columns.
//
// Download lists (the DownloadInfo columns; other programs' files hold the same texts, so the
// format is fixed and has no escaping):
// - plain list: each value followed by ';';
// - per-volume list: for each set, its number, '@', then for each entry the entry text, '|', the
//   entry's number and '\', and after the set ';';
// - keyed list: each key, '|', its value and ';'.
// Numbers are decimal. Reading is lenient where the bytes allow it, so a text holding '@', '|' or
// '\' (a GBK character may hold the last two as its second byte) still comes back whole: a set
// number ends at the first '@', an entry ends at the first '\' that follows '|' and digits, and a
// key ends at the last '|' of its element. A ';' inside a text cannot be represented.
//
// Emulator lists (Executet, KeyConfig, SetConfig): records end with ';', fields are separated by
// '|', and '\' makes the next byte literal, so every value comes back exactly.

std::string FormatPlainList(const std::map<int, std::string>& values);
// The values in order, numbered from firstKey. A last value without its ';' is kept.
std::map<int, std::string> ParsePlainList(std::string_view text, int firstKey = 0);

std::string FormatVolumeList(const std::map<int, std::map<int, std::string>>& sets);
// Elements without '@' and entries without their number are dropped; the first of two entries
// with one number is kept.
std::map<int, std::map<int, std::string>> ParseVolumeList(std::string_view text);

std::string FormatKeyedList(const std::map<std::string, std::string>& values);
// Elements without '|' are dropped; the first of two equal keys is kept.
std::map<std::string, std::string> ParseKeyedList(std::string_view text);

std::string FormatExecuteList(const std::vector<std::string>& paths);
std::vector<std::string> ParseExecuteList(std::string_view text);
std::string FormatKeyConfigList(const std::vector<KeyConfigEntry>& entries);
std::vector<KeyConfigEntry> ParseKeyConfigList(std::string_view text);
std::string FormatSetConfigList(const std::vector<SetConfigEntry>& entries);
std::vector<SetConfigEntry> ParseSetConfigList(std::string_view text);

// The leading-digits rule: skip leading white space, take an optional sign and the decimal digits
// up to the first other character; no digits give 0. Values beyond the 32-bit range saturate.
int32_t LeadingInt(std::string_view text);
