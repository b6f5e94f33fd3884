// tarnhold-cli crc32 TEXT: the checksum that names the copies of URLs with a
// query string.
#include "cli.h"
#include "tree/crc32.h"

#include <cstdio>

namespace tarnhold::cli {
namespace {

int RunCrc32(TCliContext& ctx, const TCliArgs& args) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", ComputeCrc32(ctx.ArgToAnsi(args.Operands[0])));
    ctx.WriteLine(hex);
    return kExitOk;
}

const TCliCommandRegistrar registrar({
    "crc32",
    "crc32 TEXT",
    "the checksum in the local names of URLs with a query string",
    "TEXT is the part of a URL that its local name stands for: the query string\n"
    "with its leading \"?\" (or the parameters from \";\", or the tail from the\n"
    "segment holding \"=\" or \"$\"), as the URL holds it, percent signs and all.\n"
    "It is taken as UTF-8 and checksummed as its Shift-JIS bytes.\n"
    "\n"
    "Prints eight lower-case hex digits: the xxxxxxxx of name~xxxxxxxx.ext. This\n"
    "is not zlib's CRC-32 (cksum -a crc32b): polynomial 0x04C11DB7 taken most\n"
    "significant bit first, start value 0, no reflection and no final XOR.\n"
    "\n"
    "example: tarnhold-cli crc32 '?sku=A-1001&color=red'\n",
    {},
    false,
    1,
    1,
    RunCrc32,
});

} // namespace
} // namespace tarnhold::cli
