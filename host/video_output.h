// Pictures written, the right way up, to whatever FFmpeg's libraries write
// for the output's name: ".y4m", ".mkv" or ".nut" (FFV1, lossless), an
// image sequence such as "frame%04d.png", or raw rows for ".raw", ".rgb",
// ".bgr" and ".gray". Every bit of the picture is kept, or the output is
// refused before anything is written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output_file.h"
#include "video_input.h"

struct OutputTarget {
    // What the user called the output: it picks the container and names
    // the output in messages.
    std::string name;
    // Where a one-file container goes, as libavformat opens it
    // ("file:..." or "pipe:1"); unused for image sequences.
    std::string file;
    // Whether numbered images may replace files that exist.
    Overwrite images = Overwrite::Never;
    // The first DIB row is the picture's top (top-down PNG rows read as
    // bottom-up) rather than its bottom.
    bool flip = false;
};

class VideoOutput {
public:
    // Prepares pictures of the given size and DIB depth. Throws MediaError
    // naming the output and the problem, with a container that would do.
    VideoOutput(const OutputTarget& target, uint32_t width, uint32_t height, uint32_t bitCount,
                int rateNum, int rateDen);
    // Without Finish, removes the images it created; nothing else.
    ~VideoOutput();
    VideoOutput(const VideoOutput&) = delete;
    VideoOutput& operator=(const VideoOutput&) = delete;

    // Writes one picture given as DIB rows.
    void Write(const uint8_t* rows);
    // Flushes the encoder and completes the file.
    void Finish();

    // What is written, e.g. "ffv1 bgr0 in matroska".
    std::string Description() const;

    // Whether `name` makes one file (a container or raw rows) rather than
    // one file per picture.
    static bool WritesOneFile(const std::string& name);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The libavformat muxer `name`'s extension points to ("avi", "matroska"),
// or "" when it names none.
std::string ContainerOfName(const std::string& name);
