#include "emulator/EmulatorManager.h"
#include "emulator/EmulatorConfig.h"

#include "emulator/EmulatorList.h"
#include "emulator/PlatformTable.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "foundation/ServerEndpoints.h"
#include "foundation/StringConv.h"
#include "platform/Trace.h"
#include "store/GameStore.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<EmulatorManager> g_instance;

// A text of the process code page as UTF-8 for a message box; the bytes as they are when they do
// not convert.
std::string ToUtf8(const std::string& ansi)
{
    try {
        return AnsiToUtf8(ansi);
    } catch (const std::exception&) {
        return ansi;
    }
}

void OpenWithDesktop(const std::string& folder)
{
    // A folder goes to the desktop's opener; the handle is dropped, the opener reaped later.
    if (!platform::StartProcess(folder, "", "", platform::kShowNormal))
        platform::TraceF("emulator: cannot open %s", folder.c_str());
}

} // namespace

EmulatorManager& EmulatorManager::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_unique<EmulatorManager>(CGameStore::Instance());
    return *g_instance;
}

void EmulatorManager::DestroyInstance()
{
    std::unique_ptr<EmulatorManager> gone;
    {
        std::lock_guard lock(g_instanceMutex);
        gone = std::move(g_instance);
    }
    // Destroyed outside the lock: its shutdown joins the workers.
}

void EmulatorManager::BeginInstanceShutdown()
{
    std::lock_guard lock(g_instanceMutex);
    if (g_instance)
        g_instance->BeginShutdown();
}

EmulatorManager::EmulatorManager(CGameStore& store, bool fetchList)
    : m_store(store), m_folderOpener(OpenWithDesktop), m_settingsRecord(SettingsRunRecordPath())
{
    EmulatorMap rows;
    if (!m_store.Submit(kStoreReadEmulators, &rows, false, false))
        platform::Trace("emulator: the installed emulators could not be read");
    for (auto& [id, record] : rows)
        m_installed.emplace(id, std::make_shared<const EmulatorRecord>(std::move(record)));
    ResumeSettingsRun();
    if (fetchList) {
        std::lock_guard lock(m_mutex);
        StartRefresh(nullptr);
    }
}

EmulatorManager::~EmulatorManager()
{
    Shutdown();
}

void EmulatorManager::SetInstaller(IEmulatorInstaller* installer)
{
    std::lock_guard lock(m_mutex);
    m_installer = installer;
}

void EmulatorManager::SetPrompts(IEmulatorPrompts* prompts)
{
    std::lock_guard lock(m_mutex);
    m_prompts = prompts;
}

void EmulatorManager::SetLaunchPrompts(ILaunchPrompts* prompts)
{
    std::lock_guard lock(m_mutex);
    m_launchPrompts = prompts;
}

void EmulatorManager::SetFolderOpener(std::function<void(const std::string&)> opener)
{
    std::lock_guard lock(m_mutex);
    m_folderOpener = std::move(opener);
}

void EmulatorManager::RefreshEmulatorList(platform::HWND window)
{
    std::lock_guard lock(m_mutex);
    if (m_stopping || m_settingsRunning)
        return;
    if (m_refreshRunning) {
        if (window != nullptr)
            m_refreshWindows.push_back(window);
        return;
    }
    StartRefresh(window);
}

void EmulatorManager::StartRefresh(platform::HWND window)
{
    // The previous worker cleared m_refreshRunning under the lock as its last step: joining only
    // reaps it.
    if (m_refreshWorker.joinable())
        m_refreshWorker.join();
    m_refreshRunning = true;
    m_refreshWindows.clear();
    if (window != nullptr)
        m_refreshWindows.push_back(window);
    m_refreshWorker = std::thread([this] { RefreshWork(); });
}

