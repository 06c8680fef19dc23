#pragma once

#include "foundation/FileSystem.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace testsupport {

// The folder a first run takes for its library, "Games/" on the drive the program picks.
//
// Made without a drive, the guard makes a temporary folder and has the drive lookup answer it (it
// sets QUOKKA_TEST_LARGEST_DRIVE for this process and the programs it starts, and puts back what was
// there when it goes): a first run under test never makes or removes anything on the machine's real
// drives or home. Make the guard before the code under test looks for the drive.
//
// Made with a drive (a mount point a test looks at on purpose), the lookup is left alone, and
// "<drive>Games/" is removed when the guard goes, whatever the test's outcome, when it was not there
// as the guard was made: a folder (or link) that was there before is the machine's own and is kept.
class FirstRunLibraryFolder {
public:
    FirstRunLibraryFolder() : m_drive(std::make_unique<TempDir>())
    {
        if (const char* previous = std::getenv(kVariable))
            m_previous = previous;
        ::setenv(kVariable, m_drive->Path().c_str(), 1);
        m_path = m_drive->Path() + "Games/";
    }
    explicit FirstRunLibraryFolder(const std::string& drive)
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
        if (m_drive) {
            if (m_previous)
                ::setenv(kVariable, m_previous->c_str(), 1);
            else
                ::unsetenv(kVariable);
        }
        if (!m_made)
            return;
        std::error_code ignored;
        std::filesystem::remove_all(m_path.substr(0, m_path.size() - 1), ignored);
    }

    // "<drive>Games/", empty when there is no drive.
    const std::string& Path() const { return m_path; }

private:
    static constexpr char kVariable[] = "QUOKKA_TEST_LARGEST_DRIVE";

    std::unique_ptr<TempDir> m_drive; // the temporary drive, removed with what the run made in it
    std::optional<std::string> m_previous;
    std::string m_path;
    bool m_made = false; // removed at the end: the folder was not there before
};

} // namespace testsupport
