// Frames cut into row bands: the same bytes whatever the pool, readable by
// any decoder, and read back band by band only when the map fits the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <libdeflate.h>

#include <functional>
#include <memory>
#include <random>
#include <set>

#include "platform/png/band_map.h"
#include "platform/png/coder_choice.h"
#include "platform/png/plain_image.h"
#include "platform/png/worker_pool.h"
#include "test_frames.h"
#include "tests/hostile/png_bytes.h"

namespace {

struct ChunkAt {
    std::string type;
    size_t at;      // of the length field
    size_t length;
};

std::vector<ChunkAt> ChunksOf(const std::vector<uint8_t>& png)
{
    std::vector<ChunkAt> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const size_t length = png_bytes::GetBe32(png.data() + at);
        chunks.push_back({std::string(png.begin() + ptrdiff_t(at + 4), png.begin() + ptrdiff_t(at + 8)), at, length});
        at += length + 12;
    }
    return chunks;
}

size_t CountOf(const std::vector<ChunkAt>& chunks, const char* type)
{
    size_t count = 0;
    for (const ChunkAt& chunk : chunks)
        count += chunk.type == type;
    return count;
}

// The file with its band map removed, as an editor that drops unknown
// unsafe-to-copy chunks leaves it.
std::vector<uint8_t> WithoutMap(const std::vector<uint8_t>& png)
{
    std::vector<uint8_t> out(png.begin(), png.begin() + 8);
    for (const ChunkAt& chunk : ChunksOf(png)) {
        if (chunk.type != pngcore::kBandMapType)
            out.insert(out.end(), png.begin() + ptrdiff_t(chunk.at), png.begin() + ptrdiff_t(chunk.at + chunk.length + 12));
    }
    return out;
}