void EmulatorManager::RefreshWork()
{
    std::string answer;
    long status = 0;
    CURLcode result = CURLE_FAILED_INIT;
    if (CurlEasyPtr handle = NewCurlEasy()) {
        ApplyEmulatorListProfile(handle.get(), EmulatorListUrl(), &answer);
        result = NetPerform(handle.get(), &m_cancel);
        curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    }
    constexpr int kTracedAnswerBytes = 400;
    platform::TraceF("emulator list: result %d, status %ld\n%.*s", static_cast<int>(result), status,
                     kTracedAnswerBytes, answer.c_str());

    std::optional<EmulatorMap> parsed;
    if (result == CURLE_OK && status == 200)
        parsed = ParseEmulatorList(answer);

    std::lock_guard lock(m_mutex);
    if (parsed && !m_stopping) {
        RecordMap listed;
        for (auto& [id, record] : *parsed)
            listed.emplace(id, std::make_shared<const EmulatorRecord>(std::move(record)));
        m_listed.swap(listed);
        for (platform::HWND window : m_refreshWindows)
            platform::PostMessage(window, WM_EMULIST_READY, 0, 0);
    }
    // The records replaced here go with `listed`; holders of them keep their own references.
    m_refreshWindows.clear();
    m_refreshRunning = false;
    m_workerEnded.notify_all();
}

bool EmulatorManager::RefreshRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_refreshRunning;
}

bool EmulatorManager::WaitForRefresh(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_workerEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return !m_refreshRunning; });
}

EmulatorRecordPtr EmulatorManager::FirstOfType(const RecordMap& map, int typeId)
{
    for (const auto& [id, record] : map)
        if (record->Emulatortype == typeId)
            return record;
    return nullptr;
}

EmulatorRecordPtr EmulatorManager::FindListed(int typeId) const
{
    std::lock_guard lock(m_mutex);
    return FirstOfType(m_listed, typeId);
}

EmulatorRecordPtr EmulatorManager::FindInstalled(int typeId) const
{
    std::lock_guard lock(m_mutex);
    return FirstOfType(m_installed, typeId);
}

bool EmulatorManager::HasInstalledPlatform(int typeId) const
{
    return FindInstalled(typeId) != nullptr;
}

EmulatorRecordPtr EmulatorManager::Listed(const std::string& emulatorId) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_listed.find(emulatorId);
    return found == m_listed.end() ? nullptr : found->second;
}

EmulatorRecordPtr EmulatorManager::Installed(const std::string& emulatorId) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_installed.find(emulatorId);
    return found == m_installed.end() ? nullptr : found->second;
}

std::vector<EmulatorRecordPtr> EmulatorManager::ListedEmulators() const
{
    std::lock_guard lock(m_mutex);
    std::vector<EmulatorRecordPtr> records;
    for (const auto& [id, record] : m_listed)
        records.push_back(record);
    return records;
}

std::vector<EmulatorRecordPtr> EmulatorManager::InstalledEmulators() const
{
    std::lock_guard lock(m_mutex);
    std::vector<EmulatorRecordPtr> records;
    for (const auto& [id, record] : m_installed)
        records.push_back(record);
    return records;
}

bool EmulatorManager::RunInstaller(const EmulatorRecord& listed, platform::HWND owner, bool centred)
{
    IEmulatorInstaller* installer = nullptr;
    {
        std::lock_guard lock(m_mutex);
        installer = m_stopping ? nullptr : m_installer;
    }
    if (installer == nullptr) {
        platform::Trace("emulator: no installer to run");
        return false;
    }
    return installer->InstallEmulator(listed, owner, centred);
}

EmulatorRecordPtr EmulatorManager::EnsureEmulator(int typeId, platform::HWND owner)
{
    EmulatorRecordPtr listed;
    {
        std::unique_lock lock(m_mutex);
        if (EmulatorRecordPtr installed = FirstOfType(m_installed, typeId))
            return installed;
        // Right after start-up the list may still be on its way; its request ends within its
        // time-out, or at once at shutdown.
        m_workerEnded.wait(lock, [this] { return !m_refreshRunning || m_stopping; });
        listed = FirstOfType(m_listed, typeId);
    }
    if (!listed)
        return nullptr;
    if (!RunInstaller(*listed, owner, true))
        return nullptr;

    auto copy = std::make_shared<const EmulatorRecord>(*listed);
    {
        std::lock_guard lock(m_mutex);
        if (!m_installed.emplace(copy->EmulatorId, copy).second)
            return nullptr;
    }
    m_store.Submit(kStoreAddEmulator, new EmulatorRecord(*copy), true, true);
    return copy;
}

