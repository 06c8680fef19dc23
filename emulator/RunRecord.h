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
    // Removes the record; a missing file is fine.
    void Remove() const;
    // The earliest start time (as platform::ProcessStartTime gives it) that a process of the run
    // `record` names can have: its recorded start, else the time the record was written, each a
    // second early for the coarseness of file times. UINT64_MAX when it cannot be told.
    uint64_t EarliestStart(const RunRecord& record) const;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// The running kernel's boot id; empty when it cannot be read.
std::string CurrentBootId();

// Waits for what an earlier start of the program left running of the recorded run: the recorded
// process, then each process that runs in the emulator's `folder` and started no earlier than
// `notBefore` (one started just before the program died, before the record named it), one after
// the other, at most 16. `onProcess` is told the id of each process waited for. True once none
// runs; false when `stop` was set first (the record is then to stay for the next start).
bool WaitForRecordedRun(const RunRecord& record, const std::string& folder, uint64_t notBefore,
                        platform::Event& stop, const std::function<void(pid_t)>& onProcess);
