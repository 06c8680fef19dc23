#include "emulator/RunRecord.h"

#include "platform/Process.h"
#include "platform/Trace.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

namespace fs = std::filesystem;

// Values are written on one line each: '\\' and line breaks are escaped.
std::string Escape(const std::string& value)
{
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::optional<std::string> Unescape(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (++i >= value.size())
            return std::nullopt;
        switch (value[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::optional<uint64_t> Number(const std::string& text)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0)
        return std::nullopt;
    return static_cast<uint64_t>(value);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// When the file at `path` was last written, as a process start time (clock ticks after boot); 0 when
// it cannot be told.
uint64_t WrittenAtTicks(const std::string& path)
{
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    std::ifstream stat("/proc/stat");
    std::string key;
    long long bootTime = 0;
    while (stat >> key) {
        if (key == "btime") {
            stat >> bootTime;
            break;
        }
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (bootTime <= 0 || ticks <= 0 || info.st_mtime < bootTime)
        return 0;
    return static_cast<uint64_t>(info.st_mtime - bootTime) * static_cast<uint64_t>(ticks);
}

// Whether the process `pid` holds an open descriptor of the file `path`.
bool HoldsFile(const std::string& procEntry, const fs::path& path)
{
    std::error_code ec;
    for (fs::directory_iterator it(procEntry + "/fd", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        if (fs::read_symlink(it->path(), linkError) == path && !linkError)
            return true;
    }
    return false;
}

// A process that started no earlier than `notBefore` (a process start time) and holds the start mark
// at `startMark` or runs in `folder`: an emulator started by a run whose record did not name it yet
// (the program died between starting it and writing its id). 0 when there is none.
pid_t ProcessOfTheRun(const std::string& folder, const std::string& startMark, uint64_t notBefore)
{
    std::error_code ec;
    const fs::path wanted = fs::canonical(folder, ec);
    if (ec)
        return 0;
    const fs::path mark = startMark.empty() ? fs::path() : fs::canonical(startMark, ec);
    const pid_t self = ::getpid();
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        const uint64_t started = platform::ProcessStartTime(pid);
        if (pid == self || started == 0 || started < notBefore)
            continue;
        // The mark first: a process being started drops it when its program runs, by which time it
        // has changed into the folder, so looking at the folder after the mark misses neither.
        if (!mark.empty() && HoldsFile(it->path().string(), mark))
            return pid;
        std::error_code linkError;
        if (fs::read_symlink(it->path() / "cwd", linkError) == wanted && !linkError)
            return pid;
    }
    return 0;
}

} // namespace

RunRecordFile::RunRecordFile(std::string path) : m_path(std::move(path)) {}

bool RunRecordFile::Save(const RunRecord& record) const
{
    const std::string text =
        "EmulatorId=" + Escape(record.EmulatorId) + "\n" +
        "ControlMethod=" + std::to_string(record.ControlMethod) + "\n" +
        "GamePath=" + Escape(record.GamePath) + "\n" + "Prepared=" + (record.Prepared ? "1" : "0") + "\n" +
        "Pid=" + std::to_string(record.Pid) + "\n" + "StartTime=" + std::to_string(record.StartTime) + "\n" +
        "Flushed=" + (record.Flushed ? "1" : "0") + "\n" + "BootId=" + Escape(record.BootId) + "\n" +
        "End=1\n";
    const std::string temporary = m_path + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        platform::TraceF("launcher: cannot write %s", temporary.c_str());
        return false;
    }
    // No flush to the disk: the record guards against the program dying, which a rename covers; it
    // is written up to three times on the way to the emulator's start.
    bool written = WriteAll(fd, text);
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), m_path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        platform::TraceF("launcher: cannot write %s", m_path.c_str());
        return false;
    }
    return true;
}

