#pragma once

#include <map>
#include <string>

namespace vistrel {

// The value of one <...> placeholder of a photo name template, from its inner
// text and the frame's attributes. Either a field name (exact, case-sensitive;
// a missing field gives empty text) or a call, nestable in its first argument:
//   int|number|trimzero|ltrim0(v)  v without leading zeros
//   left(v, n)  right(v, n)        the first / last n characters
//   mid(v, s[, n])                 n characters from the s-th (counted from 1)
// Counts are characters of UTF-8 text. Faulty input never fails: an unknown
// function or too few arguments give empty text, an unreadable count its default.
std::string evaluatePlaceholder(const std::string& inner, const std::map<std::string, std::string>& attributes);

// A count argument: a leading decimal integer as std::stoi reads it ("3abc"
// is 3); `fallback` when there is none or it overflows 32 bits; negatives are 0.
int readCountArgument(const std::string& text, int fallback);

// Trimmed `text` without leading zeros when it is all ASCII digits ("000" is
// "0"); any other text is returned trimmed but otherwise unchanged.
std::string removeLeadingZeros(const std::string& text);

// `text` without blanks (space, tab, line breaks, vertical tab, form feed) at either end.
std::string trimBlanks(const std::string& text);

}  // namespace vistrel