// The filter byte of every row, from the file's joined image data.
std::vector<uint8_t> RowFilters(const std::vector<uint8_t>& png, size_t height, size_t rowBytes)
{
    std::vector<uint8_t> zlib;
    for (const ChunkAt& chunk : ChunksOf(png)) {
        if (chunk.type == "IDAT")
            zlib.insert(zlib.end(), png.begin() + ptrdiff_t(chunk.at + 8),
                        png.begin() + ptrdiff_t(chunk.at + 8 + chunk.length));
    }
    std::vector<uint8_t> raw(height * (rowBytes + 1));
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> d(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    EXPECT_EQ(libdeflate_zlib_decompress(d.get(), zlib.data(), zlib.size(), raw.data(), raw.size(),
                                         nullptr),
              LIBDEFLATE_SUCCESS);
    std::vector<uint8_t> filters(height);
    for (size_t r = 0; r < height; ++r)
        filters[r] = raw[r * (rowBytes + 1)];
    return filters;
}

// An edit of a file's band map, the chunk's CRC repaired after it.
using MapEdit = std::function<void(uint8_t* map, size_t size)>;

void PutBe32At(uint8_t* p, uint32_t v)
{
    std::vector<uint8_t> bytes;
    png_bytes::PutBe32(bytes, v);
    std::copy(bytes.begin(), bytes.end(), p);
}

std::vector<uint8_t> EditMap(std::vector<uint8_t> png, const MapEdit& edit)
{
    for (const ChunkAt& chunk : ChunksOf(png)) {
        if (chunk.type != pngcore::kBandMapType)
            continue;
        edit(png.data() + chunk.at + 8, chunk.length);
        PutBe32At(png.data() + chunk.at + 8 + chunk.length,
                  libdeflate_crc32(0, png.data() + chunk.at + 4, chunk.length + 4));
    }
    return png;
}

uint32_t BandRowsOf(uint32_t width, PngPixels pixels)
{
    return pngcore::BandRows(size_t{width} * PngBytesPerPixel(pixels) + 1);
}

// The banded reader alone, which the reader tries first: false where it
// would have left the frame to the serial one.
bool BandedOnly(const std::vector<uint8_t>& png, const Frame& frame, DecodedPng& out, PngWorkers* pool)
{
    pngcore::Chunks idat;
    std::pair<const uint8_t*, size_t> map{nullptr, 0};
    for (const ChunkAt& chunk : ChunksOf(png)) {
        const uint8_t* body = png.data() + chunk.at + 8;
        if (chunk.type == "IDAT")
            idat.emplace_back(body, chunk.length);
        if (chunk.type == pngcore::kBandMapType)
            map = {body, chunk.length};
    }
    const size_t bpp = PngBytesPerPixel(frame.pixels), n = size_t{frame.width} * bpp;
    const pngcore::PlainImage image{frame.width, frame.height, frame.pixels, bpp, n, (n + 3) & ~size_t{3}};
    std::vector<uint8_t> raw((n + 1) * frame.height);
    out.width = frame.width;
    out.height = frame.height;
    out.pixels = frame.pixels;
    out.stride = image.stride;
    out.rows.assign(image.stride * frame.height, 0);
    return map.first != nullptr && pngcore::DecodeBands(image, idat, map.first, map.second, raw.data(), out, pool);
}

TEST(Bands, Adler32CombinesAtEveryCut)
{
    std::vector<uint8_t> data(3 * 65521 + 17);
    std::mt19937 rng(5);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = i < 70000 ? 0xFF : static_cast<uint8_t>(rng());  // sums near the modulus
    const uint32_t whole = libdeflate_adler32(1, data.data(), data.size());
    for (size_t cut : {size_t{0}, size_t{1}, size_t{5552}, size_t{65521}, size_t{65522}, size_t{131042},
                       data.size() - 1, data.size()}) {
        const uint32_t a = libdeflate_adler32(1, data.data(), cut);
        const uint32_t b = libdeflate_adler32(1, data.data() + cut, data.size() - cut);
        EXPECT_EQ(pngcore::Adler32Combine(a, b, data.size() - cut), whole) << "cut at " << cut;
    }
}

// Heights as multiples of a layout's band rows: one band exactly, a last
// band of one row, several with a partial last one.
struct BandCase {
    PngPixels pixels;
    Content content;
    uint32_t width;
    double bands;
};

constexpr BandCase kCases[] = {
    {PngPixels::Index8, Content::Photo, 200, 1},     {PngPixels::Index8, Content::Text, 200, 2.6},
    {PngPixels::Gray16, Content::Photo, 130, 1.003}, {PngPixels::Gray16, Content::Sparse, 130, 3.5},
    {PngPixels::Bgr24, Content::Photo, 256, 4.4},    {PngPixels::Bgr24, Content::Text, 256, 1.003},
    {PngPixels::Bgra32, Content::Gradient, 97, 2.2}, {PngPixels::Bgra32, Content::Photo, 4000, 7},
    {PngPixels::Bgr24, Content::Smooth, 640, 2.5},   {PngPixels::Index8, Content::Smooth, 3000, 1.003},
};

TEST(Bands, SameBytesWithAnyPoolOnEveryPathAndEveryReaderAgrees)
{
    PngWorkers one(1), two(2), three(3);
    std::set<pngcore::Coder> coders;
    for (const BandCase& c : kCases) {
        const uint32_t rows = BandRowsOf(c.width, c.pixels);
        const uint32_t height = c.bands == 1.003 ? rows + 1 : static_cast<uint32_t>(rows * c.bands);
        const size_t bands = pngcore::BandCount(height, rows);
        SCOPED_TRACE(testing::Message() << PixelsName(c.pixels) << " " << ContentName(c.content) << " "
                                        << c.width << "x" << height << ", " << bands << " bands");
        const Frame frame = MakeFrame(c.width, height, c.pixels, c.content, 3);
        coders.insert(pngcore::CoderFor(frame.Source()));
        std::vector<uint8_t> reference;
        {
            ForcedPath portable(PngSimdPath::Portable);
            ASSERT_TRUE(EncodePng(frame.Source(), reference));
        }
        const std::vector<ChunkAt> chunks = ChunksOf(reference);
        EXPECT_EQ(CountOf(chunks, "IDAT"), bands);
        EXPECT_EQ(CountOf(chunks, pngcore::kBandMapType), bands > 1 ? 1u : 0u);
        // Every coder starts a band with a filter that does not look above
        // it, however much it favours Up; else readers must wait for the
        // band before.
        const std::vector<uint8_t> filters = RowFilters(reference, height, frame.RowBytes());
        for (size_t b = 1; b < bands; ++b)
            EXPECT_LE(filters[b * rows], 1) << "band " << b;
        for (PngSimdPath path : AvailablePaths()) {
            ForcedPath forced(path);
            for (PngWorkers* pool : {static_cast<PngWorkers*>(nullptr), &one, &two, &three}) {
                std::vector<uint8_t> png;
                ASSERT_TRUE(EncodePng(frame.Source(), png, pool));
                EXPECT_EQ(png, reference) << PathName(path) << ", " << (pool ? pool->Threads() : 0) << " threads";
            }
            for (PngWorkers* pool : {static_cast<PngWorkers*>(nullptr), &two}) {
                DecodedPng banded, serial;
                ASSERT_TRUE(pngcore::DecodePlainPng(reference.data(), reference.size(), banded, pool));
                EXPECT_TRUE(SamePixels(frame, banded)) << PathName(path);
                const std::vector<uint8_t> plain = WithoutMap(reference);
                ASSERT_TRUE(pngcore::DecodePlainPng(plain.data(), plain.size(), serial, pool));
                EXPECT_TRUE(SamePixels(frame, serial));
                // Our own maps never send a frame to the serial path, whose
                // pixels would hide a fault of the banded one.
                DecodedPng direct;
                if (bands > 1) {
                    EXPECT_TRUE(BandedOnly(reference, frame, direct, pool)) << PathName(path);
                    EXPECT_TRUE(SamePixels(frame, direct));
                }
            }
        }
        if (bands > 1) {
            // The map says whether libdeflate wrote the bands; a wrong
            // word changes the speed of reading, not the pixels.
            const auto& map = *std::find_if(chunks.begin(), chunks.end(),
                                            [](const ChunkAt& chunk) { return chunk.type == pngcore::kBandMapType; });
            EXPECT_EQ(reference[map.at + 9], pngcore::CoderFor(frame.Source()) != pngcore::Coder::Libdeflate);
            const std::vector<uint8_t> flipped = EditMap(reference, [](uint8_t* m, size_t) { m[1] ^= 1; });
            DecodedPng decoded;
            ASSERT_TRUE(pngcore::DecodePlainPng(flipped.data(), flipped.size(), decoded, nullptr));
            EXPECT_TRUE(SamePixels(frame, decoded));
        }
        DecodedPng bySpng;
        ASSERT_TRUE(ReferenceDecode(reference.data(), reference.size(), bySpng));
        EXPECT_TRUE(SamePixels(frame, bySpng));
    }
    // The cases exist to put every coder's bands through this.
    EXPECT_EQ(coders.size(), 3u);
}

TEST(Bands, MatchFreeFramesWhoseSampleAgreesGiveEveryRowThatFilter)
{
    // Grain, and every 32nd row a grainy ramp that alone would take Sub: most
    // sampled rows agree, and every row but a band's first, which may not
    // look above it, takes their filter.
    const uint32_t rows = BandRowsOf(640, PngPixels::Bgr24);
    Frame frame = MakeFrame(640, 2 * rows + 5, PngPixels::Bgr24, Content::Photo, 4);
    std::mt19937 rng(8);
    for (uint32_t r = 3; r < frame.height; r += 32) {
        for (size_t x = 0; x < frame.RowBytes(); ++x)
            frame.bytes[r * frame.stride + x] = static_cast<uint8_t>(x / 3 + rng() % 4);
    }
    ASSERT_EQ(pngcore::CoderFor(frame.Source()), pngcore::Coder::MatchFree);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(frame.Source(), png));
    const std::vector<uint8_t> filters = RowFilters(png, frame.height, frame.RowBytes());
    std::set<uint8_t> taken;
    for (size_t r = 1; r < filters.size(); ++r) {
        if (r % rows == 0)
            EXPECT_LE(filters[r], 1) << "row " << r;
        else
            taken.insert(filters[r]);
    }
    EXPECT_EQ(taken.size(), 1u);
    DecodedPng decoded;
    ASSERT_TRUE(DecodePng(png.data(), png.size(), decoded));
    EXPECT_TRUE(SamePixels(frame, decoded));
}

