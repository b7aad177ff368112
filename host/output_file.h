// Output files that cost the user nothing when a run fails: written under
// a temporary name beside the target and renamed over it only when whole.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "options.h"

// A refusal to write where the user asked, worded for the user.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Overwrite { Ask, Always, Never };

// -y: Always, -n: Never, neither: Ask. Both is a UsageError.
Overwrite OverwriteOption(const Options& options);

// "-": standard output (or standard input, as an input name).
inline bool IsStandardStream(const std::string& path) { return path == "-"; }

// Throws OutputError when `path` must not be written: it is one of
// `inputs` (the same file, through symbolic or hard links too), it is not
// a regular file (a device, a pipe, a folder), it is read-only, or it exists
// and `policy` does not let it go (Ask asks when standard input is a
// terminal, and refuses otherwise). "-" passes.
void CheckOutput(const std::string& path, const std::vector<std::string>& inputs,
                 Overwrite policy);

// A new file under a unique name (created with O_EXCL) in the target's
// folder; for "-" in TMPDIR. Commit puts it in place: rename over the target,
// or for "-" a copy to standard output. Until then the destructor removes
// the temporary file, and only that.
class OutputFile {
public:
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Where to write.
    const std::string& Path() const { return temp_; }
    const std::string& Target() const { return target_; }
    void Commit();

private:
    std::string target_;
    std::string temp_;
    bool done_ = false;
};

// Standard input copied to a temporary file, for readers that seek.
// Removed on destruction.
class StdinCopy {
public:
    StdinCopy();
    ~StdinCopy();
    StdinCopy(const StdinCopy&) = delete;
    StdinCopy& operator=(const StdinCopy&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};
