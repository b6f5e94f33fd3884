// The terminal side of a copy for tarnhold-cli: the progress line and the
// overwrite question, shared by copy and favorites copy|move.
#pragma once

#include "cli.h"
#include "copy/copyengine.h"

#include <chrono>
#include <optional>
#include <string>

namespace tarnhold::cli {

// The last characters of text (UTF-8) that fit in columns, "..." in front
// when some were left out.
std::string Tail(const std::string& text, std::size_t columns);

// Warns of each file a copy wrote otherwise than it writes files (bodies
// that could not be decoded, pages too large to rewrite, damaged bodies);
// a damaged body makes the command end with exit 1.
void WarnAsIsFiles(TCliContext& ctx, const TCopyStats& stats, const char* command);

// The progress line on a terminal: files done of the total, bytes written
// and the file at hand, redrawn in place at most ten times a second.
class TTerminalProgress : public TProgress {
public:
    TTerminalProgress(const TCliContext& ctx, bool shown) : ctx_(ctx), shown_(shown) {}
    void Attach(const TCopyEngine* engine) { engine_ = engine; }
    // Each CopyToFolder sets the files of its own nodes: they come after
    // the ones done before.
    void SetMaximum(int maximum) override { maximum_ = position_ + maximum; }
    void RaiseMaximum() override { ++maximum_; }
    void Step(const TWebCacheTreeNode* node) override {
        ++position_;
        if (!shown_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        drawn_ = true;
        std::string line =
            "\r" + std::to_string(position_) + "/" + std::to_string(maximum_) + " files";
        if (engine_ != nullptr)
            line += ", " + std::to_string(engine_->Stats().Bytes) + " bytes";
        if (node != nullptr)
            line += "  " + Tail(ctx_.Show(node->Info().Url), 48);
        *ctx_.Err << line << "\x1b[K" << std::flush;
    }
    // Clears the line (before a question, a message or the summary).
    void Clear() {
        if (drawn_)
            *ctx_.Err << "\r\x1b[K" << std::flush;
        drawn_ = false;
    }

private:
    const TCliContext& ctx_;
    bool shown_;
    const TCopyEngine* engine_ = nullptr;
    int maximum_ = 0;
    int position_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_;
};

// What stopped a copy, in the command line's words ("could not create the
// folder /x: Permission denied"), for the error stream.
std::string CopyFailureLine(const TCliContext& ctx, const TCopyFailure& failure);

// The overwrite question on the terminal: what the dialog shows (the file
// there, the cached one), and a key for each of its six answers.
class TTerminalPrompts : public TCopyPrompts {
public:
    TTerminalPrompts(const TCliContext& ctx, TTerminalProgress& progress)
        : ctx_(ctx), progress_(progress) {}

    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node,
                                  const std::filesystem::path& path) override;

    void ShowFailure(const TCopyFailure&) override {
        progress_.Clear(); // the message comes with the summary
    }

    // The answer a typed line gives: a key or the --overwrite word; none
    // for any other line.
    static std::optional<TOverwriteAnswer> Answer(std::string_view line);

protected:
    const TCliContext& Context() const { return ctx_; }
    TTerminalProgress& Progress() { return progress_; }

private:
    const TCliContext& ctx_;
    TTerminalProgress& progress_;
};

} // namespace tarnhold::cli
