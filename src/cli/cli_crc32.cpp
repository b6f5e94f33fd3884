// tarnhold-cli crc32 TEXT: the checksum that names the copies of URLs with a
// query string.
#include "cache/crc32.h"
#include "cli.h"

#include <cstdio>

namespace tarnhold::cli {
namespace {

int RunCrc32(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.size() != 1)
        return UsageError(ctx, "crc32", "crc32 needs exactly one text");
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", ComputeCrc32(ctx.ArgToAnsi(args[0])));
    ctx.WriteLine(hex);
    return kExitOk;
}

const TCliCommandRegistrar registrar({
    "crc32",
    "crc32 TEXT",
    "the CRC-32 of the text's ANSI bytes as eight hex digits (as in local names, "
    "name~xxxxxxxx.ext)",
    RunCrc32,
});

} // namespace
} // namespace tarnhold::cli
