#pragma once

#include <string>
#include <string_view>

// The values a share's mobile page hands to its script, as the download request needs them.
struct SharePageValues {
    std::string uk;
    std::string shareid;
    std::string timestamp;
    std::string sign;
    std::string fsid;
};

// Reads the page's values the way these ECMAScript expressions would, each taking its first match:
//   FileUtils.uk="(.*?)"   FileUtils.shareid="(.*?)"   FileUtils.timestamp="(.*?)"
//   FileUtils.downloadsign="(.*?)"                       (the value: between the match's first two
//                                                         double quotes)
//   \"fs_id\":\".*?\",                                   (the value: the decimal digits that follow
//                                                         the match's first 12 characters, up to the
//                                                         first other one; empty past 32 digits)
// where "." is any character but a line break ('\n' or '\r') and no match crosses a line break. A
// value whose expression finds nothing stays empty. Runs in time linear in the page's length and
// with constant stack, whatever the page holds.
SharePageValues ScrapeSharePage(std::string_view page);
