// Rewriting a copied page: the page is written token by token as the cache
// holds it, with every link that names a web address replaced by the
// relative path from the page's copy to the copy of its target, and the
// files the page embeds collected for the copy.
#pragma once

#include "copy/copyprompts.h"
#include "copy/copyreport.h"
#include "text/htmltag.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Reference-copy methods: which embedded files (src, background) a copy takes
// along. favorites.dat and the command line number them 1, 2 and 3
// (CopyMethodFromNumber).
enum class TCopyMethod : std::uint8_t {
    None,     // nothing outside what was chosen
    SameSite, // embedded files of the copy's own site
    All,      // every embedded file the cache holds
};
// The method a stored or typed number stands for: 2 SameSite, 3 All, any
// other None.
TCopyMethod CopyMethodFromNumber(int number);

// Results of RebuildPage besides an errno value (> 0).
constexpr int kRebuildDone = 0;
constexpr int kRebuildAdded = -1;    // done, and nodes were added to the copy list
constexpr int kRebuildTooLarge = -2; // not rewritten: the page is larger than the rewriter takes

// The largest page or stylesheet (decoded) whose links are rewritten; a
// larger one is copied as it is, so that no page, however large, is held
// whole in memory.
constexpr std::uint64_t kMaxRewriteBytes = 64u << 20;

// What a copy counts for its summary.
struct TCopyStats {
    int Files = 0;           // files written (copied or rewritten)
    int Kept = 0;            // existing files left as they were
    int Skipped = 0;         // entries without a cached document (redirects)
    int Pages = 0;           // pages rewritten
    std::uint64_t Bytes = 0; // bytes written
    int Links = 0;           // links rewritten
    int LinksOutside = 0;    // of those, links to documents the cache does not hold
    int Collected = 0;       // embedded files added to the copy list
    // Files written otherwise than a copy writes them (see TAsIsKind); the
    // first kMaxNamedAsIs of them by URL, for the warnings.
    int AsIs = 0;
    int Damaged = 0; // of those, TAsIsKind::Damaged
    std::vector<TAsIsFile> AsIsFiles;
    static constexpr std::size_t kMaxNamedAsIs = 100;
    void NoteAsIs(const std::string& url, TAsIsKind kind) {
        ++AsIs;
        if (kind == TAsIsKind::Damaged)
            ++Damaged;
        if (AsIsFiles.size() < kMaxNamedAsIs)
            AsIsFiles.push_back({url, kind});
    }
};

// One page's rewrite. The table finds link targets; progress (optional) has
// its maximum raised for each collected node; stats (optional) counts.
class TPageRewriter {
public:
    TPageRewriter(const TLocalNameTable& names, TProgress* progress = nullptr,
                  TCopyStats* stats = nullptr)
        : names_(names), progress_(progress), stats_(stats) {}

    // Links lead between the places that PlaceBelow gives for prefix (the
    // components of the folder that the destination stands for; empty: the
    // whole paths), as the copy engine lays the files out.
    void SetPlacement(TLocalPath prefix) { placement_ = std::move(prefix); }

    // On (the default): besides href, src and background, the links of
    // srcset and imagesrcset candidates, poster, object data, the lazy
    // loaders' data-src and data-srcset, style attributes and <style>
    // blocks are rewritten, and <link href> of stylesheets, icons and
    // preloads is collected like src; RebuildStylesheet rewrites style
    // sheets. Off: only the three attributes and the meta refresh.
    void SetAllLinks(bool on) { allLinks_ = on; }
    bool AllLinks() const { return allLinks_; }
    // Receives, page by page, the links whose targets the cache does not
    // hold (optional).
    void SetReport(TCopyReport* report) { report_ = report; }

    // The page of node, read from its cached file. write true: the rewritten
    // page goes to out; false: the page is only scanned for embedded files
    // (out is left alone, a refresh is not resolved). list (may be null when
    // method is TCopyMethod::None) receives the
    // embedded nodes; prefix is the URL the copy starts from. The result is
    // kRebuildDone or kRebuildAdded; when write is set, kRebuildTooLarge for
    // a page of more than kMaxRewriteBytes (out is left alone: the caller
    // copies the page as it is) and the errno value when the cached page
    // cannot be read. Only written, a page that cannot be read fails; only
    // scanned, it holds no links.
    int Rebuild(bool write, std::string* out, TCopyMethod method, TWebCacheTreeNodeCopyList* list,
                TWebCacheTreeNode* node, std::string_view prefix);

