// tarnhold-cli entry point: one option parser for every command, help, and
// the check that everything written reached standard output.
#include "cli.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace tarnhold::cli {

namespace {

constexpr std::string_view kProgram = "tarnhold-cli";

std::vector<TCliCommand>& Commands() {
    static std::vector<TCliCommand> commands;
    return commands;
}

// Options every command takes, before or after the command.
const TCliOption kGlobalOptions[] = {
    {"cache", 0, "PATH", "the cache to read (an index.dat or a folder; see below)"},
    {"no-scheme", 0, "", "no URL-scheme level in the cache tree"},
    {"recovered", 0, "", "also the deleted entries whose records survive"},
    {"raw", 0, "", "write Shift-JIS bytes instead of UTF-8 (output only)"},
    {"json", 0, "", "listings as JSON Lines: one object per row, UTF-8"},
    {"tsv", 0, "", "listings as TSV: a header row, escaped fields"},
    {"help", 'h', "", "this help, or a command's own help after it"},
    {"version", 'V', "", "the program's version"},
};

std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The command a mistyped name most likely meant, or none.
const TCliCommand* Suggest(std::string_view name) {
    const TCliCommand* best = nullptr;
    // Up to three edits for names of four letters or more: "frob" -> "tree".
    std::size_t bestDistance = std::max<std::size_t>(2, name.size() * 3 / 4) + 1;
    for (const TCliCommand* c : RegisteredCommands()) {
        if (c->Name == "overview")
            continue;
        std::size_t d = EditDistance(name, c->Name);
        if (c->Name.rfind(name, 0) == 0 && name.size() >= 2)
            d = std::min<std::size_t>(d, 1);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}

std::string OptionLabel(const TCliOption& o) {
    std::string label = o.Short != 0 ? std::string("-") + o.Short + ", " : std::string("    ");
    label += "--" + o.Name;
    if (!o.ValueName.empty())
        label += " " + o.ValueName;
    return label;
}

void PrintOptions(std::ostream& os, const TCliOption* begin, const TCliOption* end) {
    for (const TCliOption* o = begin; o != end; ++o) {
        std::string label = OptionLabel(*o);
        os << "  " << label;
        if (label.size() < 18)
            os << std::string(18 - label.size(), ' ');
        else
            os << "\n" << std::string(20, ' ');
        os << o->Help << "\n";
    }
}

} // namespace

void PrintUsage(std::ostream& os) {
    os << "usage: tarnhold-cli [OPTIONS] [COMMAND] [ARGS...]\n"
          "       tarnhold-cli COMMAND --help\n\n"
          "Reads Internet Explorer's URL cache (index.dat and its folders) and the\n"
          "caches of Chromium and Firefox, and shows them as the window does.\n"
          "Without a command: the cache read and its tree.\n\n"
          "commands:\n";
    for (const TCliCommand* c : RegisteredCommands()) {
        std::string name = c->Name;
        os << "  " << name << std::string(name.size() < 13 ? 13 - name.size() : 1, ' ')
           << c->Summary << "\n";
    }
    os << "\noptions (before or after the command):\n";
    PrintOptions(os, std::begin(kGlobalOptions), std::end(kGlobalOptions));
    os << "\n"
          "The cache read: --cache PATH, else $TARNHOLD_CACHE, else the Internet\n"
          "Explorer cache of the Wine prefix $WINEPREFIX (else ~/.wine; a WINEPREFIX\n"
          "that does not exist is an error), else your Chromium or Firefox cache\n"
          "(the one written last), else the demo cache installed with the program.\n"
          "PATH may be an index.dat, its folder, the folder above Content.IE5, a\n"
          "user's profile, a Wine prefix, a browser's cache or profile, or any\n"
          "folder that holds one up to 8 levels down (links not followed);\n"
          "'tarnhold-cli caches' lists every cache found.\n"
          "Local names are kept in $TARNHOLD_HOME (else $XDG_CONFIG_HOME/tarnhold,\n"
          "else ~/.config/tarnhold). Arguments are UTF-8; URLs may be given decoded\n"
          "or percent-encoded.\n\n"
          "A damaged index.dat is read as far as it goes (records found by scanning\n"
          "its blocks); what was wrong is said on stderr and the exit code is 1.\n"
          "--recovered adds the deleted entries whose records survive in its free\n"
          "blocks, as ordinary files of the tree (a file that is gone is not copied).\n\n"
          "exit codes: 0 done, 1 a file or the cache could not be read or written\n"
          "or the operation failed, 2 bad arguments.\n";
}

void PrintCommandHelp(std::ostream& os, const TCliCommand& c) {
    std::string_view usage = c.Usage;
    const char* lead = "usage: ";
    while (!usage.empty()) {
        const std::size_t nl = usage.find('\n');
        os << lead << kProgram << " " << usage.substr(0, nl) << "\n";
        lead = "       ";
        usage = nl == std::string_view::npos ? std::string_view() : usage.substr(nl + 1);
    }
    os << "\n" << c.Summary << "\n";
    if (!c.Help.empty())
        os << "\n" << c.Help;
    if (!c.Options.empty()) {
        os << "\noptions:\n";
        PrintOptions(os, c.Options.data(), c.Options.data() + c.Options.size());
    }
    os << "\nglobal options: --cache PATH, --no-scheme, --recovered, --raw"
       << (c.Listing ? ", --json, --tsv" : "") << "\n(see tarnhold-cli --help)\n"
       << "exit codes: 0 done, 1 a file or the cache could not be read or written\n"
          "or the operation failed, 2 bad arguments.\n";
}

std::string TCliArgs::Value(std::string_view name) const {
    auto it = Options.find(std::string(name));
    return it == Options.end() ? std::string() : it->second;
}

std::string TCliContext::Show(std::string_view ansi) const {
    return Raw ? EscapeAnsiForTerminal(ansi) : EscapeForTerminal(AnsiToUtf8(ansi));
}

std::string TCliContext::ShowUtf8(std::string_view utf8) const {
    return Raw ? EscapeAnsiForTerminal(Utf8ToAnsi(utf8)) : EscapeForTerminal(utf8);
}

std::string TCliContext::ShowPath(const std::filesystem::path& path) const {
    return Raw ? EscapeAnsiForTerminal(PathToAnsi(path)) : EscapeForTerminal(path.native());
}

void TCliContext::Write(std::string_view text) const {
    Out->write(text.data(), static_cast<std::streamsize>(text.size()));
}

void TCliContext::WriteLine(std::string_view text) const {
    Write(text);
    Out->put('\n');
}

std::string TCliContext::ArgToAnsi(std::string_view arg) {
    return Utf8ToAnsi(arg);
}

void TCliContext::ReportError(std::string_view what, int error) const {
    *Err << kProgram << ": " << what << ": " << std::strerror(error) << '\n';
}

void TCliContext::Fail(std::string_view message) const {
    *Err << kProgram << ": " << message << '\n';
}

void TCliContext::Warn(std::string_view message) const {
    *Err << kProgram << ": warning: " << message << '\n';
}

TListing::TListing(const TCliContext& ctx, std::vector<std::string> columns)
    : ctx_(ctx), columns_(std::move(columns)) {
    if (ctx_.Format == TOutputFormat::ofTsv) {
        std::string header;
        for (const auto& c : columns_)
            header += (header.empty() ? "" : "\t") + c;
        ctx_.WriteLine(header);
    }
}

void TListing::WriteValues(const std::vector<TValue>& values) {
    switch (ctx_.Format) {
    case TOutputFormat::ofHuman:
        return;
    case TOutputFormat::ofJson: {
        std::string line = "{";
        for (std::size_t i = 0; i < columns_.size() && i < values.size(); ++i) {
            if (i > 0)
                line += ",";
            line += JsonString(columns_[i]) + ":";
            const TValue& v = values[i];
            if (v.Kind == TValue::vkText)
                line += JsonString(v.Text);
            else if (v.Kind == TValue::vkNumber)
                line += std::to_string(v.Number);
            else if (v.Kind == TValue::vkBool)
                line += v.Flag ? "true" : "false";
            else
                line += "null";
        }
        ctx_.WriteLine(line + "}");
        return;
    }
    case TOutputFormat::ofTsv: {
        std::string line;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            if (i > 0)
                line += "\t";
            if (i >= values.size())
                continue;
            const TValue& v = values[i];
            if (v.Kind == TValue::vkText)
                line += EscapeTsvField(v.Text);
            else if (v.Kind == TValue::vkNumber)
                line += std::to_string(v.Number);
            else if (v.Kind == TValue::vkBool)
                line += v.Flag ? "true" : "false";
        }
        ctx_.WriteLine(line);
        return;
    }
    }
}

