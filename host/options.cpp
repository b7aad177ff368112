#include "options.h"

#include <thread>

Options ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flags)
{
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
            options.positional.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::string value;
        const size_t equals = name.find('=');
        const bool inline_value = equals != std::string::npos;
        if (inline_value) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (flags.count(name) != 0 && !inline_value) {
            options.flags.insert(name);
            continue;
        }
        if (valued.count(name) == 0)
            throw UsageError("unknown option --" + name);
        if (!inline_value) {
            if (i + 1 >= args.size())
                throw UsageError("--" + name + " needs a value");
            value = args[++i];
        }
        options.values[name] = value;
    }
    return options;
}

size_t JobsOption(const Options& options)
{
    const auto found = options.values.find("jobs");
    if (found == options.values.end()) {
        const unsigned cores = std::thread::hardware_concurrency();
        return cores == 0 ? 1 : (cores > 64 ? 64 : cores);
    }
    size_t used = 0;
    long jobs = 0;
    try {
        jobs = std::stol(found->second, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != found->second.size() || jobs < 1 || jobs > 64)
        throw UsageError("--jobs takes a number from 1 to 64, not '" + found->second + "'");
    return static_cast<size_t>(jobs);
}
