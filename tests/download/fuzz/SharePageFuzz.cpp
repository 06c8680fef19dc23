// Scrapes arbitrary bytes as a share page. Besides not crashing, recursing or hanging (the scrape is
// linear): on inputs small enough for std::regex, every value equals what the page's expressions
// give; on all inputs no value holds a line break and the file id is at most 15 characters.
#include "download/SharePageScrape.h"

#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>

namespace {

std::string Quoted(const std::string& page, const std::regex& expression)
{
    std::smatch match;
    if (!std::regex_search(page, match, expression))
        return {};
    const std::string whole = match.str(0);
    const size_t first = whole.find('"'), second = whole.find('"', first + 1);
    return whole.substr(first + 1, second - first - 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string page(reinterpret_cast<const char*>(data), size);
    const SharePageValues values = ScrapeSharePage(page);
    for (const std::string* value :
         {&values.uk, &values.shareid, &values.timestamp, &values.sign, &values.fsid})
        if (value->find_first_of("\r\n") != std::string::npos)
            __builtin_trap();
    if (values.fsid.size() > 32 || values.fsid.find_first_not_of("0123456789") != std::string::npos)
        __builtin_trap();
    if (size > 512)
        return 0;

    static const std::regex uk("FileUtils.uk=\"(.*?)\""), shareid("FileUtils.shareid=\"(.*?)\""),
        timestamp("FileUtils.timestamp=\"(.*?)\""), sign("FileUtils.downloadsign=\"(.*?)\""),
        fsid("\\\\\"fs_id\\\\\":\\\\\".*?\\\\\",");
    std::smatch match;
    // The id: the digits after the head, up to the first other character, at most 32 of them.
    std::string expectedFsid;
    if (std::regex_search(page, match, fsid)) {
        const std::string value = match.str(0).substr(12);
        const std::string digits = value.substr(0, value.find_first_not_of("0123456789"));
        if (digits.size() <= 32)
            expectedFsid = digits;
    }
    if (values.uk != Quoted(page, uk) || values.shareid != Quoted(page, shareid) ||
        values.timestamp != Quoted(page, timestamp) || values.sign != Quoted(page, sign) ||
        values.fsid != expectedFsid)
        __builtin_trap();
    return 0;
}
