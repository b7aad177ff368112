// Reads the first video stream of an AVI file: its format, its frame rate
// and where each of its frames lies. Chunks are found by walking the 'movi'
// lists (of the first RIFF and of any OpenDML 'AVIX' extensions), so files
// without an index, or with an OpenDML one, read the same.
//
// The reader trusts no size in the file: every chunk must lie inside its
// parent and inside the file, or the file is reported as truncated or
// damaged, naming the offset. The one exception is a file cut short or
// never finished (its writer stopped): once the headers are whole, every
// whole frame before the cut is kept, and Damage() says what happened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "dib.h"

struct AviFrame {
    uint64_t offset; // of the frame's bytes
    uint32_t size;
};

class AviReader {
public:
    // Opens and indexes `path`. Throws AviError naming the file and what is
    // wrong: not an AVI, truncated, damaged, or without a video stream.
    explicit AviReader(const std::string& path);
    ~AviReader();
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    // The stream's format ('strf'): a BITMAPINFOHEADER and what follows it.
    const DibFormat& Format() const { return format_; }
    // The stream handler named in 'strh'.
    uint32_t Handler() const { return handler_; }
    // Frames per second as rate / scale.
    uint32_t Rate() const { return rate_; }
    uint32_t Scale() const { return scale_; }
    const std::vector<AviFrame>& Frames() const { return frames_; }
    // Empty for a whole file; otherwise how it was cut and how many frames
    // were recovered (also printed on standard error as a note).
    const std::string& Damage() const { return damage_; }

    // Reads frame `index` into `bytes`. Not thread-safe.
    void ReadFrame(size_t index, std::vector<uint8_t>& bytes);

private:
    struct Span {
        uint64_t begin;
        uint64_t end;
    };
    // One chunk inside a span: header at `at`, data from `begin` to `end`.
    struct Chunk {
        uint32_t id;
        uint32_t size;
        uint64_t at;
        uint64_t begin;
        uint64_t end;
        bool cut; // runs past the end of the file: `end` is the file's end
    };

    // Calls `visit` for each chunk of `span` in order; a chunk that runs
    // past the span's end is reported as truncation, unless `tolerant` and
    // it is cut by the end of the file: then it is visited, marked cut, as
    // the last chunk.
    void ForEachChunk(Span span, const std::function<void(const Chunk&)>& visit,
                      bool tolerant = false);
    void NoteCut(uint32_t id, uint64_t at, uint64_t size);
    void WalkTop(Span span, bool first);
    void WalkHeaders(Span span);
    void WalkStreamList(Span span);
    void WalkMovi(Span span, int depth);
    void ReadAt(uint64_t at, void* data, size_t size);
    uint32_t Read32(uint64_t at);
    [[noreturn]] void Fail(const std::string& what);
    [[noreturn]] void Truncated(uint32_t id, uint64_t at, uint64_t size);

    std::string path_;
    std::FILE* file_ = nullptr;
    uint64_t fileSize_ = 0;
    bool sawHeaders_ = false;
    int streams_ = 0;
    int videoStream_ = -1;
    uint32_t handler_ = 0;
    uint32_t rate_ = 0;
    uint32_t scale_ = 0;
    DibFormat format_;
    std::vector<AviFrame> frames_;
    std::string damage_;
};
