// A plain AVI 1.0 writer for one video stream of independent frames.
//
// libavformat's AVI muxer writes its own BITMAPINFOHEADER (its own
// biSizeImage, and a palette only for paletted pixel formats with biSize
// changed), so it cannot carry the codec's proposed format as is. This
// writer stores that format byte for byte as the stream's 'strf', one
// '00dc' chunk per frame holding exactly the frame's bytes, and an 'idx1'
// index marking every frame as a key frame.
//
// Without the OpenDML extension every offset is 32 bits wide; the writer
// refuses to grow the file past 4 GiB rather than write a file no reader
// can follow.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "dib.h"

class AviError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AviWriter {
public:
    // Largest file the writer makes: 32-bit offsets, with room to spare.
    static constexpr uint64_t kLimit = 0xFFFFFFFFull - 65536;

    // Creates `path`. `rate` / `scale` is the frame rate in frames per second.
    // `limit` exists for tests; files never grow beyond kLimit.
    AviWriter(const std::string& path, const DibFormat& format, uint32_t rate, uint32_t scale,
              uint64_t limit = kLimit);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Appends one frame. Throws AviError on a write error, or, before
    // writing anything, when the file with its index would pass the limit.
    void WriteFrame(const uint8_t* data, size_t size);

    // Writes the index and the final sizes and closes the file. Without it
    // the file is left incomplete.
    void Finish();

    uint64_t Frames() const { return index_.size(); }
    uint64_t Bytes() const { return position_; }

private:
    struct IndexEntry {
        uint32_t offset;
        uint32_t size;
    };

    void Put(const void* data, size_t size);
    void Put32(uint32_t value);
    void Put16(uint16_t value);
    void Patch32(uint64_t at, uint32_t value);
    [[noreturn]] void Fail(const std::string& what);

    std::string path_;
    uint64_t limit_;
    std::FILE* file_ = nullptr;
    uint64_t position_ = 0;
    uint64_t moviStart_ = 0; // offset of the 'movi' list type, as idx1 counts
    uint32_t largest_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t rate_ = 0;
    uint32_t scale_ = 0;
    std::vector<IndexEntry> index_;
    bool warnedLarge_ = false;
};
