#pragma once

// The program's main window made in a bench as start-up makes it, on a portable folder.

#include "app/MainFrameNew.h"
#include "app/Startup.h"
#include "foundation/AppSettings.h"
#include "foundation/ServerEndpoints.h"
#include "platform/CodePage.h"
#include "ui/PaintManager.h"

#include <clocale>
#include <memory>
#include <string>

namespace bench {

// The start-up of the program as far as the main window: code page, paths, a library folder in the
// settings while none is named (so the first-run settings window stays away), the servers of the
// folder's servers.cfg, the window with start-up's styles. Null when the window cannot be made.
inline std::unique_ptr<CMainFrameNew> CreateMainWindow(const std::string& folder)
{
    std::setlocale(LC_ALL, "");
    platform::ProcessCodePage();
    PrepareAppPaths(folder, folder);
    {
        CAppSettings settings;
        if (settings.RomPath().empty()) {
            settings.SetRomPath(folder + "Games/");
            settings.Save();
            PrepareAppPaths(folder, folder);
        }
    }
    SetServerEndpoints(LoadServerEndpoints(folder + "servers.cfg"));
    UiLib::CPaintManagerUI::SetInstance(nullptr);
    auto frame = std::make_unique<CMainFrameNew>();
    if (frame->Create(nullptr, UiLib::CDuiString::FromUtf8(kMainWindowTitle), 0x10CF0000, 0x100) == nullptr)
        return nullptr;
    return frame;
}

} // namespace bench
