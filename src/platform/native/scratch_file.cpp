#include "platform/native/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
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

ScratchFile::~ScratchFile() { close(fd_); }

void ScratchFile::Unlink()
{
    if (!unlinked_)
        unlink(path_.c_str());
    unlinked_ = true;
}