TCliCommandRegistrar::TCliCommandRegistrar(TCliCommand command) {
    Commands().push_back(std::move(command));
}

std::vector<const TCliCommand*> RegisteredCommands() {
    std::vector<const TCliCommand*> sorted;
    for (const auto& c : Commands())
        sorted.push_back(&c);
    std::sort(sorted.begin(), sorted.end(),
              [](const TCliCommand* a, const TCliCommand* b) { return a->Name < b->Name; });
    return sorted;
}

const TCliCommand* FindCommand(std::string_view name) {
    for (const auto& c : Commands()) {
        if (c.Name == name)
            return &c;
    }
    return nullptr;
}

int UsageError(const TCliContext& ctx, std::string_view message) {
    *ctx.Err << kProgram << ": ";
    if (!ctx.CommandName.empty())
        *ctx.Err << ctx.CommandName << ": ";
    *ctx.Err << message << "\ntry '" << kProgram << " --help'";
    if (!ctx.CommandName.empty())
        *ctx.Err << " or '" << kProgram << " " << ctx.CommandName << " --help'";
    *ctx.Err << "\n";
    return kExitUsage;
}

namespace {

// Parses the command line into ctx, the command and its arguments. Returns
// -1 to go on, else the exit code.
int ParseCommandLine(int argc, char** argv, TCliContext& ctx, const TCliCommand*& command,
                     TCliArgs& args) {
    bool help = false;
    bool version = false;
    bool json = false;
    bool tsv = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            if (command != nullptr) {
                args.Operands.emplace_back(a);
                continue;
            }
            command = FindCommand(a);
            if (command == nullptr) {
                std::string message = "unknown command '" + EscapeForTerminal(a) + "'";
                if (const TCliCommand* near = Suggest(a))
                    message += "; did you mean '" + near->Name + "'?";
                return UsageError(ctx, message);
            }
            ctx.CommandName = command->Name;
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        // --name, --name=value, -x
        std::string name;
        std::optional<std::string> value;
        if (a[1] == '-') {
            const std::size_t eq = a.find('=');
            name = std::string(a.substr(2, eq == std::string_view::npos ? a.npos : eq - 2));
            if (eq != std::string_view::npos)
                value = std::string(a.substr(eq + 1));
        } else if (a.size() == 2) {
            const char letter = a[1];
            const TCliOption* found = nullptr;
            for (const auto& o : kGlobalOptions)
                found = o.Short == letter ? &o : found;
            if (command != nullptr) {
                for (const auto& o : command->Options)
                    found = o.Short == letter ? &o : found;
            }
            if (found == nullptr)
                return UsageError(ctx, "unknown option " + EscapeForTerminal(a));
            name = found->Name;
        } else {
            return UsageError(ctx, "unknown option " + EscapeForTerminal(a));
        }

        const TCliOption* spec = nullptr;
        bool global = false;
        for (const auto& o : kGlobalOptions) {
            if (o.Name == name) {
                spec = &o;
                global = true;
            }
        }
        if (spec == nullptr && command != nullptr) {
            for (const auto& o : command->Options)
                spec = o.Name == name ? &o : spec;
        }
        if (spec == nullptr)
            return UsageError(ctx, "unknown option " + EscapeForTerminal(a));
        if (spec->ValueName.empty() && value)
            return UsageError(ctx, "--" + name + " takes no value");
        if (!spec->ValueName.empty() && !value) {
            if (i + 1 >= argc)
                return UsageError(ctx, "--" + name + " needs " + spec->ValueName);
            value = argv[++i];
        }
        if (!global) {
            args.Options[name] = value.value_or("");
            continue;
        }
        if (name == "cache")
            ctx.Cache = std::filesystem::path(*value);
        else if (name == "no-scheme")
            ctx.EnableScheme = false;
        else if (name == "recovered")
            ctx.Recovered = true;
        else if (name == "raw")
            ctx.Raw = true;
        else if (name == "json")
            json = true;
        else if (name == "tsv")
            tsv = true;
        else if (name == "help")
            help = true;
        else if (name == "version")
            version = true;
    }

