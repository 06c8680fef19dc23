#include "platform/CodePage.h"

#include <cerrno>
#include <clocale>
#include <iconv.h>
#include <langinfo.h>
#include <memory>
#include <mutex>
#include <strings.h>

namespace platform {
namespace {

std::mutex& CodePageMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::string& CodePageName()
{
    static std::string name;
    return name;
}

std::string CodePageFromLocale()
{
    // Query LC_CTYPE from the environment without disturbing the process's own locale choice.
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc)
        return "UTF-8";
    std::string codeset = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII")
        return "UTF-8";
    return codeset;
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

size_t Utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

} // namespace

std::string ProcessCodePage()
{
    std::lock_guard lock(CodePageMutex());
    if (CodePageName().empty())
        CodePageName() = CodePageFromLocale();
    return CodePageName();
}

void SetProcessCodePage(const std::string& iconvName)
{
    std::lock_guard lock(CodePageMutex());
    CodePageName() = iconvName;
}

bool IsUtf8Name(std::string_view name)
{
    return (name.size() == 5 && strncasecmp(name.data(), "UTF-8", 5) == 0) ||
           (name.size() == 4 && strncasecmp(name.data(), "UTF8", 4) == 0);
}

IconvResult IconvConvert(const char* fromEncoding, const char* toEncoding, std::string_view in,
                         std::string& out)
{
    out.clear();
    if (in.empty())
        return IconvResult::Ok;
    iconv_t raw = iconv_open(toEncoding, fromEncoding);
    if (raw == reinterpret_cast<iconv_t>(-1))
        return IconvResult::Failed;
    IconvHandle cd(raw);
    const bool fromUtf8 = IsUtf8Name(fromEncoding);

    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    size_t produced = 0;
    while (srcLeft > 0) {
        char* dst = out.data() + produced;
        size_t dstLeft = out.size() - produced;
        size_t rc = iconv(raw, &src, &srcLeft, &dst, &dstLeft);
        produced = out.size() - dstLeft;
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (errno == EILSEQ && fromUtf8) {
            // Valid UTF-8 that the target cannot hold: substitute like the Windows default char.
            size_t skip = Utf8SequenceLength(static_cast<unsigned char>(*src));
            if (skip > srcLeft)
                return IconvResult::InvalidInput;
            src += skip;
            srcLeft -= skip;
            if (produced == out.size())
                out.resize(out.size() * 2);
            out[produced++] = '?';
            continue;
        }
        return errno == EILSEQ || errno == EINVAL ? IconvResult::InvalidInput : IconvResult::Failed;
    }
    // Flush any shift state (stateless for the encodings used here, but correct for all).
    for (;;) {
        char* dst = out.data() + produced;
        size_t dstLeft = out.size() - produced;
        size_t rc = iconv(raw, nullptr, nullptr, &dst, &dstLeft);
        produced = out.size() - dstLeft;
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno != E2BIG)
            return IconvResult::Failed;
        out.resize(out.size() * 2);
    }
    out.resize(produced);
    return IconvResult::Ok;
}

} // namespace platform