// A terminal: lines of 8x16 glyphs from a small set, in two colours.
Frame Terminal(uint32_t width, uint32_t height)
{
    std::mt19937 rng(11);
    uint16_t glyphs[48][16];
    for (auto& glyph : glyphs)
        for (uint16_t& line : glyph)
            line = static_cast<uint16_t>(rng() & 0xFF);
    Frame f = MakeFrame(width, height, PngPixels::Bgr24, Content::Flat);
    for (uint32_t cy = 0; cy + 16 <= height; cy += 16) {
        const uint32_t length = static_cast<uint32_t>(rng() % (width / 8));
        for (uint32_t cx = 0; cx < width / 8; ++cx) {
            const size_t g = cx < length ? rng() % 48 : 0;
            for (uint32_t y = 0; y < 16; ++y) {
                for (uint32_t x = 0; x < 8; ++x) {
                    const bool ink = g != 0 && (glyphs[g][y] >> x & 1) != 0;
                    uint8_t* pixel = f.bytes.data() + (cy + y) * f.stride + (cx * 8 + x) * 3;
                    pixel[0] = ink ? 0xE0 : 0x30;
                    pixel[1] = ink ? 0xE0 : 0x24;
                    pixel[2] = ink ? 0xD0 : 0x20;
                }
            }
        }
    }
    return f;
}

