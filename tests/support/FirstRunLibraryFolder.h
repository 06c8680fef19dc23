#pragma once

#include "foundation/FileSystem.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace testsupport {

// The folder a first run takes for its library, "Games/" on a drive (by default the largest one, as
// the program picks it), removed when the guard goes, whatever the test's outcome, when it was not
// there as the guard was made: a folder (or link) that was there before is the machine's own and is
// kept. Make the guard before the code under test can make the folder.
class FirstRunLibraryFolder {
public:
    explicit FirstRunLibraryFolder(const std::string& drive = GetLargestFreeDrive())
    {
        if (drive.empty())
            return;
        m_path = drive + "Games/";
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(drive + "Games", ec);
        m_made = !std::filesystem::exists(status) && (!ec || ec == std::errc::no_such_file_or_directory);
    }
    FirstRunLibraryFolder(const FirstRunLibraryFolder&) = delete;
    FirstRunLibraryFolder& operator=(const FirstRunLibraryFolder&) = delete;
    ~FirstRunLibraryFolder()
    {
        if (!m_made)
            return;
        std::error_code ignored;
        std::filesystem::remove_all(m_path.substr(0, m_path.size() - 1), ignored);
    }

    // "<drive>Games/", empty when there is no drive.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    bool m_made = false; // removed at the end: the folder was not there before
};

} // namespace testsupport
