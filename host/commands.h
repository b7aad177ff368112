// The talverox commands. Each takes the words after its name and returns
// the process exit code; errors go to standard error.
#pragma once

#include <string>
#include <vector>

int RunEncode(const std::vector<std::string>& args);
int RunDecode(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);
int RunDemo(const std::vector<std::string>& args);
