// Files the reader must refuse cleanly, and shapes of valid files other
// writers make. No size in a file is trusted.
#include <cstring>
#include <random>

#include <ostream>

#include <gtest/gtest.h>

#include "avi_reader.h"
#include "avi_test_files.h"

namespace {

std::vector<uint8_t> Header40(int32_t width, int32_t height, uint16_t bitCount)
{
    RiffBuilder b;
    b.U32(40).U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(height));
    b.U32(1u | uint32_t{bitCount} << 16).Tag("MPNG").U32(0).U32(0).U32(0).U32(0).U32(0);
    return b.Data();
}

std::vector<uint8_t> Strh(const char (&type)[5])
{
    RiffBuilder b;
    b.Tag(type).Tag("MPNG").U32(0).U32(0).U32(0).U32(1).U32(25);
    for (int i = 0; i < 7; ++i)
        b.U32(0);
    return b.Data();
}

// RIFF AVI with one video stream and frames of the given sizes.
std::vector<uint8_t> SmallAvi(const std::vector<uint32_t>& frameSizes)
{
    RiffBuilder b;
    b.Open("RIFF").Tag("AVI ");
    b.Open("LIST").Tag("hdrl");
    b.Open("LIST").Tag("strl");
    b.Open("strh").Bytes(Strh("vids")).Close();
    b.Open("strf").Bytes(Header40(4, 2, 24)).Close();
    b.Close().Close();
    b.Open("LIST").Tag("movi");
    uint8_t seed = 0;
    for (uint32_t size : frameSizes) {
        b.Open("00dc");
        for (uint32_t i = 0; i < size; ++i)
            b.Bytes({seed++});
        b.Close();
    }
    b.Close();
    b.Close();
    return b.Data();
}

std::string ErrorOf(const std::vector<uint8_t>& bytes)
{
    ScratchFile file;
    file.Write(bytes);
    try {
        AviReader reader(file.Path());
    } catch (const AviError& error) {
        return error.what();
    }
    return {};
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(AviHostile, ValidSmallFileReads)
{
    ScratchFile file;
    file.Write(SmallAvi({5, 0, 6}));
    AviReader reader(file.Path());
    ASSERT_EQ(reader.Frames().size(), 3u);
    EXPECT_EQ(reader.Frames()[0].size, 5u);
    EXPECT_EQ(reader.Frames()[1].size, 0u);
    std::vector<uint8_t> bytes;
    reader.ReadFrame(2, bytes);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{5, 6, 7, 8, 9, 10}));
}

struct RefusalCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* expected;
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c)
{
    return out << c.name;
}

class AviRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(AviRefusal, NamesWhatIsWrong)
{
    const std::string error = ErrorOf(GetParam().bytes);
    EXPECT_TRUE(Contains(error, GetParam().expected)) << "got: " << error;
    EXPECT_TRUE(Contains(error, "talverox-")) << "the message names the file: " << error;
}

