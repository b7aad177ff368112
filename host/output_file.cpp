#include "output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Why()
{
    return std::strerror(errno);
}

std::string TempFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : P_tmpdir;
}

// Creates "<folder>/<stem>XXXXXX" exclusively, with the permissions a
// plain create would give (mkstemp gives 0600), and returns its name.
std::string CreateUnique(const std::string& folder, const std::string& stem, int* fdOut)
{
    std::string name = folder + "/" + stem + "XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        throw OutputError(folder + ": cannot create a file there: " + Why());
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    if (fdOut != nullptr)
        *fdOut = fd;
    else
        close(fd);
    return name;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t done = write(fd, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

// Copies all of `from` to `to`; false with errno set on a failure.
bool CopyAll(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!WriteAll(to, buffer, static_cast<size_t>(got)))
            return false;
    }
}

bool AskToReplace(const std::string& path)
{
    std::fprintf(stderr, "talverox: %s exists. Replace it? [y/N] ", path.c_str());
    std::fflush(stderr);
    char answer[16] = {};
    if (std::fgets(answer, sizeof answer, stdin) == nullptr)
        return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISFIFO(mode))
        return "a pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

} // namespace

Overwrite OverwriteOption(const Options& options)
{
    if (options.Has("y") && options.Has("n"))
        throw UsageError("-y (always replace) and -n (never replace) contradict each other");
    if (options.Has("y"))
        return Overwrite::Always;
    return options.Has("n") ? Overwrite::Never : Overwrite::Ask;
}

void CheckOutput(const std::string& path, const std::vector<std::string>& inputs,
                 Overwrite policy)
{
    if (IsStandardStream(path))
        return;
    struct stat target {};
    if (stat(path.c_str(), &target) != 0) {
        if (errno == ENOENT)
            return;
        throw OutputError(path + ": cannot look at it: " + Why());
    }
    if (!S_ISREG(target.st_mode))
        throw OutputError(path + ": is " + KindOf(target.st_mode) +
                          "; talverox writes only regular files (give '-' for standard output)");
    for (const std::string& input : inputs) {
        struct stat source {};
        if (!IsStandardStream(input) && stat(input.c_str(), &source) == 0 &&
            source.st_dev == target.st_dev && source.st_ino == target.st_ino)
            throw OutputError(path + ": is the input file " + input +
                              " itself; writing it would destroy the input, so choose "
                              "another output name");
    }
    // Root may write anything; the mode bits still say what the owner meant.
    if ((target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0)
        throw OutputError(path + ": exists and is read-only; left as it is (make it writable "
                          "or choose another name)");
    switch (policy) {
    case Overwrite::Always:
        return;
    case Overwrite::Never:
        throw OutputError(path + ": exists; left as it is (-n)");
    case Overwrite::Ask:
        if (isatty(STDIN_FILENO) != 1)
            throw OutputError(path + ": exists; give -y to replace it");
        if (!AskToReplace(path))
            throw OutputError(path + ": exists; left as it is");
        return;
    }
}

OutputFile::OutputFile(std::string target) : target_(std::move(target))
{
    if (IsStandardStream(target_)) {
        temp_ = CreateUnique(TempFolder(), "talverox-out-", nullptr);
        return;
    }
    const size_t slash = target_.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash == 0 ? 1 : slash);
    // Hidden and marked, so that a crash leaves a name nobody mistakes for
    // the output; short enough for any file system's name limit.
    const std::string base = target_.substr(slash == std::string::npos ? 0 : slash + 1, 200);
    temp_ = CreateUnique(folder, "." + base + ".partial-", nullptr);
}

OutputFile::~OutputFile()
{
    if (!done_)
        unlink(temp_.c_str());
}

void OutputFile::Commit()
{
    if (IsStandardStream(target_)) {
        const int fd = open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw OutputError(temp_ + ": cannot read back: " + Why());
        const bool copied = CopyAll(fd, STDOUT_FILENO);
        const std::string why = Why();
        close(fd);
        if (!copied)
            throw OutputError("standard output: cannot write: " + why);
        return; // the destructor removes the copy
    }
    if (rename(temp_.c_str(), target_.c_str()) != 0)
        throw OutputError(target_ + ": cannot put the finished file in place: " + Why());
    done_ = true;
}

StdinCopy::StdinCopy()
{
    int fd = -1;
    path_ = CreateUnique(TempFolder(), "talverox-in-", &fd);
    const bool copied = CopyAll(STDIN_FILENO, fd);
    const std::string why = Why();
    close(fd);
    if (!copied) {
        unlink(path_.c_str());
        throw OutputError("standard input: cannot read: " + why);
    }
}

StdinCopy::~StdinCopy()
{
    unlink(path_.c_str());
}