bool EmulatorManager::Install(const EmulatorRecord& listed, platform::HWND owner)
{
    if (Installed(listed.EmulatorId))
        return false;
    // The caller's record may be one the next refresh replaces; the copy stays whole meanwhile.
    auto copy = std::make_shared<const EmulatorRecord>(listed);
    if (!RunInstaller(*copy, owner, false))
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_installed.emplace(copy->EmulatorId, copy).second)
            return false;
    }
    return m_store.Submit(kStoreAddEmulator, new EmulatorRecord(*copy), true, true);
}

bool EmulatorManager::Uninstall(const EmulatorRecord& record, platform::HWND owner)
{
    EmulatorRecordPtr installed = Installed(record.EmulatorId);
    if (!installed)
        return false;
    IEmulatorPrompts* prompts = nullptr;
    {
        std::lock_guard lock(m_mutex);
        prompts = m_prompts;
    }
    if (prompts == nullptr || !prompts->AskYesNo(owner, "是否删除模拟器", "提示"))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_installed.erase(installed->EmulatorId);
    }
    m_store.Submit(kStoreRemoveEmulator, new std::string(installed->EmulatorId), true, true);
    // The folder of the installed record: its name passed the same check when it was listed, and
    // EmulatorDirectory refuses one that could leave the platform's folder.
    std::string folder = EmulatorDirectory(*installed);
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
        if (ec)
            platform::TraceF("emulator: cannot remove %s: %s", folder.c_str(), ec.message().c_str());
    }
    return true;
}

void EmulatorManager::Update(const EmulatorRecord& listed, platform::HWND owner)
{
    EmulatorRecordPtr installed = Installed(listed.EmulatorId);
    if (!installed)
        return;
    auto offered = std::make_shared<const EmulatorRecord>(listed);
    IEmulatorPrompts* prompts = nullptr;
    {
        std::lock_guard lock(m_mutex);
        prompts = m_prompts;
    }
    if (prompts == nullptr)
        return;

    if (CompareVersions(installed->Version, offered->Version) >= 0) {
        prompts->Tell(owner, ToUtf8(offered->Name) + "已是最新版本", "提示");
        return;
    }
    if (!prompts->AskYesNo(owner, "更新说明:\n\n" + ToUtf8(offered->Description),
                           "提示:检测到新版本" + ToUtf8(offered->Version) + "是否更新"))
        return;
    if (!RunInstaller(*offered, owner, false))
        return;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_installed.find(offered->EmulatorId);
        if (found == m_installed.end())
            return;
        found->second = offered;
    }
    m_store.Submit(kStoreUpdateEmulator, new EmulatorRecord(*offered), true, true);
}

void EmulatorManager::OpenDirectory(const EmulatorRecord& record)
{
    std::string folder = EmulatorDirectory(record);
    if (folder.empty())
        return;
    std::function<void(const std::string&)> opener;
    {
        std::lock_guard lock(m_mutex);
        opener = m_folderOpener;
    }
    if (opener)
        opener(folder);
}

void EmulatorManager::RunForSettings(const EmulatorRecord& record, platform::HWND owner)
{
    std::lock_guard lock(m_mutex);
    if (m_stopping || m_settingsRunning || m_refreshRunning || m_gameRunning)
        return;
    if (m_settingsWorker.joinable())
        m_settingsWorker.join();
    m_settingsRunning = true;
    m_settingsWorker = std::thread(
        [this, owner, copy = std::make_shared<const EmulatorRecord>(record)] { SettingsWork(copy, owner); });
}

