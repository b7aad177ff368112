#include "avi_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "talverox.h"

namespace {

constexpr uint32_t kAvifHasIndex = 0x00000010;
constexpr uint32_t kAvifInterleaved = 0x00000100;
constexpr uint32_t kAviifKeyFrame = 0x00000010;
constexpr uint32_t kIndexOfIndexes = 0x00;
constexpr uint32_t kIndexOfChunks = 0x01;
constexpr uint32_t kDmlhSize = 248;
constexpr uint32_t kSuperIndexSize = 24 + 16 * AviWriter::kMostRiffs;

constexpr uint32_t Tag(const char (&name)[5])
{
    return MakeFourcc(name[0], name[1], name[2], name[3]);
}

constexpr uint32_t Clamp32(uint64_t value)
{
    return value > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(value);
}

} // namespace

AviWriter::AviWriter(const std::string& path, const DibFormat& format, uint32_t rate,
                     uint32_t scale, PcmFormat audio, uint64_t riffLimit)
    : path_(path), riffLimit_(std::min(riffLimit, kRiffLimit)), rate_(rate), scale_(scale),
      audio_(audio)
{
    const BITMAPINFOHEADER& h = *format.Header();
    const auto width = static_cast<uint32_t>(h.biWidth);
    const uint32_t height = h.biHeight < 0 ? 0u - static_cast<uint32_t>(h.biHeight)
                                           : static_cast<uint32_t>(h.biHeight);
    if (rate_ == 0 || scale_ == 0) {
        rate_ = 25;
        scale_ = 1;
    }
    streams_.emplace_back(Tag("00dc"));
    if (audio_.channels != 0)
        streams_.emplace_back(Tag("01wb"));
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr)
        throw AviError(path + ": cannot create: " + std::strerror(errno));

    // Sizes of the header lists, all known up front.
    const auto formatSize = static_cast<uint32_t>(format.Size());
    const uint32_t videoStrl = 4 + (8 + 56) + (8 + formatSize + (formatSize & 1)) +
                               (8 + kSuperIndexSize);
    const uint32_t audioStrl = 4 + (8 + 56) + (8 + 18) + (8 + kSuperIndexSize);
    const uint32_t hdrlSize = 4 + (8 + 56) + (8 + videoStrl) +
                              (audio_.channels != 0 ? 8 + audioStrl : 0) + (8 + 4 + 8 + kDmlhSize);

    Put32(Tag("RIFF"));
    Put32(0);
    Put32(Tag("AVI "));
    riffs_ = 1;
    Put32(Tag("LIST"));
    Put32(hdrlSize);
    Put32(Tag("hdrl"));

    Put32(Tag("avih"));
    Put32(56);
    avihAt_ = position_;
    Put32(static_cast<uint32_t>(1000000ull * scale_ / rate_));
    Put32(0); // max bytes per second, filled in at the end
    Put32(0);
    Put32(kAvifHasIndex | (audio_.channels != 0 ? kAvifInterleaved : 0));
    Put32(0); // frames in the first RIFF
    Put32(0);
    Put32(static_cast<uint32_t>(streams_.size()));
    Put32(0); // suggested buffer size
    Put32(width);
    Put32(height);
    Zeros(16);

    Put32(Tag("LIST"));
    Put32(videoStrl);
    Put32(Tag("strl"));
    WriteStreamHeader(streams_[0], Tag("vids"), kFourccMpng, scale_, rate_, 0, format.Bytes(),
                      formatSize);
    if (audio_.channels != 0) {
        const uint32_t block = audio_.BlockAlign();
        // WAVEFORMATEX of PCM: tag 1, channels, rate, bytes a second, block, 16 bits.
        uint8_t wave[18] = {};
        const uint32_t fields[] = {1 | audio_.channels << 16, audio_.sampleRate,
                                   audio_.sampleRate * block, block | 16u << 16};
        for (size_t i = 0; i < 16; ++i)
            wave[i] = static_cast<uint8_t>(fields[i / 4] >> (8 * (i % 4)));
        Put32(Tag("LIST"));
        Put32(audioStrl);
        Put32(Tag("strl"));
        WriteStreamHeader(streams_[1], Tag("auds"), 0, block, audio_.sampleRate * block, block,
                          wave, sizeof wave);
    }

    Put32(Tag("LIST"));
    Put32(4 + 8 + kDmlhSize);
    Put32(Tag("odml"));
    Put32(Tag("dmlh"));
    Put32(kDmlhSize);
    dmlhAt_ = position_;
    Zeros(kDmlhSize);

    riffStart_ = 0;
    BeginMovi();
}

