#pragma once

#include <cstddef>

namespace vistrel {

// What one content file may still decode (vertex, index and pixel bytes
// together); each decoder takes its share before it allocates.
class DecodeBudget {
public:
    explicit DecodeBudget(std::size_t bytes) : left_(bytes) {}

    // False, taking nothing, when `bytes` is more than what is left.
    bool take(std::size_t bytes)
    {
        if (bytes > left_) {
            return false;
        }
        left_ -= bytes;
        return true;
    }

    // Whether `count` items of `size` bytes fit, without overflow; takes them.
    bool take(std::size_t count, std::size_t size)
    {
        if (size != 0 && count > left_ / size) {
            return false;
        }
        return take(count * size);
    }

private:
    std::size_t left_;
};

}  // namespace vistrel
