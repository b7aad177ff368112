// What every fuzz target shares: one codec instance for the whole run, a
// reader over the fuzzer's bytes, and buffers whose guard regions abort the
// run the moment the codec writes where the host said nothing was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <libdeflate.h>

#include "tests/support/driver.h"

// Stops the run with a message; libFuzzer then keeps the input.
#define FUZZ_CHECK(condition)                                                         \
    do {                                                                              \
        if (!(condition)) {                                                           \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                         #condition);                                                 \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

// Recomputes every chunk's CRC, so that damage reaches the inflater and
// the row filters instead of stopping at the CRC check. With `adler`, the
// zlib stream's Adler-32 too, when the IDAT data inflates at all (to at
// most `maxRaw` bytes).
void RepairChecks(std::vector<uint8_t>& png, bool adler, size_t maxRaw);

// One instance serves every input: opening is the expensive part, and the
// codec must cope with any sequence of frames on one instance anyway.
inline DWORD_PTR FuzzCodec()
{
    static const DWORD_PTR id = [] {
        const DWORD_PTR opened = OpenCodec();
        FUZZ_CHECK(opened != 0);
        std::atexit([] { Send(FuzzCodec(), DRV_CLOSE); });
        return opened;
    }();
    return id;
}

// Consumes the fuzzer's bytes front to back; reads past the end give zeros.
class FuzzBytes {
public:
    FuzzBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take()
    {
        T value{};
        const size_t n = sizeof(T) < size_ ? sizeof(T) : size_;
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }
    const uint8_t* rest() const { return data_; }
    size_t restSize() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

// Whether all `size` bytes at `bytes` are `value`: each byte equals the one
// after it, and the first is `value` (memcmp keeps this fast on large
// buffers, where a byte loop under coverage tracing is not).
inline bool BytesEqual(const uint8_t* bytes, size_t size, uint8_t value)
{
    return size == 0 || (bytes[0] == value && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

// Fills `size` bytes with copies of `pattern`, or zeros when it is empty.
inline void FillRepeating(uint8_t* bytes, size_t size, const uint8_t* pattern, size_t patternSize)
{
    if (size == 0)
        return;  // the buffer may be a null pointer then
    if (patternSize == 0) {
        std::memset(bytes, 0, size);
        return;
    }
    size_t filled = patternSize < size ? patternSize : size;
    std::memcpy(bytes, pattern, filled);
    while (filled < size) {
        const size_t more = filled < size - filled ? filled : size - filled;
        std::memcpy(bytes + filled, bytes, more);
        filled += more;
    }
}

// `size` bytes the codec may write, between two regions it must not touch.
// The usable bytes start filled with `fill` so that untouched output can be
// told from written output.
class Guarded {
public:
    static constexpr size_t kGuard = 256;
    static constexpr uint8_t kGuardByte = 0xA5;

    Guarded(size_t size, uint8_t fill) : bytes_(size + 2 * kGuard, kGuardByte), size_(size)
    {
        std::memset(data(), fill, size);
    }
    uint8_t* data() { return bytes_.data() + kGuard; }
    size_t size() const { return size_; }

    void CheckGuards(const char* what) const
    {
        for (size_t i = 0; i < kGuard; ++i) {
            if (bytes_[i] != kGuardByte || bytes_[kGuard + size_ + i] != kGuardByte) {
                std::fprintf(stderr, "%s: a guard byte changed (%s the buffer of %zu)\n", what,
                             bytes_[i] != kGuardByte ? "before" : "after", size_);
                std::abort();
            }
        }
    }
    bool AllEqual(uint8_t value) const { return BytesEqual(bytes_.data() + kGuard, size_, value); }

private:
    std::vector<uint8_t> bytes_;
    size_t size_;
};

inline void RepairChecks(std::vector<uint8_t>& png, bool adler, size_t maxRaw)
{
    auto be32 = [](const uint8_t* p) {
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    };
    auto put32 = [](uint8_t* p, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    std::vector<std::pair<size_t, size_t>> idat;  // data position and length
    std::vector<size_t> chunks;
    for (size_t pos = 8; pos + 12 <= png.size();) {
        const size_t length = be32(png.data() + pos);
        if (length > png.size() - pos - 12)
            break;
        if (std::memcmp(png.data() + pos + 4, "IDAT", 4) == 0)
            idat.emplace_back(pos + 8, length);
        chunks.push_back(pos);
        pos += length + 12;
    }
    if (adler && !idat.empty()) {
        std::vector<uint8_t> zlib;
        for (auto [at, length] : idat)
            zlib.insert(zlib.end(), png.begin() + static_cast<ptrdiff_t>(at),
                        png.begin() + static_cast<ptrdiff_t>(at + length));
        std::vector<uint8_t> raw(maxRaw);
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        size_t in = 0, out = 0;
        if (d != nullptr && zlib.size() > 2 &&
            libdeflate_deflate_decompress_ex(d, zlib.data() + 2, zlib.size() - 2, raw.data(), raw.size(),
                                             &in, &out) == LIBDEFLATE_SUCCESS) {
            // Write the checksum where it belongs, across IDATs if need be.
            uint8_t sum[4];
            put32(sum, libdeflate_adler32(1, raw.data(), out));
            size_t target = 2 + in;
            for (int i = 0; i < 4; ++i, ++target) {
                size_t skip = target;
                for (auto [at, length] : idat) {
                    if (skip < length) {
                        png[at + skip] = sum[i];
                        break;
                    }
                    skip -= length;
                }
            }
        }
        libdeflate_free_decompressor(d);
    }
    for (size_t pos : chunks) {
        const size_t length = be32(png.data() + pos);
        put32(png.data() + pos + 8 + length, libdeflate_crc32(0, png.data() + pos + 4, length + 4));
    }
}
