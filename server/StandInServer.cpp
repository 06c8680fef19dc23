#include "server/StandInServer.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char kJson[] = "application/json; charset=utf-8";
constexpr char kText[] = "text/plain; charset=utf-8";
constexpr size_t kBlockSize = 256 * 1024;

// An open file that the content provider reads from; closed when the last reader lets go.
class OpenFile {
public:
    explicit OpenFile(int fd) : m_fd(fd) {}
    ~OpenFile() { ::close(m_fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

std::string ReadText(const fs::path& path, bool& found)
{
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::stringstream text;
    if (in)
        text << in.rdbuf();
    return text.str();
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Form decoding: '+' is a space, "%XX" a byte; a '%' without two hex digits stays as it is.
std::string FormDecode(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::map<std::string, std::string> ParseForm(std::string_view body)
{
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string_view::npos)
            end = body.size();
        std::string_view pair = body.substr(start, end - start);
        size_t equals = pair.find('=');
        if (!pair.empty()) {
            std::string key = FormDecode(pair.substr(0, equals));
            std::string value = equals == std::string_view::npos ? "" : FormDecode(pair.substr(equals + 1));
            fields.emplace(std::move(key), std::move(value));
        }
        start = end + 1;
    }
    return fields;
}

// The value of `key` in a form body as it was sent, before decoding; empty when absent.
std::string RawFormValue(std::string_view body, const std::string& key)
{
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = std::min(body.find('&', start), body.size());
        std::string_view pair = body.substr(start, end - start);
        if (pair.size() > key.size() && pair.substr(0, key.size()) == key && pair[key.size()] == '=')
            return std::string(pair.substr(key.size() + 1));
        start = end + 1;
    }
    return {};
}

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int LeadingInt(const std::string& text, int fallback)
{
    std::string trimmed = Trim(text);
    if (trimmed.empty())
        return fallback;
    return static_cast<int>(std::strtol(trimmed.c_str(), nullptr, 10));
}

std::string WriteJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

// A request path below `prefix` as a file below `root`, or empty when it would leave `root` (a ".."
// segment) or names nothing. Doubled slashes count as one.
fs::path MapPath(const fs::path& root, const std::string& requestPath, size_t prefixLength)
{
    std::string rest = requestPath.substr(std::min(prefixLength, requestPath.size()));
    fs::path result = root;
    std::stringstream segments(rest);
    std::string segment;
    bool any = false;
    while (std::getline(segments, segment, '/')) {
        if (segment.empty() || segment == ".")
            continue;
        if (segment == "..")
            return {};
        result /= segment;
        any = true;
    }
    return any ? result : fs::path();
}

// Parses "bytes=first-last", "bytes=first-" and "bytes=-suffix" against a file of `size` bytes.
// Returns 0 for no usable range (serve everything), 1 for a range inside the file, -1 for a range
// that starts past its end.
int ParseRange(const std::string& header, uint64_t size, uint64_t& first, uint64_t& last)
{
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0 || header.find(',') != std::string::npos)
        return 0;
    std::string rangeText = Trim(header.substr(prefix.size()));
    size_t dash = rangeText.find('-');
    if (dash == std::string::npos)
        return 0;
    std::string from = rangeText.substr(0, dash), to = rangeText.substr(dash + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() < 20 &&
               std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    if (from.empty()) {
        if (!digits(to))
            return 0;
        uint64_t suffix = std::stoull(to);
        if (suffix == 0 || size == 0)
            return -1;
        first = size > suffix ? size - suffix : 0;
        last = size - 1;
        return 1;
    }
    if (!digits(from) || (!to.empty() && !digits(to)))
        return 0;
    first = std::stoull(from);
    last = to.empty() ? size - 1 : std::stoull(to);
    if (!to.empty() && last < first)
        return 0;
    if (first >= size)
        return -1;
    last = std::min(last, size - 1);
    return 1;
}

// A 1x1 transparent GIF, the statistics counter's answer.
const unsigned char kPixelGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
                                   0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
                                   0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};

// FNV-1a, 64 bits: a stable signature that does not depend on the standard library's hash.
uint64_t Fnv1a(const std::string& text)
{
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

} // namespace

// What a route answers before faults shape how it is sent: a text body or a slice of a file.
struct CStandInServer::Reply {
    int status = 200;
    std::string contentType = kText;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::shared_ptr<OpenFile> file;
    uint64_t fileOffset = 0;
    uint64_t fileLength = 0;

