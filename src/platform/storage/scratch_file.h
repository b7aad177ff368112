// A temporary file that a storage and its stream share, over the thinnest
// file API each system has: POSIX descriptors, or Windows handles opened
// with FILE_FLAG_DELETE_ON_CLOSE. The file closes with its last owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class ScratchFile {
public:
    // Creates an empty file with a fresh name in the system's temporary
    // folder. Null when the file cannot be made.
    static std::shared_ptr<ScratchFile> CreateTemporary();

    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Reads or writes up to `size` bytes at `offset`; returns the count
    // moved (0 at the end of the file when reading), or -1 on an error.
    // Interrupted calls are retried.
    int64_t ReadAt(uint64_t offset, void* buffer, size_t size);
    int64_t WriteAt(uint64_t offset, const void* buffer, size_t size);
    // The file's size; false when the system cannot tell.
    bool Size(uint64_t* size);
    // Grows (with zeros) or shrinks the file.
    bool Resize(uint64_t size);

    // The name the file was made under, as UTF-8.
    const std::string& path() const { return path_; }
    // Removes the name now; the open file stays usable. Where the system
    // deletes the file when it closes, this is already arranged.
    void Unlink();

private:
    ScratchFile(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}

    intptr_t handle_;  // descriptor or HANDLE
    std::string path_;
    bool unlinked_ = false;
};
