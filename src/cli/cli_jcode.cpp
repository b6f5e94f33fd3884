// tarnhold-cli jcode ...: Japanese code detection and conversion of files.
#include "cli.h"
#include "platform/files.h"
#include "text/jconvert.h"

#include <ostream>

namespace tarnhold::cli {
namespace {

int Detect(TCliContext& ctx, const std::vector<std::string>& files) {
    int rc = kExitOk;
    for (const auto& name : files) {
        std::string data;
        int error = 0;
        if (!ReadWholeFile(name, data, &error)) {
            ctx.ReportError(name, error);
            rc = kExitFailure;
            continue;
        }
        const int code = InCodeCheck(data);
        ctx.WriteUtf8(name + ": " + std::to_string(code) + " " + JCodeName(code) + "\n");
    }
    return rc;
}

int Convert(TCliContext& ctx, const std::string& name) {
    std::string data;
    int error = 0;
    if (!ReadWholeFile(name, data, &error)) {
        ctx.ReportError(name, error);
        return kExitFailure;
    }
    // Shift-JIS bytes, whatever --raw says: this is a code converter.
    const std::string sjis = ConvertJCode(data, jcSjis);
    ctx.Out->write(sjis.data(), static_cast<std::streamsize>(sjis.size()));
    return kExitOk;
}

int RunJcode(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.empty())
        return UsageError(ctx, "jcode", "jcode needs a subcommand");
    if (args[0] == "detect" && args.size() >= 2)
        return Detect(ctx, std::vector<std::string>(args.begin() + 1, args.end()));
    if (args[0] == "convert" && args.size() == 2)
        return Convert(ctx, args[1]);
    return UsageError(ctx, "jcode", "bad jcode arguments");
}

const TCliCommandRegistrar registrar({
    "jcode",
    "jcode detect FILE... | jcode convert FILE",
    "detect: the Japanese code of each file (0 ASCII, 1 not text, 2/3 JIS, 4 EUC-JP, "
    "5 Shift-JIS, 6 EUC-JP or Shift-JIS); convert: the file as Shift-JIS on standard output",
    RunJcode,
});

} // namespace
} // namespace tarnhold::cli
