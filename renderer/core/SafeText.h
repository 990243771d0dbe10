#pragma once

#include <string>

namespace vistrel {

// Text that stays on one line: control bytes (below 0x20 and 0x7F) become
// "\n", "\r", "\t" or "\xHH", so a name or message can never start a line of
// its own in the log or the progress protocol. Other bytes, UTF-8 included,
// stay as they are.
std::string escapeControlBytes(const std::string& text);

}  // namespace vistrel
