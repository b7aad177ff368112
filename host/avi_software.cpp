#include "avi_software.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using File = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// Enough for the headers: INFO comes before 'movi', never after it.
constexpr int kLookedAtChunks = 64;
constexpr uint32_t kLongestText = 4096;

uint32_t Le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads the 8-byte chunk header at `at`; false at the end of the file.
bool ChunkAt(std::FILE* file, long at, char id[4], uint32_t& size)
{
    unsigned char head[8];
    if (std::fseek(file, at, SEEK_SET) != 0 || std::fread(head, 1, 8, file) != 8)
        return false;
    std::memcpy(id, head, 4);
    size = Le32(head + 4);
    return true;
}

std::string FindSoftware(std::FILE* file, long begin, long end)
{
    char id[4];
    uint32_t size = 0;
    for (long at = begin; at + 8 <= end && ChunkAt(file, at, id, size); at += 8 + size + (size & 1)) {
        if (std::memcmp(id, "ISFT", 4) != 0 || size > kLongestText)
            continue;
        std::string text(size, '\0');
        if (std::fread(text.data(), 1, size, file) != size)
            return {};
        text.resize(std::strlen(text.c_str())); // drops the terminating NULs
        return text;
    }
    return {};
}

} // namespace

std::string AviSoftware(const std::string& path)
{
    File file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return {};
    char id[4];
    uint32_t size = 0;
    unsigned char form[4];
    if (!ChunkAt(file.get(), 0, id, size) || std::memcmp(id, "RIFF", 4) != 0 ||
        std::fread(form, 1, 4, file.get()) != 4 || std::memcmp(form, "AVI ", 4) != 0)
        return {};
    long at = 12;
    for (int i = 0; i < kLookedAtChunks && ChunkAt(file.get(), at, id, size); ++i) {
        unsigned char type[4] = {};
        if (std::memcmp(id, "LIST", 4) == 0 && size >= 4 &&
            std::fread(type, 1, 4, file.get()) == 4) {
            if (std::memcmp(type, "movi", 4) == 0)
                break;
            if (std::memcmp(type, "INFO", 4) == 0)
                return FindSoftware(file.get(), at + 12, at + 8 + static_cast<long>(size));
        }
        at += 8 + static_cast<long>(size) + (size & 1);
    }
    return {};
}

bool WrittenByFfmpeg(const std::string& software)
{
    return software.compare(0, 4, "Lavf") == 0;
}