void EmulatorManager::SayCannotStart(platform::HWND owner, const std::string& path)
{
    ILaunchPrompts* prompts = nullptr;
    {
        std::lock_guard lock(m_mutex);
        prompts = m_launchPrompts;
    }
    if (prompts != nullptr)
        prompts->PostNotice(owner, CannotStartText(path), "提示"); // paths are native (UTF-8) text
}

void EmulatorManager::SettingsWork(EmulatorRecordPtr record, platform::HWND owner)
{
    const int controlMethod = CAppSettings().HandleType() == "2" ? 2 : 1;
    std::string folder = EmulatorDirectory(*record);
    std::string file;
    if (folder.empty() || record->Execute.empty() ||
        !JoinInsideFolder(folder + "/", record->Execute.front(), file)) {
        // Nothing in the emulator's folder to start: the program is named outside it, or not at all.
        platform::TraceF("emulator: no program of %s to start", record->EmulatorId.c_str());
        SayCannotStart(owner,
                       folder + "/" + (record->Execute.empty() ? std::string() : record->Execute.front()));
    } else {
        emulator_config::EnsureUserDirectory(*record, controlMethod);
        emulator_config::TransferBeforeLaunch(*record, controlMethod, {});
        // Written once the user copy is in place (and on the disk), kept until it has been taken
        // back: a program that dies in between finishes the run at its next start.
        RunRecord run{record->EmulatorId, controlMethod, {}, true, 0, 0, true, {}};
        EnsureDirectoryTree(m_settingsRecord.Path());
        m_settingsRecord.Save(run);
        // Until the record names the process, the start mark lets the next start find it, should
        // the program die before then, even while the process has not yet become the emulator.
        RunRecordFile::StartMark mark = m_settingsRecord.MarkStart();
        platform::ProcessHandle process = platform::StartProgram(file, "", folder, platform::kShowNormal);
        if (process) {
            // Known at once, before the record is written to the disk: the window's close ends the
            // emulator through it, and the emulator may already be running when the record is.
            {
                std::lock_guard lock(m_mutex);
                m_settingsPid = process.Pid();
                m_settingsProcess = &process;
            }
            run.Pid = process.Pid();
            run.StartTime = platform::ProcessStartTime(process.Pid());
            m_settingsRecord.Save(run);
            mark = RunRecordFile::StartMark();
            // A shutdown stops the wait while the emulator may still write its files: they are
            // taken back only after it has ended, by the next start if need be.
            if (process.Wait(platform::Event::kInfinite, &m_stopSettings) == platform::WaitResult::Exited) {
                emulator_config::TransferAfterExit(*record, controlMethod, {});
                m_settingsRecord.Remove();
            } else {
                platform::TraceF("emulator: %s still runs, its settings are taken back later", file.c_str());
            }
            std::lock_guard lock(m_mutex);
            m_settingsProcess = nullptr;
        } else {
            platform::TraceF("emulator: cannot start %s", file.c_str());
            m_settingsRecord.Remove();
            SayCannotStart(owner, file);
        }
    }
    std::lock_guard lock(m_mutex);
    m_settingsPid = -1;
    m_settingsRunning = false;
    m_workerEnded.notify_all();
}

std::string EmulatorManager::SettingsRunRecordPath()
{
    return DataFolder() + "database/settings-run.rec";
}

void EmulatorManager::ResumeSettingsRun()
{
    std::optional<RunRecord> record = m_settingsRecord.Load();
    if (!record || !record->Prepared) {
        if (PathExists(m_settingsRecord.Path()))
            platform::TraceF("emulator: settings run record %s dropped", m_settingsRecord.Path().c_str());
        m_settingsRecord.Remove();
        return;
    }
    EmulatorRecordPtr emulator = Installed(record->EmulatorId);
    if (!emulator) {
        platform::TraceF("emulator: %s of the earlier settings run is gone", record->EmulatorId.c_str());
        m_settingsRecord.Remove();
        return;
    }
    const uint64_t notBefore = m_settingsRecord.EarliestStart(*record);
    std::lock_guard lock(m_mutex);
    m_settingsRunning = true;
    m_settingsWorker = std::thread(
        [this, run = *record, emulator, notBefore] { RecoverSettingsRun(run, emulator, notBefore); });
}

