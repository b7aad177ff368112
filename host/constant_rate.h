// Variable frame timing onto a constant rate, by FFmpeg's rule for
// constant-rate output: a picture takes the slots from its time to its end,
// a gap of more than about one frame repeats pictures, a picture that
// falls more than about one frame behind is dropped. Times and durations
// are in output frame periods since the first picture.
#pragma once

#include <cstdint>

class ConstantRate {
public:
    struct Slots {
        int64_t previous; // repeats of the picture before, first
        int64_t current;  // then this picture's frames (0: dropped)
    };

    Slots Place(double time, double duration);

    uint64_t Repeated() const { return repeated_; }
    uint64_t Dropped() const { return dropped_; }

private:
    int64_t slots_ = 0;
    uint64_t repeated_ = 0;
    uint64_t dropped_ = 0;
};
