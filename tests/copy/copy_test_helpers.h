// Helpers of the copy tests: caches whose cached files are real files in a
// temporary folder, scripted answers to the copy's questions, and reading
// back what a copy wrote.
#pragma once

#include "copy/copyengine.h"
#include "support/cache_test_helpers.h"
#include "support/cachetreefixture.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnhold::test {

// A cache of documents with content: each Add writes the cached file and
// records the entry; Tree() builds and refreshes a tree over them.
class TSiteFixture {
public:
    TSiteFixture();
    // Adds a document; day sets the last-modified time (2026-11-<day> 12:00 UTC).
    void Add(const std::string& url, const std::string& content,
             const std::string& contentType = "text/html", int day = 1);
    // An entry whose cached file does not exist.
    void AddMissing(const std::string& url, const std::string& contentType);
    // An entry whose cached body is stored as given (a slice of its file
    // from offset, length bytes; -1: the whole file), with an encoding.
    void AddStored(const std::string& url, const std::string& stored,
                   const std::string& contentType, const std::string& encoding,
                   std::uint64_t offset = 0, std::int64_t length = -1);
    // An entry whose cached file is file, whatever that is.
    void AddFile(const std::string& url, const std::filesystem::path& file,
                 const std::string& contentType);
    std::unique_ptr<TWebCacheTree> Tree(bool enableScheme = true);
    std::filesystem::path Out() const { return dir_.Path() / "out"; }
    const std::filesystem::path& Root() const { return dir_.Path(); }

private:
    struct TStored {
        std::string Encoding;
        std::uint64_t Offset;
        std::int64_t Length;
    };
    TTempDir dir_;
    std::vector<testing::TEntrySpec> specs_;
    std::map<std::size_t, TStored> stored_; // by index in specs_
};

// Answers the overwrite question from a script (Cancel once it runs out) and
// records what was asked and which failures were shown.
class TScriptedPrompts : public TCopyPrompts {
public:
    explicit TScriptedPrompts(std::vector<TOverwriteAnswer> answers = {})
        : answers_(std::move(answers)) {}
    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node,
                                  const std::filesystem::path& path) override;
    void ShowFailure(const TCopyFailure& failure) override { Failures.push_back(failure); }

    std::vector<std::filesystem::path> Asked;
    std::vector<TCopyFailure> Failures;

private:
    std::vector<TOverwriteAnswer> answers_;
    std::size_t next_ = 0;
};

class TCountingProgress : public TProgress {
public:
    void SetMaximum(int maximum) override { Maximum = maximum; }
    void RaiseMaximum() override { ++Maximum; }
    void Step(const TWebCacheTreeNode*) override { ++Position; }
    int Maximum = 0;
    int Position = 0;
};

// Every regular file below folder, as paths relative to it ("a/b.html").
std::vector<std::string> FilesBelow(const std::filesystem::path& folder);

// The values of every href, src and background attribute of a page, in order.
std::vector<std::string> LinkValues(const std::string& page);

// Percent-decodes a link as a browser does before it opens a local file.
std::string PercentDecode(std::string_view link);

} // namespace tarnhold::test
