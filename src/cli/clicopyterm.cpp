#include "clicopyterm.h"

#include "platform/codepage.h"
#include "platform/filetime.h"
#include "text/displayformat.h"

#include <istream>
#include <ostream>
#include <sys/stat.h>
#include <vector>

namespace tarnhold::cli {

namespace {

std::string DescribeFile(const TCliContext& ctx, std::uint64_t size, const SYSTEMTIME& time) {
    return std::to_string(size) + " bytes, " + ctx.Show(FormatDateTimeShort(time));
}

} // namespace

std::string Tail(const std::string& text, std::size_t columns) {
    std::vector<std::size_t> starts; // where each character begins
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            starts.push_back(i);
    }
    if (starts.size() <= columns || columns <= 3)
        return text;
    return "..." + text.substr(starts[starts.size() - (columns - 3)]);
}

TOverwriteAnswer TTerminalPrompts::AskOverwrite(const TWebCacheTreeNode& node,
                                                const std::filesystem::path& path) {
    progress_.Clear();
    std::string there = "?";
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        FILETIME local{};
        SYSTEMTIME time{};
        (void)FileTimeToLocalFileTime(UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
                                      local);
        (void)FileTimeToSystemTime(local, time);
        there = DescribeFile(ctx_, static_cast<std::uint64_t>(st.st_size), time);
    }
    *ctx_.Err << ctx_.ShowPath(path) << " exists (" << there << ").\n"
              << "Overwrite it with " << ctx_.Show(node.Info().Url) << " ("
              << DescribeFile(ctx_, node.Size(), node.LastModified()) << ")?\n";
    for (;;) {
        *ctx_.Err << "[y]es, [n]o, [a]ll, [k]eep all, [w]here the cache is newer, "
                     "[c]ancel: "
                  << std::flush;
        std::string line;
        if (ctx_.In == nullptr || !std::getline(*ctx_.In, line))
            return TOverwriteAnswer::Cancel; // as closing the dialog
        if (const std::optional<TOverwriteAnswer> answer = Answer(line))
            return *answer;
    }
}

std::optional<TOverwriteAnswer> TTerminalPrompts::Answer(std::string_view line) {
    line = AnsiTrim(line);
    static const struct {
        const char* key;
        const char* word;
        TOverwriteAnswer answer;
    } kAnswers[] = {
        {"y", "yes", TOverwriteAnswer::Yes},      {"n", "no", TOverwriteAnswer::No},
        {"a", "all", TOverwriteAnswer::YesToAll}, {"k", "none", TOverwriteAnswer::NoToAll},
        {"w", "newer", TOverwriteAnswer::Newer},  {"c", "cancel", TOverwriteAnswer::Cancel},
    };
    for (const auto& a : kAnswers) {
        if (AnsiSameText(line, a.key) || AnsiSameText(line, a.word))
            return a.answer;
    }
    return std::nullopt;
}

void WarnAsIsFiles(TCliContext& ctx, const TCopyStats& stats, const char* command) {
    for (const TAsIsFile& file : stats.AsIsFiles)
        ctx.Warn(std::string(command) + ": " + ctx.ShowUtf8(file.Url) + ": " + AsIsText(file.Kind));
    if (stats.AsIs > static_cast<int>(stats.AsIsFiles.size()))
        ctx.Warn(std::string(command) + ": " +
                 std::to_string(stats.AsIs - static_cast<int>(stats.AsIsFiles.size())) +
                 " more files copied as they are");
    if (stats.Damaged > 0)
        ctx.DataLost = true;
}

std::string CopyFailureLine(const TCliContext& ctx, const TCopyFailure& failure) {
    const std::string local = ctx.ShowPath(failure.LocalPath);
    std::string line;
    switch (failure.Kind) {
    case TCopyFailureKind::CreateFolder:
        line = "could not create the folder " + local;
        break;
    case TCopyFailureKind::CopyFile:
        line = "could not copy " + ctx.ShowUtf8(failure.CacheFile) + " to " + local;
        break;
    case TCopyFailureKind::SetFileTime:
        line = "could not set the time of " + local;
        break;
    }
    if (failure.Error != 0)
        line += ": " + ctx.ShowUtf8(TError::FromErrno(failure.Error).Text());
    return line;
}

} // namespace tarnhold::cli
