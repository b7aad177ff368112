// The video compression manager's half of the conversation with the codec.
// Every request goes through the module's exported DriverProc, in the order
// and with the records the manager sends; nothing else of the module is
// reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "dib.h"

// A refusal or failure of the codec, already worded for the user: the
// message, the format and the result code.
class CodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Holds the driver loaded and enabled (DRV_LOAD, DRV_ENABLE) for its
// lifetime, then disables and frees it (DRV_DISABLE, DRV_FREE). Instances
// must all be closed before it goes.
class CodecDriver {
public:
    CodecDriver();
    ~CodecDriver();
    CodecDriver(const CodecDriver&) = delete;
    CodecDriver& operator=(const CodecDriver&) = delete;
};

// One open codec instance, from DRV_OPEN to DRV_CLOSE. Instances may be
// opened, used and closed on any thread, each serving one thread at a time.
class CodecHandle {
public:
    // Throws CodecError when the open is refused. `mode` is ICMODE_COMPRESS
    // or ICMODE_DECOMPRESS.
    explicit CodecHandle(DWORD mode);
    ~CodecHandle();
    CodecHandle(const CodecHandle&) = delete;
    CodecHandle& operator=(const CodecHandle&) = delete;

    LRESULT Send(UINT message, const void* param1, const void* param2);

private:
    DWORD_PTR id_ = 0;
};

// An instance negotiated to compress one input format: QUERY, GET_FORMAT,
// GET_SIZE and BEGIN on construction, END and DRV_CLOSE on destruction.
class Compressor {
public:
    explicit Compressor(const DibFormat& input);
    ~Compressor();

    // The compressed stream's format, exactly as the codec proposed it.
    const DibFormat& OutputFormat() const { return output_; }
    // The output buffer size the codec asked for (ICM_COMPRESS_GET_SIZE).
    size_t BufferSize() const { return bufferSize_; }

    // Compresses one frame of rows laid out as the input format says and
    // leaves its bytes in `frame`. Throws CodecError naming the frame.
    void Compress(const uint8_t* rows, int32_t frameNumber, std::vector<uint8_t>& frame);

private:
    CodecHandle codec_;
    DibFormat input_;
    DibFormat output_;
    DibFormat frameOutput_;
    size_t bufferSize_ = 0;
    std::vector<uint8_t> buffer_;
};

// An instance negotiated to decompress one compressed stream format into
// the format it proposes: QUERY, GET_FORMAT, QUERY again and BEGIN on
// construction, END and DRV_CLOSE on destruction.
class Decompressor {
public:
    explicit Decompressor(const DibFormat& input);
    ~Decompressor();

    // The uncompressed format the codec proposed.
    const DibFormat& OutputFormat() const { return output_; }
    // Bytes of one decompressed frame: DibRowBytes x |height|.
    size_t FrameBytes() const { return frameBytes_; }

    // Decompresses one non-empty frame into `rows` (FrameBytes() bytes).
    // Throws CodecError naming the frame.
    void Decompress(const uint8_t* frame, size_t size, int32_t frameNumber, uint8_t* rows);

private:
    CodecHandle codec_;
    DibFormat input_;
    DibFormat frameInput_;
    DibFormat output_;
    size_t frameBytes_ = 0;
};
