// Several instances compressing and decompressing at once, one thread per
// instance. Instances share only the process-wide runtime (the encoder's
// class id), so every thread must get exactly the bytes a lone thread gets,
// and every frame must come back bit-exact. Opens and closes may come from
// several threads at once too: the runtime starts and stops under a lock.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>
#include <tuple>

#include "platform/png/png.h"
#include "platform/png/worker_pool.h"
#include "platform/test_hooks.h"
#include "tests/support/frames.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 3;

// The frames every thread works through: each depth, rows that need
// padding, and content from flat to noisy.
std::vector<Frame> MakeFrames()
{
    std::vector<Frame> frames;
    uint32_t seed = 1;
    for (uint16_t depth : {8, 16, 24, 32})
        for (auto [width, height] : {std::pair{33, 17}, std::pair{96, 64}}) {
            Frame frame(width, height, depth);
            frame.FillRandom(seed++);
            if (seed % 2 == 0)
                for (auto& b : frame.rows)
                    b &= 0x03;  // compressible: longer matches, other code paths
            // Row padding is not picture: the decoder writes its own there.
            for (int32_t r = 0; r < height; ++r)
                std::memset(frame.Row(r) + frame.PixelBytes(), 0, frame.RowBytes() - frame.PixelBytes());
            frames.push_back(std::move(frame));
        }
    return frames;
}

struct Outcome {
    std::vector<std::vector<uint8_t>> compressed;  // per frame, last round
    int failures = 0;                              // failed or inexact round trips
};

void Work(DWORD_PTR id, std::vector<Frame> frames, std::barrier<>& start, Outcome& outcome)
{
    start.arrive_and_wait();
    outcome.compressed.resize(frames.size());
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < frames.size(); ++i) {
            const CompressResult compressed = CompressFrame(id, frames[i]);
            if (compressed.result != ICERR_OK || !compressed.guardsIntact) {
                ++outcome.failures;
                continue;
            }
            const DecompressResult decompressed = DecompressFrame(id, compressed.frame);
            if (decompressed.result != ICERR_OK || !decompressed.guardsIntact ||
                decompressed.rows != frames[i].rows)
                ++outcome.failures;
            outcome.compressed[i] = compressed.frame.bytes;
        }
    }
}

TEST(Threads, InstancesCompressAndDecompressAtOnce)
{
    const std::vector<Frame> frames = MakeFrames();

    // What one thread alone makes of each frame.
    std::vector<std::vector<uint8_t>> expected;
    {
        CodecSession alone;
        ASSERT_NE(alone.id(), 0u);
        for (Frame frame : frames) {
            const CompressResult compressed = CompressFrame(alone.id(), frame);
            ASSERT_EQ(compressed.result, ICERR_OK);
            expected.push_back(compressed.frame.bytes);
        }
    }

    std::vector<DWORD_PTR> ids;
    for (int t = 0; t < kThreads; ++t) {
        ids.push_back(OpenCodec());
        ASSERT_NE(ids.back(), 0u);
    }
    std::vector<Outcome> outcomes(kThreads);
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(Work, ids[t], frames, std::ref(start), std::ref(outcomes[t]));
    for (std::thread& thread : threads)
        thread.join();
    for (DWORD_PTR id : ids)
        EXPECT_EQ(Send(id, DRV_CLOSE), 1);

    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(outcomes[t].failures, 0) << "thread " << t;
        for (size_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(outcomes[t].compressed[i], expected[i]) << "thread " << t << ", frame " << i;
    }
    EXPECT_EQ(NativeLiveBitmapCount(), 0);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), 0);
    EXPECT_EQ(NativeLiveStreamCount(), 0);
    EXPECT_EQ(NativeLiveStorageCount(), 0);
}

// Decompression does not use its instance at all: threads decoding through
// one instance id at once must not disturb each other either.
TEST(Threads, ManyThreadsDecompressThroughOneInstance)
{
    CodecSession codec;
    ASSERT_NE(codec.id(), 0u);
    const std::vector<Frame> frames = MakeFrames();
    std::vector<CompressedFrame> compressed;
    for (Frame frame : frames) {
        const CompressResult result = CompressFrame(codec.id(), frame);
        ASSERT_EQ(result.result, ICERR_OK);
        compressed.push_back(result.frame);
    }

    std::vector<int> failures(kThreads, 0);
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int round = 0; round < kRounds; ++round)
                for (size_t i = 0; i < frames.size(); ++i) {
                    const size_t k = (i + static_cast<size_t>(t)) % frames.size();
                    const DecompressResult result = DecompressFrame(codec.id(), compressed[k]);
                    if (result.result != ICERR_OK || result.rows != frames[k].rows || !result.guardsIntact)
                        ++failures[t];
                }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(NativeLiveBitmapCount(), 0);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), 0);
}

