// tarnhold-cli entry point: global options, then one command.
#include "cli.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>

namespace tarnhold::cli {

namespace {

std::vector<TCliCommand>& Commands() {
    static std::vector<TCliCommand> commands;
    return commands;
}

} // namespace

void PrintUsage(std::ostream& os) {
    os << "usage: tarnhold-cli [--raw] [--cache PATH] [--no-scheme] COMMAND [ARGS...]\n\n"
          "commands:\n";
    std::vector<const TCliCommand*> sorted;
    for (const auto& c : Commands())
        sorted.push_back(&c);
    std::sort(sorted.begin(), sorted.end(),
              [](const TCliCommand* a, const TCliCommand* b) { return a->Name < b->Name; });
    for (const auto* c : sorted)
        os << "  " << c->Usage << "\n      " << c->Help << "\n";
    os << "\noptions:\n"
          "  --raw          write ANSI (CP932) bytes unchanged instead of UTF-8\n"
          "  --cache PATH   the index.dat (or its folder) to read\n"
          "  --no-scheme    no URL-scheme level in the cache tree\n";
}

void TCliContext::WriteText(std::string_view ansi) const {
    if (Raw)
        Out->write(ansi.data(), static_cast<std::streamsize>(ansi.size()));
    else
        *Out << AnsiToUtf8(ansi);
}

void TCliContext::WriteLine(std::string_view ansi) const {
    WriteText(ansi);
    *Out << '\n';
}

void TCliContext::WriteUtf8(std::string_view utf8) const {
    Out->write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
}

std::string TCliContext::ArgToAnsi(std::string_view arg) const {
    return Raw ? std::string(arg) : Utf8ToAnsi(arg);
}

void TCliContext::ReportError(std::string_view what, int error) const {
    *Err << "error: " << what << ": " << std::strerror(error) << '\n';
}

TCliCommandRegistrar::TCliCommandRegistrar(TCliCommand command) {
    Commands().push_back(std::move(command));
}

const std::vector<TCliCommand>& RegisteredCommands() {
    return Commands();
}

int UsageError(const TCliContext& ctx, std::string_view command, std::string_view message) {
    if (!message.empty())
        *ctx.Err << "tarnhold-cli: " << message << '\n';
    for (const auto& c : Commands()) {
        if (c.Name == command) {
            *ctx.Err << "usage: tarnhold-cli " << c.Usage << '\n';
            return kExitUsage;
        }
    }
    PrintUsage(*ctx.Err);
    return kExitUsage;
}

} // namespace tarnhold::cli

int main(int argc, char** argv) {
    using namespace tarnhold::cli;
    TCliContext ctx;
    ctx.Out = &std::cout;
    ctx.Err = &std::cerr;
    ctx.In = &std::cin;

    int i = 1;
    for (; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--raw") {
            ctx.Raw = true;
        } else if (a == "--no-scheme") {
            ctx.EnableScheme = false;
        } else if (a == "--cache") {
            if (i + 1 >= argc)
                return UsageError(ctx, "", "--cache needs a path");
            ctx.Cache = std::filesystem::path(argv[++i]);
        } else if (a.rfind("--cache=", 0) == 0) {
            ctx.Cache = std::filesystem::path(std::string(a.substr(8)));
        } else if (a == "--help" || a == "-h") {
            PrintUsage(std::cout);
            return kExitOk;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(ctx, "", "unknown option " + std::string(a));
        } else {
            break;
        }
    }

    // Without a command: the program's main job, the overview of the cache.
    std::string name = i < argc ? argv[i++] : "overview";
    std::vector<std::string> args(argv + i, argv + argc);
    for (const auto& c : RegisteredCommands()) {
        if (c.Name == name) {
            int rc = c.Run(ctx, args);
            std::cout.flush();
            return rc;
        }
    }
    return UsageError(ctx, "", "unknown command " + name);
}
