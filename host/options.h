// Command-line words: positional arguments and "--name value" options.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// A mistake in how the command was called; the caller prints the usage.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags; // options without a value that were given
    bool help = false;
};

// Parses `args`. `valued` names the options that take a value ("--jobs");
// "--name=value" works too. `flags` names those that take none
// ("--no-audio"). "--help" and "-h" set `help`. Throws UsageError for an
// unknown option or a missing value.
Options ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flags = {});

// The value of `--jobs`, or the number of cores; 1 .. 64.
size_t JobsOption(const Options& options);
