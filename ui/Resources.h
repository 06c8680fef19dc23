#pragma once

// Resources linked into the executable: the skin archive (type kResourceZip, id kSkinResourceId)
// and icons (type kResourceIcon, PNG bytes). The CMake function quokka_embed_skin registers the
// skin archive of an executable before main runs.

#include <cstddef>
#include <string>

namespace UiLib {

constexpr int kResourceIcon = 3;
constexpr int kResourceZip = 4;
constexpr int kSkinResourceId = 129;

// Registers bytes that live for the whole run (static data). A later registration of the same
// type and id replaces the earlier one.
void RegisterResource(int type, int id, const void* data, std::size_t size);
// Finds a registered resource; false when there is none.
bool FindResource(int type, int id, const void*& data, std::size_t& size);
bool FindResource(int type, int id, std::string& bytes);

} // namespace UiLib
