#include "constant_rate.h"

#include <cmath>

int64_t ConstantRate::Fill(double until)
{
    const int64_t end = std::llround(until);
    const int64_t count = end > slots_ ? end - slots_ : 0;
    slots_ += count;
    if (count == 0)
        ++dropped_;
    else
        repeated_ += static_cast<uint64_t>(count - 1);
    return count;
}

int64_t ConstantRate::Next(double time)
{
    if (!started_) {
        started_ = true;
        last_ = time;
        return 0;
    }
    const int64_t count = Fill(time);
    last_ = time;
    return count;
}

int64_t ConstantRate::End(double duration)
{
    if (!started_)
        return 0;
    started_ = false;
    // A file whose only pictures share one time still gives a frame.
    if (slots_ == 0 && std::llround(last_ + duration) <= 0) {
        slots_ = 1;
        return 1;
    }
    return Fill(last_ + duration);
}