// Threads coding banded frames through one shared pool of workers at
// once: each call waits only for its own bands, and every frame comes out
// exactly as with no pool at all.
TEST(Threads, CallersShareOnePngPool)
{
    struct Image {
        PngSource source;
        std::vector<uint8_t> pixels, expected;
    };
    std::vector<Image> images;
    for (auto [width, height, pixels] : {std::tuple{700u, 400u, PngPixels::Bgr24},
                                         std::tuple{1000u, 300u, PngPixels::Index8},
                                         std::tuple{333u, 500u, PngPixels::Bgra32}}) {
        Image image;
        const size_t rowBytes = width * PngBytesPerPixel(pixels);
        image.pixels.resize(rowBytes * height);
        for (size_t i = 0; i < image.pixels.size(); ++i)
            image.pixels[i] = static_cast<uint8_t>((i * 7 + i / rowBytes * 3) ^ (i % 13 == 0 ? i >> 5 : 0));
        image.source = {width, height, pixels, image.pixels.data(), static_cast<ptrdiff_t>(rowBytes)};
        ASSERT_TRUE(EncodePng(image.source, image.expected));
        images.push_back(std::move(image));
    }

    PngWorkers pool(2);
    std::vector<int> failures(kThreads, 0);
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int round = 0; round < kRounds; ++round)
                for (size_t i = 0; i < images.size(); ++i) {
                    const Image& image = images[(i + static_cast<size_t>(t)) % images.size()];
                    std::vector<uint8_t> png;
                    DecodedPng decoded;
                    const size_t rowBytes = static_cast<size_t>(image.source.stride);
                    bool same = EncodePng(image.source, png, &pool) && png == image.expected &&
                                DecodePng(png.data(), png.size(), decoded, &pool);
                    for (uint32_t y = 0; same && y < decoded.height; ++y)
                        same = std::memcmp(decoded.rows.data() + y * decoded.stride,
                                           image.pixels.data() + y * rowBytes, rowBytes) == 0;
                    failures[t] += !same;
                }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

// Opens, banded frames and closes interleaved on four threads, with a pool of
// two: the runtime starts and stops many times under the threads' feet, and
// never twice at once or under a live instance.
TEST(Threads, OpensFramesAndClosesInterleave)
{
    NativeSetWorkerThreads(2);
    Frame frame(640, 480, 24);  // two bands: the pool is used
    frame.FillRandom(7);
    for (auto& b : frame.rows)
        b &= 0x0F;
    std::vector<uint8_t> expected;
    {
        CodecSession alone;
        ASSERT_NE(alone.id(), 0u);
        expected = CompressFrame(alone.id(), frame).frame.bytes;
    }
    const int startups = NativeGdiplusStartupCount();
    std::atomic<int> failures{0};
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            start.arrive_and_wait();
            for (int round = 0; round < kRounds; ++round) {
                const DWORD_PTR id = OpenCodec();
                if (id == 0) {
                    ++failures;
                    continue;
                }
                const CompressResult compressed = CompressFrame(id, frame);
                const DecompressResult decompressed = DecompressFrame(id, compressed.frame);
                if (compressed.result != ICERR_OK || compressed.frame.bytes != expected ||
                    decompressed.result != ICERR_OK || decompressed.rows != frame.rows)
                    ++failures;
                if (Send(id, DRV_CLOSE) != 1)
                    ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    NativeSetWorkerThreads(0);

    EXPECT_EQ(failures, 0);
    EXPECT_GT(NativeGdiplusStartupCount(), startups);
    EXPECT_EQ(NativeGdiplusLiveTokenCount(), 0);
    EXPECT_EQ(NativeWorkerThreads(), 0u);
    EXPECT_EQ(NativeLiveStreamCount(), 0);
    EXPECT_EQ(NativeLiveStorageCount(), 0);
}

}  // namespace
