#pragma once

namespace vistrel {

// How many writer threads the image pipeline runs: one to start with, and one
// more each time the batch has been kept waiting for a free picture buffer
// (all writers busy) for more than a tenth of its time, over at least three
// pictures since the last writer started; never more than `maxWriters`.
class WriterScaling {
public:
    explicit WriterScaling(int maxWriters);

    int writers() const { return writers_; }
    // Notes a picture handed over at `now` (seconds on any steady clock)
    // after waiting `waited` seconds for its buffer. True when one more
    // writer is to start (writers() already counts it).
    bool notePicture(double waited, double now);

private:
    int maxWriters_;
    int writers_;
    bool started_ = false;
    double periodStart_ = 0.0;
    double waited_ = 0.0;
    int pictures_ = 0;
};

}  // namespace vistrel
