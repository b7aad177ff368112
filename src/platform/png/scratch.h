// Buffers and coder states kept from one call to the next, so that a frame
// does not pay for fresh pages: each call takes one off a shelf and puts it
// back when done, and the shelf holds as many as have been in use at once.
//
// Not thread_local: a thread-local object with a destructor is unsafe in a
// Windows DLL built with mingw-w64, whose emulated TLS frees the object
// before its destructor runs when the thread ends.
#pragma once

#include <libdeflate.h>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace pngcore {

template <class T>
class ScratchShelf {
public:
    // One item, the shelf's until the lease ends.
    class Lease {
    public:
        Lease(ScratchShelf& shelf, std::unique_ptr<T> item) : shelf_(shelf), item_(std::move(item)) {}
        ~Lease() { shelf_.Put(std::move(item_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        T& operator*() const { return *item_; }
        T* operator->() const { return item_.get(); }

    private:
        ScratchShelf& shelf_;
        std::unique_ptr<T> item_;
    };

    // An item used before, or a new one. Throws std::bad_alloc.
    Lease Take()
    {
        {
            std::lock_guard lock(mutex_);
            if (!items_.empty()) {
                std::unique_ptr<T> item = std::move(items_.back());
                items_.pop_back();
                return Lease(*this, std::move(item));
            }
        }
        return Lease(*this, std::make_unique<T>());
    }

private:
    void Put(std::unique_ptr<T> item) noexcept
    {
        std::lock_guard lock(mutex_);
        try {
            items_.push_back(std::move(item));
        } catch (...) {
            // Not kept: the next call makes a new one.
        }
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<T>> items_;
};

// A libdeflate decompressor that frees itself; null when memory ran out.
struct Decompressor {
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> state{
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor};
};

} // namespace pngcore
