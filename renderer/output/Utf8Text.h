#pragma once

#include <cstddef>
#include <string>

namespace vistrel {

// Character counting and cutting on UTF-8 text. A lead byte 110xxxxx,
// 1110xxxx or 11110xxx starts a character of 2, 3 or 4 bytes when that many
// bytes remain; every other byte is a character of its own. Continuation
// bytes are not checked, so cuts never split a well-formed character and
// never fail on malformed text.

// Byte length of the character starting at `pos`.
std::size_t utf8CharBytes(const std::string& text, std::size_t pos);

// Number of characters in `text`.
std::size_t utf8Length(const std::string& text);

// Up to `count` characters starting at character `first`.
std::string utf8Slice(const std::string& text, std::size_t first, std::size_t count);

// Strict validation: shortest forms only, no surrogates, nothing above
// U+10FFFF. Throws std::system_error (illegal byte sequence) naming the first
// bad byte when `text` cannot be turned into a path.
void requireValidUtf8(const std::string& text);

// Byte offset of the first invalid sequence, or std::string::npos.
std::size_t findInvalidUtf8(const std::string& text);

}  // namespace vistrel
