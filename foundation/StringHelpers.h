#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits `text` at every `separator`. Every piece between two separators is kept, empty pieces
// included; the piece after the last separator is kept only when it is not empty. "FC,SFC," gives
// FC and SFC; "a,,b" gives a, "" and b; an empty text gives nothing. An empty separator gives the
// whole text as one piece.
std::vector<std::string> SplitString(std::string_view text, std::string_view separator);
