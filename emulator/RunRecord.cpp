#include "emulator/RunRecord.h"

#include "platform/Trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>

namespace {

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

} // namespace

RunRecordFile::RunRecordFile(std::string path) : m_path(std::move(path)) {}

bool RunRecordFile::Save(const RunRecord& record) const
{
    const std::string text = "EmulatorId=" + Escape(record.EmulatorId) + "\n" +
                             "ControlMethod=" + std::to_string(record.ControlMethod) + "\n" +
                             "GamePath=" + Escape(record.GamePath) + "\n" +
                             "Prepared=" + (record.Prepared ? "1" : "0") + "\n" +
                             "Pid=" + std::to_string(record.Pid) + "\n" +
                             "StartTime=" + std::to_string(record.StartTime) + "\n" + "End=1\n";
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
    if (values.size() != 7 || values["End"] != "1")
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
    return record;
}

void RunRecordFile::Remove() const
{
    ::unlink(m_path.c_str());
}
