#include "progress.h"

#include <cstdio>
#include <unistd.h>

Progress::Progress(std::string label, int64_t total)
    : label_(std::move(label)), total_(total), enabled_(isatty(STDERR_FILENO) == 1),
      start_(Clock::now()), last_(start_)
{
}

Progress::~Progress()
{
    Done();
}

void Progress::Update(int64_t done)
{
    if (!enabled_)
        return;
    const Clock::time_point now = Clock::now();
    // A few redraws a second are plenty and keep the terminal cheap.
    if (shown_ && now - last_ < std::chrono::milliseconds(250))
        return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fps = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    std::fprintf(stderr, "\r%s: %lld", label_.c_str(), static_cast<long long>(done));
    if (total_ > 0)
        std::fprintf(stderr, "/%lld", static_cast<long long>(total_));
    std::fprintf(stderr, " frames, %.1f fps", fps);
    if (total_ > done && fps > 0) {
        const auto eta = static_cast<long long>(static_cast<double>(total_ - done) / fps + 0.5);
        std::fprintf(stderr, ", ETA %lld:%02lld", eta / 60, eta % 60);
    }
    std::fprintf(stderr, "   ");
    std::fflush(stderr);
    shown_ = true;
}

void Progress::Done()
{
    if (enabled_ && shown_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    shown_ = false;
}
