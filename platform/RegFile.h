#pragma once

#include "platform/RegistryTree.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The registry's .reg text files.
//
// Reading takes both formats: "Windows Registry Editor Version 5.00" as UTF-16LE with its byte order
// mark or as UTF-8, and "REGEDIT4" in the process code page. Lines: [key] makes a key, [-key] removes
// it with its subtree, "name"=... or @=... sets a value ("name"=- removes one): "text" with \\ and \"
// as the only escapes, dword: with up to eight hex digits, hex: for binary data, hex(n): for type n
// (hex); byte lists continue on the next line after a trailing backslash; lines starting with ';'
// are comments. Values after a [-key] line belong to no key and are skipped.
//
// Writing gives what regedit writes: UTF-16LE with a byte order mark, CRLF line ends, the 5.00
// header and a blank line, then each key's line, its values in creation order and a blank line,
// subkeys ordered by name without case; dword: with eight lower-case digits; byte lists wrapped so
// that no line passes 80 columns, each broken line ending in ",\" and going on after two spaces.
// Strings that the text form could not carry back unchanged (no terminating NUL, a NUL or a line
// break inside, an odd byte count) are written as hex(1):.

// Files larger than this are refused, both when imported and as the registry's own file. A file that
// would make a tree pass kMaxKeyCount keys or kMaxValueCount values is refused at that line.
inline constexpr size_t kMaxRegFileBytes = 32u << 20;

struct RegFileError {
    size_t Line = 0;     // 1-based; 0 for the file as a whole
    std::string Message; // in English, without the line
};

// Applies the .reg file `bytes` to `tree`. Returns nullopt when every line was applied, else the first
// bad line; the tree may then hold part of the file, so callers apply to a tree they can drop.
std::optional<RegFileError> ApplyRegFile(std::string_view bytes, RegistryTree& tree);

// The export of `key` (whose full path is `keyPath`) and everything below it, as file bytes.
std::string ExportRegKey(const RegistryKey& key, std::u16string_view keyPath);
// The export of the whole tree: the five root keys in the order of RegistryTree::Roots.
std::string ExportRegTree(const RegistryTree& tree);

// "line 12: ..." or the message alone for line 0.
std::string DescribeRegFileError(const RegFileError& error);

// UTF-8 and UTF-16 conversions of registry names and texts. Utf8ToUtf16 returns nullopt for text that
// is not valid UTF-8; Utf16ToUtf8 writes U+FFFD for an unpaired surrogate.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace platform
