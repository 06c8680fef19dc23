#include "tests/server/ServerProcess.h"

#include "tests/support/RequestLog.h"

#include <csignal>
#include <sstream>

ServerProcess::ServerProcess(const std::string& dataDir, const std::vector<std::string>& extraArgs)
{
    std::vector<std::string> argv = {
        QUOKKA_SERVER_EXECUTABLE,        "--port", "0", "--data", dataDir, "--log",
        m_logDir.Path() + "requests.log"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    m_process = std::make_unique<testsupport::ChildProcess>(argv);
    m_firstLine = m_process->ReadLine(20000).value_or("");
    const std::string prefix = "listening on 127.0.0.1:";
    if (m_firstLine.rfind(prefix, 0) == 0)
        m_port = std::stoi(m_firstLine.substr(prefix.size()));
}

ServerProcess::~ServerProcess()
{
    if (m_process) {
        m_process->Signal(SIGTERM);
        m_process->Wait(10000);
    }
}

std::unique_ptr<httplib::Client> ServerProcess::Client(int readTimeoutSeconds) const
{
    auto client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
    client->set_read_timeout(readTimeoutSeconds, 0);
    client->set_keep_alive(false);
    return client;
}

bool ServerProcess::SetFaults(const std::string& json) const
{
    auto result = Client()->Post("/__faults", json, "application/json");
    return result && result->status == 200;
}

std::vector<Json::Value> ServerProcess::Log() const
{
    return testsupport::ReadRequestLog(m_logDir.Path() + "requests.log");
}

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string out;
    for (const auto& [key, value] : fields) {
        if (!out.empty())
            out += '&';
        out += key + '=';
        for (unsigned char c : value) {
            if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
                out += static_cast<char>(c);
            } else if (c == ' ') {
                out += '+';
            } else {
                char escaped[4];
                std::snprintf(escaped, sizeof escaped, "%%%02X", c);
                out += escaped;
            }
        }
    }
    return out;
}

Json::Value ParseJson(const std::string& text)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors))
        return Json::Value();
    return value;
}

namespace {

// The text between `before` and the next `after` in `page`; empty when absent.
std::string Between(const std::string& page, const std::string& before, const std::string& after)
{
    size_t start = page.find(before);
    if (start == std::string::npos)
        return {};
    start += before.size();
    return page.substr(start, page.find(after, start) - start);
}

} // namespace

std::string ShareEndpointQuery(const std::string& pageBody, const std::string& r)
{
    return "/share/download?uk=" + Between(pageBody, "FileUtils.uk=\"", "\"") +
           "&shareid=" + Between(pageBody, "FileUtils.shareid=\"", "\"") + "&fid_list=%5B" +
           Between(pageBody, "\\\"fs_id\\\":\\\"", "\\\"") +
           "%5D&sign=" + Between(pageBody, "FileUtils.downloadsign=\"", "\"") +
           "&timestamp=" + Between(pageBody, "FileUtils.timestamp=\"", "\"") + "&r=" + r;
}

std::string CookieOf(const std::string& setCookie)
{
    return setCookie.substr(0, setCookie.find(';'));
}
