// tarnhold-cli: the command-line front end.
//
// Each command group is a file of its own that registers itself with
// TCliCommandRegistrar; main.cpp parses the options that apply to every
// command (they come before the command) and dispatches.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold::cli {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // a file could not be read, an operation failed
constexpr int kExitUsage = 2;   // bad arguments

struct TCliContext {
    bool Raw = false;                           // --raw: ANSI bytes unchanged
    bool EnableScheme = true;                   // --no-scheme turns it off
    std::optional<std::filesystem::path> Cache; // --cache PATH
    std::ostream* Out = nullptr;
    std::ostream* Err = nullptr;
    std::istream* In = nullptr;

    // Writes ANSI text: converted to UTF-8, or as it is with --raw.
    void WriteText(std::string_view ansi) const;
    void WriteLine(std::string_view ansi) const;
    // Writes text that is UTF-8 already (labels, paths on disk).
    void WriteUtf8(std::string_view utf8) const;
    // A command-line argument as ANSI text (arguments arrive as UTF-8, or as
    // ANSI bytes with --raw).
    std::string ArgToAnsi(std::string_view arg) const;
    // Prints "error: <what>: <system error text>" on the error stream.
    void ReportError(std::string_view what, int error) const;
};

using TCliHandler = std::function<int(TCliContext&, const std::vector<std::string>& args)>;

struct TCliCommand {
    std::string Name;  // first word of the command line ("url", "jcode", ...)
    std::string Usage; // one or more usage lines, without the program name
    std::string Help;  // one line
    TCliHandler Run;
};

class TCliCommandRegistrar {
public:
    explicit TCliCommandRegistrar(TCliCommand command);
};

const std::vector<TCliCommand>& RegisteredCommands();
void PrintUsage(std::ostream& os);

// Prints the command's usage line(s) on the error stream and returns kExitUsage.
int UsageError(const TCliContext& ctx, std::string_view command, std::string_view message = {});

} // namespace tarnhold::cli
