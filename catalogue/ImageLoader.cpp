#include "catalogue/ImageLoader.h"

#include "catalogue/CatalogueClient.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Paths.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <memory>

namespace fs = std::filesystem;

namespace {

bool IsFile(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

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

std::string SkinImage(const char* name) { return std::string("skin\\ui\\") + name; }

} // namespace

CImageLoader& CImageLoader::Instance()
{
    static CImageLoader instance;
    return instance;
}

CImageLoader::~CImageLoader() { Shutdown(); }

void CImageLoader::Request(platform::HWND window, int kind, int platformId, const std::string& key,
                           const std::string& imagePath)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || !m_keys.insert(key).second)
            return;
        m_queue.push_back({window, kind, platformId, key, imagePath});
        if (m_workers.empty())
            for (int i = 0; i < kMaxDownloads; ++i)
                m_workers.emplace_back([this] { Work(); });
    }
    m_wake.notify_one();
}

void CImageLoader::Shutdown()
{
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
        workers.swap(m_workers);
    }
    m_wake.notify_all();
    for (auto& worker : workers)
        worker.join();
}

void CImageLoader::Work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        Serve(job);
        std::lock_guard lock(m_mutex);
        m_keys.erase(job.key);
    }
}

void CImageLoader::Serve(const Job& job)
{
    if (job.kind == 2) {
        PostAnswer(job.window, job.kind, job.key, LocalGameImage(job.platformId, job.key));
        return;
    }
    std::string local = IconCachePath(job.imagePath);
    if (IsFile(local)) {
        PostAnswer(job.window, job.kind, job.key, local);
        return;
    }
    bool fetched = !job.imagePath.empty() && DownloadImageFile(ImageUrl(job.imagePath), local);
    PostAnswer(job.window, job.kind, job.key, fetched ? local : kDefaultIcon);
}

std::string IconCachePath(const std::string& imagePath) { return CollapseSeparators(ImageCacheDir() + imagePath); }

std::string LocalGameImage(int platformId, const std::string& gamePath)
{
    static const std::map<int, const char*> kPlatformImages = {
        {119, "local_ps.png"},  {120, "local_gba.png"}, {121, "local_sfc.png"}, {122, "local_md.png"},
        {124, "local_gbc.png"}, {125, "local_fc.png"},  {127, "local_nds.png"}, {129, "local_psp.png"},
        {130, "local_n64.png"}, {131, "local_wsc.png"}, {133, "local_dc.png"},  {142, "local_ps2.png"},
        {140, "local_wii.png"}, {138, "local_pc.png"},  {148, "local_pce.png"}, {123, "local_mame.png"},
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
            if (entry.is_regular_file(ec) && (extension == ".png" || extension == ".jpg" || extension == ".ico"))
                return entry.path().string();
        }
        return CImageLoader::kDefaultIcon;
    }
    auto it = kPlatformImages.find(platformId);
    return it == kPlatformImages.end() ? std::string(CImageLoader::kDefaultIcon) : SkinImage(it->second);
}
