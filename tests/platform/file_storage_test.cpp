// Temporary compound files and their file-backed stream.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

constexpr DWORD kStorageMode = 0x04001012;  // delete-on-release, create, exclusive, read-write
constexpr DWORD kStreamMode = 0x12;

bool Exists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

struct Scratch {
    IStorage* storage = nullptr;
    IStream* stream = nullptr;

    Scratch()
    {
        EXPECT_EQ(StgCreateDocfile(nullptr, kStorageMode, 0, &storage), S_OK);
        if (storage != nullptr) {
            EXPECT_EQ(storage->CreateStream(OLESTR("StreamImage"), kStreamMode, 0, 0, &stream),
                      S_OK);
        }
    }
    ~Scratch()
    {
        if (stream != nullptr)
            stream->Release();
        if (storage != nullptr)
            storage->Release();
    }
};

HRESULT SeekFrom(IStream* stream, int64_t offset, DWORD origin, uint64_t* position = nullptr)
{
    LARGE_INTEGER move{};
    move.QuadPart = offset;
    ULARGE_INTEGER at{};
    HRESULT result = stream->Seek(move, origin, position != nullptr ? &at : nullptr);
    if (position != nullptr)
        *position = at.QuadPart;
    return result;
}

TEST(FileStorage, TemporaryFileLivesExactlyAsLongAsTheStorage)
{
    const int storages = NativeLiveStorageCount();
    std::string path;
    {
        Scratch scratch;
        ASSERT_NE(scratch.stream, nullptr);
        EXPECT_EQ(NativeLiveStorageCount(), storages + 1);
        path = NativeStoragePath(scratch.storage);
        EXPECT_TRUE(Exists(path)) << path;
        // The stream's bytes are in that file once the stream is released.
        std::vector<uint8_t> big(200000, 0x5A);
        ULONG written = 0;
        ASSERT_EQ(scratch.stream->Write(big.data(), ULONG(big.size()), &written), S_OK);
        scratch.stream->Release();
        scratch.stream = nullptr;
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_size, 200000);
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(NativeLiveStorageCount(), storages);
    EXPECT_EQ(NativeStoragePath(nullptr), "");
}

TEST(FileStorage, HonoursTmpdir)
{
    char dir[] = "/tmp/talverox-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const char* old = getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TMPDIR", dir, 1);
    IStorage* storage = nullptr;
    EXPECT_EQ(StgCreateDocfile(nullptr, kStorageMode, 0, &storage), S_OK);
    if (old != nullptr)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    ASSERT_NE(storage, nullptr);
    const std::string path = NativeStoragePath(storage);
    EXPECT_EQ(path.rfind(std::string(dir) + "/", 0), 0u) << path;
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(storage->Release(), 0u);
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(rmdir(dir), 0);  // empty again: nothing was left behind
}

TEST(FileStorage, StreamOutlivingItsStorageStillWorks)
{
    IStorage* storage = nullptr;
    IStream* stream = nullptr;
    ASSERT_EQ(StgCreateDocfile(nullptr, kStorageMode, 0, &storage), S_OK);
    ASSERT_EQ(storage->CreateStream(OLESTR("StreamImage"), kStreamMode, 0, 0, &stream), S_OK);
    const std::string path = NativeStoragePath(storage);
    EXPECT_EQ(storage->Release(), 0u);
    EXPECT_FALSE(Exists(path));
    ULONG n = 0;
    EXPECT_EQ(stream->Write("abc", 3, &n), S_OK);
    EXPECT_EQ(SeekFrom(stream, 0, STREAM_SEEK_SET), S_OK);
    char back[3] = {};
    EXPECT_EQ(stream->Read(back, 3, &n), S_OK);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::memcmp(back, "abc", 3), 0);
    EXPECT_EQ(stream->Release(), 0u);
}

TEST(FileStorage, RefusedArgumentsMakeNothing)
{
    const int storages = NativeLiveStorageCount();
    IStorage* storage = reinterpret_cast<IStorage*>(0x1);
    EXPECT_NE(StgCreateDocfile(OLESTR("named.stg"), kStorageMode, 0, &storage), S_OK);
    EXPECT_EQ(storage, nullptr);
    EXPECT_NE(StgCreateDocfile(nullptr, kStorageMode, 1, &storage), S_OK);
    EXPECT_NE(StgCreateDocfile(nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &storage), S_OK);
    EXPECT_NE(StgCreateDocfile(nullptr, kStorageMode, 0, nullptr), S_OK);
    EXPECT_EQ(NativeLiveStorageCount(), storages);

    Scratch scratch;
    IStream* second = reinterpret_cast<IStream*>(0x1);
    EXPECT_NE(scratch.storage->CreateStream(OLESTR("StreamImage"), kStreamMode, 0, 0, &second), S_OK);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(scratch.storage->CreateStream(nullptr, kStreamMode, 0, 0, &second), S_OK);
    EXPECT_NE(scratch.storage->CreateStream(OLESTR("x"), kStreamMode, 1, 0, &second), S_OK);
}

