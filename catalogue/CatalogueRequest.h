#pragma once

#include <string>
#include <string_view>

// The client parameters that every catalogue request carries, sent as they stand.
inline constexpr char kClientParams[] = " | |zh| | |pc1.0";

// Form-encodes bytes: ASCII letters, digits and "-_.~" stay, a space becomes "+", every other byte
// becomes "%" and two upper-case hexadecimal digits.
std::string FormEncode(std::string_view bytes);

// The filter values as the catalogue API takes them: 0 is a single space, anything else three
// zero-padded digits ("007", "120").
std::string FilterText(int id);

// 0 "recommend", 1 "new", 2 "hot"; other values fall back to "recommend".
const char* OrderText(int order);

// The body of a game-list request. `keyword` is in the process code page; empty means browsing
// (sent as a single space), otherwise it is sent as form-encoded UTF-8. Throws like the text
// conversions when the keyword is not valid in the code page.
std::string FormatGameListBody(int page, int pageSize, int categoryId, int emulatorId, int order,
                               const std::string& keyword);

// The body of a game detail request.
std::string FormatGameInfoBody(const std::string& gameId);
