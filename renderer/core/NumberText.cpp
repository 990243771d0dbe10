#include "core/NumberText.h"

#include <cstdio>
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

}  // namespace vistrel
