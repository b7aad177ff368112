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
    std::set<std::string> switches;
    bool help = false;

    bool Has(const std::string& name) const { return switches.count(name) != 0; }
};

// Parses `args`. `valued` names the options that take a value ("--jobs");
// "--name=value" works too. `switches` names those that stand alone, long
// ("--flip") or of one letter ("-y"). "--help" and "-h" set `help`; "-" is
// a positional word (standard input or output) and "--" ends the options.
// Throws UsageError for an unknown option or a missing value.
Options ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& valued,
                     const std::set<std::string>& switches = {});

// The value of `--jobs`, or the number of cores; 1 .. 64.
size_t JobsOption(const Options& options);