TEST(FileStorage, TestHooksFailTheNextCallOnce)
{
    const int storages = NativeLiveStorageCount();
    const int streams = NativeLiveStreamCount();
    NativeFailNextStgCreateDocfile();
    IStorage* storage = nullptr;
    EXPECT_TRUE(FAILED(StgCreateDocfile(nullptr, kStorageMode, 0, &storage)));
    EXPECT_EQ(storage, nullptr);
    EXPECT_EQ(NativeLiveStorageCount(), storages);

    ASSERT_EQ(StgCreateDocfile(nullptr, kStorageMode, 0, &storage), S_OK);
    NativeFailNextCreateStream();
    IStream* stream = nullptr;
    EXPECT_TRUE(FAILED(storage->CreateStream(OLESTR("StreamImage"), kStreamMode, 0, 0, &stream)));
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(NativeLiveStreamCount(), streams);
    EXPECT_EQ(storage->CreateStream(OLESTR("StreamImage"), kStreamMode, 0, 0, &stream), S_OK);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(storage->Release(), 0u);
    EXPECT_EQ(NativeLiveStreamCount(), streams);
}

TEST(FileStream, ReferenceCountingAndInterfaces)
{
    Scratch scratch;
    EXPECT_EQ(scratch.stream->AddRef(), 2u);
    void* asStream = nullptr;
    EXPECT_EQ(scratch.stream->QueryInterface(IID_IStream, &asStream), S_OK);
    EXPECT_EQ(asStream, scratch.stream);
    EXPECT_EQ(scratch.stream->Release(), 2u);
    EXPECT_EQ(scratch.stream->Release(), 1u);
    void* asStorage = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(scratch.stream->QueryInterface(IID_IStorage, &asStorage), E_NOINTERFACE);
    EXPECT_EQ(asStorage, nullptr);
}

TEST(FileStream, SeekReadWriteSemantics)
{
    Scratch scratch;
    IStream* s = scratch.stream;
    ULONG n = 99;
    char buffer[16] = {};
    // Empty: a read gives S_OK and nothing.
    EXPECT_EQ(s->Read(buffer, 16, &n), S_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(s->Write("0123456789", 10, &n), S_OK);
    EXPECT_EQ(n, 10u);
    uint64_t at = 0;
    EXPECT_EQ(SeekFrom(s, 0, STREAM_SEEK_CUR, &at), S_OK);
    EXPECT_EQ(at, 10u);
    EXPECT_EQ(SeekFrom(s, -4, STREAM_SEEK_END, &at), S_OK);
    EXPECT_EQ(at, 6u);
    EXPECT_EQ(s->Read(buffer, 16, &n), S_OK);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::memcmp(buffer, "6789", 4), 0);
    EXPECT_EQ(s->Read(buffer, 16, &n), S_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(SeekFrom(s, -3, STREAM_SEEK_CUR, &at), S_OK);
    EXPECT_EQ(at, 7u);
    // Before the start is refused and leaves the position.
    EXPECT_NE(SeekFrom(s, -8, STREAM_SEEK_CUR), S_OK);
    EXPECT_NE(SeekFrom(s, 0, 3), S_OK);
    EXPECT_EQ(SeekFrom(s, 0, STREAM_SEEK_CUR, &at), S_OK);
    EXPECT_EQ(at, 7u);
    // Writing past the end leaves a zero gap.
    EXPECT_EQ(SeekFrom(s, 12, STREAM_SEEK_SET), S_OK);
    EXPECT_EQ(s->Write("Z", 1, &n), S_OK);
    EXPECT_EQ(SeekFrom(s, 8, STREAM_SEEK_SET), S_OK);
    EXPECT_EQ(s->Read(buffer, 16, &n), S_OK);
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(std::memcmp(buffer, "89\0\0Z", 5), 0);
    // SetSize cuts the stream; the position stays where it was.
    ULARGE_INTEGER size{};
    size.QuadPart = 3;
    EXPECT_EQ(s->SetSize(size), S_OK);
    EXPECT_EQ(SeekFrom(s, 0, STREAM_SEEK_END, &at), S_OK);
    EXPECT_EQ(at, 3u);
    EXPECT_EQ(SeekFrom(s, 0, STREAM_SEEK_SET), S_OK);
    EXPECT_EQ(s->Read(buffer, 16, &n), S_OK);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(s->Read(nullptr, 1, &n), STG_E_INVALIDPOINTER);
}

// The codec writes each encoded frame and copies it out in 100-byte reads:
// served from memory while the frame fits what a stream holds, with a
// 64 KiB refill from the file otherwise.
struct HoldCase {
    size_t holdBytes;  // 0: the default
    int maxFileReads;
};

class FileStreamHold : public testing::TestWithParam<HoldCase> {
protected:
    void SetUp() override { NativeSetStreamHoldBytes(GetParam().holdBytes); }
    void TearDown() override { NativeSetStreamHoldBytes(0); }
};

INSTANTIATE_TEST_SUITE_P(Holds, FileStreamHold,
                         testing::Values(HoldCase{0, 0}, HoldCase{65536, 8}));

TEST_P(FileStreamHold, AFrameWrittenAndReadBackInSmallReads)
{
    Scratch scratch;
    std::vector<uint8_t> frame(300000);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 13 + i / 256);
    ULONG n = 0;
    ASSERT_EQ(scratch.stream->Write(frame.data(), ULONG(frame.size()), &n), S_OK);
    ASSERT_EQ(SeekFrom(scratch.stream, 0, STREAM_SEEK_SET), S_OK);
    const int before = NativeFileReadCallCount();
    std::vector<uint8_t> back;
    uint8_t piece[100];
    do {
        ASSERT_EQ(scratch.stream->Read(piece, sizeof piece, &n), S_OK);
        back.insert(back.end(), piece, piece + n);
    } while (n != 0);
    EXPECT_EQ(back, frame);
    EXPECT_LE(NativeFileReadCallCount() - before, GetParam().maxFileReads);
}

