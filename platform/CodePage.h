#pragma once

#include <string>
#include <string_view>

namespace platform {

// The process's "ANSI" code page, as an iconv encoding name ("UTF-8", "GBK", ...). It is read from
// the locale the first time it is asked for (LC_CTYPE from the environment); a C or POSIX locale
// counts as UTF-8. The OEM code page is the same one.
std::string ProcessCodePage();

// Replaces the process code page; tests use it to run the conversions under UTF-8 and GBK.
void SetProcessCodePage(const std::string& iconvName);

// True for the spellings of UTF-8 that iconv and nl_langinfo use.
bool IsUtf8Name(std::string_view name);

enum class IconvResult {
    Ok,
    InvalidInput, // the input is not valid in its source encoding
    Failed,       // the conversion could not be set up (unknown encoding, out of memory)
};

// Converts text between two iconv encodings into `out` (replaced). When the source is UTF-8 (which
// the caller has validated), a character that the target cannot represent becomes '?' as the
// Windows code-page functions do; otherwise invalid or truncated input gives InvalidInput and
// leaves `out` unspecified.
IconvResult IconvConvert(const char* fromEncoding, const char* toEncoding, std::string_view in,
                         std::string& out);

} // namespace platform