void EmulatorManager::RecoverSettingsRun(RunRecord record, EmulatorRecordPtr emulator, uint64_t notBefore)
{
    const bool ended = WaitForRecordedRun(
        record, EmulatorDirectory(*emulator), m_settingsRecord.StartMarkPath(), notBefore, m_stopSettings,
        [this](pid_t pid) {
            platform::TraceF("emulator: waiting for the settings run of the earlier start (%d)",
                             static_cast<int>(pid));
            std::lock_guard lock(m_mutex);
            m_settingsPid = pid;
            m_settingsStartTime = platform::ProcessStartTime(pid);
        });
    if (ended) {
        emulator_config::TransferAfterExit(*emulator, record.ControlMethod, {});
        m_settingsRecord.Remove();
    }
    std::lock_guard lock(m_mutex);
    m_settingsPid = -1;
    m_settingsStartTime = 0;
    m_settingsRunning = false;
    m_workerEnded.notify_all();
}

bool EmulatorManager::BeginGameRun()
{
    std::lock_guard lock(m_mutex);
    if (m_settingsRunning)
        return false;
    m_gameRunning = true;
    return true;
}

void EmulatorManager::EndGameRun()
{
    std::lock_guard lock(m_mutex);
    m_gameRunning = false;
}

bool EmulatorManager::GameRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_gameRunning;
}

pid_t EmulatorManager::SettingsProcessId() const
{
    std::lock_guard lock(m_mutex);
    return m_settingsPid;
}

bool EmulatorManager::EndSettingsRun()
{
    std::lock_guard lock(m_mutex);
    if (m_settingsProcess != nullptr)
        return m_settingsProcess->Terminate();
    // A start time of 0 (none known) adopts nothing.
    platform::ProcessHandle earlier = platform::ProcessHandle::Adopt(m_settingsPid, m_settingsStartTime);
    return earlier.Terminate();
}

bool EmulatorManager::SettingsRunRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_settingsRunning;
}

bool EmulatorManager::WaitForSettingsRun(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_workerEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return !m_settingsRunning; });
}

void EmulatorManager::RestoreDefaultKeys(const EmulatorRecord& record)
{
    const std::string handleType = CAppSettings().HandleType();
    const int controlMethod = handleType == "1" ? 1 : handleType == "2" ? 2 : 0;
    emulator_config::RestoreDefaults(record, controlMethod);
}

std::string EmulatorManager::EmulatorDirectory(const EmulatorRecord& record)
{
    if (!IsSafeEmulatorName(record.Name))
        return {};
    // Emulators for all platforms (type 0) have a folder of their own like every platform's, so
    // none of them can share a folder with a platform, nor take a platform's folder for its own.
    const std::string_view shortName = TypeIdToShortName(record.Emulatortype);
    std::string base = DataFolder() + "Emulator/";
    if (!shortName.empty())
        base += std::string(shortName) + "/";
    std::string name;
    try {
        name = NativePath(record.Name);
    } catch (const std::exception&) {
        return {};
    }
    // A type outside the platform table puts the emulator beside the platforms' folders: a name
    // that is one of them would name every emulator of that platform.
    if (shortName.empty() && ShortNameToTypeId(name).has_value())
        return {};
    std::string joined;
    if (!JoinInsideFolder(base, name, joined))
        return {};
    return CollapseSeparators(joined);
}

void EmulatorManager::BeginShutdown()
{
    m_cancel = true;
    m_stopSettings.Set();
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_workerEnded.notify_all();
}

void EmulatorManager::Shutdown()
{
    BeginShutdown();
    std::lock_guard joinLock(m_joinMutex);
    std::thread refresh;
    std::thread settings;
    {
        std::lock_guard lock(m_mutex);
        refresh = std::move(m_refreshWorker);
        settings = std::move(m_settingsWorker);
    }
    if (refresh.joinable())
        refresh.join();
    if (settings.joinable())
        settings.join();
}
