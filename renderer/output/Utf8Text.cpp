#include "output/Utf8Text.h"

#include <cstdio>
#include <system_error>

namespace vistrel {

std::size_t utf8CharBytes(const std::string& text, std::size_t pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t bytes = 1;
    if ((lead & 0xE0) == 0xC0) {
        bytes = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        bytes = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        bytes = 4;
    }
    return pos + bytes <= text.size() ? bytes : 1;
}

std::size_t utf8Length(const std::string& text)
{
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += utf8CharBytes(text, pos)) {
        ++count;
    }
    return count;
}

std::string utf8Slice(const std::string& text, std::size_t first, std::size_t count)
{
    std::size_t pos = 0;
    for (std::size_t skipped = 0; skipped < first && pos < text.size(); ++skipped) {
        pos += utf8CharBytes(text, pos);
    }
    std::size_t end = pos;
    for (std::size_t taken = 0; taken < count && end < text.size(); ++taken) {
        end += utf8CharBytes(text, end);
    }
    return text.substr(pos, end - pos);
}

std::size_t findInvalidUtf8(const std::string& text)
{
    const std::size_t size = text.size();
    std::size_t pos = 0;
    while (pos < size) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        if (lead < 0x80) {
            ++pos;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;  // allowed range of the second byte
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0;  // no overlong forms
            } else if (lead == 0xED) {
                high = 0x9F;  // no surrogates
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;  // nothing above U+10FFFF
            }
        } else {
            return pos;
        }
        if (pos + length > size) {
            return pos;
        }
        const auto second = static_cast<unsigned char>(text[pos + 1]);
        if (second < low || second > high) {
            return pos;
        }
        for (std::size_t i = 2; i < length; ++i) {
            if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) {
                return pos;
            }
        }
        pos += length;
    }
    return std::string::npos;
}

void requireValidUtf8(const std::string& text)
{
    const std::size_t bad = findInvalidUtf8(text);
    if (bad == std::string::npos) {
        return;
    }
    char detail[96];
    std::snprintf(detail, sizeof detail, "Cannot convert text to a path: invalid UTF-8 byte 0x%02X at offset %zu",
                  static_cast<unsigned>(static_cast<unsigned char>(text[bad])), bad);
    throw std::system_error(std::make_error_code(std::errc::illegal_byte_sequence), detail);
}

}  // namespace vistrel
