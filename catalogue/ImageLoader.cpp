#include "catalogue/ImageLoader.h"

#include "catalogue/CatalogueClient.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>

namespace fs = std::filesystem;

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<CImageLoader> g_instance;

platform::UINT AnswerMessage(int kind)
{
    switch (kind) {
    case 0:
        return WM_GAME_ICON;
    case 1:
        return WM_MYGAME_ICON;
    case 2:
        return WM_LOCAL_ICON;
    default:
        return 0;
    }
}

void PostAnswer(platform::HWND window, int kind, const std::string& key, const std::string& image)
{
    if (platform::UINT message = AnswerMessage(kind))
        platform::PostMessage(window, message, 0, std::make_unique<CImageAnswer>(CImageAnswer{key, image}));
}

std::string SkinImage(const char* name)
{
    return std::string("skin\\ui\\") + name;
}

} // namespace

CImageLoader& CImageLoader::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_unique<CImageLoader>();
    return *g_instance;
}

void CImageLoader::DestroyInstance()
{
    std::unique_ptr<CImageLoader> gone;
    {
        std::lock_guard lock(g_instanceMutex);
        gone = std::move(g_instance);
    }
    // Destroyed outside the lock: its shutdown joins the workers.
}

void CImageLoader::BeginInstanceShutdown()
{
    std::lock_guard lock(g_instanceMutex);
    if (g_instance)
        g_instance->BeginShutdown();
}

CImageLoader::~CImageLoader()
{
    Shutdown();
}

void CImageLoader::Request(platform::HWND window, int kind, int platformId, const std::string& key,
                           const std::string& imagePath)
{
    std::string local = kind == 2 ? std::string() : IconCachePath(imagePath);
    // Local images are chosen per game; downloads are shared per cache file; an icon without a
    // usable cache file is answered per key.
    std::string id = kind == 2 ? "local:" + key : !local.empty() ? local : "missing:" + key;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        Requester requester{window, kind, key};
        auto known = m_jobs.find(id);
        if (known != m_jobs.end()) {
            std::vector<Requester>& requesters = known->second->requesters;
            bool asked = std::any_of(requesters.begin(), requesters.end(), [&](const Requester& r) {
                return r.window == window && r.kind == kind && r.key == key;
            });
            if (!asked)
                requesters.push_back(std::move(requester));
            return;
        }
        auto job =
            std::make_shared<Job>(Job{id, kind, platformId, key, imagePath, local, {std::move(requester)}});
        m_jobs.emplace(id, job);
        m_queue.push_back(std::move(job));
        if (m_workers.empty())
            for (int i = 0; i < kMaxDownloads; ++i)
                m_workers.emplace_back([this] { Work(); });
    }
    m_wake.notify_one();
}

void CImageLoader::PutFirst(const std::vector<std::string>& keys)
{
    std::lock_guard lock(m_mutex);
    auto hasKey = [](const Job& job, const std::string& key) {
        return std::any_of(job.requesters.begin(), job.requesters.end(),
                           [&](const Requester& r) { return r.key == key; });
    };
    // Walking the keys backwards and moving each one's job to the front leaves them in key order.
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        auto found = std::find_if(m_queue.begin(), m_queue.end(),
                                  [&](const std::shared_ptr<Job>& job) { return hasKey(*job, *key); });
        if (found == m_queue.end() || found == m_queue.begin())
            continue;
        std::shared_ptr<Job> job = std::move(*found);
        m_queue.erase(found);
        m_queue.push_front(std::move(job));
    }
}

void CImageLoader::BeginShutdown()
{
    m_cancel = true;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (const std::shared_ptr<Job>& job : m_queue)
            m_jobs.erase(job->id);
        m_queue.clear();
    }
    m_wake.notify_all();
}

void CImageLoader::Shutdown()
{
    BeginShutdown();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& worker : workers)
        worker.join();
}

void CImageLoader::Work()
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        std::string image = Serve(*job);
        std::vector<Requester> requesters;
        {
            // Requesters join until the job leaves the table; after that a request starts anew.
            std::lock_guard lock(m_mutex);
            m_jobs.erase(job->id);
            requesters.swap(job->requesters);
        }
        if (image.empty() || m_cancel)
            continue;
        for (const Requester& requester : requesters)
            PostAnswer(requester.window, requester.kind, requester.key, image);
    }
}

std::string CImageLoader::Serve(const Job& job)
{
    if (job.kind == 2)
        return LocalGameImage(job.platformId, job.key);
    if (job.local.empty())
        return kDefaultIcon;
    if (IsCachedImage(job.local, m_maxBytes))
        return job.local;
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(job.local, ec)))
        fs::remove(job.local, ec); // past the limit: fetched anew, and gone if it still is
    if (DownloadImageFile(ImageUrl(job.imagePath), job.local, &m_cancel, m_maxBytes))
        return job.local;
    return m_cancel ? std::string() : std::string(kDefaultIcon);
}

bool IsCachedImage(const std::string& path, long long maxBytes)
{
    // The file itself, not where a link would lead: a link planted in the cache is fetched over.
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(fs::symlink_status(path, ec)))
        return false;
    auto size = fs::file_size(path, ec);
    return !ec && static_cast<long long>(size) <= maxBytes;
}

std::string IconCachePath(const std::string& imagePath)
{
    std::string joined;
    if (!JoinInsideFolder(ImageCacheDir(), imagePath, joined))
        return {};
    return CollapseSeparators(joined);
}

std::string LocalGameImage(int platformId, const std::string& gamePath)
{
    static const std::map<int, const char*> kPlatformImages = {
        {119, "local_ps.png"},  {120, "local_gba.png"},     {121, "local_sfc.png"}, {122, "local_md.png"},
        {124, "local_gbc.png"}, {125, "local_fc.png"},      {127, "local_nds.png"}, {129, "local_psp.png"},
        {130, "local_n64.png"}, {131, "local_wsc.png"},     {133, "local_dc.png"},  {142, "local_ps2.png"},
        {140, "local_wii.png"}, {138, "local_pc.png"},      {148, "local_pce.png"}, {123, "local_mame.png"},
        {126, "local_fba.png"}, {146, "local_mameplus.png"}};

    fs::path game(gamePath);
    if (platformId == 123 || platformId == 126 || platformId == 146) {
        std::string rom = game.stem().string();
        for (const std::string& folder : {ArcadeImageDir(), MameImageDir()}) {
            for (const char* extension : {".png", ".jpg"}) {
                if (auto found = platform::FindNoCase(folder, rom + extension))
                    return "file='" + *found + "' dest='18,18,50,50'";
            }
        }
    } else if (platformId == 138) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(game.parent_path(), ec)) {
            std::string extension = entry.path().extension().string();
            for (auto& c : extension)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (entry.is_regular_file(ec) &&
                (extension == ".png" || extension == ".jpg" || extension == ".ico"))
                return entry.path().string();
        }
        return CImageLoader::kDefaultIcon;
    }
    auto it = kPlatformImages.find(platformId);
    return it == kPlatformImages.end() ? std::string(CImageLoader::kDefaultIcon) : SkinImage(it->second);
}
