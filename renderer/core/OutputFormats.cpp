#include "core/OutputFormats.h"

#include <filesystem>
#include <vector>

namespace vistrel {

namespace {

std::string asciiLower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string joined(const std::vector<std::string_view>& items, std::string_view between, std::string_view beforeLast)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += i + 1 == items.size() ? beforeLast : between;
        }
        text += items[i];
    }
    return text;
}

}  // namespace

const OutputFormat* findOutputFormat(std::string_view value)
{
    for (const OutputFormat& format : kOutputFormats) {
        if (!value.empty() && (value == format.key || value == format.alias)) {
            return &format;
        }
    }
    return nullptr;
}

const OutputFormat* outputFormatOfName(std::string_view path)
{
    const std::string extension = asciiLower(std::filesystem::path(path).extension().string());
    return extension.size() > 1 ? findOutputFormat(std::string_view(extension).substr(1)) : nullptr;
}

std::string outputFormatKey(std::string_view value)
{
    const OutputFormat* format = findOutputFormat(value);
    return std::string(format ? format->key : value);
}

std::string outputFormatList(std::string_view between, std::string_view beforeLast, bool aliases)
{
    std::vector<std::string_view> values;
    for (const OutputFormat& format : kOutputFormats) {
        values.push_back(format.key);
        if (aliases && !format.alias.empty()) {
            values.push_back(format.alias);
        }
    }
    return joined(values, between, beforeLast);
}

std::string worldFileExtensionList(std::string_view between)
{
    std::vector<std::string_view> extensions;
    for (const OutputFormat& format : kOutputFormats) {
        if (!format.worldFile.empty()) {
            extensions.push_back(format.worldFile);
        }
    }
    return joined(extensions, between, between);
}

}  // namespace vistrel
