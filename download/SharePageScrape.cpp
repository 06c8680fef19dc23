#include "download/SharePageScrape.h"

#include <algorithm>
#include <string>

namespace {

bool IsLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

// The first match of `before`, one character that is not a line break (when `wildcard` is set),
// `after`, and then the shortest text without line breaks that ends with `tail`. Returns the whole
// match, or an empty view when there is none. A candidate whose line holds no `tail` after it lets
// every candidate before that line's end go, so each byte is looked at a bounded number of times.
std::string_view FirstMatch(std::string_view page, std::string_view before, bool wildcard,
                            std::string_view after, std::string_view tail)
{
    const size_t headSize = before.size() + (wildcard ? 1 : 0) + after.size();
    size_t from = 0;
    while (from < page.size()) {
        const size_t start = page.find(before, from);
        if (start == std::string_view::npos || start + headSize > page.size())
            return {};
        const size_t afterAt = start + before.size() + (wildcard ? 1 : 0);
        if ((wildcard && IsLineBreak(page[start + before.size()])) ||
            page.substr(afterAt, after.size()) != after) {
            from = start + 1;
            continue;
        }
        const size_t bodyStart = start + headSize;
        size_t lineEnd = page.find_first_of("\r\n", bodyStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = page.size();
        const size_t end = page.substr(0, lineEnd).find(tail, bodyStart);
        if (end != std::string_view::npos)
            return page.substr(start, end + tail.size() - start);
        from = lineEnd + 1;
    }
    return {};
}

// The text between the first and the second double quote of `match`.
std::string BetweenQuotes(std::string_view match)
{
    size_t first = match.find('"');
    if (first == std::string_view::npos)
        return {};
    size_t second = match.find('"', first + 1);
    if (second == std::string_view::npos)
        return {};
    return std::string(match.substr(first + 1, second - first - 1));
}

std::string FileUtilsValue(std::string_view page, std::string_view name)
{
    // "FileUtils", any character, the name and "=\"", then the value up to the next quote.
    return BetweenQuotes(FirstMatch(page, "FileUtils", true, std::string(name) + "=\"", "\""));
}

// The file id at the start of `text`: its decimal digits up to the first other character, however
// many there are up to kMaxFileIdDigits; empty when there are none or more.
std::string FileId(std::string_view text)
{
    constexpr size_t kMaxFileIdDigits = 32;
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits > kMaxFileIdDigits)
        return {};
    return std::string(text.substr(0, digits));
}

} // namespace

SharePageValues ScrapeSharePage(std::string_view page)
{
    SharePageValues values;
    values.uk = FileUtilsValue(page, "uk");
    values.shareid = FileUtilsValue(page, "shareid");
    values.timestamp = FileUtilsValue(page, "timestamp");
    values.sign = FileUtilsValue(page, "downloadsign");
    constexpr std::string_view kIdHead = "\\\"fs_id\\\":\\\"";
    std::string_view match = FirstMatch(page, kIdHead, false, "", "\\\",");
    values.fsid = FileId(match.substr(std::min(match.size(), kIdHead.size())));
    return values;
}
