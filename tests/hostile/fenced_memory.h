// Bytes fenced by inaccessible pages, so that a test can show the codec
// keeps to the extents a host states, with or without a sanitizer: the
// first byte past the end faults, and so does anything more than a page
// before the start (rows reached through a negative stride).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

class FencedBytes {
public:
    explicit FencedBytes(size_t size) : size_(size)
    {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t usablePages = (size + page - 1) / page;
        length_ = (usablePages + 2) * page;
        void* mapped = mmap(nullptr, length_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            base_ = nullptr;
            return;
        }
        base_ = static_cast<uint8_t*>(mapped);
        if (usablePages != 0)
            mprotect(base_ + page, usablePages * page, PROT_READ | PROT_WRITE);
        data_ = base_ + page + usablePages * page - size;
    }
    ~FencedBytes()
    {
        if (base_ != nullptr)
            munmap(base_, length_);
    }
    FencedBytes(const FencedBytes&) = delete;
    FencedBytes& operator=(const FencedBytes&) = delete;

    bool ok() const { return base_ != nullptr; }
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    void Fill(const void* bytes, size_t count) { std::memcpy(data_, bytes, count < size_ ? count : size_); }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_;
    size_t length_ = 0;
};
