// The two encodings a registry-export file comes in: UTF-8, and UTF-16LE as
// the original platform's registry editor writes it. Text is held as UTF-8
// and converted at the file's edge.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::setup {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s);

// Valid UTF-8 as UTF-16LE. Every text a document holds has been checked to
// be UTF-8; a byte that is not part of a character would still come out as
// U+FFFD rather than as garbage.
std::string Utf8ToUtf16Le(std::string_view s);

// UTF-16LE text (without its byte-order mark) as UTF-8, pairs of surrogates
// joined. False for an odd number of bytes or an unpaired surrogate;
// `*line` (counted from 1) is then the line where the text went wrong.
bool Utf16LeToUtf8(std::string_view bytes, std::string* utf8, size_t* line);

}  // namespace qv::setup