AviWriter::~AviWriter()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void AviWriter::WriteStreamHeader(Stream& stream, uint32_t type, uint32_t handler,
                                  uint32_t scale, uint32_t rate, uint32_t sampleSize,
                                  const void* format, uint32_t formatSize)
{
    Put32(Tag("strh"));
    Put32(56);
    stream.strhAt = position_;
    Put32(type);
    Put32(handler);
    Put32(0);
    Put32(0); // priority, language
    Put32(0);
    Put32(scale);
    Put32(rate);
    Put32(0);
    Put32(0); // length, filled in at the end
    Put32(0); // suggested buffer size
    Put32(0xFFFFFFFF);
    Put32(sampleSize);
    Zeros(8);

    Put32(Tag("strf"));
    Put32(formatSize);
    Put(format, formatSize);
    if (formatSize & 1)
        Zeros(1);

    // Room for the super index, a JUNK chunk until Finish fills it in.
    Put32(Tag("JUNK"));
    Put32(kSuperIndexSize);
    stream.indxAt = position_ - 8;
    Zeros(kSuperIndexSize);
}

void AviWriter::BeginMovi()
{
    Put32(Tag("LIST"));
    Put32(0);
    moviStart_ = position_;
    Put32(Tag("movi"));
}

uint64_t AviWriter::IndexBytes(size_t added) const
{
    uint64_t bytes = 0;
    size_t chunks = added;
    for (const Stream& s : streams_) {
        bytes += 32 + 8 * uint64_t{s.entries.size() + added};
        chunks += s.entries.size();
    }
    if (riffs_ == 1)
        bytes += 8 + 16 * uint64_t{chunks};
    return bytes;
}

void AviWriter::WriteChunk(Stream& stream, const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFF0u)
        Fail("a chunk of " + std::to_string(size) + " bytes is too large for AVI");
    const uint64_t padded = size + (size & 1);
    const bool empty = std::all_of(streams_.begin(), streams_.end(),
                                   [](const Stream& s) { return s.entries.empty(); });
    if (!empty && position_ + 8 + padded + IndexBytes(1) - riffStart_ > riffLimit_) {
        CloseRiff();
        if (riffs_ == kMostRiffs)
            Fail("more than " + std::to_string(kMostRiffs) + " RIFFs of " +
                 std::to_string(riffLimit_) + " bytes; the super index has no room for more");
        if (riffs_ == 1)
            std::fprintf(stderr,
                         "talverox: note: %s passes %llu bytes; it continues as OpenDML "
                         "(AVI 2.0), and AVI 1.0 readers see its first %llu frames\n",
                         path_.c_str(), static_cast<unsigned long long>(riffLimit_),
                         static_cast<unsigned long long>(firstRiffFrames_));
        riffStart_ = position_;
        ++riffs_;
        Put32(Tag("RIFF"));
        Put32(0);
        Put32(Tag("AVIX"));
        BeginMovi();
    }
    const Entry entry{position_ + 8, static_cast<uint32_t>(size)};
    stream.entries.push_back(entry);
    if (riffs_ == 1)
        idx1_.emplace_back(stream.chunkId, entry);
    Put32(stream.chunkId);
    Put32(static_cast<uint32_t>(size));
    Put(data, size);
    if (size & 1)
        Zeros(1);
    stream.largest = std::max(stream.largest, static_cast<uint32_t>(size));
}

void AviWriter::WriteFrame(const uint8_t* data, size_t size)
{
    WriteChunk(streams_[0], data, size);
    ++frames_;
    ++streams_[0].riffLength;
    if (riffs_ == 1)
        ++firstRiffFrames_;
}

