#include "constant_rate.h"

#include <cmath>

ConstantRate::Slots ConstantRate::Place(double time, double duration)
{
    double early = time - static_cast<double>(slots_);
    double late = early + duration;
    // Slightly behind: the picture starts at the next slot, shortened.
    if (early < 0 && late > 0) {
        duration += early;
        early = 0;
        late = duration;
    }
    Slots s{0, 1};
    if (late < -1.1) {
        s.current = 0;
    } else if (late > 1.1) {
        const int64_t total = std::llround(late);
        if (early > 1.1 && slots_ > 0)
            s.previous = std::llround(early - 0.6);
        s.current = total - s.previous;
    }
    slots_ += s.previous + s.current;
    if (s.current == 0)
        ++dropped_;
    repeated_ += static_cast<uint64_t>(s.previous + (s.current > 1 ? s.current - 1 : 0));
    return s;
}
