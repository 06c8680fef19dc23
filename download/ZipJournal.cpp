#include "download/ZipJournal.h"

#include "platform/Trace.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

CZipJournal::CZipJournal(std::string dest) : m_dest(std::move(dest)) {}

CZipJournal::~CZipJournal()
{
    Rollback();
}

void CZipJournal::MakeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0)
        m_made.push_back({path, true});
}

bool CZipJournal::ClearForNew(const std::string& path)
{
    struct stat existing;
    if (::lstat(path.c_str(), &existing) != 0)
        return true;
    if (S_ISDIR(existing.st_mode))
        return false;
    const std::string& aside = AsideFolder();
    if (!aside.empty()) {
        std::string kept = aside + std::to_string(m_movedAside.size());
        if (::rename(path.c_str(), kept.c_str()) == 0) {
            m_movedAside.emplace_back(path, std::move(kept));
            return true;
        }
    }
    // Not movable (another file system mounted inside the destination): replaced for good, as the
    // entry would have replaced it anyway.
    platform::TraceF("zip: %s cannot be kept for a rollback (errno %d); it is replaced", path.c_str(), errno);
    return ::unlink(path.c_str()) == 0;
}

void CZipJournal::Made(const std::string& path)
{
    m_made.push_back({path, false});
}

bool CZipJournal::IsOwnFolder(const std::string& firstSegment) const
{
    return !m_asideName.empty() && firstSegment == m_asideName;
}

const std::string& CZipJournal::AsideFolder()
{
    if (!m_aside.empty())
        return m_aside;
    std::string pattern = m_dest + ".quokka-replaced-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return m_aside;
    m_asideName = pattern.substr(m_dest.size());
    m_aside = pattern + "/";
    return m_aside;
}

void CZipJournal::Commit()
{
    if (m_done)
        return;
    m_done = true;
    for (const auto& [original, kept] : m_movedAside)
        ::unlink(kept.c_str());
    if (!m_aside.empty())
        ::rmdir(m_aside.c_str());
}

void CZipJournal::Rollback()
{
    if (m_done)
        return;
    m_done = true;
    for (auto it = m_made.rbegin(); it != m_made.rend(); ++it) {
        if (it->folder)
            ::rmdir(it->path.c_str());
        else
            ::unlink(it->path.c_str());
    }
    for (const auto& [original, kept] : m_movedAside) {
        if (::rename(kept.c_str(), original.c_str()) != 0)
            platform::TraceF("zip: %s could not be put back (errno %d)", original.c_str(), errno);
    }
    if (!m_aside.empty())
        ::rmdir(m_aside.c_str());
}
