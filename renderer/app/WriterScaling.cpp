#include "app/WriterScaling.h"

#include <algorithm>

namespace vistrel {

namespace {

constexpr double kWaitShare = 0.1;
constexpr int kMinPictures = 3;

}  // namespace

WriterScaling::WriterScaling(int maxWriters) : maxWriters_(std::max(0, maxWriters)), writers_(std::min(1, maxWriters_))
{
}

bool WriterScaling::notePicture(double waited, double now)
{
    if (!started_) {
        // The first picture never waits; the period starts with it.
        started_ = true;
        periodStart_ = now;
        return false;
    }
    waited_ += waited;
    ++pictures_;
    if (writers_ >= maxWriters_ || pictures_ < kMinPictures || waited_ <= kWaitShare * (now - periodStart_)) {
        return false;
    }
    ++writers_;
    periodStart_ = now;
    waited_ = 0.0;
    pictures_ = 0;
    return true;
}

}  // namespace vistrel
