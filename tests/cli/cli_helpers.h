// Runs the built tarnhold-cli and collects what it wrote.
#pragma once

#include <string>
#include <vector>

namespace tarnhold::test {

struct TCliResult {
    int ExitCode = -1; // -1: did not run or did not exit normally
    std::string Out;
    std::string Err;
};

// Runs TARNHOLD_CLI with the arguments (no shell involved).
TCliResult RunCli(const std::vector<std::string>& args);

} // namespace tarnhold::test