TEST(Bands, ScreensGoOutUnfilteredWhereThatIsSmallerAndGradientsKeepTheirFilters)
{
    struct Case {
        const char* name;
        Frame frame;
        bool unfiltered;
    };
    const Case cases[] = {{"terminal", Terminal(320, 480), true},
                          {"gradient", MakeFrame(320, 480, PngPixels::Bgr24, Content::Gradient, 5), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(pngcore::CoderFor(c.frame.Source()), pngcore::Coder::Matching);
        std::vector<uint8_t> png;
        ASSERT_TRUE(EncodePng(c.frame.Source(), png));
        const std::vector<uint8_t> filters = RowFilters(png, c.frame.height, c.frame.RowBytes());
        const bool none = std::all_of(filters.begin(), filters.end(), [](uint8_t f) { return f == 0; });
        EXPECT_EQ(none, c.unfiltered);
        DecodedPng decoded;
        ASSERT_TRUE(DecodePng(png.data(), png.size(), decoded));
        EXPECT_TRUE(SamePixels(c.frame, decoded));
    }
}

TEST(Bands, ThreadsStartWithTheFirstBandedFrame)
{
    PngWorkers pool(3);
    EXPECT_EQ(pool.Threads(), 3u);
    std::vector<uint8_t> png;
    const Frame small = MakeFrame(64, 64, PngPixels::Bgr24, Content::Photo);
    ASSERT_TRUE(EncodePng(small.Source(), png, &pool));
    DecodedPng decoded;
    ASSERT_TRUE(DecodePng(png.data(), png.size(), decoded, &pool));
    EXPECT_EQ(pool.Started(), 0u);
    const Frame large = MakeFrame(512, 2 * BandRowsOf(512, PngPixels::Bgr24), PngPixels::Bgr24, Content::Photo);
    ASSERT_TRUE(EncodePng(large.Source(), png, &pool));
    EXPECT_EQ(pool.Started(), 2u);
}

// A banded frame whose map is then mangled: every reader must still give
// the exact pixels, through the serial path.
struct MangledMap {
    const char* what;
    MapEdit edit;
};

const MangledMap kMangled[] = {
    {"offset past the chunk", [](uint8_t* m, size_t) { PutBe32At(m + 8 + 16 + 12, 0x7FFFFFF0); }},
    {"chunk index past the last", [](uint8_t* m, size_t) { PutBe32At(m + 8 + 32 + 8, 9); }},
    {"bands overlap", [](uint8_t* m, size_t) { PutBe32At(m + 8 + 16 + 8, 0); PutBe32At(m + 8 + 16 + 12, 2); }},
    {"rows moved between bands", [](uint8_t* m, size_t) {
         PutBe32At(m + 8 + 4, png_bytes::GetBe32(m + 8 + 4) + 1);
         PutBe32At(m + 8 + 16, png_bytes::GetBe32(m + 8 + 16) + 1);
         PutBe32At(m + 8 + 20, png_bytes::GetBe32(m + 8 + 20) - 1); }},
    {"too few rows", [](uint8_t* m, size_t) { PutBe32At(m + 8 + 32 + 4, png_bytes::GetBe32(m + 8 + 32 + 4) - 1); }},
    {"huge band count", [](uint8_t* m, size_t) { PutBe32At(m + 4, 0xFFFFFFFF); }},
    {"one band for three chunks", [](uint8_t* m, size_t) { PutBe32At(m + 4, 1); PutBe32At(m + 8 + 4, 0); }},
    {"unknown version", [](uint8_t* m, size_t) { m[0] = 2; }},
    {"unknown flag", [](uint8_t* m, size_t) { m[1] |= 2; }},
    {"rows start past zero", [](uint8_t* m, size_t) { PutBe32At(m + 8, 1); }},
};

TEST(Bands, MangledMapsFallBackToTheRightPixels)
{
    PngWorkers pool(2);
    const uint32_t rows = BandRowsOf(300, PngPixels::Bgr24);
    const Frame frame = MakeFrame(300, 3 * rows, PngPixels::Bgr24, Content::Photo, 9);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(frame.Source(), png));
    ASSERT_EQ(CountOf(ChunksOf(png), "IDAT"), 3u);
    for (const MangledMap& mangled : kMangled) {
        SCOPED_TRACE(mangled.what);
        const std::vector<uint8_t> edited = EditMap(png, mangled.edit);
        ASSERT_NE(edited, png);
        DecodedPng decoded;
        ASSERT_TRUE(DecodePng(edited.data(), edited.size(), decoded, &pool));
        EXPECT_TRUE(SamePixels(frame, decoded));
    }
    // A wrong Adler-32 is a damaged file, map or not.
    std::vector<uint8_t> badAdler = png;
    const ChunkAt last = ChunksOf(png)[CountOf(ChunksOf(png), "IDAT") + 1];
    badAdler[last.at + 8 + last.length - 1] ^= 1;
    PutBe32At(badAdler.data() + last.at + 8 + last.length,
              libdeflate_crc32(0, badAdler.data() + last.at + 4, last.length + 4));
    DecodedPng decoded;
    EXPECT_FALSE(DecodePng(badAdler.data(), badAdler.size(), decoded, &pool));
}