void AviWriter::WriteAudio(const uint8_t* data, size_t size)
{
    if (size == 0 || streams_.size() < 2)
        return;
    // A second at most per chunk, so the sound stays near its pictures.
    const size_t block = audio_.BlockAlign();
    const size_t most = std::max<size_t>(block, size_t{audio_.sampleRate} * block);
    Stream& stream = streams_[1];
    for (size_t at = 0; at < size; at += most) {
        const size_t n = std::min(most, size - at);
        WriteChunk(stream, data + at, n);
        stream.riffLength += n / block;
    }
}

void AviWriter::CloseRiff()
{
    // A standard index per stream, inside 'movi', offsets from its start.
    for (Stream& s : streams_) {
        if (s.entries.empty())
            continue;
        const uint64_t at = position_;
        const auto size = static_cast<uint32_t>(24 + 8 * s.entries.size());
        Put32(s.chunkId == Tag("00dc") ? Tag("ix00") : Tag("ix01"));
        Put32(size);
        Put16(2);
        Put16(kIndexOfChunks << 8);
        Put32(static_cast<uint32_t>(s.entries.size()));
        Put32(s.chunkId);
        Put64(moviStart_);
        Put32(0);
        for (const Entry& e : s.entries) {
            Put32(static_cast<uint32_t>(e.offset - moviStart_));
            Put32(e.size); // bit 31 clear: every chunk is a key frame
        }
        s.indexes.push_back({at, size + 8, Clamp32(s.riffLength)});
        s.length += s.riffLength;
        s.riffLength = 0;
        s.entries.clear();
    }
    const uint64_t moviEnd = position_;
    Seek(moviStart_ - 4);
    Put32(static_cast<uint32_t>(moviEnd - moviStart_));
    Seek(moviEnd);

    if (riffs_ == 1) {
        Put32(Tag("idx1"));
        Put32(static_cast<uint32_t>(16 * idx1_.size()));
        for (const auto& [id, e] : idx1_) {
            Put32(id);
            Put32(kAviifKeyFrame);
            Put32(static_cast<uint32_t>(e.offset - 8 - moviStart_));
            Put32(e.size);
        }
        idx1_.clear();
        idx1_.shrink_to_fit();
    }
    const uint64_t riffEnd = position_;
    Seek(riffStart_ + 4);
    Put32(static_cast<uint32_t>(riffEnd - riffStart_ - 8));
    Seek(riffEnd);
}

void AviWriter::Finish()
{
    CloseRiff();
    const uint64_t end = position_;

    for (Stream& s : streams_) {
        Seek(s.indxAt);
        Put32(Tag("indx"));
        Put32(kSuperIndexSize);
        Put16(4);
        Put16(kIndexOfIndexes << 8);
        Put32(static_cast<uint32_t>(s.indexes.size()));
        Put32(s.chunkId);
        Zeros(12);
        for (const SuperEntry& e : s.indexes) {
            Put64(e.offset);
            Put32(e.size);
            Put32(e.duration);
        }
        Seek(s.strhAt + 32);
        Put32(Clamp32(s.length));
        Put32(s.largest);
    }

    uint64_t bytesPerSecond = uint64_t{streams_[0].largest} * rate_ / scale_ + 1;
    if (audio_.channels != 0)
        bytesPerSecond += uint64_t{audio_.sampleRate} * audio_.BlockAlign();
    Seek(avihAt_ + 4);
    Put32(Clamp32(bytesPerSecond));
    Seek(avihAt_ + 16);
    Put32(Clamp32(firstRiffFrames_));
    Seek(avihAt_ + 28);
    Put32(streams_[0].largest);
    Seek(dmlhAt_);
    Put32(Clamp32(frames_));
    Seek(end);

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

void AviWriter::Put64(uint64_t value)
{
    Put32(static_cast<uint32_t>(value));
    Put32(static_cast<uint32_t>(value >> 32));
}

void AviWriter::Zeros(size_t size)
{
    static const uint8_t zeros[256] = {};
    while (size > 0) {
        const size_t n = std::min(size, sizeof zeros);
        Put(zeros, n);
        size -= n;
    }
}

void AviWriter::Seek(uint64_t at)
{
    if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0)
        Fail(std::string("seek failed: ") + std::strerror(errno));
    position_ = at;
}

void AviWriter::Fail(const std::string& what)
{
    throw AviError(path_ + ": " + what);
}
