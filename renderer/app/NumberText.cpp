#include "app/NumberText.h"

#include <cstdio>
#include <locale>
#include <sstream>

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

}  // namespace vistrel
