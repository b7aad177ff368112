#include "avi_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "talverox.h"

namespace {

constexpr uint32_t Tag(const char (&name)[5])
{
    return MakeFourcc(name[0], name[1], name[2], name[3]);
}

// No real header comes near this; a larger 'strf' means a damaged file.
constexpr uint32_t kLargestFormat = 1 << 20;
constexpr int32_t kLargestSide = 1 << 16;
// 'LIST rec ' groups nest one level in practice; deeper nesting is damage.
constexpr int kDeepestMovi = 4;
constexpr const char* kUnfinished =
    "unfinished: its writer stopped before writing the sizes and the index";

} // namespace

AviReader::AviReader(const std::string& path) : path_(path)
{
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr)
        throw AviError(path + ": cannot open: " + std::strerror(errno));
    if (fseeko(file_, 0, SEEK_END) != 0)
        Fail("cannot seek: " + std::string(std::strerror(errno)));
    fileSize_ = static_cast<uint64_t>(ftello(file_));

    if (fileSize_ < 12)
        Fail("not an AVI file (only " + std::to_string(fileSize_) + " bytes)");
    const uint32_t riff = Read32(0);
    const uint32_t riffSize = Read32(4);
    const uint32_t form = Read32(8);
    if (riff != Tag("RIFF") || form != Tag("AVI "))
        Fail("not an AVI file (no RIFF 'AVI ' header; it starts with '" + FourccText(riff) + "')");
    uint64_t riffEnd = 8 + uint64_t{riffSize};
    // A writer that never finished leaves the size 0.
    if (riffSize == 0) {
        riffEnd = fileSize_;
        damage_ = kUnfinished;
    } else if (riffEnd > fileSize_)
        NoteCut(Tag("RIFF"), 0, riffSize);
    WalkTop({12, std::min(riffEnd, fileSize_)}, true);

    // OpenDML files continue in 'AVIX' RIFFs, each with its own 'movi'.
    uint64_t at = riffEnd + (riffSize & 1);
    while (damage_.empty() && at + 12 <= fileSize_ && Read32(at) == Tag("RIFF") &&
           Read32(at + 8) == Tag("AVIX")) {
        const uint32_t size = Read32(at + 4);
        uint64_t end = at + 8 + size;
        if (size == 0)
            end = fileSize_;
        else if (end > fileSize_)
            NoteCut(Tag("RIFF"), at, size);
        WalkTop({at + 12, std::min(end, fileSize_)}, false);
        at = end + ((end - at) & 1);
    }

    if (videoStream_ < 0)
        Fail(damage_.empty() ? "has no video stream"
                             : damage_ + "; no whole video stream header before the cut");
    if (!damage_.empty()) {
        if (frames_.empty())
            Fail(damage_ + "; no whole frame before the cut");
        damage_ += "; recovered " + std::to_string(frames_.size()) + " whole frames";
        std::fprintf(stderr, "talverox: note: %s: %s\n", path_.c_str(), damage_.c_str());
    }
}

void AviReader::NoteCut(uint32_t id, uint64_t at, uint64_t size)
{
    if (damage_.empty())
        damage_ = "truncated: the chunk '" + FourccText(id) + "' at offset " +
                  std::to_string(at) + " declares " + std::to_string(size) +
                  " bytes but the file ends " + std::to_string(at + 8 + size - fileSize_) +
                  " bytes short of it";
}

AviReader::~AviReader()
{
    std::fclose(file_);
}

void AviReader::ReadFrame(size_t index, std::vector<uint8_t>& bytes)
{
    const AviFrame& frame = frames_.at(index);
    bytes.resize(frame.size);
    ReadAt(frame.offset, bytes.data(), frame.size);
}

void AviReader::ForEachChunk(Span span, const std::function<void(const Chunk&)>& visit,
                             bool tolerant)
{
    uint64_t at = span.begin;
    while (at + 8 <= span.end) {
        const uint32_t id = Read32(at);
        const uint32_t size = Read32(at + 4);
        const uint64_t end = at + 8 + size;
        if (end > span.end) {
            if (!tolerant || end <= fileSize_ || span.end != fileSize_)
                Truncated(id, at, size);
            NoteCut(id, at, size);
            visit({id, size, at, at + 8, fileSize_, true});
            return;
        }
        visit({id, size, at, at + 8, end, false});
        at = end + (size & 1);
    }
}

