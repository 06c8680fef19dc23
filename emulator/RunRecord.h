#pragma once

#include "platform/Event.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

// What the launcher remembers of a game run on disk, so that a program that died while a game ran
// can finish the run at its next start: the emulator's changed configuration is then still taken
// back instead of being overwritten by the next run.
struct RunRecord {
    std::string EmulatorId;
    int ControlMethod = 1;
    std::string GamePath; // empty for a run without a game
    // False while the user copy is being put in place: the user copy is then still whole and the
    // emulator's files may be half written, so nothing is taken back. True from the moment the
    // before-launch step has finished.
    bool Prepared = false;
    pid_t Pid = 0;          // the emulator process, 0 before it starts
    uint64_t StartTime = 0; // its platform::ProcessStartTime
    // False while the files put in place for the run may not all have reached the disk yet (they
    // are flushed while the emulator starts), with the machine's boot (CurrentBootId) when the
    // record was written: a record of an earlier boot that is not flushed tells of a machine that
    // went down before they were on the disk, so they cannot be taken back. A program that died
    // left them whole in memory. Records without these fields read as flushed.
    bool Flushed = true;
    std::string BootId;

    bool operator==(const RunRecord&) const = default;
};

// The record's file. Save writes a whole new file under a temporary name and renames it over the
// old one, so the program dying at any moment leaves the old record or the new one, never a mix. Not
// thread-safe: one thread (the launcher's worker) uses it at a time.
class RunRecordFile {
public:
    explicit RunRecordFile(std::string path);

    // False when the file could not be written; the old record then stays.
    bool Save(const RunRecord& record) const;
    // The record, or nullopt when there is none or it cannot be read whole (an unknown control
    // method, a field missing or malformed).
    std::optional<RunRecord> Load() const;
    // Removes the record and its start mark; missing files are fine.
    void Remove() const;
    // The earliest start time (as platform::ProcessStartTime gives it) that a process of the run
    // `record` names can have: its recorded start, else the time the record was written, each a
    // second early for the coarseness of file times. UINT64_MAX when it cannot be told.
    uint64_t EarliestStart(const RunRecord& record) const;

    const std::string& Path() const { return m_path; }

    // The start mark: a file beside the record (Path() + ".start") that the launcher holds open,
    // closed on exec, from before it starts the run's process until the record names it. A process
    // being started holds a copy of the mark until its program runs, and runs in the emulator's
    // folder from before then: so a process whose start the program did not live to record is
    // found by the one or the other (WaitForRecordedRun), even before its program runs.
    class StartMark {
    public:
        StartMark() = default;
        explicit StartMark(int fd) : m_fd(fd) {}
        StartMark(StartMark&& other) noexcept;
        StartMark& operator=(StartMark&& other) noexcept;
        ~StartMark();
        StartMark(const StartMark&) = delete;
        StartMark& operator=(const StartMark&) = delete;
        explicit operator bool() const { return m_fd >= 0; }

    private:
        int m_fd = -1;
    };
    // Opens the start mark, making the file when missing; an empty mark when it cannot be opened.
    StartMark MarkStart() const;
    std::string StartMarkPath() const { return m_path + ".start"; }

private:
    std::string m_path;
};

// The running kernel's boot id; empty when it cannot be read.
std::string CurrentBootId();

// Waits for what an earlier start of the program left running of the recorded run: the recorded
// process, then each process that started no earlier than `notBefore` and runs in the emulator's
// `folder` or holds the start mark at `startMark` (one started just before the program died,
// before the record named it, perhaps not yet running its program), one after the other, at most
// 16. A process found that ends before it is adopted is looked for again, not taken for the end of
// the run. `onProcess` is told the id of each process waited for. True once none runs; false when
// `stop` was set first (the record is then to stay for the next start).
bool WaitForRecordedRun(const RunRecord& record, const std::string& folder, const std::string& startMark,
                        uint64_t notBefore, platform::Event& stop,
                        const std::function<void(pid_t)>& onProcess);
// The same for a run whose starts hold no start mark.
bool WaitForRecordedRun(const RunRecord& record, const std::string& folder, uint64_t notBefore,
                        platform::Event& stop, const std::function<void(pid_t)>& onProcess);
