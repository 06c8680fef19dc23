#include "tests/e2e/EndToEnd.h"

#include <httplib.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using testsupport::ChildProcess;

namespace e2e {

namespace {

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// True when a line of the request log (one JSON object a line) names a path with this prefix.
bool LogHasRequest(const std::string& logPath, const std::string& pathPrefix)
{
    std::ifstream log(logPath);
    std::string line;
    const std::string key = "\"path\":\"" + pathPrefix;
    const std::string spaced = "\"path\": \"" + pathPrefix;
    while (std::getline(log, line))
        if (line.find(key) != std::string::npos || line.find(spaced) != std::string::npos)
            return true;
    return false;
}

} // namespace

bool RunEnd::Printed(const std::string& text) const
{
    for (const std::string& line : output)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

std::string RunEnd::Joined() const
{
    std::string all;
    for (const std::string& line : output)
        all += line + "\n";
    return all;
}

void EndToEndTest::SetUp()
{
    fs::copy_file(QUOKKA_EXECUTABLE, m_program.Path() + "quokka");
    std::ofstream(m_program.Path() + "quokka.cfg")
        << "[Set]\nRomPath=" << m_temp.Path() << "games/\n"; // no first-run settings
    fs::create_directories(m_temp.Path() + "run");
    fs::permissions(m_temp.Path() + "run", fs::perms::owner_all); // a runtime folder is private
    m_server = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUOKKA_SERVER_EXECUTABLE, "--port", "0", "--data", QUOKKA_E2E_DEMO_DIR,
                                 "--log", m_temp.Path() + "requests.log", "--write-servers-cfg",
                                 m_program.Path() + "servers.cfg"},
        std::map<std::string, std::string>{}, true);
    const std::string first = m_server->ReadLine(20000).value_or("");
    const std::string listening = "listening on 127.0.0.1:";
    const size_t at = first.find(listening);
    ASSERT_NE(at, std::string::npos) << first;
    m_port = std::atoi(first.c_str() + at + listening.size());
    ASSERT_GT(m_port, 0) << first;
    ASSERT_TRUE(fs::exists(m_program.Path() + "servers.cfg"));
}

void EndToEndTest::TearDown()
{
    if (m_server) {
        m_server->Signal(SIGTERM);
        m_server->Wait(15000);
    }
}

std::map<std::string, std::string> EndToEndTest::Env(const std::map<std::string, std::string>& extra) const
{
    std::map<std::string, std::string> env = {{"TMPDIR", m_temp.Path()},
                                              {"XDG_RUNTIME_DIR", m_temp.Path() + "run"},
                                              {"QUOKKA_TRACE", "1"},
                                              {"QT_QPA_PLATFORM", "offscreen"},
                                              {"QUOKKA_SCREENSHOT", Screenshot()},
                                              {"LSAN_OPTIONS", "suppressions=" QUOKKA_LSAN_SUPPRESSIONS}};
    for (const auto& [name, value] : extra)
        env[name] = value;
    return env;
}

bool EndToEndTest::SetFaults(const std::string& json)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    auto answer = client.Post("/__faults", json, "application/json");
    return answer && answer->status == 200;
}

bool EndToEndTest::WaitForRequest(const std::string& pathPrefix, int timeoutMs)
{
    const std::string logPath = m_temp.Path() + "requests.log";
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
        return false;
    // The folder is watched, not the file: the log may not exist before the first request.
    ::inotify_add_watch(watch, m_temp.Path().c_str(), IN_MODIFY | IN_CREATE);
    const long long deadline = NowMs() + timeoutMs;
    bool found = false;
    for (;;) {
        if (LogHasRequest(logPath, pathPrefix)) {
            found = true;
            break;
        }
        const long long left = deadline - NowMs();
        if (left <= 0)
            break;
        pollfd pfd{watch, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) > 0) {
            char events[4096];
            while (::read(watch, events, sizeof(events)) > 0) {
            }
        }
    }
    ::close(watch);
    return found;
}

std::string EndToEndTest::WaitForLine(ChildProcess& child, const std::string& text, const std::string& also)
{
    while (auto line = child.ReadLine(30000))
        if (line->find(text) != std::string::npos && (also.empty() || line->find(also) != std::string::npos))
            return *line;
    return {};
}

RunEnd EndToEndTest::WaitForEnd(ChildProcess& child, int timeoutMs)
{
    RunEnd end;
    const long long started = NowMs();
    const long long deadline = started + timeoutMs;
    // The output ends when the process does; reading it also keeps the child from blocking on a
    // full pipe while it shuts down.
    for (;;) {
        const long long left = deadline - NowMs();
        if (left <= 0)
            break;
        auto line = child.ReadLine(static_cast<int>(left));
        if (!line)
            break;
        end.output.push_back(*line);
    }
    end.exitCode = child.Wait(static_cast<int>(std::max(0LL, deadline - NowMs())));
    end.elapsedMs = NowMs() - started;
    return end;
}

void EndToEndTest::ExpectNoSanitizerReport(const RunEnd& end)
{
    for (const char* report :
         {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:"})
        EXPECT_FALSE(end.Printed(report)) << report << " in:\n" << end.Joined();
}

void EndToEndTest::ExpectStoreIntact() const
{
    if (!fs::exists(StorePath())) {
        std::printf("[ note     ] this run opened no game store; nothing to check\n");
        return;
    }
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(StorePath().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    ASSERT_EQ(opened, SQLITE_OK) << sqlite3_errmsg(raw);
    std::string verdict;
    auto collect = [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += values[0] != nullptr ? values[0] : "";
        return 0;
    };
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db.get(), "PRAGMA integrity_check", collect, &verdict, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    EXPECT_EQ(verdict, "ok");
}

void EndToEndTest::ExpectNoPartialCacheFile() const
{
    if (!fs::exists(ImageCache()))
        return;
    for (const auto& entry : fs::recursive_directory_iterator(ImageCache())) {
        if (!entry.is_regular_file())
            continue;
        const fs::path relative = fs::relative(entry.path(), ImageCache());
        const fs::path served = fs::path(QUOKKA_E2E_DEMO_DIR) / "image" / relative;
        ASSERT_TRUE(fs::exists(served)) << "a cache file the server never served: " << relative;
        EXPECT_EQ(entry.file_size(), fs::file_size(served)) << "a partial cache file: " << relative;
    }
}

} // namespace e2e