void AviReader::WalkTop(Span span, bool first)
{
    ForEachChunk(
        span,
        [&](const Chunk& c) {
            if (c.id != Tag("LIST") || c.begin + 4 > span.end ||
                (c.size != 0 && c.end < c.begin + 4))
                return;
            const uint32_t type = Read32(c.begin);
            if (type == Tag("hdrl") && first && !c.cut) {
                WalkHeaders({c.begin + 4, c.end});
                sawHeaders_ = true;
            } else if (type == Tag("movi") && c.size == 0) {
                // Never finished: the frames run to the end of the RIFF.
                if (damage_.empty())
                    damage_ = kUnfinished;
                WalkMovi({c.begin + 4, span.end}, 0);
            } else if (type == Tag("movi") && c.size >= 4) {
                WalkMovi({c.begin + 4, c.end}, 0);
            } else if (c.cut) {
                Truncated(c.id, c.at, c.size);
            }
        },
        true);
}

void AviReader::WalkHeaders(Span span)
{
    ForEachChunk(span, [&](const Chunk& c) {
        if (c.id == Tag("LIST") && c.size >= 4 && Read32(c.begin) == Tag("strl")) {
            WalkStreamList({c.begin + 4, c.end});
            ++streams_;
        }
    });
}

void AviReader::WalkStreamList(Span span)
{
    bool video = false;
    ForEachChunk(span, [&](const Chunk& c) {
        if (c.id == Tag("strh") && c.size >= 28 && videoStream_ < 0 &&
            Read32(c.begin) == Tag("vids")) {
            video = true;
            handler_ = Read32(c.begin + 4);
            scale_ = Read32(c.begin + 20);
            rate_ = Read32(c.begin + 24);
        } else if (c.id == Tag("strf") && video) {
            if (c.size < sizeof(BITMAPINFOHEADER) || c.size > kLargestFormat)
                Fail("damaged: the video format at offset " + std::to_string(c.at) + " is " +
                     std::to_string(c.size) + " bytes long");
            format_ = DibFormat(c.size);
            ReadAt(c.begin, format_.Bytes(), c.size);
            const BITMAPINFOHEADER& h = *format_.Header();
            if (h.biWidth <= 0 || h.biWidth > kLargestSide || h.biHeight == 0 ||
                h.biHeight > kLargestSide || h.biHeight < -kLargestSide)
                Fail("damaged: implausible video frame size " + std::to_string(h.biWidth) + "x" +
                     std::to_string(h.biHeight));
            videoStream_ = streams_;
        }
    });
    if (video && videoStream_ < 0)
        Fail("damaged: the video stream has no format ('strf')");
}

void AviReader::WalkMovi(Span span, int depth)
{
    if (videoStream_ < 0 && sawHeaders_)
        Fail("has no video stream");
    if (videoStream_ < 0)
        Fail("damaged: frames ('movi') come before any video stream header");
    if (depth > kDeepestMovi)
        Fail("damaged: lists nested too deeply in 'movi'");
    const auto digit = [](int value) { return static_cast<char>('0' + value % 10); };
    const uint32_t compressed =
        MakeFourcc(digit(videoStream_ / 10), digit(videoStream_), 'd', 'c');
    const uint32_t uncompressed =
        MakeFourcc(digit(videoStream_ / 10), digit(videoStream_), 'd', 'b');
    // A frame cut by the end of the file is left out; the ones before it stay.
    ForEachChunk(
        span,
        [&](const Chunk& c) {
            if ((c.id == compressed || c.id == uncompressed) && !c.cut)
                frames_.push_back({c.begin, c.size});
            else if (c.id == Tag("LIST") && c.end >= c.begin + 4 && Read32(c.begin) == Tag("rec "))
                WalkMovi({c.begin + 4, c.end}, depth + 1);
        },
        true);
}

void AviReader::ReadAt(uint64_t at, void* data, size_t size)
{
    if (at + size > fileSize_)
        Fail("truncated: needs bytes up to offset " + std::to_string(at + size) +
             " but the file has " + std::to_string(fileSize_));
    if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0 ||
        std::fread(data, 1, size, file_) != size)
        Fail("read error at offset " + std::to_string(at) + ": " + std::strerror(errno));
}

uint32_t AviReader::Read32(uint64_t at)
{
    uint8_t bytes[4];
    ReadAt(at, bytes, 4);
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

void AviReader::Fail(const std::string& what)
{
    throw AviError(path_ + ": " + what);
}

void AviReader::Truncated(uint32_t id, uint64_t at, uint64_t size)
{
    const uint64_t end = at + 8 + size;
    if (end > fileSize_)
        Fail("truncated: the chunk '" + FourccText(id) + "' at offset " + std::to_string(at) +
             " declares " + std::to_string(size) + " bytes but the file ends " +
             std::to_string(end - fileSize_) + " bytes short of it");
    Fail("damaged: the chunk '" + FourccText(id) + "' at offset " + std::to_string(at) +
         " runs past the end of the list holding it");
}
