#include "maintenance/FolderReplacement.h"

#include "platform/Trace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A sibling of `folder` (no trailing '/') named ".<name><suffix>".
std::string Sibling(const std::string& folder, const char* suffix)
{
    const size_t slash = folder.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    return parent + "." + name + suffix;
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

void RemoveLeftover(const std::string& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        platform::TraceF("folder replacement: cannot remove %s: %s", path.c_str(), error.message().c_str());
}

} // namespace

CFolderReplacement::CFolderReplacement(const std::string& folder) : m_folder(folder)
{
    while (m_folder.size() > 1 && m_folder.back() == '/')
        m_folder.pop_back();
    m_staging = Sibling(m_folder, ".installing");
    m_replaced = Sibling(m_folder, ".replaced");
}

CFolderReplacement::~CFolderReplacement()
{
    if (m_begun && !m_committed)
        RemoveLeftover(m_staging);
}

bool CFolderReplacement::Begin()
{
    RemoveLeftover(m_staging);
    // A swap without exchange stopped between its two renames: the old version is whole under the
    // other name and is what the record still names.
    if (!Exists(m_folder) && Exists(m_replaced)) {
        if (std::rename(m_replaced.c_str(), m_folder.c_str()) == 0)
            platform::TraceF("folder replacement: %s put back", m_folder.c_str());
    }
    RemoveLeftover(m_replaced);

    std::error_code error;
    fs::create_directories(fs::path(m_staging).parent_path(), error);
    if (!fs::create_directory(m_staging, error) || error) {
        platform::TraceF("folder replacement: cannot make %s", m_staging.c_str());
        return false;
    }
    m_begun = true;
    return true;
}

bool CFolderReplacement::CarryOver(const std::atomic<bool>& cancel)
{
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(m_folder, error)))
        return true;
    fs::recursive_directory_iterator it(m_folder, fs::directory_options::none, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (cancel.load())
            return false;
        const fs::path& source = it->path();
        const fs::path target = fs::path(m_staging) / source.lexically_relative(m_folder);
        std::error_code statError;
        const fs::file_status kind = it->symlink_status(statError);
        if (statError)
            return false;
        if (Exists(target.native())) {
            // The new version's entry wins; a folder of the old one is looked into only when the new
            // version has a folder there too.
            if (fs::is_directory(kind) && !fs::is_directory(fs::symlink_status(target, statError)))
                it.disable_recursion_pending();
            continue;
        }
        std::error_code carried;
        if (fs::is_directory(kind)) {
            fs::create_directory(target, carried); // its entries follow in the walk
        } else if (fs::is_symlink(kind)) {
            fs::copy_symlink(source, target, carried);
        } else if (fs::is_regular_file(kind)) {
            if (::link(source.c_str(), target.c_str()) != 0)
                fs::copy_file(source, target, carried);
        } else {
            continue; // pipes, sockets and devices are no part of an installation
        }
        if (carried) {
            platform::TraceF("folder replacement: cannot carry %s: %s", source.c_str(),
                             carried.message().c_str());
            return false;
        }
    }
    return !error;
}

bool CFolderReplacement::Commit()
{
    if (!m_begun || m_committed)
        return m_committed;
    if (!Exists(m_folder)) {
        if (std::rename(m_staging.c_str(), m_folder.c_str()) != 0)
            return false;
        m_committed = true;
        return true;
    }
    if (::renameat2(AT_FDCWD, m_staging.c_str(), AT_FDCWD, m_folder.c_str(), RENAME_EXCHANGE) == 0) {
        m_committed = true;
        RemoveLeftover(m_staging); // the old version, now under the staging name
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        platform::TraceF("folder replacement: cannot swap %s: errno %d", m_folder.c_str(), errno);
        return false;
    }
    // No exchange on this file system: two renames, the old version whole under its second name
    // in between (Begin puts it back should the program stop there).
    if (std::rename(m_folder.c_str(), m_replaced.c_str()) != 0)
        return false;
    if (std::rename(m_staging.c_str(), m_folder.c_str()) != 0) {
        std::rename(m_replaced.c_str(), m_folder.c_str());
        return false;
    }
    m_committed = true;
    RemoveLeftover(m_replaced);
    return true;
}
