// tarnhold-cli: the command-line front end.
//
// Each command group is a file of its own that registers itself with
// TCliCommandRegistrar, declaring its options and help text; main.cpp parses
// every command line the same way (global options before or after the
// command, the command's own options anywhere after it, "--" ends options)
// and dispatches.
#pragma once

#include "clioutput.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold::cli {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // a file could not be read or written, an operation failed
constexpr int kExitUsage = 2;   // bad arguments

struct TCliContext {
    bool Raw = false;         // --raw: Shift-JIS output
    bool EnableScheme = true; // --no-scheme turns it off
    TOutputFormat Format = TOutputFormat::ofHuman;
    std::optional<std::filesystem::path> Cache; // --cache PATH
    bool Recovered = false;                     // --recovered: deleted entries too
    // Set when the cache read was damaged and entries may be missing: the
    // command's output stands, but the run ends with kExitFailure.
    mutable bool DataLost = false;
    std::string CommandName; // for messages
    std::ostream* Out = nullptr;
    std::ostream* Err = nullptr;
    std::istream* In = nullptr;
    bool InIsTerminal = false;

    // ANSI text (from the cache or the program) for human output: UTF-8, or
    // Shift-JIS with --raw, control characters escaped.
    std::string Show(std::string_view ansi) const;
    // UTF-8 text (paths on disk, arguments) for human output, escaped.
    std::string ShowUtf8(std::string_view utf8) const;
    // A native path for human output.
    std::string ShowPath(const std::filesystem::path& path) const;
    // Writes text made with Show/ShowUtf8 (or plain ASCII) as it is.
    void Write(std::string_view text) const;
    void WriteLine(std::string_view text) const;
    // A command-line argument as ANSI text: arguments are UTF-8, --raw or not.
    static std::string ArgToAnsi(std::string_view arg);
    // "tarnhold-cli: <what>: <system error text>" on the error stream.
    void ReportError(std::string_view what, int error) const;
    // "tarnhold-cli: <message>" on the error stream (message already safe).
    void Fail(std::string_view message) const;
    void Warn(std::string_view message) const;
};

// The rows of a listing: one line of the display format each, or with --json
// one JSON object per line, or with --tsv a header and one row per line.
class TListing {
public:
    TListing(const TCliContext& ctx, std::vector<std::string> columns);
    // human: the row in the display format, made with ctx.Show; values: what
    // gives the fields, one per column, asked for only in JSON and TSV output.
    template <class TMakeValues> void Row(std::string_view human, TMakeValues&& values) {
        if (ctx_.Format == TOutputFormat::ofHuman)
            ctx_.WriteLine(human);
        else
            WriteValues(values());
    }

private:
    void WriteValues(const std::vector<TValue>& values);
    const TCliContext& ctx_;
    std::vector<std::string> columns_;
};

// The parsed arguments of a command: its operands and the options given.
struct TCliArgs {
    std::vector<std::string> Operands;
    std::map<std::string, std::string> Options; // long name -> value ("" for a flag)
    bool Has(std::string_view name) const { return Options.count(std::string(name)) > 0; }
    std::string Value(std::string_view name) const;
};

using TCliHandler = std::function<int(TCliContext&, const TCliArgs&)>;

struct TCliOption {
    std::string Name;      // long name without "--"
    char Short = 0;        // a one-letter form, or 0
    std::string ValueName; // "" for a flag, else what its value is ("N")
    std::string Help;      // one line
};

struct TCliCommand {
    std::string Name;    // first word of the command line ("url", "jcode", ...)
    std::string Usage;   // one or more usage lines, without the program name
    std::string Summary; // one line of the command list (up to 70 columns)
    // The rest of the command's help: what the operands are, what it prints
    // (and which time a date is), exit codes, an example; lines of up to 80
    // columns.
    std::string Help;
    std::vector<TCliOption> Options;
    bool Listing = false; // takes --json and --tsv
    int MinOperands = 0;
    int MaxOperands = -1; // -1: no limit
    TCliHandler Run;
};

class TCliCommandRegistrar {
public:
    explicit TCliCommandRegistrar(TCliCommand command);
};

// Every command in name order.
std::vector<const TCliCommand*> RegisteredCommands();
const TCliCommand* FindCommand(std::string_view name);
void PrintUsage(std::ostream& os);
void PrintCommandHelp(std::ostream& os, const TCliCommand& command);

// One line "tarnhold-cli: <command>: <message>" and the hint where help is;
// returns kExitUsage.
int UsageError(const TCliContext& ctx, std::string_view message);

} // namespace tarnhold::cli
