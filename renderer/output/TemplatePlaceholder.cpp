#include "output/TemplatePlaceholder.h"

#include "output/Utf8Text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace vistrel {

namespace {

constexpr const char* kBlanks = " \t\n\r\v\f";

std::string asciiLower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string lookupField(const std::string& name, const std::map<std::string, std::string>& attributes)
{
    const auto found = attributes.find(name);
    return found == attributes.end() ? std::string() : found->second;
}

// Splits at the commas outside parentheses; each argument trimmed; never empty.
std::vector<std::string> splitArguments(const std::string& text)
{
    std::vector<std::string> arguments;
    std::string current;
    int depth = 0;
    for (const char c : text) {
        if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (c == ',' && depth == 0) {
            arguments.push_back(trimBlanks(current));
            current.clear();
            continue;
        }
        current += c;
    }
    arguments.push_back(trimBlanks(current));
    return arguments;
}

std::string leftChars(const std::string& value, int count)
{
    return utf8Slice(value, 0, static_cast<std::size_t>(count));
}

std::string rightChars(const std::string& value, int count)
{
    const std::size_t length = utf8Length(value);
    const auto n = static_cast<std::size_t>(count);
    return n < length ? utf8Slice(value, length - n, n) : value;
}

std::string midChars(const std::string& value, const std::vector<std::string>& arguments)
{
    const std::size_t length = utf8Length(value);
    const int startArgument = readCountArgument(arguments[1], 1);
    const std::size_t start = startArgument <= 1 ? 0 : static_cast<std::size_t>(startArgument - 1);
    if (start >= length) {
        return std::string();
    }
    const std::size_t rest = length - start;
    const std::size_t count =
        arguments.size() > 2 ? static_cast<std::size_t>(readCountArgument(arguments[2], static_cast<int>(rest))) : rest;
    return utf8Slice(value, start, count);
}

std::string applyFunction(const std::string& function, const std::string& value,
                          const std::vector<std::string>& arguments)
{
    if (function == "int" || function == "number" || function == "trimzero" || function == "ltrim0") {
        return removeLeadingZeros(value);
    }
    const bool cut = function == "left" || function == "right" || function == "mid";
    if (!cut || arguments.size() < 2) {
        return std::string();
    }
    if (function == "left") {
        return leftChars(value, readCountArgument(arguments[1], 0));
    }
    if (function == "right") {
        return rightChars(value, readCountArgument(arguments[1], 0));
    }
    return midChars(value, arguments);
}

}  // namespace

std::string trimBlanks(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

int readCountArgument(const std::string& text, int fallback)
{
    const std::string trimmed = trimBlanks(text);
    if (trimmed.empty()) {
        return fallback;
    }
    const char* begin = trimmed.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return fallback;
    }
    return value < 0 ? 0 : static_cast<int>(value);
}

std::string removeLeadingZeros(const std::string& text)
{
    const std::string trimmed = trimBlanks(text);
    if (trimmed.empty() || trimmed.find_first_not_of("0123456789") != std::string::npos) {
        return trimmed;
    }
    const std::size_t first = trimmed.find_first_not_of('0');
    return first == std::string::npos ? "0" : trimmed.substr(first);
}

std::string evaluatePlaceholder(const std::string& inner, const std::map<std::string, std::string>& attributes)
{
    // Calls nest in their first argument only, so the expression is a chain
    // of calls around one field name: walk down it, then apply the calls
    // from the innermost out (no recursion, however deep the nesting).
    struct Call {
        std::string function;
        std::vector<std::string> arguments;
    };
    std::vector<Call> calls;
    std::string text = trimBlanks(inner);
    for (;;) {
        const std::size_t open = text.find('(');
        const std::size_t close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) {
            break;
        }
        Call call{asciiLower(trimBlanks(text.substr(0, open))),
                  splitArguments(text.substr(open + 1, close - open - 1))};
        text = std::move(call.arguments[0]);
        calls.push_back(std::move(call));
    }

    std::string value = lookupField(text, attributes);
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        value = applyFunction(call->function, value, call->arguments);
    }
    return value;
}

}  // namespace vistrel
