#pragma once

#include <string>

namespace testsupport {

// A fresh folder under the temp folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending with '/'.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Writes `content` to `path` (replacing it). Returns false on failure.
bool WriteFile(const std::string& path, const std::string& content);
// The whole file, or an empty string when it cannot be read.
std::string ReadFile(const std::string& path);

} // namespace testsupport
