#include "catalogue/CatalogueClient.h"

#include "catalogue/CatalogueRequest.h"
#include "catalogue/GameInfo.h"
#include "catalogue/GameList.h"
#include "catalogue/ImageHeader.h"
#include "catalogue/ImageLoader.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "foundation/HttpClient.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Trace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kGameListTimeoutSeconds = 10;
constexpr long kGameInfoTimeoutSeconds = 5;

std::mutex g_instanceMutex;
std::unique_ptr<CCatalogueClient> g_instance;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

} // namespace

CCatalogueClient& CCatalogueClient::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_unique<CCatalogueClient>();
    return *g_instance;
}

void CCatalogueClient::DestroyInstance()
{
    std::unique_ptr<CCatalogueClient> gone;
    {
        std::lock_guard lock(g_instanceMutex);
        gone = std::move(g_instance);
    }
    // Destroyed outside the lock: its shutdown blocks until the worker ended.
}

void CCatalogueClient::BeginInstanceShutdown()
{
    std::lock_guard lock(g_instanceMutex);
    if (g_instance)
        g_instance->BeginShutdown();
}

CCatalogueClient::~CCatalogueClient()
{
    Shutdown();
}

void CCatalogueClient::RequestGameList(platform::HWND window, int categoryId, int emulatorId, int order,
                                       int page, const std::string& keyword, int pageSize)
{
    RequestGameList(window, CGameListQuery{categoryId, emulatorId, order, page, keyword, pageSize});
}

void CCatalogueClient::RequestGameList(platform::HWND window, const CGameListQuery& query)
{
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return;
    Request request{window, query};
    if (m_running) {
        auto same = std::find_if(m_pending.begin(), m_pending.end(), [&](const Request& waiting) {
            return waiting.window == window && waiting.query.IsSearch() == query.IsSearch();
        });
        if (same != m_pending.end())
            *same = std::move(request);
        else
            m_pending.push_back(std::move(request));
        return;
    }
    // The previous worker cleared m_running under this lock as its last step, so it has ended or is
    // about to: joining only reaps it.
    if (m_worker.joinable())
        m_worker.join();
    m_running = true;
    m_worker = std::thread([this, request = std::move(request)]() mutable { Work(std::move(request)); });
}

bool CCatalogueClient::Busy() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

void CCatalogueClient::BeginShutdown()
{
    m_cancel = true;
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_pending.clear();
}

void CCatalogueClient::Shutdown()
{
    BeginShutdown();
    std::lock_guard joinLock(m_joinMutex);
    std::thread worker;
    {
        std::lock_guard lock(m_mutex);
        worker = std::move(m_worker);
    }
    if (worker.joinable())
        worker.join();
}

bool CCatalogueClient::Superseded(const Request& request) const
{
    return std::any_of(m_pending.begin(), m_pending.end(), [&](const Request& waiting) {
        return waiting.window == request.window && waiting.query.IsSearch() == request.query.IsSearch();
    });
}

void CCatalogueClient::Work(Request request)
{
    for (;;) {
        std::unique_ptr<CGameList> list = Fetch(request.query);
        std::lock_guard lock(m_mutex);
        // The answer is posted under the lock, so a request made after this point is answered
        // after it, and one made before it supersedes it.
        if (m_stopping) {
            platform::TraceF("game list: page %d dropped at shutdown", request.query.page);
        } else if (Superseded(request)) {
            platform::TraceF("game list: page %d dropped, a newer request waits", request.query.page);
        } else if (list) {
            list->request = request.query;
            platform::UINT message = request.query.IsSearch() ? WM_SEARCHLIST_READY : WM_GAMELIST_READY;
            platform::PostMessage(request.window, message, static_cast<platform::WPARAM>(request.query.page),
                                  std::move(list));
        } else {
            platform::PostMessage(request.window, WM_GAMELIST_FAILED, 0,
                                  std::make_unique<CGameListQuery>(request.query));
        }
        if (m_stopping || m_pending.empty()) {
            m_running = false;
            return;
        }
        request = std::move(m_pending.front());
        m_pending.pop_front();
    }
}

std::unique_ptr<CGameList> CCatalogueClient::Fetch(const CGameListQuery& query)
{
    std::string body;
    try {
        body = FormatGameListBody(query.page, query.pageSize, query.categoryId, query.emulatorId, query.order,
                                  query.keyword);
    } catch (const std::runtime_error& error) {
        platform::TraceF("game list: keyword cannot be converted: %s", error.what());
        return nullptr;
    }

    std::string answer;
    auto started = std::chrono::steady_clock::now();
    bool ok = NetPost(answer, ApiUrl(), "", body, kGameListTimeoutSeconds, &m_cancel);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    // The answer's start is enough to see what came back; a whole page would flood the trace.
    constexpr int kTracedAnswerBytes = 400;
    platform::TraceF("\n耗时%lld\n%.*s", static_cast<long long>(elapsed), kTracedAnswerBytes, answer.c_str());
    if (!ok)
        return nullptr;
    auto list = std::make_unique<CGameList>();
    list->ParseText(answer); // an unreadable answer is delivered empty all the same
    return list;
}

