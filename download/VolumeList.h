#pragma once

#include <map>
#include <string>
#include <string_view>

// Reads a volume list: entries separated by ",", each a URL, "|" and the volume number in decimal
// ("http://a/x.001|1,http://a/x.002|2"). An entry that does not split into exactly two non-empty
// parts at "|" is skipped; the number is the part's leading decimal digits (0 without any,
// saturating at the largest int). Of two entries with one number the first is kept. Linear in the
// text's length.
std::map<int, std::string> ParseVolumeUrlList(std::string_view text);
