// Pictures from any file FFmpeg's libraries read (a video, or an image
// sequence such as "frame%04d.png"), at a constant frame rate, with the
// file's first audio stream as 16-bit PCM.
//
// Reading and decoding happen on one thread, in order; turning a picture
// into DIB rows is PictureConverter's, on whichever thread has one.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "pcm_format.h"

class MediaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class VideoInput {
public:
    // Opens the best video stream of `path`, and its audio unless `audio`
    // is false. Throws MediaError naming the file and the problem.
    VideoInput(const std::string& path, bool audio);
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
    AVPixelFormat PixelFormat() const;
    AVColorSpace Colorspace() const;
    AVColorRange ColorRange() const;

    // The next picture at the constant rate; a picture repeated to fill a
    // gap in the timing comes back once per frame it fills. Null after the
    // last. The frame stays valid for as long as it is held.
    std::shared_ptr<const AVFrame> NextPicture();

    // The audio stream as it will be stored, or channels 0 without one.
    const PcmFormat& Audio() const;
    // Moves the PCM decoded so far into `bytes` (whole sample frames);
    // after the last picture, everything that is left.
    void TakeAudio(std::vector<uint8_t>& bytes);

    // Pictures repeated or dropped to keep the timing at the constant rate.
    uint64_t Repeated() const;
    uint64_t Dropped() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