std::string CachedImagePath(const std::string& imagePath)
{
    std::string joined;
    if (!JoinInsideFolder(ImageCacheDir(), imagePath.substr(0, imagePath.find('!')), joined))
        return {};
    return CollapseSeparators(joined);
}

namespace {

// Writes a body to its file until it passes its limit; past it the write fails, which ends the
// transfer with CURLE_WRITE_ERROR.
struct BoundedFileSink {
    FILE* file = nullptr;
    long long written = 0;
    long long maxBytes = 0;
    bool tooLarge = false;
};

size_t BoundedFileWrite(char* data, size_t size, size_t count, void* userData)
{
    auto* sink = static_cast<BoundedFileSink*>(userData);
    size_t bytes = size * count;
    if (static_cast<long long>(bytes) > sink->maxBytes - sink->written) {
        sink->tooLarge = true;
        return 0;
    }
    sink->written += static_cast<long long>(bytes);
    return std::fwrite(data, 1, bytes, sink->file);
}

} // namespace

bool DownloadImageFile(const std::string& url, const std::string& nativePath, const TransferCancel* cancel,
                       long long maxBytes)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(nativePath).parent_path(), ec);
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return false;

    // A fresh file beside the destination, created exclusively: nobody reads it as cached, and two
    // downloads never share it.
    std::vector<char> name(nativePath.begin(), nativePath.end());
    for (char c : std::string(".part-XXXXXX"))
        name.push_back(c);
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const std::string temporary(name.data());
    std::unique_ptr<FILE, FileCloser> file(fdopen(fd, "wb"));
    if (!file) {
        ::close(fd);
        std::filesystem::remove(temporary, ec);
        return false;
    }

    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_NOSIGNAL, 1L);
    BoundedFileSink sink{file.get(), 0, maxBytes, false};
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, BoundedFileWrite);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &sink);
    // An announced length past the limit ends the transfer before its body.
    curl_easy_setopt(handle.get(), CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
    curl_easy_setopt(handle.get(), CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT, 10L);
    bool ok = NetPerform(handle.get(), cancel) == CURLE_OK;
    if (!ok && sink.tooLarge)
        platform::TraceF("image refused: %s is larger than %lld bytes", url.c_str(), maxBytes);
    long status = 0;
    ok = ok && curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
    ok = std::fclose(file.release()) == 0 && ok;
    ok = ok && !(cancel != nullptr && *cancel);
    long long width = 0;
    long long height = 0;
    if (ok && ReadImageHeaderSize(temporary, width, height) && width > 0 &&
        height > kMaxImagePixels / width) {
        platform::TraceF("image refused: %s says %lld x %lld pixels", url.c_str(), width, height);
        ok = false;
    }
    // rename replaces whatever sits at the destination (a planted link included) without following it.
    if (ok && std::rename(temporary.c_str(), nativePath.c_str()) != 0)
        ok = false;
    if (!ok)
        std::filesystem::remove(temporary, ec);
    return ok;
}

void RunGameInfoRequest(platform::HWND window, const CGame& game, const TransferCancel& cancel,
                        platform::Event& idle)
{
    idle.Reset();
    std::string answer;
    bool ok =
        NetPost(answer, ApiUrl(), "", FormatGameInfoBody(game.gameid), kGameInfoTimeoutSeconds, &cancel);
    if (ok && !answer.empty()) {
        CGameInfoObj info;
        if (info.ParseText(answer)) {
            platform::PostMessage(window, WM_GAMEINFO_DESCRIPTION, 0,
                                  std::make_unique<std::string>(info.gameinfo.description));
            for (const std::string& entry : info.gameinfo.screens) {
                if (cancel)
                    break;
                std::string path = CachedImagePath(entry);
                if (path.empty()) {
                    platform::TraceF("game info: screenshot path refused: %s", entry.c_str());
                    continue;
                }
                if (!IsCachedImage(path)) {
                    // A file past the limit, cached by an earlier version, is fetched anew.
                    std::error_code ec;
                    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)))
                        std::filesystem::remove(path, ec);
                    if (!DownloadImageFile(ImageUrl(entry), path, &cancel))
                        continue;
                }
                platform::PostMessage(window, WM_GAMEINFO_SCREEN, 0, std::make_unique<std::string>(path));
            }
        }
    }
    idle.Set();
}
