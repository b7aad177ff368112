// The PNG engine: one writer and one reader, for the pixel layouts of the
// imaging library's bitmaps. It knows no operating system.
//
// The writer: SIMD row filters chosen per row by estimated bits, and per
// frame one of three coders picked from a sample: match-free (one Huffman
// code per frame, zero runs as distance-1 matches), matching (a hash probe
// and the pixel and row distances, a code per band) or libdeflate. Index8
// is written as 8-bit gray (index i shows as gray level i, as through the
// gray ramp palette), Gray16 as 16-bit gray, Bgr24 as RGB and Bgra32 as
// RGBA. The reader takes any valid PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class PngWorkers;  // worker_pool.h

// Pixel layouts in memory, as the imaging library's formats lay them out.
enum class PngPixels : uint8_t {
    Index8,  // one palette index per byte, meaning gray level i
    Gray16,  // one little-endian 16-bit gray sample
    Bgr24,   // blue, green, red
    Bgra32,  // blue, green, red, alpha
};

// Bytes per pixel of a layout.
constexpr size_t PngBytesPerPixel(PngPixels pixels)
{
    switch (pixels) {
    case PngPixels::Index8: return 1;
    case PngPixels::Gray16: return 2;
    case PngPixels::Bgr24: return 3;
    case PngPixels::Bgra32: return 4;
    }
    return 0;
}

// Rows to encode; row r starts at firstRow + r * stride (stride may be
// negative). The caller guarantees every addressed byte is readable.
struct PngSource {
    uint32_t width;
    uint32_t height;
    PngPixels pixels;
    const uint8_t* firstRow;
    ptrdiff_t stride;
};

// Appends one complete PNG datastream (signature through IEND) to `out`.
// Returns false, with `out` as it was, for a zero-sized image, for sizes a
// PNG cannot describe and when memory runs out. Thread-safe; each thread
// keeps its scratch buffers for the next frame. Frames of several row
// bands (about 512 KiB of pixels each) are coded band by band on
// `workers` when it is given, with the calling thread taking part; the
// bytes are the same with any pool or none.
bool EncodePng(const PngSource& source, std::vector<uint8_t>& out);
bool EncodePng(const PngSource& source, std::vector<uint8_t>& out, PngWorkers* workers);

// Where an encoding's bytes go, in order, in pieces as the file is put
// together: a destination that copies them anyway (a stream) is spared
// their gathering into one buffer first.
class PngSink {
public:
    // The file's size, told before the first piece.
    virtual void Expect(size_t bytes) { static_cast<void>(bytes); }
    // Takes the next `size` bytes; false stops the encoding.
    virtual bool Put(const uint8_t* data, size_t size) = 0;

protected:
    ~PngSink() = default;
};

// EncodePng into `sink`: false as above, and when the sink stops. Pieces
// may already have been put when memory runs out or the sink stops.
bool EncodePng(const PngSource& source, PngSink& sink, PngWorkers* workers);

// A decoded image. Rows are `stride` bytes apart, stride a multiple of 4
// and at least width * PngBytesPerPixel(pixels).
struct DecodedPng {
    uint32_t width = 0;
    uint32_t height = 0;
    PngPixels pixels = PngPixels::Bgr24;
    size_t stride = 0;
    std::vector<uint8_t> rows;
};

// Decodes any valid PNG datastream. Mapping, by colour type:
//   gray 1/2/4/8-bit            -> Index8, levels scaled to 0..255
//   gray 16-bit                 -> Gray16, little-endian
//   palette 1/2/4/8-bit         -> Index8, the indices as stored
//   RGB 8/16-bit                -> Bgr24 (16-bit samples keep their high byte)
//   gray+alpha, RGBA            -> Bgra32 (likewise)
//   any of the above with tRNS  -> Bgra32, transparency applied
// Interlaced images are de-interlaced; no gamma or colour-profile
// correction is applied. Bytes after IEND are ignored. Returns false for
// bytes that are not a PNG, for CRC and zlib errors, for truncated data, and
// for images whose rows a signed 32-bit stride cannot address or whose size
// passes the decoder's limits. Thread-safe. Frames with a band map (as
// EncodePng writes them) are inflated and unfiltered band by band on
// `workers` when it is given.
bool DecodePng(const uint8_t* data, size_t size, DecodedPng& out);
bool DecodePng(const uint8_t* data, size_t size, DecodedPng& out, PngWorkers* workers);