    static Reply Text(int status, std::string body)
    {
        Reply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
    static Reply Json(const Json::Value& value)
    {
        Reply reply;
        reply.contentType = kJson;
        reply.body = WriteJson(value);
        return reply;
    }
    static Reply Redirect(int status, const std::string& location)
    {
        Reply reply = Text(status, "moved\n");
        reply.headers.emplace_back("Location", location);
        return reply;
    }
};

CStandInServer::CStandInServer(StandInServerOptions options) : m_options(std::move(options))
{
    if (!m_options.tlsCertFile.empty() && !m_options.tlsKeyFile.empty())
        m_server =
            std::make_unique<httplib::SSLServer>(m_options.tlsCertFile.c_str(), m_options.tlsKeyFile.c_str());
    else
        m_server = std::make_unique<httplib::Server>();
}

CStandInServer::~CStandInServer()
{
    Stop();
}

std::string CStandInServer::Origin() const
{
    const bool tls = !m_options.tlsCertFile.empty() && !m_options.tlsKeyFile.empty();
    return (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port);
}

bool CStandInServer::Start(std::string& error)
{
    if (!m_server->is_valid()) {
        error =
            "cannot use the certificate " + m_options.tlsCertFile + " with the key " + m_options.tlsKeyFile;
        return false;
    }
    const fs::path data(m_options.dataDir);
    if (!m_catalogue.Load((data / "catalogue.json").string(), error)) {
        error = "catalogue.json: " + error;
        return false;
    }
    bool found = false;
    std::string redirects = ReadText(data / "redirects.json", found);
    if (found) {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        if (!reader->parse(redirects.data(), redirects.data() + redirects.size(), &root, &error) ||
            !root.isObject()) {
            error = "redirects.json: " + (error.empty() ? std::string("expected an object") : error);
            return false;
        }
        for (const std::string& from : root.getMemberNames())
            m_redirects[from] = root[from].asString();
    }
    if (!m_shares.Load((data / "shares.json").string(), error))
        return false;
    if (!m_log.Open(m_options.logPath)) {
        error = "cannot open the log file " + m_options.logPath;
        return false;
    }
    m_shares.SetCodeObserver([this](const std::string& vcode, const std::string& code) {
        Json::Value note(Json::objectValue);
        note["captcha"] = vcode;
        note["code"] = code;
        m_log.WriteNote(note);
    });

    // Downloads, delayed answers and stalls each hold a worker for their whole length.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    m_server->set_keep_alive_timeout(2);
    AddRoutes();

    m_port = m_options.port == 0
                 ? m_server->bind_to_any_port("127.0.0.1")
                 : (m_server->bind_to_port("127.0.0.1", m_options.port) ? m_options.port : -1);
    if (m_port <= 0) {
        error = "cannot bind 127.0.0.1:" + std::to_string(m_options.port);
        m_port = 0;
        return false;
    }
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_listenEnded = true;
    });
    return true;
}

void CStandInServer::Stop()
{
    {
        std::lock_guard guard(m_stopLock);
        m_stopping = true;
    }
    m_stopSignal.notify_all();
    if (m_thread.joinable()) {
        // The library ignores stop() until its loop runs, so a stop right after Start waits for it.
        while (!m_server->is_running() && !m_listenEnded)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_server->stop();
        m_thread.join();
    }
}

bool CStandInServer::WaitFor(int ms)
{
    std::unique_lock lock(m_stopLock);
    return !m_stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping; });
}

bool CStandInServer::WriteServersCfg(const std::string& path) const
{
    const std::string origin = Origin();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out << "[Servers]\n"
        << "ApiBase=" << origin << "/clientapi/\n"
        << "DownloadBase=" << origin << "\n"
        << "ImageBase=" << origin << "/image/\n"
        << "ShareBase=" << origin << "\n"
        << "PcsBase=" << origin << "\n"
        << "StatBase=" << origin << "/stat/hm.gif?si=quokka\n"
        << "SiteBase=" << origin << "/site/\n";
    if (!m_options.tlsCertFile.empty() && !m_options.tlsKeyFile.empty())
        out << "CaFile=" << fs::absolute(m_options.tlsCertFile).string() << "\n";
    return static_cast<bool>(out.flush());
}

