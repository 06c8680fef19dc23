#include "store/StoreListFormat.h"

#include <cctype>
#include <limits>

namespace {

constexpr char kEnd = ';';
constexpr char kSetMark = '@';
constexpr char kBar = '|';
constexpr char kBackslash = '\\';

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Calls take(element) for each element that ends with ';', then for a non-empty remainder.
template <typename Take> void ForEachElement(std::string_view text, Take take)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(kEnd, start);
        if (end == std::string_view::npos) {
            take(text.substr(start));
            return;
        }
        take(text.substr(start, end - start));
        start = end + 1;
    }
}

// True when text ends with '|' and one or more digits (an optional '-' before them); sets the
// position of that '|'.
bool EndsWithBarNumber(std::string_view text, size_t& barPos)
{
    size_t bar = text.rfind(kBar);
    if (bar == std::string_view::npos)
        return false;
    std::string_view number = text.substr(bar + 1);
    if (!number.empty() && number.front() == '-')
        number.remove_prefix(1);
    if (number.empty())
        return false;
    for (char c : number) {
        if (!IsDigit(c))
            return false;
    }
    barPos = bar;
    return true;
}

void AppendEscaped(std::string& out, std::string_view value)
{
    for (char c : value) {
        if (c == kEnd || c == kBar || c == kBackslash)
            out += kBackslash;
        out += c;
    }
}

// Splits an escaped list into records of fields. A last record without its ';' is kept when it
// holds anything.
std::vector<std::vector<std::string>> ParseEscaped(std::string_view text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields(1);
    bool pending = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == kBackslash) {
            if (i + 1 < text.size())
                fields.back() += text[++i];
            pending = true;
        } else if (c == kBar) {
            fields.emplace_back();
            pending = true;
        } else if (c == kEnd) {
            records.push_back(std::move(fields));
            fields.assign(1, std::string());
            pending = false;
        } else {
            fields.back() += c;
            pending = true;
        }
    }
    if (pending)
        records.push_back(std::move(fields));
    return records;
}

std::string FieldOrEmpty(const std::vector<std::string>& fields, size_t index)
{
    return index < fields.size() ? fields[index] : std::string();
}

} // namespace

std::string FormatPlainList(const std::map<int, std::string>& values)
{
    std::string out;
    for (const auto& [key, value] : values) {
        out += value;
        out += kEnd;
    }
    return out;
}

std::map<int, std::string> ParsePlainList(std::string_view text, int firstKey)
{
    std::map<int, std::string> values;
    int key = firstKey;
    ForEachElement(text, [&](std::string_view element) { values.emplace(key++, std::string(element)); });
    return values;
}

std::string FormatVolumeList(const std::map<int, std::map<int, std::string>>& sets)
{
    std::string out;
    for (const auto& [setNumber, entries] : sets) {
        out += std::to_string(setNumber);
        out += kSetMark;
        for (const auto& [entryNumber, entry] : entries) {
            out += entry;
            out += kBar;
            out += std::to_string(entryNumber);
            out += kBackslash;
        }
        out += kEnd;
    }
    return out;
}

std::map<int, std::map<int, std::string>> ParseVolumeList(std::string_view text)
{
    std::map<int, std::map<int, std::string>> sets;
    ForEachElement(text, [&](std::string_view element) {
        size_t mark = element.find(kSetMark);
        if (mark == std::string_view::npos)
            return;
        std::map<int, std::string>& entries = sets[LeadingInt(element.substr(0, mark))];
        std::string_view rest = element.substr(mark + 1);
        size_t start = 0;
        size_t searchFrom = 0;
        while (start < rest.size()) {
            size_t slash = rest.find(kBackslash, searchFrom);
            std::string_view candidate =
                rest.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
            size_t bar = 0;
            if (EndsWithBarNumber(candidate, bar)) {
                entries.emplace(LeadingInt(candidate.substr(bar + 1)), std::string(candidate.substr(0, bar)));
                if (slash == std::string_view::npos)
                    break;
                start = searchFrom = slash + 1;
            } else {
                // This '\' belongs to the entry's text; look for the next one.
                if (slash == std::string_view::npos)
                    break;
                searchFrom = slash + 1;
            }
        }
    });
    return sets;
}

std::string FormatKeyedList(const std::map<std::string, std::string>& values)
{
    std::string out;
    for (const auto& [key, value] : values) {
        out += key;
        out += kBar;
        out += value;
        out += kEnd;
    }
    return out;
}

std::map<std::string, std::string> ParseKeyedList(std::string_view text)
{
    std::map<std::string, std::string> values;
    ForEachElement(text, [&](std::string_view element) {
        size_t bar = element.rfind(kBar);
        if (bar == std::string_view::npos)
            return;
        values.emplace(std::string(element.substr(0, bar)), std::string(element.substr(bar + 1)));
    });
    return values;
}

std::string FormatExecuteList(const std::vector<std::string>& paths)
{
    std::string out;
    for (const std::string& path : paths) {
        AppendEscaped(out, path);
        out += kEnd;
    }
    return out;
}

std::vector<std::string> ParseExecuteList(std::string_view text)
{
    std::vector<std::string> paths;
    for (auto& fields : ParseEscaped(text))
        paths.push_back(FieldOrEmpty(fields, 0));
    return paths;
}

std::string FormatKeyConfigList(const std::vector<KeyConfigEntry>& entries)
{
    std::string out;
    for (const KeyConfigEntry& entry : entries) {
        AppendEscaped(out, entry.Source);
        out += kBar;
        AppendEscaped(out, entry.Target);
        out += kBar;
        AppendEscaped(out, entry.DefaultSource);
        out += kEnd;
    }
    return out;
}

std::vector<KeyConfigEntry> ParseKeyConfigList(std::string_view text)
{
    std::vector<KeyConfigEntry> entries;
    for (auto& fields : ParseEscaped(text))
        entries.push_back({FieldOrEmpty(fields, 0), FieldOrEmpty(fields, 1), FieldOrEmpty(fields, 2)});
    return entries;
}

std::string FormatSetConfigList(const std::vector<SetConfigEntry>& entries)
{
    std::string out;
    for (const SetConfigEntry& entry : entries) {
        AppendEscaped(out, entry.Source);
        out += kBar;
        AppendEscaped(out, entry.Target);
        out += kEnd;
    }
    return out;
}

std::vector<SetConfigEntry> ParseSetConfigList(std::string_view text)
{
    std::vector<SetConfigEntry> entries;
    for (auto& fields : ParseEscaped(text))
        entries.push_back({FieldOrEmpty(fields, 0), FieldOrEmpty(fields, 1)});
    return entries;
}

int32_t LeadingInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit)
            value = kLimit;
    }
    if (negative)
        return static_cast<int32_t>(-value);
    return static_cast<int32_t>(
        value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : value);
}