// Random reads, writes, seeks and resizes against a plain byte vector:
// the buffer in front of the file must never show stale or lost bytes,
// whether writes stay in memory or spill to the file.
TEST_P(FileStreamHold, MatchesAMemoryModelUnderRandomOperations)
{
    Scratch scratch;
    IStream* s = scratch.stream;
    std::vector<uint8_t> model;
    uint64_t position = 0;
    std::mt19937 rng(42);
    for (int step = 0; step < 3000; ++step) {
        const int op = int(rng() % 10);
        if (op < 4) {
            // Sizes around the buffer's: tiny, 100-byte reads, and large.
            const size_t sizes[] = {1, 100, 4096, 65535, 65536, 70000};
            std::vector<uint8_t> bytes(sizes[rng() % 6]);
            for (auto& b : bytes)
                b = uint8_t(rng());
            ULONG n = 0;
            ASSERT_EQ(s->Write(bytes.data(), ULONG(bytes.size()), &n), S_OK);
            ASSERT_EQ(n, bytes.size());
            if (model.size() < position + bytes.size())
                model.resize(position + bytes.size(), 0);
            std::copy(bytes.begin(), bytes.end(), model.begin() + ptrdiff_t(position));
            position += bytes.size();
        } else if (op < 8) {
            // Small reads from 60 to 131 bytes cross the short way's bounds.
            const ULONG want = ULONG(rng() % 3 == 0 ? 60 + rng() % 72 : rng() % 90000);
            std::vector<uint8_t> bytes(want);
            ULONG n = 0;
            ASSERT_EQ(s->Read(bytes.data(), want, &n), S_OK);
            const size_t expect = position < model.size()
                                      ? std::min<size_t>(want, model.size() - position)
                                      : 0;
            ASSERT_EQ(n, expect) << "step " << step;
            ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + n,
                                   model.begin() + ptrdiff_t(std::min(position, uint64_t(model.size())))))
                << "step " << step;
            position += n;
        } else if (op == 8) {
            position = model.empty() ? 0 : rng() % (model.size() + 100);
            ASSERT_EQ(SeekFrom(s, int64_t(position), STREAM_SEEK_SET), S_OK);
        } else {
            ULARGE_INTEGER size{};
            size.QuadPart = model.empty() ? 0 : rng() % (model.size() + 1);
            ASSERT_EQ(s->SetSize(size), S_OK);
            model.resize(size_t(size.QuadPart));
        }
    }
    uint64_t end = 0;
    ASSERT_EQ(SeekFrom(s, 0, STREAM_SEEK_END, &end), S_OK);
    EXPECT_EQ(end, model.size());
}

}  // namespace
