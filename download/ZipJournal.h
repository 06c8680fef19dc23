#pragma once

#include <string>
#include <utility>
#include <vector>

// What one extraction changed in its destination folder, so that a failed extraction can leave the
// folder as it found it. The folders, files and links the extraction made are noted as they are made;
// a file or link that an entry replaces is first moved aside into a hidden folder inside the
// destination (same file system, so the move is a rename), to be put back on failure and removed on
// success. Used by one extracting thread.
class CZipJournal {
public:
    // dest is the destination folder, ending with '/'.
    explicit CZipJournal(std::string dest);
    // Rolls back unless Commit was called.
    ~CZipJournal();
    CZipJournal(const CZipJournal&) = delete;
    CZipJournal& operator=(const CZipJournal&) = delete;

    // Makes the folder unless something is there already; a folder made is noted.
    void MakeFolder(const std::string& path);
    // Clears path for a new file or link: a file or link there is moved aside, or removed when it
    // cannot be moved. A folder there stays (the new file then cannot be made). Returns false when
    // something other than a folder is still there.
    bool ClearForNew(const std::string& path);
    // Notes a file or link made at path.
    void Made(const std::string& path);
    // Whether the first segment of an entry's path is the journal's own hidden folder, which entries
    // must not reach.
    bool IsOwnFolder(const std::string& firstSegment) const;

    // Keeps what was made and removes what was moved aside.
    void Commit();
    // Removes what was made, newest first, and puts back what was moved aside. Does nothing after
    // Commit.
    void Rollback();

private:
    // The hidden folder for replaced files, made on first use; empty when it cannot be made.
    const std::string& AsideFolder();

    std::string m_dest;
    std::string m_aside;     // the hidden folder, ending with '/', once made
    std::string m_asideName; // its name inside the destination
    struct Change {
        std::string path;
        bool folder;
    };
    std::vector<Change> m_made;
    std::vector<std::pair<std::string, std::string>> m_movedAside; // original path, path in m_aside
    bool m_done = false;
};
