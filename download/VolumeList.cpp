#include "download/VolumeList.h"

#include <climits>

namespace {

int LeadingDigits(std::string_view text)
{
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(value);
}

} // namespace

std::map<int, std::string> ParseVolumeUrlList(std::string_view text)
{
    std::map<int, std::string> volumes;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos)
            comma = text.size();
        std::string_view entry = text.substr(start, comma - start);
        start = comma + 1;
        const size_t bar = entry.find('|');
        if (bar == std::string_view::npos || entry.find('|', bar + 1) != std::string_view::npos)
            continue;
        std::string_view url = entry.substr(0, bar);
        std::string_view number = entry.substr(bar + 1);
        if (url.empty() || number.empty())
            continue;
        volumes.emplace(LeadingDigits(number), std::string(url));
    }
    return volumes;
}
