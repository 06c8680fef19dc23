#include "download/ShareLinkResolver.h"

#include "account/SecurityCodePrompt.h"
#include "download/BaiduPanResponse.h"
#include "download/SharePageScrape.h"
#include "foundation/FileSystem.h"
#include "foundation/ServerEndpoints.h"
#include "foundation/StringConv.h"
#include "platform/Trace.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>

namespace {

// A write sink that keeps at most `limit` bytes and ends the transfer beyond them.
struct BoundedBody {
    std::string* text;
    size_t limit;
    bool overflow = false;
};

size_t BoundedWrite(char* data, size_t size, size_t count, void* userData)
{
    auto* body = static_cast<BoundedBody*>(userData);
    const size_t bytes = size * count;
    if (body->text->size() + bytes > body->limit) {
        body->overflow = true;
        return 0;
    }
    body->text->append(data, bytes);
    return bytes;
}

// `text` escaped as one value of a query. False when the library cannot escape it.
bool QueryValue(const std::string& text, std::string& escaped)
{
    if (text.empty()) {
        escaped.clear();
        return true;
    }
    if (text.size() > static_cast<size_t>(INT_MAX))
        return false;
    std::unique_ptr<char, decltype(&curl_free)> value(
        curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size())), curl_free);
    if (!value)
        return false;
    escaped = value.get();
    return true;
}

// What the code dialog says after a wrong code, in the process code page; empty when the text does
// not convert (the dialog then shows its usual request).
std::string WrongCodeNotice()
{
    try {
        return Utf8ToOem("验证码错误");
    } catch (const std::exception&) {
        return {};
    }
}

// A game id that is one plain name segment, so the picture stays inside its folder.
bool PlainSegment(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

} // namespace

CShareLinkResolver::CShareLinkResolver(platform::HWND owner, std::string pictureFolder, std::string gameId,
                                       const TransferCancel* cancel)
    : m_owner(owner), m_pictureFolder(std::move(pictureFolder)), m_gameId(std::move(gameId)), m_cancel(cancel)
{
}

std::string CShareLinkResolver::RandomSuffix()
{
    static thread_local std::mt19937 generator(
        static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count() ^
                              std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> digit(0, 8);
    std::string suffix = "0.";
    for (int i = 0; i < 16; ++i)
        suffix.push_back(static_cast<char>('0' + digit(generator)));
    return suffix;
}

std::string CShareLinkResolver::CookieHeader() const
{
    std::string header;
    for (const auto& [name, value] : m_cookies)
        header += name + "=" + value + ";";
    return header;
}

bool CShareLinkResolver::Request(Fetch fetch, const std::string& url, const std::string& referer,
                                 size_t limit, std::string* body, long& status, std::string* location)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return false;
    const std::string cookie = CookieHeader();
    std::string sink;
    BoundedBody bounded{body ? body : &sink, limit};
    if (fetch == Fetch::Head) {
        ApplyShareProbeProfile(handle.get(), url, cookie, referer);
    } else {
        ApplySharePageProfile(handle.get(), url, cookie, referer, nullptr);
        curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, BoundedWrite);
        curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &bounded);
    }
    if (NetPerform(handle.get(), m_cancel) != CURLE_OK || bounded.overflow)
        return false;
    status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    if (location) {
        char* target = nullptr;
        location->clear();
        if (curl_easy_getinfo(handle.get(), CURLINFO_REDIRECT_URL, &target) == CURLE_OK && target)
            *location = target;
    }

    // The library's cookies after the request, one Netscape line each: the name is the sixth field,
    // the value the seventh.
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(handle.get(), CURLINFO_COOKIELIST, &list) != CURLE_OK)
        return true;
    CurlSlistPtr owned(list);
    for (curl_slist* line = list; line; line = line->next) {
        std::string text = line->data;
        std::string fields[7];
        size_t start = 0;
        int field = 0;
        for (; field < 7; ++field) {
            size_t tab = text.find('\t', start);
            fields[field] = text.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        if (field < 6)
            continue;
        if (m_cookies.count(fields[5]) == 0 && m_cookies.size() >= kMaxCookies)
            return false;
        m_cookies[fields[5]] = fields[6];
    }
    return true;
}

bool CShareLinkResolver::Probe(std::string url, const std::string& referer, std::string& finalUrl)
{
    for (int hop = 0; hop <= kMaxHandRedirects; ++hop) {
        long status = 0;
        std::string location;
        if (!Request(Fetch::Head, url, referer, 0, nullptr, status, &location))
            return false;
        if (status == 200) {
            finalUrl = url;
            return true;
        }
        if (status != 301 && status != 302)
            return false;
        if (location.empty()) {
            finalUrl = url;
            return true;
        }
        url = location;
    }
    return false;
}