void CStandInServer::AddRoutes()
{
    auto route = [this](Route handler) {
        return [this, handler](const httplib::Request& request, httplib::Response& response) {
            Handle(request, response, handler);
        };
    };
    m_server->Post("/__faults", [this](const httplib::Request& request, httplib::Response& response) {
        std::string error;
        if (m_faults.Replace(request.body, error))
            response.set_content("ok\n", kText);
        else
            response.status = 400, response.set_content(error + "\n", kText);
    });
    m_server->Delete("/__faults", [this](const httplib::Request&, httplib::Response& response) {
        m_faults.Clear();
        response.set_content("ok\n", kText);
    });
    // Counters of the download bodies, for tests that check how many transfers run at once; not
    // logged.
    m_server->Get("/__stats", [this](const httplib::Request&, httplib::Response& response) {
        Json::Value stats;
        stats["downloadsSending"] = m_downloadsSending.load();
        stats["peakDownloads"] = m_peakDownloads.load();
        response.set_content(Json::writeString(Json::StreamWriterBuilder(), stats), kJson);
    });
    m_server->Delete("/__stats", [this](const httplib::Request&, httplib::Response& response) {
        ResetStats();
        response.set_content("ok\n", kText);
    });
    m_server->Post("/clientapi/?", route(&CStandInServer::ClientApi));
    m_server->Get("/clientapi/?", route(&CStandInServer::ClientApi));
    m_server->Get("/", route(&CStandInServer::Index));
    m_server->Post("/download/pc/update/emulators\\.php", route(&CStandInServer::EmulatorList));
    m_server->Post("/download/pc/update/index\\.php", route(&CStandInServer::UpdateInfo));
    m_server->Get("/download/.*", route(&CStandInServer::Download));
    m_server->Get("/image/.*", route(&CStandInServer::Image));
    m_server->Get("/stat/.*", route(&CStandInServer::Statistics));
    m_server->Get("/site/.*", route(&CStandInServer::SitePage));
    m_server->Get("/share/.*", route(&CStandInServer::Share));
    m_server->Get("/rest/2\\.0/pcs/.*", route(&CStandInServer::Share));
    // Tests read a picture's code here instead of reading the picture; not logged.
    m_server->Get("/__share/captcha", [this](const httplib::Request& request, httplib::Response& response) {
        std::string code = m_shares.CaptchaCode(request.get_param_value("vcode"));
        response.status = code.empty() ? 404 : 200;
        response.set_content(code, kText);
    });
    m_server->Get(".*", route(&CStandInServer::NotFound));
    m_server->Post(".*", route(&CStandInServer::NotFound));
}

void CStandInServer::Handle(const httplib::Request& request, httplib::Response& response, Route route)
{
    // Ranges are answered by the routes themselves: the library's own handling trusts the
    // client's numbers, so its parsed copy is dropped before it can act on it.
    const_cast<httplib::Request&>(request).ranges.clear();
    m_log.Write(request);
    if (m_observer)
        m_observer(request.method, request.path);

    std::optional<FaultRule> rule = m_faults.Take(request.method, request.path);
    if (rule && rule->delayMs > 0 && !WaitFor(rule->delayMs)) {
        response.status = 503;
        return;
    }
    if (rule && rule->redirectLoop) {
        Send(request, Reply::Redirect(302, request.target), nullptr, response);
        return;
    }
    if (rule && !rule->redirectTo.empty()) {
        Send(request, Reply::Redirect(302, rule->redirectTo), nullptr, response);
        return;
    }
    if (rule && rule->body) {
        Send(request, Reply::Text(rule->status > 0 ? rule->status : 200, *rule->body), nullptr, response);
        return;
    }
    if (rule && rule->status > 0) {
        Reply reply = Reply::Text(rule->status, "fault " + std::to_string(rule->status) + "\n");
        if (!rule->location.empty())
            reply.headers.emplace_back("Location", rule->location);
        Send(request, std::move(reply), nullptr, response);
        return;
    }
    Send(request, (this->*route)(request), rule ? &*rule : nullptr, response);
}

