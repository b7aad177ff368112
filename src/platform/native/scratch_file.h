// A temporary file that storages and their streams share. The descriptor
// closes with the last owner; the name is removed when the storage that
// made it asks for that (delete-on-release).
#pragma once

#include <memory>
#include <string>

class ScratchFile {
public:
    // Creates an empty file with a fresh name in $TMPDIR, or /tmp when that
    // is unset or empty. Null when the file cannot be made.
    static std::shared_ptr<ScratchFile> CreateTemporary();

    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Removes the name; the open descriptor stays usable.
    void Unlink();

private:
    ScratchFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_;
    std::string path_;
    bool unlinked_ = false;
};
