#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How zip entry names become paths under a destination folder. Nothing here touches the disk.
namespace zipname {

bool IsSeparator(char c);

// The entry name as UTF-8. Names flagged UTF-8 are taken as they are. Unflagged names come from
// archivers that store the writer's code page, which for the archives this program meets is that of
// a Chinese Windows machine: a name that is valid UTF-8 is taken as UTF-8 (many archivers write UTF-8
// without the flag), any other is decoded as code page 936 whatever this machine's locale is. A name
// valid in neither keeps its ASCII bytes and gets U+FFFD for the others, as the system's code-page
// conversion does, rather than failing the archive.
std::string DecodeEntryName(const std::string& raw, bool utf8);

// The UTF-8 name of an Info-ZIP Unicode Path field (0x7075) among the entry's extra fields, or nothing
// when there is none that applies: the field must be of version 1, carry the CRC-32 of the header's raw
// name (a name changed by a tool that did not know the field makes it stale) and hold valid, non-empty
// UTF-8. Fields are walked within the extra data's bounds; one running past them ends the walk.
std::optional<std::string> UnicodePathName(std::string_view extra, std::string_view rawName);

// The path segments under the destination folder for an entry name, or false when the name must not
// be extracted. Leading separators and a drive prefix are dropped, so absolute names land inside the
// folder; a ".." segment or a NUL byte rejects the name, since nothing sensible inside the folder
// corresponds to it.
bool EntrySegments(std::string_view name, std::vector<std::string>& segments);

// Whether a link placed in a folder `folderDepth` levels below the destination, with no link among
// those folders, resolves inside the destination. Only relative targets qualify whose ".." segments
// all come first and climb no higher than the destination. Every link made this way points at the
// destination or below it, so paths built downward through such links stay inside as well.
bool LinkTargetStaysInside(std::string_view target, size_t folderDepth);

} // namespace zipname
