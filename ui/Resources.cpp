#include "ui/Resources.h"

#include <map>
#include <mutex>
#include <utility>

namespace UiLib {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::pair<int, int>, std::pair<const void*, std::size_t>> entries;
};

Registry& Resources()
{
    static Registry registry;
    return registry;
}

} // namespace

void RegisterResource(int type, int id, const void* data, std::size_t size)
{
    std::lock_guard lock(Resources().mutex);
    Resources().entries[{type, id}] = {data, size};
}

bool FindResource(int type, int id, const void*& data, std::size_t& size)
{
    std::lock_guard lock(Resources().mutex);
    auto it = Resources().entries.find({type, id});
    if (it == Resources().entries.end())
        return false;
    data = it->second.first;
    size = it->second.second;
    return true;
}

bool FindResource(int type, int id, std::string& bytes)
{
    const void* data = nullptr;
    std::size_t size = 0;
    if (!FindResource(type, id, data, size))
        return false;
    bytes.assign(static_cast<const char*>(data), size);
    return true;
}

} // namespace UiLib
