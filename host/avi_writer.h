// An AVI writer for one video stream of independent frames and, if asked,
// one stream of 16-bit PCM audio, with the OpenDML (AVI 2.0) extension so
// that files of any length can be written.
//
// libavformat's AVI muxer writes its own BITMAPINFOHEADER (its own
// biSizeImage, and a palette only for paletted pixel formats with biSize
// changed), so it cannot carry the codec's proposed format as is. This
// writer stores that format byte for byte as the stream's 'strf', one
// '00dc' chunk per frame holding exactly the frame's bytes, and '01wb'
// chunks of audio after the frames they go with.
//
// The file is a chain of RIFFs of at most `riffLimit` bytes (1 GiB): the
// first, 'AVI ', holds the headers and an 'idx1' index of its own chunks,
// so AVI 1.0 readers (Video for Windows) play what it holds; the following
// 'AVIX' RIFFs carry the rest. Every RIFF's 'movi' ends with a standard
// index per stream ('ix00', 'ix01'), and each stream header has a super
// index ('indx') of them; 'dmlh' counts every frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "dib.h"
#include "pcm_format.h"

class AviError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AviWriter {
public:
    // Where a RIFF ends and the next begins.
    static constexpr uint64_t kRiffLimit = 1ull << 30;
    // Standard indexes a super index has room for: RIFFs per file, so
    // 256 GiB at the usual limit.
    static constexpr uint32_t kMostRiffs = 256;

    // Creates `path`. `rate` / `scale` is the frame rate in frames per
    // second; `audio` with channels 0 means no audio stream. `riffLimit`
    // exists for tests.
    AviWriter(const std::string& path, const DibFormat& format, uint32_t rate, uint32_t scale,
              PcmFormat audio = {}, uint64_t riffLimit = kRiffLimit);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Appends one frame (0 bytes: a null frame, repeating the last one).
    // Throws AviError on a write error.
    void WriteFrame(const uint8_t* data, size_t size);
    // Appends PCM in whole sample frames; nothing when `size` is 0.
    void WriteAudio(const uint8_t* data, size_t size);

    // Writes the indexes and the final sizes and closes the file. Without
    // it the file is left incomplete.
    void Finish();

    uint64_t Frames() const { return frames_; }
    uint64_t Bytes() const { return position_; }
    // RIFFs begun so far: 1 for a plain AVI 1.0 file.
    uint32_t Riffs() const { return riffs_; }

private:
    struct Entry {
        uint64_t offset; // of the chunk's data
        uint32_t size;
    };
    struct SuperEntry {
        uint64_t offset; // of the standard index chunk
        uint32_t size;
        uint32_t duration;
    };
    struct Stream {
        explicit Stream(uint32_t id) : chunkId(id) {}
        uint32_t chunkId;
        uint64_t strhAt = 0;
        uint64_t indxAt = 0;
        uint32_t largest = 0;
        uint64_t length = 0; // frames, or audio blocks
        uint64_t riffLength = 0; // the same, in this RIFF
        std::vector<Entry> entries; // this RIFF's chunks
        std::vector<SuperEntry> indexes;
    };

    void WriteStreamHeader(Stream& stream, uint32_t type, uint32_t handler, uint32_t scale,
                           uint32_t rate, uint32_t sampleSize, const void* format,
                           uint32_t formatSize);
    void WriteChunk(Stream& stream, const uint8_t* data, size_t size);
    uint64_t IndexBytes(size_t added) const;
    void BeginMovi();
    void CloseRiff();
    void Put(const void* data, size_t size);
    void Put32(uint32_t value);
    void Put16(uint16_t value);
    void Put64(uint64_t value);
    void Zeros(size_t size);
    void Seek(uint64_t at);
    [[noreturn]] void Fail(const std::string& what);

    std::string path_;
    uint64_t riffLimit_;
    std::FILE* file_ = nullptr;
    uint64_t position_ = 0;
    uint64_t riffStart_ = 0;
    uint64_t moviStart_ = 0; // of the 'movi' list type, as idx1 counts
    uint32_t riffs_ = 0;
    uint64_t frames_ = 0;
    uint64_t firstRiffFrames_ = 0;
    uint64_t avihAt_ = 0;
    uint64_t dmlhAt_ = 0;
    uint32_t rate_ = 0;
    uint32_t scale_ = 0;
    PcmFormat audio_;
    std::vector<Stream> streams_;
    // The first RIFF's chunks for 'idx1': stream and entry.
    std::vector<std::pair<uint32_t, Entry>> idx1_;
};
