#include "download/SharePageScrape.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <regex>

namespace {

// The values as the ECMAScript expressions give them, for pages small enough for std::regex.
SharePageValues ByRegex(const std::string& page)
{
    auto quoted = [&](const char* expression) {
        std::smatch match;
        if (!std::regex_search(page, match, std::regex(expression)))
            return std::string();
        const std::string whole = match.str(0);
        const size_t first = whole.find('"'), second = whole.find('"', first + 1);
        return whole.substr(first + 1, second - first - 1);
    };
    SharePageValues values;
    values.uk = quoted("FileUtils.uk=\"(.*?)\"");
    values.shareid = quoted("FileUtils.shareid=\"(.*?)\"");
    values.timestamp = quoted("FileUtils.timestamp=\"(.*?)\"");
    values.sign = quoted("FileUtils.downloadsign=\"(.*?)\"");
    std::smatch match;
    if (std::regex_search(page, match, std::regex("\\\\\"fs_id\\\\\":\\\\\".*?\\\\\","))) {
        // The id: the digits after the head, up to the first other character.
        const std::string value = match.str(0).substr(12);
        const std::string digits = value.substr(0, value.find_first_not_of("0123456789"));
        if (digits.size() <= 32)
            values.fsid = digits;
    }
    return values;
}

void ExpectSame(const SharePageValues& got, const SharePageValues& want, const std::string& page)
{
    EXPECT_EQ(got.uk, want.uk) << page;
    EXPECT_EQ(got.shareid, want.shareid) << page;
    EXPECT_EQ(got.timestamp, want.timestamp) << page;
    EXPECT_EQ(got.sign, want.sign) << page;
    EXPECT_EQ(got.fsid, want.fsid) << page;
}

TEST(SharePageScrapeTest, ReadsAPageAndLeavesMissingValuesEmpty)
{
    const std::string page =
        "<script>FileUtils.uk=\"1234\";\nFileUtils.shareid=\"99\";FileUtils.timestamp=\"17\";\n"
        "FileUtils.downloadsign=\"abc\";\nvar l = JSON.parse(\"[{\\\"fs_id\\\":\\\"123456789012345\\\","
        "\\\"isdir\\\":0}]\");</script>";
    SharePageValues values = ScrapeSharePage(page);
    EXPECT_EQ(values.uk, "1234");
    EXPECT_EQ(values.shareid, "99");
    EXPECT_EQ(values.timestamp, "17");
    EXPECT_EQ(values.sign, "abc");
    EXPECT_EQ(values.fsid, "123456789012345");
    ExpectSame(values, ByRegex(page), page);

    SharePageValues none = ScrapeSharePage("<html>expired</html>");
    EXPECT_TRUE(none.uk.empty() && none.shareid.empty() && none.fsid.empty() && none.sign.empty());
}

// The corners of the expressions: any character for the dot but a line break, no value across a
// line break, a later match on a later line, a quote standing for the dot, file ids shorter and
// longer than 15 digits (read to their end, never into the quote after them).
TEST(SharePageScrapeTest, MatchesTheExpressionsOnTheirCornersAndOnRandomPages)
{
    const std::vector<std::string> pages = {
        "FileUtilsXuk=\"a\"",
        "FileUtils\nuk=\"a\" FileUtils.uk=\"b\"",
        "FileUtils.uk=\"a\nb\" FileUtils.uk=\"c\"",
        "FileUtils\"uk=\"a\"",
        "FileUtils.uk=\"\"",
        "FileUtils.uk=\"unterminated",
        "FileUtils.uk=\"x\rFileUtils.uk=\"y\"",
        "\\\"fs_id\\\":\\\"12\\\",",
        "\\\"fs_id\\\":\\\"\\\",",
        "\\\"fs_id\\\":\\\"1\n2\\\", \\\"fs_id\\\":\\\"987654321098765432\\\",",
        "\\\"fs_id\\\":\\\"12a\\\",",
        "\\\"fs_id\\\":\\\"" + std::string(33, '9') + "\\\",",
    };
    EXPECT_EQ(ScrapeSharePage(pages[7]).fsid, "12");
    EXPECT_EQ(ScrapeSharePage(pages[9]).fsid, "987654321098765432");
    for (const std::string& page : pages)
        ExpectSame(ScrapeSharePage(page), ByRegex(page), page);

    const char* seedText = std::getenv("QUOKKA_CRASH_SEED");
    const unsigned seed =
        seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
    std::cout << "seed " << seed << " (QUOKKA_CRASH_SEED replays it)\n";
    std::mt19937 random(seed);
    const std::vector<std::string> pieces = {"FileUtils.uk=\"",
                                             "FileUtils.shareid=\"",
                                             "FileUtils.timestamp=\"",
                                             "FileUtils.downloadsign=\"",
                                             "FileUtils",
                                             "uk=\"",
                                             "\"",
                                             "\n",
                                             "\r",
                                             "\\\"fs_id\\\":\\\"",
                                             "\\\",",
                                             "\\",
                                             "1234567",
                                             "x",
                                             ";"};
    for (int round = 0; round < 2000; ++round) {
        std::string page;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i)
            page += pieces[random() % pieces.size()];
        ExpectSame(ScrapeSharePage(page), ByRegex(page), page);
        if (HasFailure())
            break;
    }
}

TEST(SharePageScrapeTest, LongHostilePagesNeitherRecurseNorStall)
{
    // Many candidates on long lines without an end: the kind of page that takes std::regex down.
    std::string page;
    while (page.size() < 2u * 1024u * 1024u)
        page += "FileUtils.uk=\\\"fs_id\\\":\\\"" + std::string(200, '7');
    page += "\nFileUtils.uk=\"last\"";
    SharePageValues values = ScrapeSharePage(page);
    EXPECT_EQ(values.uk, "last");
    EXPECT_TRUE(values.fsid.empty());
}

} // namespace
