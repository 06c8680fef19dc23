#include "app/StartupChecks.h"

#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Trace.h"
#include "store/GameStoreOpening.h"
#include "ui/MessageBox.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;
using UiLib::CDuiString;

namespace {

void Tell(UiLib::HWND owner, const std::string& text)
{
    UiLib::MessageBox(owner, CDuiString::FromUtf8(text), u"提示", UiLib::MB_OK);
}

bool IsSettingLine(std::string_view line)
{
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line.empty() || line.front() == ';' || line.front() == '#' ||
           (line.front() == '[' && line.back() == ']') || line.find('=') != std::string_view::npos;
}

} // namespace

bool OpenGameStoreOrSay(UiLib::HWND owner)
{
    const std::string path = CGameStore::DefaultDatabasePath();
    StoreOpenResult opened = OpenStoreForStartup(path);
    if (opened.outcome == StoreOpenOutcome::kUnwritable) {
        platform::TraceF("start-up: the database %s cannot be written (%s); ending", path.c_str(),
                         opened.reason.c_str());
        // Portable, the data folder is the program folder, and the box says so as it always has.
        Tell(owner, std::string(IsInstalledMode() ? "数据文件夹无法写入" : "程序文件夹无法写入") +
                        "，Quokka模拟器无法启动\n" + DataFolder());
        return false;
    }
    if (opened.outcome == StoreOpenOutcome::kMovedAside) {
        Tell(owner, "游戏库数据已损坏，已另存为" + fs::path(opened.asidePath).filename().string() +
                        "\n将以空的游戏库启动，本地游戏会重新找回");
    }
    CGameStore::InstallInstance(std::move(opened.store));
    return true;
}

std::string SettingsFileProblem(const std::string& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
        return {};
    if (!fs::is_regular_file(status))
        return "not a file";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "cannot be opened";
    std::string content(CAppSettings::kMaxSettingsFileBytes + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad())
        return "cannot be read";
    content.resize(static_cast<size_t>(in.gcount()));
    if (content.size() > CAppSettings::kMaxSettingsFileBytes)
        return "larger than " + std::to_string(CAppSettings::kMaxSettingsFileBytes) + " bytes";
    if (content.find('\0') != std::string::npos)
        return "holds NUL bytes";
    size_t start = 0;
    for (int number = 1; start < content.size(); ++number) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        if (!IsSettingLine(std::string_view(content).substr(start, end - start)))
            return "line " + std::to_string(number) + " is not a setting";
        start = end + 1;
    }
    return {};
}

void LoadServerSettingsOrSay(UiLib::HWND owner, const std::string& path)
{
    const std::string problem = SettingsFileProblem(path);
    if (problem.empty()) {
        SetServerEndpoints(LoadServerEndpoints(path));
        return;
    }
    platform::TraceF("start-up: %s cannot be read (%s); the built-in server addresses are used", path.c_str(),
                     problem.c_str());
    SetServerEndpoints(DefaultServerEndpoints());
    Tell(owner, "服务器设置文件无法读取，将使用默认的服务器地址\n" + path);
}

std::string KeepDamagedSettingsAside(UiLib::HWND owner, const std::string& path)
{
    const std::string problem = SettingsFileProblem(path);
    if (problem.empty() || !CAppSettings(path).RomPath().empty())
        return {};
    std::error_code ec;
    const std::string copy = BrokenFileName(path);
    // A copy, not a rename: what the file still holds is read on as before.
    if (!fs::is_regular_file(path, ec) || !fs::copy_file(path, copy, ec)) {
        platform::TraceF("start-up: the damaged %s (%s) cannot be copied aside", path.c_str(),
                         problem.c_str());
        return {};
    }
    platform::TraceF("start-up: %s is damaged (%s); copied to %s", path.c_str(), problem.c_str(),
                     copy.c_str());
    Tell(owner, "设置文件已损坏，已另存为" + fs::path(copy).filename().string() + "\n请重新设置游戏目录");
    return copy;
}

void TellFolderInUse(UiLib::HWND owner, const std::string& folder, bool installed)
{
    Tell(owner, std::string("Quokka模拟器已在运行，使用同一个") + (installed ? "数据文件夹" : "程序文件夹") +
                    "\n" + folder);
}
