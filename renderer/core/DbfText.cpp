#include "core/DbfText.h"

#include <cstdint>
#include <istream>
#include <vector>

namespace vistrel {

namespace {

unsigned readLittle(const unsigned char* bytes, int count)
{
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

}  // namespace

bool isUtf8AllowingCutEnd(const char* text, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        std::size_t length = 0;
        unsigned minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        } else {
            return false;
        }
        unsigned code = lead & (0x7F >> length);
        std::size_t k = 1;
        for (; k < length && i + k < size; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        if (k < length) {
            return true;  // cut off by the end of the field
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool dbfTextIsUtf8(std::istream& in)
{
    unsigned char header[32];
    if (!in.read(reinterpret_cast<char*>(header), 32)) {
        return true;
    }
    const unsigned records = readLittle(header + 4, 4);
    const unsigned headerLength = readLittle(header + 8, 2);
    const unsigned recordLength = readLittle(header + 10, 2);
    if (headerLength < 33) {
        return true;
    }
    std::vector<char> descriptors(headerLength - 32);
    in.read(descriptors.data(), static_cast<std::streamsize>(descriptors.size()));
    descriptors.resize(static_cast<std::size_t>(in.gcount()));

    struct TextField {
        std::size_t offset;
        std::size_t length;
    };
    std::vector<TextField> textFields;
    std::size_t offset = 1;  // after the deletion flag
    for (std::size_t d = 0; d + 32 <= descriptors.size() && descriptors[d] != '\x0D'; d += 32) {
        const char* name = &descriptors[d];
        std::size_t nameLength = 0;
        while (nameLength < 11 && name[nameLength] != '\0') {
            ++nameLength;
        }
        if (!isUtf8AllowingCutEnd(name, nameLength)) {
            return false;
        }
        const std::size_t length = static_cast<unsigned char>(descriptors[d + 16]);
        if (descriptors[d + 11] == 'C') {
            textFields.push_back({offset, length});
        }
        offset += length;
    }
    if (textFields.empty() || recordLength == 0) {
        return true;
    }
    std::vector<char> record(recordLength);
    for (unsigned r = 0; r < records; ++r) {
        if (!in.read(record.data(), recordLength)) {
            break;
        }
        for (const TextField& field : textFields) {
            if (field.offset >= recordLength) {
                continue;
            }
            std::size_t length = std::min(field.length, recordLength - field.offset);
            const char* value = record.data() + field.offset;
            while (length > 0 && value[length - 1] == ' ') {
                --length;
            }
            if (!isUtf8AllowingCutEnd(value, length)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace vistrel