    if (help) {
        if (command != nullptr)
            PrintCommandHelp(*ctx.Out, *command);
        else
            PrintUsage(*ctx.Out);
        return kExitOk;
    }
    if (version) {
        *ctx.Out << kProgram << " " << TARNHOLD_VERSION << "\n";
        return kExitOk;
    }
    if (command == nullptr) {
        // Without a command: the program's main job, the overview of the cache.
        command = FindCommand("overview");
        ctx.CommandName = command->Name;
    }
    if (json && tsv)
        return UsageError(ctx, "--json and --tsv exclude each other");
    if ((json || tsv) && !command->Listing)
        return UsageError(ctx, std::string(json ? "--json" : "--tsv") + " is for listings only");
    ctx.Format = json ? TOutputFormat::ofJson : tsv ? TOutputFormat::ofTsv : TOutputFormat::ofHuman;
    const int count = static_cast<int>(args.Operands.size());
    if (count < command->MinOperands)
        return UsageError(ctx, "missing arguments");
    if (command->MaxOperands >= 0 && count > command->MaxOperands)
        return UsageError(ctx, "too many arguments");
    return -1;
}

} // namespace

} // namespace tarnhold::cli

int main(int argc, char** argv) {
    using namespace tarnhold::cli;
    // Standard output through a buffer that notices a failed write (a full
    // disk, a closed pipe): the run then fails instead of claiming success.
    std::ios::sync_with_stdio(false);
    TFdStreamBuf outBuf(STDOUT_FILENO);
    std::ostream out(&outBuf);

    TCliContext ctx;
    ctx.Out = &out;
    ctx.Err = &std::cerr;
    ctx.In = &std::cin;
    ctx.InIsTerminal = ::isatty(STDIN_FILENO) == 1;

    const TCliCommand* command = nullptr;
    TCliArgs args;
    int rc = ParseCommandLine(argc, argv, ctx, command, args);
    if (rc < 0)
        rc = command->Run(ctx, args);
    if (rc == kExitOk && ctx.DataLost)
        rc = kExitFailure; // the cache was damaged: the output may lack entries
    out.flush();
    if (outBuf.Error() != 0) {
        ctx.ReportError("cannot write standard output", outBuf.Error());
        return kExitFailure;
    }
    return rc;
}