void CStandInServer::Send(const httplib::Request& request, Reply reply, const FaultRule* rule,
                          httplib::Response& response)
{
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        response.set_header(name, value);

    const bool fromFile = reply.file != nullptr;
    const uint64_t real = fromFile ? reply.fileLength : reply.body.size();
    // What the answer's Content-Length says: the real length unless a fault claims another.
    const bool claims = rule && rule->claimLength >= 0;
    const uint64_t total = claims ? static_cast<uint64_t>(rule->claimLength) : real;
    long long limit = -1; // bytes sent before the fault acts
    int stallMs = 0;
    if (rule && rule->cutAfter >= 0)
        limit = rule->cutAfter;
    if (rule && rule->stallAfter >= 0)
        limit = rule->stallAfter, stallMs = rule->stallMs;
    if (claims && total > real && (limit < 0 || static_cast<uint64_t>(limit) > real))
        limit = static_cast<long long>(real); // the claim outruns the body: the connection closes
    // A body past its announced length: HEAD tells the real length, GET sends more without one.
    const bool endless = rule && rule->endlessBody && request.method != "HEAD";
    const long long extra = rule && request.method != "HEAD" ? rule->extraBytes : -1;
    const bool overruns = endless || extra >= 0;
    const bool chunked = (rule && rule->noLength) || overruns;
    const int rateKiBps = rule ? rule->rateKiBps : 0;

    if (!fromFile && limit < 0 && !chunked && !claims && rateKiBps == 0) {
        response.set_content(reply.body, reply.contentType);
        return;
    }
    if (request.method == "HEAD" && !chunked) {
        // Headers only; the library sends Content-Length from the provider's length.
        response.set_content_provider(total, reply.contentType,
                                      [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }
    // A body under /download/ counts as being sent from here until the library drops its provider.
    std::shared_ptr<void> sending;
    if (request.path.rfind("/download/", 0) == 0) {
        int now = ++m_downloadsSending;
        for (int peak = m_peakDownloads; now > peak && !m_peakDownloads.compare_exchange_weak(peak, now);)
            ;
        sending = std::shared_ptr<void>(nullptr, [this](void*) { --m_downloadsSending; });
    }
    const auto started = std::chrono::steady_clock::now();

    // One source for both kinds: reads `size` bytes at `offset` of the answer into `out`.
    auto body = std::make_shared<std::string>(std::move(reply.body));
    auto file = reply.file;
    const uint64_t fileOffset = reply.fileOffset;
    auto read = [body, file, fileOffset](uint64_t offset, size_t size, std::string& out) {
        if (!file) {
            out.assign(*body, offset, size);
            return true;
        }
        out.resize(size);
        ssize_t got = ::pread(file->Fd(), out.data(), size, static_cast<off_t>(fileOffset + offset));
        if (got <= 0)
            return false;
        out.resize(static_cast<size_t>(got));
        return true;
    };
    // Sends from `offset` on; false ends the connection (at the fault's limit, or on a read error).
    auto produce = [this, read, total, limit, stallMs, rateKiBps, started, sending](size_t offset,
                                                                                    httplib::DataSink& sink) {
        if (limit >= 0 && offset >= static_cast<uint64_t>(limit)) {
            if (stallMs > 0)
                WaitFor(stallMs);
            return false;
        }
        uint64_t end = total;
        if (limit >= 0)
            end = std::min<uint64_t>(end, static_cast<uint64_t>(limit));
        uint64_t blockSize = kBlockSize;
        if (rateKiBps > 0) {
            // Paced in tenths of a second: wait until the bytes sent so far are due, then send one
            // tenth of a second's worth.
            const double bytesPerMs = rateKiBps * 1024.0 / 1000.0;
            auto due = started + std::chrono::milliseconds(static_cast<long long>(offset / bytesPerMs));
            auto now = std::chrono::steady_clock::now();
            if (due > now &&
                !WaitFor(static_cast<int>(
                             std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()) +
                         1))
                return false;
            blockSize = std::max<uint64_t>(1, static_cast<uint64_t>(bytesPerMs * 100));
        }
        size_t size =
            static_cast<size_t>(std::min<uint64_t>(std::min<uint64_t>(kBlockSize, blockSize), end - offset));
        std::string block;
        if (!read(offset, size, block))
            return false;
        return sink.write(block.data(), block.size());
    };

    if (chunked) {
        // Without a length the end is the last chunk, unless a fault cuts or stalls before it, or
        // the body runs on past its length (for ever, or by `extra` bytes).
        const bool complete = limit < 0 || static_cast<uint64_t>(limit) >= total;
        const uint64_t end = endless ? UINT64_MAX : total + static_cast<uint64_t>(std::max(0LL, extra));
        response.set_chunked_content_provider(reply.contentType, [produce, total, end, complete, overruns](
                                                                     size_t offset, httplib::DataSink& sink) {
            if (offset >= end && complete) {
                sink.done();
                return true;
            }
            if (overruns && offset >= total) {
                const std::string filler(static_cast<size_t>(std::min<uint64_t>(kBlockSize, end - offset)),
                                         'x');
                return sink.write(filler.data(), filler.size());
            }
            return produce(offset, sink);
        });
        return;
    }
    response.set_content_provider(
        total, reply.contentType,
        [produce](size_t offset, size_t, httplib::DataSink& sink) { return produce(offset, sink); });
}

std::string CStandInServer::Substitute(std::string text) const
{
    static const std::string token = "{{origin}}";
    const std::string origin = Origin();
    for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + origin.size()))
        text.replace(at, token.size(), origin);
    return text;
}

