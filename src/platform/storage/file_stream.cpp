#include "platform/storage/file_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "platform/common/com_object.h"
#include "platform/common/platform_state.h"

namespace {

// Reads from the file fill the buffer this many bytes at a time.
constexpr size_t kRefillBytes = 64 * 1024;
// Reads of kSmallRead to twice that many bytes that the buffer holds take
// a short way.
constexpr ULONG kSmallRead = 64;
// Written bytes the buffer holds at most before they go to the file: more
// than the largest frame of 4K video.
constexpr size_t kDefaultHoldBytes = 64 * 1024 * 1024;
// File offsets are signed 64-bit.
constexpr uint64_t kMaxPosition = std::numeric_limits<int64_t>::max();

// The buffer holds either a clean copy of file bytes [start, start + length)
// or bytes written there and not yet in the file (dirty).
class FileStream final : public StreamBase {
public:
    explicit FileStream(std::shared_ptr<ScratchFile> file)
        : file_(std::move(file)), buffer_(kRefillBytes)
    {
        const size_t hold = Counters().streamHoldBytes;
        hold_ = std::max(hold != 0 ? hold : kDefaultHoldBytes, kRefillBytes);
        if (!file_->Size(&size_))
            size_ = 0;
        ++Counters().liveStreams;
    }

    ~FileStream()
    {
        Flush();  // nothing can report a failure now
        --Counters().liveStreams;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        static const IID* const ids[] = {&IID_ISequentialStream, &IID_IStream};
        return ComQuery(this, riid, object, ids);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return refs_.Drop(this); }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override
    {
        auto* out = static_cast<uint8_t*>(buffer);
        // The codec's read-back: small pieces the buffer holds (it never
        // reaches past the stream's end), copied as two overlapping
        // fixed-size moves rather than through a call.
        if (count >= kSmallRead && count <= 2 * kSmallRead && out != nullptr && position_ >= start_ &&
            position_ - start_ <= length_ && count <= length_ - (position_ - start_)) {
            const uint8_t* from = buffer_.data() + (position_ - start_);
            std::memcpy(out, from, kSmallRead);
            std::memcpy(out + count - kSmallRead, from + count - kSmallRead, kSmallRead);
            position_ += count;
            if (read != nullptr)
                *read = count;
            return S_OK;
        }
        if (read != nullptr)
            *read = 0;
        if (buffer == nullptr && count != 0)
            return STG_E_INVALIDPOINTER;
        ULONG done = 0;
        while (done < count && position_ < size_) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(count - done, size_ - position_));
            if (position_ >= start_ && position_ < start_ + length_) {
                size_t n = std::min<size_t>(want, static_cast<size_t>(start_ + length_ - position_));
                std::memcpy(out + done, buffer_.data() + (position_ - start_), n);
                done += static_cast<ULONG>(n);
                position_ += n;
                continue;
            }
            // From the file, which must first have what the buffer holds.
            HRESULT flushed = Flush();
            if (FAILED(flushed)) {
                if (read != nullptr)
                    *read = done;
                return flushed;
            }
            // Large reads bypass the buffer; small ones refill it.
            uint8_t* target = want >= kRefillBytes ? out + done : buffer_.data();
            size_t ask = want >= kRefillBytes ? want : kRefillBytes;
            const int64_t got = file_->ReadAt(position_, target, ask);
            ++Counters().fileReadCalls;
            if (got < 0) {
                if (read != nullptr)
                    *read = done;
                return STG_E_READFAULT;
            }
            if (got == 0)
                break;  // the file is shorter than we thought: stop at its end
            if (target == buffer_.data()) {
                start_ = position_;
                length_ = static_cast<size_t>(got);
            } else {
                done += static_cast<ULONG>(got);
                position_ += static_cast<uint64_t>(got);
            }
        }
        if (read != nullptr)
            *read = done;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override
    {
        if (written != nullptr)
            *written = 0;
        if (buffer == nullptr && count != 0)
            return STG_E_INVALIDPOINTER;
        if (count == 0)
            return S_OK;
        if (position_ > kMaxPosition - count)
            return STG_E_MEDIUMFULL;
        const auto* in = static_cast<const uint8_t*>(buffer);
        if (dirty_ && position_ >= start_ && position_ <= start_ + length_ &&
            position_ - start_ + count <= hold_ &&  // and so fits size_t
            Hold(static_cast<size_t>(position_ - start_) + count)) {
            // Extends or overwrites what is already buffered.
            size_t at = static_cast<size_t>(position_ - start_);
            std::memcpy(buffer_.data() + at, in, count);
            length_ = std::max(length_, at + size_t{count});
        } else {
            HRESULT flushed = Flush();
            if (FAILED(flushed))
                return flushed;
            length_ = 0;  // the clean copy may now be stale
            if (Hold(count)) {
                std::memcpy(buffer_.data(), in, count);
                start_ = position_;
                length_ = count;
                dirty_ = true;
            } else {
                HRESULT direct = WriteAt(position_, in, count);
                if (FAILED(direct))
                    return direct;
            }
        }
        position_ += count;
        size_ = std::max(size_, position_);
        if (written != nullptr)
            *written = count;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        return SeekWithin(&position_, size_, move, origin, newPosition);
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override
    {
        if (newSize.QuadPart > kMaxPosition)
            return STG_E_MEDIUMFULL;
        HRESULT flushed = Flush();
        if (FAILED(flushed))
            return flushed;
        if (!file_->Resize(newSize.QuadPart))
            return STG_E_WRITEFAULT;
        length_ = 0;
        size_ = newSize.QuadPart;
        return S_OK;
    }

private:
    // Makes the buffer at least `bytes` long. False past the hold or when
    // memory runs out: the bytes then go to the file instead.
    bool Hold(size_t bytes)
    {
        if (buffer_.size() >= bytes)
            return true;
        if (bytes > hold_)
            return false;
        try {
            buffer_.resize(std::min(std::max(bytes, 2 * buffer_.size()), hold_));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    HRESULT WriteAt(uint64_t at, const uint8_t* bytes, size_t count)
    {
        while (count != 0) {
            const int64_t put = file_->WriteAt(at, bytes, count);
            if (put <= 0)
                return STG_E_WRITEFAULT;
            bytes += put;
            count -= static_cast<size_t>(put);
            at += static_cast<uint64_t>(put);
        }
        return S_OK;
    }

    // Writes dirty bytes to the file; they stay buffered as a clean copy.
    HRESULT Flush()
    {
        if (!dirty_)
            return S_OK;
        HRESULT result = WriteAt(start_, buffer_.data(), length_);
        if (FAILED(result))
            return result;
        dirty_ = false;
        return S_OK;
    }

    ComRefCount<FileStream> refs_;
    std::shared_ptr<ScratchFile> file_;
    std::vector<uint8_t> buffer_;
    size_t hold_;
    uint64_t start_ = 0;
    size_t length_ = 0;
    bool dirty_ = false;
    uint64_t position_ = 0;
    uint64_t size_ = 0;
};

}  // namespace

IStream* CreateFileStream(std::shared_ptr<ScratchFile> file)
{
    try {
        return new FileStream(std::move(file));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
