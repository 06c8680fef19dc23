#include "server/ShareService.h"

#include "server/CaptchaPicture.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kJson[] = "application/json; charset=utf-8";

uint64_t Fnv1a(const std::string& text)
{
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string WriteJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

ShareReply JsonReply(const Json::Value& value)
{
    ShareReply reply;
    reply.contentType = kJson;
    reply.body = WriteJson(value);
    return reply;
}

ShareReply TextReply(int status, std::string body)
{
    ShareReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

ShareReply Refused()
{
    Json::Value answer;
    answer["errno"] = 2;
    answer["request_id"] = Json::Int64(0);
    return JsonReply(answer);
}

// The value of cookie `name` in a Cookie header ("a=1; b=2" or "a=1;b=2;"); empty when absent.
std::string CookieValue(const std::string& header, const std::string& name)
{
    size_t start = 0;
    while (start < header.size()) {
        size_t end = std::min(header.find(';', start), header.size());
        std::string pair = header.substr(start, end - start);
        size_t first = pair.find_first_not_of(' ');
        if (first != std::string::npos)
            pair = pair.substr(first);
        if (pair.compare(0, name.size() + 1, name + "=") == 0)
            return pair.substr(name.size() + 1);
        start = end + 1;
    }
    return {};
}

// "0." and 16 decimal digits, none of them 9.
bool ValidRandom(const std::string& r)
{
    if (r.size() != 18 || r.compare(0, 2, "0.") != 0)
        return false;
    return std::all_of(r.begin() + 2, r.end(), [](char c) { return c >= '0' && c <= '8'; });
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

CShareService::PageValues CShareService::ValuesFor(const std::string& key, const std::string& timestamp)
{
    PageValues values;
    const uint64_t hash = Fnv1a("share:" + key);
    values.uk = std::to_string(1000000000ULL + hash % 1000000000ULL);
    values.shareid = std::to_string(2000000000ULL + (hash >> 20) % 1000000000ULL);
    values.fsid = std::to_string(100000000000000ULL + (hash >> 7) % 900000000000000ULL);
    values.timestamp = timestamp;
    char sign[41];
    std::snprintf(sign, sizeof sign, "%016llx%016llx",
                  static_cast<unsigned long long>(Fnv1a("sign:" + key + ":" + timestamp)),
                  static_cast<unsigned long long>(Fnv1a("sign2:" + timestamp + ":" + key)));
    values.sign = sign;
    return values;
}

bool CShareService::Load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return true;
    std::stringstream text;
    text << in.rdbuf();
    const std::string json = text.str();
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    if (!reader->parse(json.data(), json.data() + json.size(), &root, &error) || !root.isObject()) {
        error = "shares.json: " + (error.empty() ? std::string("expected an object") : error);
        return false;
    }
    std::lock_guard guard(m_lock);
    for (const std::string& key : root.getMemberNames()) {
        const Json::Value& item = root[key];
        if (!item.isObject() || !item["file"].isString()) {
            error = "shares.json: share \"" + key + "\" needs a \"file\" string";
            return false;
        }
        Share share;
        share.file = item["file"].asString();
        share.captcha = item.get("captcha", "none").asString();
        share.state = item.get("state", "ok").asString();
        share.hops = std::clamp(item.get("hops", 1).isInt() ? item.get("hops", 1).asInt() : 1, 0, 20);
        m_shares[key] = share;
        m_byShareId[ValuesFor(key, "").shareid] = key;
    }
    return true;
}

std::string CShareService::Token()
{
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(m_random()),
                  static_cast<unsigned long long>(m_random()));
    return text;
}

std::string CShareService::CaptchaCode(const std::string& vcode) const
{
    std::lock_guard guard(m_lock);
    auto found = m_codes.find(vcode);
    return found == m_codes.end() ? std::string() : found->second.code;
}

ShareReply CShareService::Handle(const ShareRequest& request)
{
    std::lock_guard guard(m_lock);
    const std::string linkPrefix = "/share/link/";
    if (request.path.compare(0, linkPrefix.size(), linkPrefix) == 0)
        return Page(request, request.path.substr(linkPrefix.size()));
    if (request.path == "/share/download")
        return Endpoint(request);
    if (request.path == "/share/captcha")
        return Captcha(request);
    if (request.path == "/rest/2.0/pcs/file")
        return PlantCookie(request);
    if (request.path.compare(0, 13, "/share/dlink/") == 0)
        return DirectLink(request);
    return TextReply(404, "not found\n");
}

ShareReply CShareService::Page(const ShareRequest& request, const std::string& key)
{
    auto found = m_shares.find(key);
    if (found == m_shares.end() || found->second.state == "removed")
        return TextReply(404, "not found\n");
    const std::string pageCookie = Token();
    m_pageCookies[pageCookie] = key;

    ShareReply reply;
    reply.contentType = kHtml;
    reply.headers.emplace_back("Set-Cookie", std::string(kSharePageCookie) + "=" + pageCookie + "; path=/");
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\"><title>分享文件</title>"
                       "</head><body>";
    if (found->second.state == "expired") {
        reply.body = html + "<p>啊哦，你来晚了，分享的文件已经被取消了。</p></body></html>\n";
        return reply;
    }
    const std::string timestamp = std::to_string(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    const PageValues values = ValuesFor(key, timestamp);
    const std::string name = found->second.file.substr(found->second.file.find_last_of('/') + 1);
    html += "<div class=\"file\">" + name + "</div><script>var FileUtils = {};\n";
    html += "FileUtils.uk=\"" + values.uk + "\";\n";
    html += "FileUtils.shareid=\"" + values.shareid + "\";\n";
    html += "FileUtils.timestamp=\"" + values.timestamp + "\";\n";
    html += "FileUtils.downloadsign=\"" + values.sign + "\";\n";
    // The file list is JSON inside a JavaScript string, so its quotes arrive escaped.
    html += "var fileList = JSON.parse(\"[{\\\"fs_id\\\":\\\"" + values.fsid +
            "\\\",\\\"server_filename\\\":\\\"" + name +
            "\\\",\\\"isdir\\\":0}]\");\n</script></body></html>\n";
    reply.body = html;
    (void)request;
    return reply;
}

ShareReply CShareService::NewCaptcha(const ShareRequest& request, const std::string& key)
{
    static const char kAlphabet[] = "2345678ACEFHKMNPRTXY";
    std::string code;
    for (int i = 0; i < 4; ++i)
        code.push_back(kAlphabet[m_random() % (sizeof kAlphabet - 1)]);
    const std::string vcode = Token();
    m_codes[vcode] = PendingCode{key, code};
    if (m_codeObserver)
        m_codeObserver(vcode, code);
    Json::Value answer;
    answer["errno"] = -19;
    answer["request_id"] = Json::Int64(4242424242LL);
    answer["img"] = request.origin + "/share/captcha?vcode=" + vcode;
    answer["vcode"] = vcode;
    return JsonReply(answer);
}

ShareReply CShareService::Endpoint(const ShareRequest& request)
{
    auto value = [&](const char* name) {
        auto found = request.query.find(name);
        return found == request.query.end() ? std::string() : found->second;
    };
    auto byId = m_byShareId.find(value("shareid"));
    if (byId == m_byShareId.end())
        return Refused();
    const std::string key = byId->second;
    const Share& share = m_shares[key];
    const PageValues expected = ValuesFor(key, value("timestamp"));
    if (share.state != "ok" || value("uk") != expected.uk || value("sign") != expected.sign ||
        value("fid_list") != "[" + expected.fsid + "]" || !ValidRandom(value("r")))
        return Refused();
    if (!EndsWith(request.referer, "/share/link/" + key))
        return Refused();
    auto page = m_pageCookies.find(CookieValue(request.cookie, kSharePageCookie));
    if (page == m_pageCookies.end() || page->second != key)
        return Refused();

    if (share.captcha != "none") {
        const std::string input = value("input"), vcode = value("vcode");
        auto issued = m_codes.find(vcode);
        if (input.empty() || issued == m_codes.end() || issued->second.key != key)
            return NewCaptcha(request, key);
        bool right = input.size() == 4;
        if (share.captcha != "once") {
            std::string upper = input;
            std::transform(upper.begin(), upper.end(), upper.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            right = upper == issued->second.code;
        }
        if (!right)
            return NewCaptcha(request, key);
    }
    Json::Value answer;
    answer["errno"] = 0;
    answer["request_id"] = Json::Int64(4242424242LL);
    answer["dlink"] = request.origin + "/share/dlink/" + key + "/0";
    return JsonReply(answer);
}

ShareReply CShareService::Captcha(const ShareRequest& request)
{
    auto vcode = request.query.find("vcode");
    auto found = vcode == request.query.end() ? m_codes.end() : m_codes.find(vcode->second);
    if (found == m_codes.end())
        return TextReply(404, "no such picture\n");
    ShareReply reply;
    reply.contentType = "image/jpeg";
    reply.body = DrawCaptchaJpeg(found->second.code);
    return reply;
}

ShareReply CShareService::PlantCookie(const ShareRequest& request)
{
    auto method = request.query.find("method");
    auto type = request.query.find("type");
    if (method == request.query.end() || method->second != "plantcookie" || type == request.query.end() ||
        type->second != "ett")
        return TextReply(400, "{\"error_code\":3,\"error_msg\":\"unsupported\"}\n");
    const std::string token = Token();
    m_storageCookies.insert(token);
    ShareReply reply = TextReply(200, "{\"error_code\":0}\n");
    reply.contentType = kJson;
    reply.headers.emplace_back("Set-Cookie", std::string(kShareStorageCookie) + "=" + token + "; path=/");
    return reply;
}

ShareReply CShareService::DirectLink(const ShareRequest& request)
{
    // /share/dlink/KEY/HOP
    const std::string rest = request.path.substr(13);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos)
        return TextReply(404, "not found\n");
    auto found = m_shares.find(rest.substr(0, slash));
    const std::string hopText = rest.substr(slash + 1);
    if (found == m_shares.end() || hopText.empty() || hopText.size() > 3 ||
        !std::all_of(hopText.begin(), hopText.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return TextReply(404, "not found\n");
    if (m_storageCookies.count(CookieValue(request.cookie, kShareStorageCookie)) == 0)
        return TextReply(403, "forbidden\n");
    const int hop = std::stoi(hopText);
    ShareReply reply = TextReply(302, "moved\n");
    if (hop + 1 < found->second.hops)
        reply.headers.emplace_back("Location", request.origin + "/share/dlink/" + found->first + "/" +
                                                   std::to_string(hop + 1));
    else
        reply.headers.emplace_back("Location", request.origin + "/" + found->second.file);
    return reply;
}
