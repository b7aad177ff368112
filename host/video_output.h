// Pictures written, the right way up, to whatever FFmpeg's libraries write
// for the output's name: ".y4m", ".mkv" or ".nut" (FFV1, lossless), an
// image sequence such as "frame%04d.png", or raw rows for ".raw", ".rgb",
// ".bgr" and ".gray".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "video_input.h"

class VideoOutput {
public:
    // Creates `path` for pictures of the given size and DIB depth. Throws
    // MediaError naming the file and the problem.
    VideoOutput(const std::string& path, uint32_t width, uint32_t height, uint32_t bitCount,
                int rateNum, int rateDen);
    ~VideoOutput();
    VideoOutput(const VideoOutput&) = delete;
    VideoOutput& operator=(const VideoOutput&) = delete;

    // Writes one picture given as bottom-up DIB rows.
    void Write(const uint8_t* rows);
    // Flushes the encoder and completes the file.
    void Finish();

    // What is written, e.g. "ffv1 bgr0 in matroska".
    std::string Description() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
