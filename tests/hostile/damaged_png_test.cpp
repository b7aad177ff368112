// Damaged frames: every truncation, every broken CRC, broken zlib streams,
// impossible headers and misplaced chunks. Each must be reported as
// ICERR_ERROR with the output left exactly as it was.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/hostile/hostile.h"
#include "tests/hostile/png_bytes.h"

namespace {

using namespace png_bytes;

constexpr uint32_t kWidth = 13;
constexpr uint32_t kHeight = 7;

// A 13x7 RGB image whose rows are easy to tell apart.
std::vector<uint8_t> RgbRows()
{
    return Rows(kWidth * 3, kHeight, [](uint32_t x, uint32_t y) { return x * 7 + y * 31; });
}

std::vector<uint8_t> GoodPng() { return Png(Ihdr(kWidth, kHeight, 8, 2), Zlib(RgbRows())); }

// Replaces the data of chunk `index` and recomputes its CRC: the damage is
// then in the data itself, not in the framing.
std::vector<uint8_t> WithChunkData(const std::vector<uint8_t>& png, size_t index,
                                   const std::vector<uint8_t>& data)
{
    const std::vector<ChunkAt> chunks = Chunks(png);
    std::vector<uint8_t> out(png.begin(), png.begin() + static_cast<ptrdiff_t>(chunks[index].offset));
    Chunk(out, chunks[index].type.c_str(), data);
    const size_t after = chunks[index].offset + chunks[index].length + 12;
    out.insert(out.end(), png.begin() + static_cast<ptrdiff_t>(after), png.end());
    return out;
}

void ExpectRefused(const std::vector<uint8_t>& png, const std::string& what)
{
    CodecSession codec;
    const DecompressResult result = DecodeInto(codec.id(), png, kWidth, kHeight, 24);
    EXPECT_EQ(result.result, ICERR_ERROR) << what;
    EXPECT_TRUE(Untouched(result)) << what;
    EXPECT_TRUE(result.guardsIntact) << what;
}

TEST(DamagedPng, TheUndamagedControlDecodes)
{
    CodecSession codec;
    const DecompressResult result = DecodeInto(codec.id(), GoodPng(), kWidth, kHeight, 24);
    ASSERT_EQ(result.result, ICERR_OK);
    const std::vector<uint8_t> raw = RgbRows();
    const int32_t rowBytes = DibRowBytes(24, kWidth);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            for (uint32_t c = 0; c < 3; ++c)
                ASSERT_EQ(result.rows[y * rowBytes + x * 3 + c], raw[y * (kWidth * 3 + 1) + 1 + x * 3 + 2 - c]);
}

TEST(DamagedPng, EveryTruncationIsRefused)
{
    // Frames of the codec's own at every depth, and a foreign interlaced one.
    CodecSession codec;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> sources;
    for (uint16_t depth : {8, 16, 24, 32}) {
        Frame frame(9, 5, depth);
        frame.FillRandom(depth);
        frame.format.header.biSizeImage += 300;
        frame.rows.resize(frame.format.header.biSizeImage);
        const CompressResult compressed = CompressFrame(codec.id(), frame);
        ASSERT_EQ(compressed.result, ICERR_OK) << depth;
        sources.emplace_back(depth, compressed.frame.bytes);
    }
    sources.emplace_back(24, Png(Ihdr(kWidth, kHeight, 8, 2, 1), Zlib(RgbRows())));

    for (const auto& [depth, png] : sources) {
        for (size_t cut = 0; cut < png.size(); ++cut) {
            const std::vector<uint8_t> prefix(png.begin(), png.begin() + static_cast<ptrdiff_t>(cut));
            const DecompressResult result = DecompressInto(
                codec.id(), MpngHeader(9, 5, depth, cut), prefix.data(), DibHeader(9, 5, depth, 0), kUntouched);
            ASSERT_EQ(result.result, cut == 0 ? ICERR_OK : ICERR_ERROR) << depth << " cut at " << cut;
            ASSERT_TRUE(Untouched(result)) << depth << " cut at " << cut;
            ASSERT_TRUE(result.guardsIntact) << depth << " cut at " << cut;
        }
    }
}

TEST(DamagedPng, EveryCrcByteOfEveryChunkIsChecked)
{
    std::vector<uint8_t> png = Signature();
    Chunk(png, "IHDR", Ihdr(kWidth, kHeight, 8, 2));
    Chunk(png, "tEXt", {'a', 0, 'b'});
    const std::vector<uint8_t> idat = Zlib(RgbRows());
    // Two IDAT chunks, so that damage in the last one after the image is
    // complete is still seen.
    Chunk(png, "IDAT", {idat.begin(), idat.begin() + 10});
    Chunk(png, "IDAT", {idat.begin() + 10, idat.end()});
    Chunk(png, "IEND", {});

    for (const ChunkAt& chunk : Chunks(png)) {
        for (size_t i = 0; i < 4; ++i) {
            std::vector<uint8_t> damaged = png;
            damaged[chunk.offset + 8 + chunk.length + i] ^= 0x20;
            ExpectRefused(damaged, chunk.type + " CRC byte " + std::to_string(i));
        }
        // A changed data or type byte under an unchanged CRC.
        std::vector<uint8_t> damaged = png;
        damaged[chunk.offset + 4 + chunk.length] ^= 0x01;
        ExpectRefused(damaged, chunk.type + " body");
    }
}

struct ZlibDamage {
    const char* what;
    std::vector<uint8_t> (*make)();
};

std::ostream& operator<<(std::ostream& out, const ZlibDamage& d) { return out << d.what; }

std::vector<uint8_t> GoodZlib() { return Zlib(RgbRows()); }

// The good stream under another two-byte header, its check bits made right
// so that only the named field is wrong.
std::vector<uint8_t> WithHeader(uint8_t cmf, uint8_t flagBits)
{
    std::vector<uint8_t> z = GoodZlib();
    const auto check = static_cast<uint8_t>((31 - (cmf * 256u + flagBits) % 31) % 31);
    z[0] = cmf;
    z[1] = static_cast<uint8_t>(flagBits | check);
    return z;
}

const ZlibDamage kZlibDamage[] = {
    {"header check bits", [] { auto z = GoodZlib(); z[1] ^= 0x01; return z; }},
    {"method not deflate", [] { return WithHeader(0x79, 0x80); }},
    {"window over 32K", [] { return WithHeader(0x88, 0x80); }},
    {"preset dictionary", [] { return WithHeader(0x78, 0xA0); }},
    {"Adler-32", [] { auto z = GoodZlib(); z.back() ^= 0x55; return z; }},
    {"reserved block type", [] { return std::vector<uint8_t>{0x78, 0x01, 0x07, 0x00, 0x00}; }},
    {"stored length check", [] { return std::vector<uint8_t>{0x78, 0x01, 0x01, 0x05, 0x00, 0x05, 0x00, 1, 2, 3, 4, 5}; }},
    {"stream cut short", [] { auto z = GoodZlib(); z.resize(z.size() / 2); return z; }},
    {"no stream at all", [] { return std::vector<uint8_t>{}; }},
    {"only the zlib header", [] { return std::vector<uint8_t>{0x78, 0x9C}; }},
    {"one row short", [] { auto raw = RgbRows(); raw.resize(raw.size() - (kWidth * 3 + 1)); return Zlib(raw); }},
    {"one byte short", [] { auto raw = RgbRows(); raw.pop_back(); return Zlib(raw); }},
    {"filter type 5", [] { auto raw = RgbRows(); raw[2 * (kWidth * 3 + 1)] = 5; return Zlib(raw); }},
    {"filter type 255", [] { auto raw = RgbRows(); raw[0] = 255; return Zlib(raw); }},
};

class ZlibDamageTest : public testing::TestWithParam<ZlibDamage> {};

TEST_P(ZlibDamageTest, IsRefused)
{
    const ZlibDamage& damage = GetParam();
    // The IDAT is rebuilt with a correct CRC: only the zlib data is wrong.
    ExpectRefused(WithChunkData(GoodPng(), 1, damage.make()), damage.what);
}

INSTANTIATE_TEST_SUITE_P(Streams, ZlibDamageTest, testing::ValuesIn(kZlibDamage));

struct IhdrDamage {
    const char* what;
    std::vector<uint8_t> ihdr;
};

std::ostream& operator<<(std::ostream& out, const IhdrDamage& d) { return out << d.what; }

std::vector<uint8_t> IhdrBytes(uint32_t width, uint32_t height, uint8_t depth, uint8_t color,
                               uint8_t interlace = 0, uint8_t compression = 0, uint8_t filter = 0)
{
    return Ihdr(width, height, depth, color, interlace, compression, filter);
}

const IhdrDamage kIhdrDamage[] = {
    {"width 0", IhdrBytes(0, kHeight, 8, 2)},
    {"height 0", IhdrBytes(kWidth, 0, 8, 2)},
    {"width 2^31", IhdrBytes(0x80000000u, kHeight, 8, 2)},
    {"height 2^32-1", IhdrBytes(kWidth, 0xFFFFFFFFu, 8, 2)},
    {"RGB of 4 bits", IhdrBytes(kWidth, kHeight, 4, 2)},
    {"gray of 3 bits", IhdrBytes(kWidth, kHeight, 3, 0)},
    {"gray of 32 bits", IhdrBytes(kWidth, kHeight, 32, 0)},
    {"colour type 1", IhdrBytes(kWidth, kHeight, 8, 1)},
    {"colour type 5", IhdrBytes(kWidth, kHeight, 8, 5)},
    {"colour type 7", IhdrBytes(kWidth, kHeight, 8, 7)},
    {"compression method 1", IhdrBytes(kWidth, kHeight, 8, 2, 0, 1)},
    {"filter method 1", IhdrBytes(kWidth, kHeight, 8, 2, 0, 0, 1)},
    {"interlace method 2", IhdrBytes(kWidth, kHeight, 8, 2, 2)},
    {"12 bytes long", [] { auto h = IhdrBytes(kWidth, kHeight, 8, 2); h.pop_back(); return h; }()},
    {"14 bytes long", [] { auto h = IhdrBytes(kWidth, kHeight, 8, 2); h.push_back(0); return h; }()},
};

class IhdrDamageTest : public testing::TestWithParam<IhdrDamage> {};

TEST_P(IhdrDamageTest, IsRefused)
{
    const IhdrDamage& damage = GetParam();
    ExpectRefused(Png(damage.ihdr, Zlib(RgbRows())), damage.what);
}

INSTANTIATE_TEST_SUITE_P(Headers, IhdrDamageTest, testing::ValuesIn(kIhdrDamage));

TEST(DamagedPng, MisplacedAndMissingChunksAreRefused)
{
    const std::vector<uint8_t> ihdr = Ihdr(kWidth, kHeight, 8, 2);
    const std::vector<uint8_t> idat = Zlib(RgbRows());
    struct Layout {
        const char* what;
        std::vector<std::pair<const char*, std::vector<uint8_t>>> chunks;
    };
    const Layout layouts[] = {
        {"no IHDR", {{"IDAT", idat}, {"IEND", {}}}},
        {"IDAT before IHDR", {{"IDAT", idat}, {"IHDR", ihdr}, {"IEND", {}}}},
        {"two IHDR", {{"IHDR", ihdr}, {"IHDR", ihdr}, {"IDAT", idat}, {"IEND", {}}}},
        {"no IDAT", {{"IHDR", ihdr}, {"IEND", {}}}},
        {"palette image without PLTE", {{"IHDR", Ihdr(kWidth, kHeight, 8, 3)}, {"IDAT", Zlib(Rows(kWidth, kHeight, [](uint32_t, uint32_t) { return 0; }))}, {"IEND", {}}}},
        {"unknown critical chunk", {{"IHDR", ihdr}, {"ZZZZ", {1, 2, 3}}, {"IDAT", idat}, {"IEND", {}}}},
        {"PLTE of 4 bytes", {{"IHDR", Ihdr(kWidth, kHeight, 8, 3)}, {"PLTE", {1, 2, 3, 4}}, {"IDAT", Zlib(Rows(kWidth, kHeight, [](uint32_t, uint32_t) { return 0; }))}, {"IEND", {}}}},
    };
    for (const Layout& layout : layouts) {
        std::vector<uint8_t> png = Signature();
        for (const auto& [type, data] : layout.chunks)
            Chunk(png, type, data);
        ExpectRefused(png, layout.what);
    }
}

TEST(DamagedPng, ChunkLengthsBeyondTheFrameAreRefused)
{
    for (uint32_t length : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 1000u}) {
        std::vector<uint8_t> png = Signature();
        Chunk(png, "IHDR", Ihdr(kWidth, kHeight, 8, 2));
        PutBe32(png, length);  // a tEXt chunk claiming more bytes than follow
        png.insert(png.end(), {'t', 'E', 'X', 't', 'a', 0, 'b'});
        Chunk(png, "IDAT", Zlib(RgbRows()));
        Chunk(png, "IEND", {});
        ExpectRefused(png, "length " + std::to_string(length));
    }
}

TEST(DamagedPng, NotAPngSignatureIsRefused)
{
    std::vector<uint8_t> png = GoodPng();
    for (size_t i = 0; i < 8; ++i) {
        std::vector<uint8_t> damaged = png;
        damaged[i] ^= 0x40;
        ExpectRefused(damaged, "signature byte " + std::to_string(i));
    }
}

}  // namespace
