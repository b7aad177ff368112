// Variable frame timing onto a constant rate, the way FFmpeg writes AVI:
// each picture fills the output slots from its own time up to the next
// picture's, so a gap repeats a picture and a crowd drops some.
#pragma once

#include <cstdint>

class ConstantRate {
public:
    // A picture starts at `time`, in output frame periods since the first
    // picture. Returns how many slots the picture before it fills (0 for
    // the first call, 0 also when that picture is dropped).
    int64_t Next(double time);
    // The last picture lasts `duration` periods: returns its slots, at
    // least one when nothing has been written yet.
    int64_t End(double duration);

    uint64_t Repeated() const { return repeated_; }
    uint64_t Dropped() const { return dropped_; }

private:
    int64_t Fill(double until);

    bool started_ = false;
    double last_ = 0;
    int64_t slots_ = 0;
    uint64_t repeated_ = 0;
    uint64_t dropped_ = 0;
};