std::string CStandInServer::TicketFor(const std::string& uid) const
{
    char signature[17];
    std::snprintf(signature, sizeof signature, "%016llx",
                  static_cast<unsigned long long>(Fnv1a("quokka-ticket:" + uid)));
    // The space and the slash are deliberate: the client must encode both to send the ticket back.
    return "qk " + uid + "/" + signature;
}

CStandInServer::Reply CStandInServer::JsonFile(const std::string& relativePath)
{
    bool found = false;
    std::string text = ReadText(fs::path(m_options.dataDir) / relativePath, found);
    if (!found)
        return Reply::Text(404, "not found\n");
    Reply reply = Reply::Text(200, Substitute(std::move(text)));
    reply.contentType = kJson;
    return reply;
}

CStandInServer::Reply CStandInServer::ClientApi(const httplib::Request& request)
{
    // A browser pages through the catalogue with the same fields in the query of a GET.
    std::string body = request.body;
    if (request.method != "POST") {
        size_t question = request.target.find('?');
        body = question == std::string::npos ? std::string() : request.target.substr(question + 1);
    }
    std::map<std::string, std::string> form = ParseForm(body);
    const std::string model = form["model"], action = form["action"];
    Json::Value answer;
    if (model == "appstore" && action == "gamelist") {
        GameQuery query;
        query.categoryId = LeadingInt(form["categoryid"], 0);
        query.emulatorId = LeadingInt(form["emulatorid"], 0);
        query.order = Trim(form["orderby"]);
        query.keyword = Trim(form["keyword"]);
        query.page = LeadingInt(form["page"], 1);
        query.pageSize = LeadingInt(form["pagesize"], 32);
        return Reply::Json(m_catalogue.GameList(query));
    }
    if (model == "appstore" && action == "gameinfo")
        return Reply::Json(m_catalogue.GameInfo(Trim(form["gameid"])));
    if (model == "user" && action == "register") {
        std::string uid = std::to_string(m_nextUid++);
        answer["status"] = 1;
        answer["uid"] = uid;
        answer["username"] = "quokka" + uid;
        answer["prohibited"] = false;
        answer["msg"] = "ok";
        answer["ticket"] = TicketFor(uid);
        answer["_run_time"] = 0.001;
        return Reply::Json(answer);
    }
    if (model == "user" && action == "downfile") {
        const std::string uid = form["uid"], gameId = form["gameid"];
        // The ticket holds a space and a slash, so a client that sends it unencoded is refused too.
        const std::string rawTicket = RawFormValue(body, "ticket");
        if (uid.empty() || form["ticket"] != TicketFor(uid) ||
            rawTicket.find_first_of(" /") != std::string::npos) {
            answer["status"] = -2;
            answer["msg"] = "invalid ticket";
            return Reply::Json(answer);
        }
        bool safeId = !gameId.empty() && std::all_of(gameId.begin(), gameId.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '-' || c == '_';
        });
        Reply reply = safeId ? JsonFile("descriptors/" + gameId + ".json") : Reply::Text(404, "");
        if (reply.status == 200)
            return reply;
        answer["status"] = -1;
        answer["msg"] = "no download for this game";
        return Reply::Json(answer);
    }
    answer["status"] = -1;
    answer["msg"] = "unknown model or action";
    return Reply::Json(answer);
}

CStandInServer::Reply CStandInServer::EmulatorList(const httplib::Request&)
{
    return JsonFile("update/emulators.json");
}

CStandInServer::Reply CStandInServer::UpdateInfo(const httplib::Request&)
{
    return JsonFile("update/index.json");
}

