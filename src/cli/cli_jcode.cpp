// tarnhold-cli jcode ...: Japanese code detection and conversion of files.
#include "cli.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "text/jconvert.h"

#include <ostream>

namespace tarnhold::cli {
namespace {

bool HasHighBytes(std::string_view data) {
    for (char c : data) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

// UTF-8 is told apart before the program's own detection, which knows the
// Japanese codes only (and takes UTF-8 for Shift-JIS or EUC-JP).
bool IsUtf8Text(std::string_view data) {
    return HasHighBytes(data) && IsValidUtf8(data);
}

const char* EncodingName(int code) {
    switch (code) {
    case jcAscii:
        return "ASCII";
    case jcBinary:
        return "binary";
    case jcJisNew:
    case jcJisOld:
        return "ISO-2022-JP";
    case jcEuc:
        return "EUC-JP";
    case jcSjis:
        return "Shift-JIS";
    default:
        return "EUC-JP or Shift-JIS";
    }
}

int Detect(TCliContext& ctx, const std::vector<std::string>& files) {
    int rc = kExitOk;
    TListing listing(ctx, {"file", "encoding", "jcode"});
    for (const auto& name : files) {
        std::string data;
        int error = 0;
        if (!ReadWholeFile(name, data, &error)) {
            ctx.ReportError(ctx.ShowUtf8(name), error);
            rc = kExitFailure;
            continue;
        }
        const int code = InCodeCheck(data);
        const char* encoding = IsUtf8Text(data) ? "UTF-8" : EncodingName(code);
        listing.Row(ctx.ShowUtf8(name) + ": " + encoding, [&] {
            return std::vector<TValue>{TValue::Utf8(name), TValue::Utf8(encoding),
                                       TValue::Count(code)};
        });
    }
    return rc;
}

int Convert(TCliContext& ctx, const std::string& name) {
    std::string data;
    int error = 0;
    if (!ReadWholeFile(name, data, &error)) {
        ctx.ReportError(ctx.ShowUtf8(name), error);
        return kExitFailure;
    }
    if (ctx.Raw && !IsUtf8Text(data)) {
        // The Shift-JIS bytes go out a block at a time, so that the file is
        // held once and its conversion never whole.
        const int source = InCodeCheck(data);
        if (source != jcJisNew && source != jcJisOld && source != jcEuc) {
            ctx.Write(data); // nothing to convert
            return kExitOk;
        }
        constexpr std::size_t kBlock = 64 * 1024;
        TSjisStream stream(source);
        std::string block;
        block.reserve(kBlock + 1);
        const std::string_view text = data;
        for (std::size_t at = 0; at < text.size(); at += kBlock) {
            block.clear();
            stream.Convert(text.substr(at, kBlock), block);
            ctx.Write(block);
        }
        stream.Finish();
        return kExitOk;
    }
    const std::string sjis = IsUtf8Text(data) ? Utf8ToAnsi(data) : ConvertJCode(data, jcSjis);
    // The file's text, not the cache's: written as it is, line breaks and all.
    ctx.Write(ctx.Raw ? sjis : AnsiToUtf8(sjis));
    return kExitOk;
}

int RunJcode(TCliContext& ctx, const TCliArgs& args) {
    const std::string& sub = args.Operands[0];
    const std::vector<std::string> files(args.Operands.begin() + 1, args.Operands.end());
    if (sub == "detect") {
        if (files.empty())
            return UsageError(ctx, "detect needs at least one FILE");
        return Detect(ctx, files);
    }
    if (sub == "convert") {
        if (files.size() != 1)
            return UsageError(ctx, "convert takes one FILE");
        if (ctx.Format != TOutputFormat::ofHuman)
            return UsageError(ctx, "convert writes text, not a listing");
        return Convert(ctx, files[0]);
    }
    return UsageError(ctx, "unknown subcommand '" + EscapeForTerminal(sub) + "'");
}

const TCliCommandRegistrar registrar({
    "jcode",
    "jcode detect FILE...\n"
    "jcode convert FILE",
    "the Japanese code of files; a file converted to Shift-JIS",
    "detect   one line per file, \"FILE: ENCODING\": ASCII, binary, ISO-2022-JP,\n"
    "         EUC-JP, Shift-JIS, \"EUC-JP or Shift-JIS\" (undecided) or UTF-8\n"
    "         fields (--json, --tsv): file, encoding, jcode (the program's code\n"
    "         number: 0 ASCII, 1 binary, 2/3 JIS, 4 EUC-JP, 5 Shift-JIS,\n"
    "         6 undecided; UTF-8 gets the number of the code it resembles)\n"
    "convert  the file's text as the program reads it into Shift-JIS: written\n"
    "         as UTF-8, or as the Shift-JIS bytes with --raw\n"
    "\n"
    "A file that cannot be read is reported; detect goes on with the others.\n"
    "\n"
    "example: tarnhold-cli --raw jcode convert page.html > page-sjis.html\n",
    {},
    true,
    1,
    -1,
    RunJcode,
});

} // namespace
} // namespace tarnhold::cli
