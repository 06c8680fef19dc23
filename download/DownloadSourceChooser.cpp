#include "download/DownloadSourceChooser.h"

#include <mutex>

namespace {

class CClosedChooser : public IDownloadSourceChooser {
public:
    int ChooseDownloadSource(platform::HWND, int) override { return kSourceClosed; }
};

std::mutex g_mutex;
std::shared_ptr<IDownloadSourceChooser> g_chooser;

} // namespace

void InstallDownloadSourceChooser(std::shared_ptr<IDownloadSourceChooser> chooser)
{
    std::lock_guard lock(g_mutex);
    g_chooser = std::move(chooser);
}

std::shared_ptr<IDownloadSourceChooser> InstalledDownloadSourceChooser()
{
    {
        std::lock_guard lock(g_mutex);
        if (g_chooser)
            return g_chooser;
    }
    static const auto closed = std::make_shared<CClosedChooser>();
    return closed;
}
