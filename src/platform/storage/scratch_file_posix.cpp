// ScratchFile on POSIX: mkostemp in $TMPDIR (or /tmp), pread and pwrite.
#include "platform/storage/scratch_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

std::shared_ptr<ScratchFile> ScratchFile::CreateTemporary()
{
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    pattern += "/talverox-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<ScratchFile> file;
    try {
        file.reset(new ScratchFile(fd, name.data()));
    } catch (...) {
        unlink(name.data());
        close(fd);
        return nullptr;
    }
    try {
        return std::shared_ptr<ScratchFile>(std::move(file));
    } catch (...) {
        file->Unlink();  // the descriptor closes with `file`
        return nullptr;
    }
}

ScratchFile::~ScratchFile() { close(static_cast<int>(handle_)); }

int64_t ScratchFile::ReadAt(uint64_t offset, void* buffer, size_t size)
{
    for (;;) {
        ssize_t got = pread(static_cast<int>(handle_), buffer, size, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int64_t ScratchFile::WriteAt(uint64_t offset, const void* buffer, size_t size)
{
    for (;;) {
        ssize_t put = pwrite(static_cast<int>(handle_), buffer, size, static_cast<off_t>(offset));
        if (put >= 0 || errno != EINTR)
            return put;
    }
}

bool ScratchFile::Size(uint64_t* size)
{
    struct stat info {};
    if (fstat(static_cast<int>(handle_), &info) != 0)
        return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool ScratchFile::Resize(uint64_t size)
{
    return ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0;
}

void ScratchFile::Unlink()
{
    if (!unlinked_)
        unlink(path_.c_str());
    unlinked_ = true;
}
