#include "core/NumberText.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <sstream>
#include <stdexcept>

namespace vistrel {

std::string streamNumber(double value)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

std::string fixedNumber(double value, int decimals)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.setf(std::ios::fixed, std::ios::floatfield);
    out.precision(decimals);
    out << value;
    return out.str();
}

std::string plainNumber(double value, int maxDecimals)
{
    std::string text = fixedNumber(value, maxDecimals);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text == "-0" ? "0" : text;
}

std::string printfNumber(double value)
{
    return fixedNumber(value, 6);
}

int textToInt(const std::string& text)
{
    try {
        return std::stoi(text);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("invalid stoi argument");
    } catch (const std::out_of_range&) {
        throw std::out_of_range("stoi argument out of range");
    }
}

double textToDouble(const std::string& text)
{
    try {
        return std::stod(text);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("invalid stod argument");
    } catch (const std::out_of_range&) {
        throw std::out_of_range("stod argument out of range");
    }
}

bool fullNumberText(const std::string& text, double& value)
{
    std::size_t begin = text.find_first_not_of(" \t");
    const std::size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos) {
        return false;
    }
    const std::string body = text.substr(begin, end - begin + 1);
    std::size_t i = body[0] == '+' || body[0] == '-' ? 1 : 0;
    int digits = 0;
    bool point = false;
    for (; i < body.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(body[i]);
        if (std::isdigit(c)) {
            ++digits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0) {
        return false;
    }
    // The C locale's strtod reads exactly this form; only its range can fail.
    std::istringstream in(body);
    in.imbue(std::locale::classic());
    double number = 0.0;
    in >> number;
    if (in.fail() || !std::isfinite(number)) {
        return false;
    }
    value = number;
    return true;
}

}  // namespace vistrel