bool CShareLinkResolver::FetchPicture(const std::string& url, const std::string& path)
{
    std::string picture;
    long status = 0;
    if (!Request(Fetch::Get, url, std::string(), kMaxPictureBytes, &picture, status, nullptr) ||
        status != 200)
        return false;
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(picture.data(), static_cast<std::streamsize>(picture.size()));
    return static_cast<bool>(out.flush());
}

bool CShareLinkResolver::AskCode(const std::string& path, const std::string& notice, std::string& code)
{
    std::shared_ptr<ISecurityCodePrompt> prompt = InstalledSecurityCodePrompt();
    return prompt->AskSecurityCode(m_owner, path, notice, code) == kSecurityCodeEntered;
}

bool CShareLinkResolver::DownloadRequestUrl(const SharePageValues& values, const std::string& input,
                                            const std::string& vcode, std::string& url)
{
    std::string uk, shareid, fsid, sign, timestamp, typed, picture;
    if (!QueryValue(values.uk, uk) || !QueryValue(values.shareid, shareid) ||
        !QueryValue(values.fsid, fsid) || !QueryValue(values.sign, sign) ||
        !QueryValue(values.timestamp, timestamp) || !QueryValue(input, typed) || !QueryValue(vcode, picture))
        return false;
    url = ShareDownloadUrl() + "?uk=" + uk + "&shareid=" + shareid + "&fid_list=%5B" + fsid +
          "%5D&sign=" + sign + "&timestamp=" + timestamp + "&r=" + RandomSuffix();
    if (!vcode.empty())
        url += "&input=" + typed + "&vcode=" + picture;
    return true;
}

bool CShareLinkResolver::Resolve(const std::string& shareLink, std::string& directLink)
{
    if (!PlainSegment(m_gameId))
        return false;
    std::string page;
    long status = 0;
    if (!Request(Fetch::Get, shareLink, std::string(), kMaxPageBytes, &page, status, nullptr) ||
        status != 200)
        return false;
    SharePageValues values;
    try {
        // The page is searched in the process code page, as the rest of the program's text is.
        values = ScrapeSharePage(Utf8ToOem(page));
    } catch (const std::exception&) {
        return false;
    }

    // The dialog takes the picture's narrow path; the file is written and removed by its native one.
    const std::string picturePath = m_pictureFolder + m_gameId + ".jpg";
    std::string nativePicture;
    try {
        nativePicture = NativePath(picturePath);
    } catch (const std::exception&) {
        return false;
    }
    // The code typed for the picture named `vcode`, sent with the next request only.
    std::string input, vcode;
    for (int round = 0; round <= kMaxCodeRounds; ++round) {
        // Built afresh each round from escaped values: neither the page nor the service nor the
        // user can add keys of their own to the query.
        std::string endpoint;
        if (!DownloadRequestUrl(values, input, vcode, endpoint))
            return false;
        std::string answerText;
        if (!Request(Fetch::Get, endpoint, shareLink, kMaxAnswerBytes, &answerText, status, nullptr) ||
            status != 200)
            return false;
        CBaiduPanResponse answer;
        if (!answer.ParseText(answerText))
            return false;
        if (answer.errnum == -19) {
            // A demand that answers a code means that code was wrong; the user hears so with the
            // new picture. Past kMaxCodeRounds pictures the service is not taken at its word.
            if (answer.vcode.empty() || answer.img.empty() || round == kMaxCodeRounds)
                return false;
            const bool wrong = !vcode.empty();
            const bool fetched = FetchPicture(answer.img, nativePicture);
            const bool entered =
                fetched && AskCode(picturePath, wrong ? WrongCodeNotice() : std::string(), input);
            std::error_code ignored;
            std::filesystem::remove(nativePicture, ignored);
            if (!entered)
                return false;
            vcode = answer.vcode;
            continue;
        }
        if (answer.errnum != 0 || answer.dlink.empty())
            return false;

        if (!Request(Fetch::Get, PcsPlantCookieUrl(), endpoint, kMaxAnswerBytes, nullptr, status, nullptr) ||
            status != 200)
            return false;
        std::string finalUrl;
        if (!Probe(answer.dlink, endpoint, finalUrl))
            return false;
        platform::Trace("share link resolved: " + finalUrl);
        directLink = finalUrl;
        return true;
    }
    return false;
}
