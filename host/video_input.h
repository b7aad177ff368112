// Pictures from any file FFmpeg's libraries read (a video, or an image
// sequence such as "frame%04d.png"), converted to bottom-up DIB rows.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class MediaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class VideoInput {
public:
    // Opens the best video stream of `path`. Throws MediaError naming the
    // file and the problem.
    explicit VideoInput(const std::string& path);
    ~VideoInput();
    VideoInput(const VideoInput&) = delete;
    VideoInput& operator=(const VideoInput&) = delete;

    uint32_t Width() const;
    uint32_t Height() const;
    // Frames per second as num / den; 25/1 when the file does not say.
    int FrameRateNum() const;
    int FrameRateDen() const;
    // The frame count the file claims, or 0 when it does not know.
    int64_t FrameCountHint() const;

    // Decodes the next picture into `rows`: bottom-up DIB rows of
    // `bitCount` bits (8 gray, 16 little-endian gray, 24 BGR, 32 BGRA),
    // each padded to 4 bytes. Returns false after the last picture.
    bool Next(uint32_t bitCount, std::vector<uint8_t>& rows);

private:
    struct State;
    std::unique_ptr<State> state_;
};