// Another writer's banded file: every row filtered Up (so each band but the
// first must wait for the one above), bands as stored blocks.
TEST(Bands, BandsThatLookAboveThemWaitForTheBandBefore)
{
    const uint32_t width = 40, height = 30, bandRows = 7;
    const Frame frame = MakeFrame(width, height, PngPixels::Index8, Content::Gradient, 2);
    std::vector<std::vector<uint8_t>> idat;
    std::vector<pngcore::Band> bands;
    std::vector<uint8_t> all;
    for (uint32_t first = 0; first < height; first += bandRows) {
        const uint32_t count = std::min(bandRows, height - first);
        std::vector<uint8_t> raw;
        for (uint32_t r = first; r < first + count; ++r) {
            raw.push_back(2);
            for (uint32_t x = 0; x < width; ++x)
                raw.push_back(uint8_t(frame.Row(r)[x] - (r == 0 ? 0 : frame.Row(r - 1)[x])));
        }
        all.insert(all.end(), raw.begin(), raw.end());
        const bool last = first + count == height;
        std::vector<uint8_t> data = first == 0 ? std::vector<uint8_t>{0x78, 0x01} : std::vector<uint8_t>{};
        data.insert(data.end(), {uint8_t(last ? 1 : 0), uint8_t(raw.size()), uint8_t(raw.size() >> 8),
                                 uint8_t(~raw.size()), uint8_t(~raw.size() >> 8)});
        data.insert(data.end(), raw.begin(), raw.end());
        bands.push_back({first, count, uint32_t(idat.size()), first == 0 ? 2u : 0u});
        idat.push_back(std::move(data));
    }
    png_bytes::PutBe32(idat.back(), libdeflate_adler32(1, all.data(), all.size()));
    const std::vector<uint8_t> map = pngcore::WriteBandMap(bands);
    std::vector<uint8_t> png = png_bytes::Signature();
    png_bytes::Chunk(png, "IHDR", png_bytes::Ihdr(width, height, 8, 0));
    png_bytes::Chunk(png, pngcore::kBandMapType, map);
    for (const auto& data : idat)
        png_bytes::Chunk(png, "IDAT", data);
    png_bytes::Chunk(png, "IEND", {});

    PngWorkers pool(2);
    DecodedPng decoded;
    ASSERT_TRUE(pngcore::DecodePlainPng(png.data(), png.size(), decoded, &pool));
    EXPECT_TRUE(SamePixels(frame, decoded));
}

} // namespace
