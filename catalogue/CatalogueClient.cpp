#include "catalogue/CatalogueClient.h"

#include "catalogue/CatalogueRequest.h"
#include "catalogue/GameInfo.h"
#include "catalogue/GameList.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "foundation/HttpClient.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Trace.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace {

constexpr long kGameListTimeoutSeconds = 10;
constexpr long kGameInfoTimeoutSeconds = 5;

} // namespace

CCatalogueClient& CCatalogueClient::Instance()
{
    static CCatalogueClient instance; // construction is thread-safe
    return instance;
}

CCatalogueClient::CCatalogueClient() = default;

CCatalogueClient::~CCatalogueClient() { Shutdown(); }

void CCatalogueClient::RequestGameList(platform::HWND window, int categoryId, int emulatorId, int order, int page,
                                       const std::string& keyword, int pageSize)
{
    // A request in flight owns the state until it ends; a second one is dropped.
    if (!m_idle.Wait(10))
        return;
    std::lock_guard lock(m_threadMutex);
    if (m_worker.joinable())
        m_worker.join(); // the previous worker has signalled its end; this only reaps it
    m_idle.Reset();
    Request request{window, categoryId, emulatorId, order, page, keyword, pageSize};
    m_worker = std::thread([this, request = std::move(request)]() mutable { Run(std::move(request)); });
}

void CCatalogueClient::Shutdown()
{
    std::lock_guard lock(m_threadMutex);
    if (m_worker.joinable())
        m_worker.join();
}

void CCatalogueClient::Run(Request request)
{
    std::string body;
    bool built = true;
    try {
        body = FormatGameListBody(request.page, request.pageSize, request.categoryId, request.emulatorId,
                                  request.order, request.keyword);
    } catch (const std::runtime_error& error) {
        platform::TraceF("game list: keyword cannot be converted: %s", error.what());
        built = false;
    }

    std::string answer;
    auto started = std::chrono::steady_clock::now();
    bool ok = built && NetPost(answer, ApiUrl(), "", body, kGameListTimeoutSeconds);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    // The answer's start is enough to see what came back; a whole page would flood the trace.
    constexpr int kTracedAnswerBytes = 400;
    platform::TraceF("\n耗时%lld\n%.*s", static_cast<long long>(elapsed), kTracedAnswerBytes, answer.c_str());

    if (ok) {
        auto list = std::make_unique<CGameList>();
        list->ParseText(answer); // an unreadable answer is delivered empty all the same
        platform::UINT message = request.keyword.empty() ? WM_GAMELIST_READY : WM_SEARCHLIST_READY;
        platform::PostMessage(request.window, message, static_cast<platform::WPARAM>(request.page), std::move(list));
    } else {
        platform::PostMessage(request.window, WM_GAMELIST_FAILED);
    }
    m_idle.Set();
}

std::string CachedImagePath(const std::string& imagePath)
{
    std::string cut = imagePath.substr(0, imagePath.find('!'));
    return CollapseSeparators(ImageCacheDir() + cut);
}

bool DownloadImageFile(const std::string& url, const std::string& nativePath)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(nativePath).parent_path(), ec);
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return false;
    FILE* file = std::fopen(nativePath.c_str(), "wb+");
    if (!file)
        return false;
    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, FileStreamWriteSink);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, file);
    curl_easy_setopt(handle.get(), CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT, 10L);
    bool ok = curl_easy_perform(handle.get()) == CURLE_OK;
    long status = 0;
    ok = ok && curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        std::filesystem::remove(nativePath, ec);
    return ok;
}

void RunGameInfoRequest(platform::HWND window, const CGame& game, const std::atomic<bool>& closing,
                        platform::Event& idle)
{
    idle.Reset();
    std::string answer;
    bool ok = NetPost(answer, ApiUrl(), "", FormatGameInfoBody(game.gameid), kGameInfoTimeoutSeconds);
    if (ok && !answer.empty()) {
        CGameInfoObj info;
        if (info.ParseText(answer)) {
            platform::PostMessage(window, WM_GAMEINFO_DESCRIPTION, 0,
                                  std::make_unique<std::string>(info.gameinfo.description));
            for (const std::string& entry : info.gameinfo.screens) {
                std::string path = CachedImagePath(entry);
                std::error_code ec;
                if (!std::filesystem::exists(path, ec)) {
                    if (closing)
                        break;
                    if (!DownloadImageFile(ImageUrl(entry), path))
                        continue;
                }
                platform::PostMessage(window, WM_GAMEINFO_SCREEN, 0, std::make_unique<std::string>(path));
            }
        }
    }
    idle.Set();
}