    // The stylesheet of node, read from its cached file, with its url() and
    // @import links rewritten against the sheet's own URL and collected as
    // Rebuild collects embedded files; every other byte stays. A sheet in
    // UTF-16 or UTF-32 is left as it is. Arguments and result as Rebuild's.
    int RebuildStylesheet(bool write, std::string* out, TCopyMethod method,
                          TWebCacheTreeNodeCopyList* list, TWebCacheTreeNode* node,
                          std::string_view prefix);

    // The link that replaces value in the page of node, read against base;
    // false when the value stays (not a web address).
    bool ResolveLink(const TLocalPath& pageFolder, std::string_view base, std::string_view value,
                     std::string& link, std::string* url = nullptr,
                     TWebCacheTreeNode** target = nullptr);
    // The link that replaces value in the copy of the page cached under
    // pageUrl (which the cache need not hold: its copy would lie at the
    // table's WouldBePath); false when the value stays.
    bool LinkFromPage(std::string_view pageUrl, std::string_view value, std::string& link);
    // The address against which the links of the page or sheet cached under
    // url are read: url, or where the tree has no scheme folders, url with
    // "http://" for its scheme, so that every web scheme meets one copy.
    std::string BaseOf(std::string_view url) const;

private:
    // ResolveLink for a value whose character references are decoded
    // (text); written is the value as the page has it, for the report.
    bool ResolveText(const TLocalPath& pageFolder, std::string_view base, std::string text,
                     std::string_view written, std::string& link, std::string* url,
                     TWebCacheTreeNode** target);
    // The page's or sheet's body, decoded, into data: 0, kRebuildTooLarge,
    // or the errno value of a body that cannot be read. A body that did not
    // decode is counted when the pass writes.
    int ReadBody(const TWebCacheTreeNode* node, bool write, std::string& data);
    // What one read of a page or sheet needs besides its base.
    void BeginPass(TWebCacheTreeNode* node, std::string_view prefix, TCopyMethod method,
                   TWebCacheTreeNodeCopyList* list);
    void EndPass();
    // Resolves and, when embedded, collects the target as the method says;
    // text is decoded (written as the page has it).
    bool LinkTo(std::string_view base, std::string text, std::string_view written, bool embedded,
                std::string& link);
    // The attributes beyond href, src and background (allLinks_ only):
    // false when name is none of them.
    bool RewriteOtherAttribute(std::string_view base, const std::string& tagName,
                               const std::string& name, THTMLEllement& element, bool write);
    // css with its links rewritten, appended to out. shiftJis 1 or 0 as the
    // sheet's character set says, -1: the page's, asked only where it
    // matters. attribute: css is an attribute's value, whose character
    // references are read as such.
    void RewriteCss(std::string_view base, std::string_view css, int shiftJis, bool attribute,
                    std::string& out);
    // Whether the page read now is in Shift-JIS (asked once, when it matters).
    bool PageIsShiftJis();
    // The encoding of the page read now (found once, when it matters).
    const std::string& PageEncoding();

    const TLocalNameTable& names_;
    TProgress* progress_;
    TCopyStats* stats_;
    TLocalPath placement_;
    bool allLinks_ = true;
    TCopyReport* report_ = nullptr;

    // The page being read.
    TLocalPath pageFolder_;
    std::string siteRoot_;
    TCopyMethod method_ = TCopyMethod::None;
    TWebCacheTreeNodeCopyList* list_ = nullptr;
    int result_ = kRebuildDone;
    std::string_view pageData_;
    std::string pageCharset_;   // the charset its server declared
    std::string pageEncoding_;  // empty: not looked at yet
    std::uint8_t pageCode_ = 0; // its CharsetCode
};

// Counts a file written as it is in stats and names it in report (either
// may be null).
void NoteAsIs(TCopyStats* stats, TCopyReport* report, const std::string& url, TAsIsKind kind);

// RebuildPage with the page written to output: to a new file beside it that
// replaces output only when complete, so a failed rewrite leaves what was
// there. The result is kRebuildDone, kRebuildAdded or an errno value.
int RebuildPage(const TLocalNameTable& names, bool write, const std::filesystem::path& output,
                TCopyMethod method, TWebCacheTreeNodeCopyList* list, TWebCacheTreeNode* node,
                std::string_view prefix, TProgress* progress = nullptr,
                TCopyStats* stats = nullptr);

} // namespace tarnhold
