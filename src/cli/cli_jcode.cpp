// tarnhold-cli jcode ...: Japanese code detection and conversion of files.
#include "cli.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "text/jconvert.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>

namespace tarnhold::cli {
namespace {

bool HasHighBytes(std::string_view data) {
    // Eight bytes at a time: a long ISO-2022-JP file has none at all.
    std::size_t i = 0;
    for (; i + 8 <= data.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data.data() + i, 8);
        if ((word & 0x8080808080808080ULL) != 0)
            return true;
    }
    for (; i < data.size(); ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
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

constexpr std::size_t kBlock = 64 * 1024;

// The text of a UTF-8 file is valid UTF-8 piece by piece when each piece is
// cut before a byte that does not continue a character: no character spans
// such a cut, and a broken one stays broken in its piece.
class TUtf8Scan {
public:
    void Add(std::string_view block) {
        if (!valid_)
            return;
        if (held_.empty() && !HasHighBytes(block))
            return; // ASCII: valid, and nothing held to finish
        high_ = true;
        held_.append(block);
        std::size_t cut = held_.size();
        while (cut > 0 && (static_cast<unsigned char>(held_[cut - 1]) & 0xC0) == 0x80)
            --cut;
        // The character that starts before the cut may still be going on.
        if (cut > 0 && static_cast<unsigned char>(held_[cut - 1]) >= 0xC0)
            --cut;
        if (held_.size() - cut > 8) // more continuation bytes than a character holds
            cut = held_.size();
        valid_ = IsValidUtf8(std::string_view(held_).substr(0, cut));
        held_.erase(0, cut);
    }
    bool IsUtf8Text() {
        if (valid_ && !held_.empty())
            valid_ = IsValidUtf8(held_);
        held_.clear();
        return high_ && valid_;
    }

private:
    bool high_ = false;
    bool valid_ = true;
    std::string held_;
};

// The raw conversion of a long regular file, a block at a time, so that
// neither the file nor its conversion is ever held whole: a first pass tells
// whether the file is UTF-8, the start of the file its Japanese code (when
// the start decides it), the second pass converts. False when the file is
// not one for this (short, not regular, UTF-8, or a code its start does not
// decide); then nothing has been written.
bool ConvertRawInBlocks(TCliContext& ctx, const std::string& name) {
    TFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) < 2 * kBlock)
        return false;
    std::string block(kBlock, '\0');
    auto readAt = [&](std::uint64_t offset) -> std::string_view {
        const ssize_t n = ReadAt(fd.Get(), block.data(), block.size(), offset);
        return n <= 0 ? std::string_view()
                      : std::string_view(block.data(), static_cast<std::size_t>(n));
    };
    const std::string_view start = readAt(0);
    std::size_t decided = 0;
    const int source = InCodeCheck(start, &decided);
    if ((source != jcJisNew && source != jcJisOld && source != jcEuc) ||
        decided + 1 >= start.size() ||
        start.size() <= static_cast<std::size_t>(std::max(STRICT_CHECK_LEN, 0)) + 1)
        return false;
    TUtf8Scan utf8;
    std::uint64_t offset = 0;
    for (std::string_view piece = start; !piece.empty(); piece = readAt(offset)) {
        utf8.Add(piece);
        offset += piece.size();
    }
    if (utf8.IsUtf8Text())
        return false;
    TSjisStream stream(source);
    std::string out;
    out.reserve(kBlock + 1);
    offset = 0;
    for (std::string_view piece = readAt(0); !piece.empty(); piece = readAt(offset)) {
        out.clear();
        stream.Convert(piece, out);
        ctx.Write(out);
        offset += piece.size();
    }
    stream.Finish();
    return true;
}

int Convert(TCliContext& ctx, const std::string& name) {
    if (ctx.Raw && ConvertRawInBlocks(ctx, name))
        return kExitOk;
    std::string data;
    int error = 0;
    if (!ReadWholeFile(name, data, &error)) {
        ctx.ReportError(ctx.ShowUtf8(name), error);
        return kExitFailure;
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
