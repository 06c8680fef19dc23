#include "foundation/PublisherKeys.h"

#include <fstream>
#include <stdexcept>

#ifndef QUOKKA_BUILTIN_PUBLISHER_KEY
#error "QUOKKA_BUILTIN_PUBLISHER_KEY names the built-in publisher key (set by foundation/CMakeLists.txt)"
#endif

CPublisherKeys CPublisherKeys::BuiltIn()
{
    CPublisherKeys keys;
    // The build checked the key file, so a key that does not read here is a broken build.
    std::optional<CPublisherKey> key = CPublisherKey::FromText(QUOKKA_BUILTIN_PUBLISHER_KEY);
    if (!key)
        throw std::logic_error("the built-in publisher key does not read as a key");
    keys.Add(*key);
    return keys;
}

CPublisherKeys CPublisherKeys::ForProgram(const std::string& programFolder)
{
    CPublisherKeys keys = BuiltIn();
    keys.AddFromFile(programFolder + "/trusted-keys");
    return keys;
}

void CPublisherKeys::Add(const CPublisherKey& key)
{
    if (!Find(key.Id()))
        m_keys.push_back(key);
}

size_t CPublisherKeys::AddFromText(std::string_view text)
{
    size_t refused = 0;
    size_t added = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        std::optional<CPublisherKey> key = CPublisherKey::FromText(line);
        if (!key) {
            ++refused;
            continue;
        }
        if (added++ < kMaxFileKeys)
            Add(*key);
    }
    return refused;
}

bool CPublisherKeys::AddFromFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string text(kMaxFileSize + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad() || static_cast<size_t>(in.gcount()) > kMaxFileSize)
        return false;
    text.resize(static_cast<size_t>(in.gcount()));
    AddFromText(text);
    return true;
}

const CPublisherKey* CPublisherKeys::Find(std::string_view id) const
{
    for (const CPublisherKey& key : m_keys)
        if (key.Id() == id)
            return &key;
    return nullptr;
}