std::optional<RunRecord> RunRecordFile::Load() const
{
    std::ifstream file(m_path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::map<std::string, std::string> values;
    std::string line;
    // The record is small; anything large is not one of ours.
    for (int count = 0; std::getline(file, line); ++count) {
        if (count > 16 || line.size() > 65536)
            return std::nullopt;
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            return std::nullopt;
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    // Records of earlier versions have no Flushed and BootId.
    const bool withBoot = values.size() == 9 && values.count("Flushed") && values.count("BootId");
    if ((values.size() != 7 && !withBoot) || values["End"] != "1")
        return std::nullopt;
    RunRecord record;
    auto id = Unescape(values["EmulatorId"]);
    auto game = Unescape(values["GamePath"]);
    auto pid = Number(values["Pid"]);
    auto start = Number(values["StartTime"]);
    const std::string& method = values["ControlMethod"];
    const std::string& prepared = values["Prepared"];
    if (!id || id->empty() || !game || !pid || !start || (method != "1" && method != "2") ||
        (prepared != "0" && prepared != "1") || *pid > 0x7fffffff)
        return std::nullopt;
    record.EmulatorId = *id;
    record.GamePath = *game;
    record.ControlMethod = method == "1" ? 1 : 2;
    record.Prepared = prepared == "1";
    record.Pid = static_cast<pid_t>(*pid);
    record.StartTime = *start;
    if (withBoot) {
        auto boot = Unescape(values["BootId"]);
        const std::string& flushed = values["Flushed"];
        if (!boot || (flushed != "0" && flushed != "1"))
            return std::nullopt;
        record.Flushed = flushed == "1";
        record.BootId = *boot;
    }
    return record;
}

void RunRecordFile::Remove() const
{
    ::unlink(m_path.c_str());
    ::unlink(StartMarkPath().c_str());
}

std::string CurrentBootId()
{
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(file, id);
    return id;
}

uint64_t RunRecordFile::EarliestStart(const RunRecord& record) const
{
    const uint64_t ticks = static_cast<uint64_t>(std::max(1L, ::sysconf(_SC_CLK_TCK)));
    const uint64_t start = record.Pid != 0 ? record.StartTime : WrittenAtTicks(m_path);
    if (start <= ticks)
        return UINT64_MAX; // no time to go by: nothing is looked for
    return start - ticks;
}

RunRecordFile::StartMark::StartMark(StartMark&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

RunRecordFile::StartMark& RunRecordFile::StartMark::operator=(StartMark&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

RunRecordFile::StartMark::~StartMark()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

RunRecordFile::StartMark RunRecordFile::MarkStart() const
{
    const int fd = ::open(StartMarkPath().c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        platform::TraceF("launcher: cannot open %s", StartMarkPath().c_str());
    return StartMark(fd);
}

bool WaitForRecordedRun(const RunRecord& record, const std::string& folder, const std::string& startMark,
                        uint64_t notBefore, platform::Event& stop,
                        const std::function<void(pid_t)>& onProcess)
{
    // A process found may end before it is adopted (a launcher script's short helpers do); it is
    // looked for again, a bounded number of times.
    constexpr int kMaxAdopted = 16;
    constexpr int kMaxMissed = 64;
    platform::ProcessHandle process = platform::ProcessHandle::Adopt(record.Pid, record.StartTime);
    for (int adopted = 0, missed = 0; adopted < kMaxAdopted && missed < kMaxMissed;) {
        if (!process) {
            const pid_t other = folder.empty() ? 0 : ProcessOfTheRun(folder, startMark, notBefore);
            if (other == 0)
                return true;
            process = platform::ProcessHandle::Adopt(other, platform::ProcessStartTime(other));
            if (!process) {
                ++missed;
                continue;
            }
        }
        ++adopted;
        if (onProcess)
            onProcess(process.Pid());
        if (process.Wait(platform::Event::kInfinite, &stop) != platform::WaitResult::Exited)
            return false;
        process = platform::ProcessHandle();
    }
    return true;
}

bool WaitForRecordedRun(const RunRecord& record, const std::string& folder, uint64_t notBefore,
                        platform::Event& stop, const std::function<void(pid_t)>& onProcess)
{
    return WaitForRecordedRun(record, folder, {}, notBefore, stop, onProcess);
}
