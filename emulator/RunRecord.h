#pragma once

#include <cstdint>
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

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
