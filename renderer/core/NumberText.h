#pragma once

#include <string>

namespace vistrel {

// A number as a default-configured output stream writes it: at most six
// significant digits, exponent form when needed (3345678.9 -> 3.34568e+06).
std::string streamNumber(double value);

// Fixed-point text with exactly `decimals` decimals, "." as the point.
std::string fixedNumber(double value, int decimals);

// Fixed-point text with at most `maxDecimals` decimals, trailing zeros and a
// bare point dropped ("2.5", "-3", "3390330.25"); never exponent form.
std::string plainNumber(double value, int maxDecimals);

// printf "%f": fixed with six decimals.
std::string printfNumber(double value);

// std::stoi / std::stod whose failures carry the messages the configuration
// and origin readers report: "invalid stoi argument", "stoi argument out of
// range", "invalid stod argument", "stod argument out of range".
int textToInt(const std::string& text);
double textToDouble(const std::string& text);

// A number written out in full: an optional sign, digits with an optional
// decimal point ("1920", "-3", "2.5", ".5"), spaces around it allowed. Text
// that only begins with a number ("1920px", "9O") or uses another notation
// ("2e3", "0x10", "inf", "nan") is refused: false, and `value` is untouched.
bool fullNumberText(const std::string& text, double& value);

}  // namespace vistrel
