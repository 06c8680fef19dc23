#pragma once

#include <atomic>
#include <string>

// Replaces a folder (an installed emulator) with a new version as one step. The new version is made
// in a sibling, ".<name>.installing" beside the folder, and swapped in only once it is complete, so
// the folder holds the old version whole or the new one whole, whatever stops the work: a cancel,
// a failed unpacking, the machine going down.
//
// Files of the old version that the new one does not bring (the user's key settings, saves an
// emulator keeps in its folder) are carried into the new version before the swap, as hard links
// where the file system allows, else as copies: the result is what unpacking over the old folder
// gave, without its half-way states.
//
// The swap exchanges the two folders in one rename where the file system can (renameat2 with
// RENAME_EXCHANGE); elsewhere the old folder is first renamed to ".<name>.replaced". Begin cleans up
// what an interrupted replacement left: an old folder waiting as ".replaced" while the folder itself
// is missing is put back (the record still names the old version), and leftover siblings are removed.
//
// One object serves one replacement on one thread. The staging folder is removed by the destructor
// unless Commit succeeded.
class CFolderReplacement {
public:
    // `folder` is a native path, with or without a trailing '/'.
    explicit CFolderReplacement(const std::string& folder);
    ~CFolderReplacement();
    CFolderReplacement(const CFolderReplacement&) = delete;
    CFolderReplacement& operator=(const CFolderReplacement&) = delete;

    // Cleans up leftovers (see above) and makes an empty staging folder, creating the parent folders.
    // False when the staging folder cannot be made.
    bool Begin();
    // The staging folder, ending with '/': unpack the new version here.
    std::string Staging() const { return m_staging + "/"; }

    // Carries every file, link and folder of the current folder that the staging folder lacks into
    // it. Nothing to do when the folder does not exist. False when one of them could not be carried
    // or *cancel became true; the current folder is never changed.
    bool CarryOver(const std::atomic<bool>& cancel);

    // Puts the staging folder in the folder's place and removes the old version. False, with the
    // folder as it was, when the swap failed; true once the new version is in place (an old version
    // that could not be removed stays as a leftover that the next Begin removes).
    bool Commit();

private:
    std::string m_folder;
    std::string m_staging;
    std::string m_replaced;
    bool m_begun = false;
    bool m_committed = false;
};
