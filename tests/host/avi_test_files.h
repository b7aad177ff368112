// Scratch files for the AVI tests, and little-endian byte building.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

// A file path unique to the running test, removed when it goes.
class ScratchFile {
public:
    ScratchFile()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        path_ = ::testing::TempDir() + "talverox-" + name + "-" + std::to_string(getpid()) + ".avi";
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }

    void Write(const std::vector<uint8_t>& bytes) const
    {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        if (!bytes.empty()) {
            ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        }
        std::fclose(file);
    }

    std::vector<uint8_t> Read() const
    {
        std::vector<uint8_t> bytes;
        std::FILE* file = std::fopen(path_.c_str(), "rb");
        if (file == nullptr)
            return bytes;
        int c;
        while ((c = std::fgetc(file)) != EOF)
            bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(file);
        return bytes;
    }

private:
    std::string path_;
};

// Builds RIFF structures by hand, for files no writer of ours would make.
class RiffBuilder {
public:
    RiffBuilder& U32(uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8)
            bytes_.push_back(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    RiffBuilder& Tag(const char (&name)[5])
    {
        bytes_.insert(bytes_.end(), name, name + 4);
        return *this;
    }
    RiffBuilder& Bytes(const std::vector<uint8_t>& data)
    {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    // Opens a chunk whose size Close fills in.
    RiffBuilder& Open(const char (&id)[5])
    {
        Tag(id);
        open_.push_back(bytes_.size());
        return U32(0);
    }
    RiffBuilder& Close()
    {
        const size_t at = open_.back();
        open_.pop_back();
        const auto size = static_cast<uint32_t>(bytes_.size() - at - 4);
        for (int i = 0; i < 4; ++i)
            bytes_[at + i] = static_cast<uint8_t>(size >> (8 * i));
        if (size & 1)
            bytes_.push_back(0);
        return *this;
    }
    const std::vector<uint8_t>& Data() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::vector<size_t> open_;
};
