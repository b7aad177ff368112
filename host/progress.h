// "frames done, fps, ETA" on standard error, only when it is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class Progress {
public:
    // `total` is the expected frame count, or 0 when unknown (no ETA then).
    Progress(std::string label, int64_t total);
    ~Progress();

    void Update(int64_t done);
    // Clears the line.
    void Done();

private:
    using Clock = std::chrono::steady_clock;
    std::string label_;
    int64_t total_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point last_;
};
