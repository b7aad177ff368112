#include "avi_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "talverox.h"

namespace {

constexpr uint32_t kAvifHasIndex = 0x00000010;
constexpr uint32_t kAviifKeyFrame = 0x00000010;
constexpr uint64_t kOneGiB = 1ull << 30;

constexpr uint32_t Tag(const char (&name)[5])
{
    return MakeFourcc(name[0], name[1], name[2], name[3]);
}

// Positions of the fields Finish fills in, fixed by the header layout
// below: RIFF, hdrl, avih (56 bytes), strl, strh (56 bytes), strf.
constexpr uint64_t kRiffSize = 4;
constexpr uint64_t kAvihData = 32;
constexpr uint64_t kStrhData = 108;

} // namespace

AviWriter::AviWriter(const std::string& path, const DibFormat& format, uint32_t rate,
                     uint32_t scale, uint64_t limit)
    : path_(path), limit_(limit < kLimit ? limit : kLimit), rate_(rate), scale_(scale)
{
    const BITMAPINFOHEADER& h = *format.Header();
    width_ = static_cast<uint32_t>(h.biWidth);
    height_ = h.biHeight < 0 ? 0u - static_cast<uint32_t>(h.biHeight)
                             : static_cast<uint32_t>(h.biHeight);
    if (rate_ == 0 || scale_ == 0) {
        rate_ = 25;
        scale_ = 1;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr)
        throw AviError(path + ": cannot create: " + std::strerror(errno));

    const auto formatSize = static_cast<uint32_t>(format.Size());
    const uint32_t formatPadded = formatSize + (formatSize & 1);
    const uint32_t strlSize = 4 + (8 + 56) + (8 + formatPadded);
    const uint32_t hdrlSize = 4 + (8 + 56) + (8 + strlSize);

    Put32(Tag("RIFF"));
    Put32(0);
    Put32(Tag("AVI "));
    Put32(Tag("LIST"));
    Put32(hdrlSize);
    Put32(Tag("hdrl"));

    Put32(Tag("avih"));
    Put32(56);
    Put32(static_cast<uint32_t>(1000000ull * scale_ / rate_));
    Put32(0); // max bytes per second, filled in at the end
    Put32(0);
    Put32(kAvifHasIndex);
    Put32(0); // total frames
    Put32(0);
    Put32(1);
    Put32(0); // suggested buffer size
    Put32(width_);
    Put32(height_);
    for (int i = 0; i < 4; ++i)
        Put32(0);

    Put32(Tag("LIST"));
    Put32(strlSize);
    Put32(Tag("strl"));
    Put32(Tag("strh"));
    Put32(56);
    Put32(Tag("vids"));
    Put32(kFourccMpng);
    Put32(0);
    Put16(0);
    Put16(0);
    Put32(0);
    Put32(scale_);
    Put32(rate_);
    Put32(0);
    Put32(0); // length in frames
    Put32(0); // suggested buffer size
    Put32(0xFFFFFFFF);
    Put32(0);
    Put16(0);
    Put16(0);
    Put16(static_cast<uint16_t>(width_ > 0x7FFF ? 0x7FFF : width_));
    Put16(static_cast<uint16_t>(height_ > 0x7FFF ? 0x7FFF : height_));

    Put32(Tag("strf"));
    Put32(formatSize);
    Put(format.Bytes(), formatSize);
    if (formatSize & 1)
        Put("", 1);

    Put32(Tag("LIST"));
    Put32(0);
    moviStart_ = position_;
    Put32(Tag("movi"));
}

AviWriter::~AviWriter()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void AviWriter::WriteFrame(const uint8_t* data, size_t size)
{
    const uint64_t padded = size + (size & 1);
    const uint64_t indexBytes = 8 + 16 * (index_.size() + 1);
    if (size > 0xFFFFFFFFull || position_ + 8 + padded + indexBytes > limit_)
        Fail(std::to_string(limit_) + " bytes reached at frame " +
             std::to_string(index_.size()) +
             "; a plain AVI file without the OpenDML extension addresses at most 4 GiB");
    if (!warnedLarge_ && position_ + 8 + padded > kOneGiB) {
        warnedLarge_ = true;
        std::fprintf(stderr,
                     "talverox: note: %s passes 1 GiB; some older AVI readers stop there\n",
                     path_.c_str());
    }
    index_.push_back({static_cast<uint32_t>(position_ - moviStart_),
                      static_cast<uint32_t>(size)});
    Put32(Tag("00dc"));
    Put32(static_cast<uint32_t>(size));
    Put(data, size);
    if (size & 1)
        Put("", 1);
    if (size > largest_)
        largest_ = static_cast<uint32_t>(size);
}

void AviWriter::Finish()
{
    const uint64_t moviEnd = position_;
    Put32(Tag("idx1"));
    Put32(static_cast<uint32_t>(16 * index_.size()));
    for (const IndexEntry& entry : index_) {
        Put32(Tag("00dc"));
        Put32(kAviifKeyFrame);
        Put32(entry.offset);
        Put32(entry.size);
    }
    const auto frames = static_cast<uint32_t>(index_.size());
    const auto bytesPerSecond = static_cast<uint32_t>(
        std::min<uint64_t>(0xFFFFFFFF, uint64_t{largest_} * rate_ / scale_ + 1));
    Patch32(kRiffSize, static_cast<uint32_t>(position_ - 8));
    Patch32(kAvihData + 4, bytesPerSecond);
    Patch32(kAvihData + 16, frames);
    Patch32(kAvihData + 28, largest_);
    Patch32(kStrhData + 32, frames);
    Patch32(kStrhData + 36, largest_);
    Patch32(moviStart_ - 4, static_cast<uint32_t>(moviEnd - moviStart_));
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0)
        throw AviError(path_ + ": cannot finish writing: " + std::strerror(errno));
}

void AviWriter::Put(const void* data, size_t size)
{
    if (size != 0 && std::fwrite(data, 1, size, file_) != size)
        Fail(std::string("write failed: ") + std::strerror(errno));
    position_ += size;
}

void AviWriter::Put32(uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Put(bytes, 4);
}

void AviWriter::Put16(uint16_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    Put(bytes, 2);
}

void AviWriter::Patch32(uint64_t at, uint32_t value)
{
    const uint64_t end = position_;
    if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0)
        Fail(std::string("seek failed: ") + std::strerror(errno));
    position_ = at;
    Put32(value);
    if (fseeko(file_, static_cast<off_t>(end), SEEK_SET) != 0)
        Fail(std::string("seek failed: ") + std::strerror(errno));
    position_ = end;
}

void AviWriter::Fail(const std::string& what)
{
    throw AviError(path_ + ": " + what);
}
