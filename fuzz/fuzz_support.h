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