CStandInServer::Reply CStandInServer::Download(const httplib::Request& request)
{
    auto redirect = m_redirects.find(request.path);
    if (redirect != m_redirects.end())
        return Reply::Redirect(302, Substitute(redirect->second));
    fs::path path =
        MapPath(fs::path(m_options.dataDir) / "download", request.path, std::string("/download/").size());
    return ServeFile(request, path.string());
}

CStandInServer::Reply CStandInServer::Image(const httplib::Request& request)
{
    // An image path may carry a style suffix after '!'; the file is the same.
    std::string path = request.path.substr(0, request.path.find('!'));
    fs::path file = MapPath(fs::path(m_options.dataDir) / "image", path, std::string("/image/").size());
    return ServeFile(request, file.string());
}

CStandInServer::Reply CStandInServer::ServeFile(const httplib::Request& request, const std::string& path)
{
    if (path.empty())
        return Reply::Text(404, "not found\n");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Reply::Text(404, "not found\n");
    auto file = std::make_shared<OpenFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return Reply::Text(404, "not found\n");
    const uint64_t size = static_cast<uint64_t>(info.st_size);

    Reply reply;
    std::string extension = fs::path(path).extension().string();
    reply.contentType = extension == ".png"   ? "image/png"
                        : extension == ".jpg" ? "image/jpeg"
                        : extension == ".zip" ? "application/zip"
                                              : "application/octet-stream";
    reply.headers.emplace_back("Accept-Ranges", "bytes");
    reply.file = file;
    reply.fileLength = size;

    uint64_t first = 0, last = 0;
    int range =
        request.has_header("Range") ? ParseRange(request.get_header_value("Range"), size, first, last) : 0;
    if (range < 0) {
        Reply refused = Reply::Text(416, "range not satisfiable\n");
        refused.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return refused;
    }
    if (range > 0) {
        reply.status = 206;
        reply.fileOffset = first;
        reply.fileLength = last - first + 1;
        reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                        std::to_string(last) + "/" + std::to_string(size));
    }
    return reply;
}

CStandInServer::Reply CStandInServer::Statistics(const httplib::Request&)
{
    Reply reply = Reply::Text(200, std::string(reinterpret_cast<const char*>(kPixelGif), sizeof kPixelGif));
    reply.contentType = "image/gif";
    return reply;
}

CStandInServer::Reply CStandInServer::SitePage(const httplib::Request&)
{
    Reply reply =
        Reply::Text(200, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quokka</title></head>"
                         "<body><p>Quokka stand-in site.</p></body></html>\n");
    reply.contentType = "text/html; charset=utf-8";
    return reply;
}

CStandInServer::Reply CStandInServer::Index(const httplib::Request&)
{
    std::string html =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>quokka-server</title></head><body>"
        "<h1>quokka-server</h1><p>" +
        std::to_string(m_catalogue.GameCount()) + " games. Catalogue pages:</p><ul>";
    for (int page = 1; page <= 5; ++page) {
        std::string link = "/clientapi/?model=appstore&action=gamelist&page=" + std::to_string(page) +
                           "&pagesize=32&categoryid=+&emulatorid=+&keyword=+&orderby=recommend";
        html += "<li><a href=\"" + link + "\">page " + std::to_string(page) + "</a></li>";
    }
    html +=
        "</ul><p>Change page, pagesize, categoryid, emulatorid, keyword and orderby (recommend, new, hot) in "
        "the address; model=appstore&amp;action=gameinfo&amp;gameid=ID shows one game.</p></body></html>\n";
    Reply reply = Reply::Text(200, html);
    reply.contentType = "text/html; charset=utf-8";
    return reply;
}

CStandInServer::Reply CStandInServer::Share(const httplib::Request& request)
{
    ShareRequest share;
    share.method = request.method;
    share.path = request.path;
    // A key sent twice counts with its last value, as a form does.
    for (const auto& [name, value] : request.params)
        share.query[name] = value;
    share.referer = request.get_header_value("Referer");
    share.cookie = request.get_header_value("Cookie");
    share.origin = Origin();
    ShareReply answer = m_shares.Handle(share);
    Reply reply = Reply::Text(answer.status, std::move(answer.body));
    reply.contentType = answer.contentType;
    reply.headers = std::move(answer.headers);
    return reply;
}

CStandInServer::Reply CStandInServer::NotFound(const httplib::Request&)
{
    return Reply::Text(404, "not found\n");
}
