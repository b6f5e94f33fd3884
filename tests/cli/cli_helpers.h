// Runs the built tarnhold-cli and collects what it wrote.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnhold::test {

struct TCliResult {
    int ExitCode = -1; // -1: did not run or did not exit normally
    std::string Out;
    std::string Err;
};

struct TCliRunOptions {
    // Standard output goes to this file instead of being collected
    // ("/dev/full").
    std::string OutFile;
    // Variables set (a value) or removed (nullopt) for the run.
    std::map<std::string, std::optional<std::string>> Env;
    // When set, standard input and standard error are a terminal and this is
    // typed on it; Err then holds what the terminal showed.
    std::optional<std::string> Typed;
    // The program run instead of tarnhold-cli (the window, an installed
    // copy).
    std::string Program = {};
};

// Runs TARNHOLD_CLI (or options.Program) with the arguments (no shell
// involved); standard input is /dev/null unless a terminal is asked for.
TCliResult RunCli(const std::vector<std::string>& args, const TCliRunOptions& options = {});

// The lines of a text, without their line breaks.
std::vector<std::string> Lines(const std::string& text);

// The members of one JSON object written on one line: name -> the value's
// JSON text (strings unescaped, without their quotes). None when the line is
// not exactly one well-formed JSON object.
std::optional<std::map<std::string, std::string>> ParseJsonObject(const std::string& line);

} // namespace tarnhold::test
