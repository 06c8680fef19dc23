#pragma once

#include <memory>
#include <string>

// Writes a zip archive entry by entry (deflated, with a fixed date so the output is the same on
// every run). Throws std::runtime_error when the archive cannot be written.
class CDemoZip {
public:
    explicit CDemoZip(const std::string& path);
    ~CDemoZip();
    CDemoZip(const CDemoZip&) = delete;
    CDemoZip& operator=(const CDemoZip&) = delete;

    // `unixMode` (such as 0755) is stored for entries that must stay executable; 0 stores none.
    void Add(const std::string& name, const std::string& content, unsigned unixMode = 0);
    // Finishes the archive; the destructor does it when not called.
    void Close();

private:
    void* m_zip = nullptr;
    std::string m_path;
};