std::vector<uint8_t> Text(const char* text)
{
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

std::vector<uint8_t> WaveFile()
{
    RiffBuilder b;
    b.Open("RIFF").Tag("WAVE").Open("fmt ").Bytes(std::vector<uint8_t>(16)).Close().Close();
    return b.Data();
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes, size_t keep)
{
    bytes.resize(keep);
    return bytes;
}

// A valid file whose 'movi' list claims fewer bytes than its chunk needs.
std::vector<uint8_t> ChunkPastList()
{
    std::vector<uint8_t> bytes = SmallAvi({16});
    const auto movi = std::search(bytes.begin(), bytes.end(), "movi", "movi" + 4) - bytes.begin();
    bytes[static_cast<size_t>(movi) - 4] = 12;  // list size: 'movi' and a chunk header only
    return bytes;
}

std::vector<uint8_t> WithFormat(const std::vector<uint8_t>& strf)
{
    RiffBuilder b;
    b.Open("RIFF").Tag("AVI ").Open("LIST").Tag("hdrl").Open("LIST").Tag("strl");
    b.Open("strh").Bytes(Strh("vids")).Close().Open("strf").Bytes(strf).Close();
    b.Close().Close().Open("LIST").Tag("movi").Close().Close();
    return b.Data();
}

std::vector<uint8_t> AudioOnly()
{
    RiffBuilder b;
    b.Open("RIFF").Tag("AVI ").Open("LIST").Tag("hdrl").Open("LIST").Tag("strl");
    b.Open("strh").Bytes(Strh("auds")).Close().Open("strf").Bytes(std::vector<uint8_t>(18)).Close();
    b.Close().Close().Open("LIST").Tag("movi").Open("00wb").Bytes({1, 2}).Close().Close().Close();
    return b.Data();
}

std::vector<uint8_t> MoviFirst()
{
    RiffBuilder b;
    b.Open("RIFF").Tag("AVI ").Open("LIST").Tag("movi").Open("00dc").Bytes({1}).Close().Close();
    b.Close();
    return b.Data();
}

std::vector<uint8_t> DeeplyNested()
{
    RiffBuilder b;
    b.Open("RIFF").Tag("AVI ").Open("LIST").Tag("hdrl").Open("LIST").Tag("strl");
    b.Open("strh").Bytes(Strh("vids")).Close().Open("strf").Bytes(Header40(4, 2, 24)).Close();
    b.Close().Close().Open("LIST").Tag("movi");
    for (int i = 0; i < 10; ++i)
        b.Open("LIST").Tag("rec ");
    for (int i = 0; i < 10; ++i)
        b.Close();
    b.Close().Close();
    return b.Data();
}

INSTANTIATE_TEST_SUITE_P(
    Files, AviRefusal,
    ::testing::Values(
        RefusalCase{"Text", Text("hello, this is not a video file"), "not an AVI"},
        RefusalCase{"Empty", {}, "not an AVI"},
        RefusalCase{"Wave", WaveFile(), "not an AVI"},
        RefusalCase{"CutInHeaders", Truncated(SmallAvi({40, 40}), 60), "truncated"},
        RefusalCase{"CutInFirstList", Truncated(SmallAvi({40, 40}), 20), "truncated"},
        RefusalCase{"CutInFirstFrame", Truncated(SmallAvi({40, 40}), 180),
                    "no whole frame before the cut"},
        RefusalCase{"ChunkPastItsList", ChunkPastList(), "damaged"},
        RefusalCase{"ShortFormat", WithFormat(std::vector<uint8_t>(20)), "damaged"},
        RefusalCase{"ZeroWidth", WithFormat(Header40(0, 2, 24)), "implausible"},
        RefusalCase{"HugeHeight", WithFormat(Header40(4, 1 << 30, 24)), "implausible"},
        RefusalCase{"AudioOnly", AudioOnly(), "no video stream"},
        RefusalCase{"FramesBeforeHeaders", MoviFirst(), "before any video stream header"},
        RefusalCase{"NestedTooDeeply", DeeplyNested(), "nested too deeply"}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) { return param.param.name; });

TEST(AviHostile, SecondStreamIsFoundByItsOwnChunkIds)
{
    RiffBuilder b;
    b.Open("RIFF").Tag("AVI ").Open("LIST").Tag("hdrl");
    b.Open("LIST").Tag("strl").Open("strh").Bytes(Strh("auds")).Close();
    b.Open("strf").Bytes(std::vector<uint8_t>(18)).Close().Close();
    b.Open("LIST").Tag("strl").Open("strh").Bytes(Strh("vids")).Close();
    b.Open("strf").Bytes(Header40(4, 2, 24)).Close().Close();
    b.Close();
    b.Open("LIST").Tag("movi");
    b.Open("00wb").Bytes({9, 9, 9}).Close();
    b.Open("01dc").Bytes({1, 2}).Close();
    b.Open("JUNK").Bytes({0, 0, 0, 0}).Close();
    b.Open("LIST").Tag("rec ").Open("01db").Bytes({3}).Close().Close();
    b.Close().Close();
    ScratchFile file;
    file.Write(b.Data());
    AviReader reader(file.Path());
    ASSERT_EQ(reader.Frames().size(), 2u);
    EXPECT_EQ(reader.Frames()[0].size, 2u);
    EXPECT_EQ(reader.Frames()[1].size, 1u);
}

// Every prefix of a valid file, with its RIFF size made to agree, either
// reads with every frame inside the file or is refused; nothing else.
TEST(AviHostile, EveryPrefixReadsInsideTheFileOrIsRefused)
{
    const std::vector<uint8_t> whole = SmallAvi({7, 0, 12, 3});
    for (size_t keep = 12; keep < whole.size(); ++keep) {
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(keep));
        const auto riff = static_cast<uint32_t>(keep - 8);
        std::memcpy(&bytes[4], &riff, 4);
        ScratchFile file;
        file.Write(bytes);
        try {
            AviReader reader(file.Path());
            for (const AviFrame& frame : reader.Frames())
                EXPECT_LE(frame.offset + frame.size, keep) << "prefix " << keep;
        } catch (const AviError&) {
        }
    }
}

// Random damage anywhere: refused or read within the file, never a crash
// or a read past the end.
TEST(AviHostile, RandomByteDamageIsContained)
{
    const std::vector<uint8_t> whole = SmallAvi({30, 1, 0, 17});
    std::mt19937 random(1234);
    ScratchFile file;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = whole;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        file.Write(bytes);
        try {
            AviReader reader(file.Path());
            std::vector<uint8_t> frame;
            for (size_t f = 0; f < reader.Frames().size(); ++f) {
                ASSERT_LE(reader.Frames()[f].offset + reader.Frames()[f].size, bytes.size());
                reader.ReadFrame(f, frame);
            }
        } catch (const AviError&) {
        }
    }
}

} // namespace
