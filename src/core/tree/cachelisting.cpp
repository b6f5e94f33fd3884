#include "tree/cachelisting.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "text/charset.h"
#include "text/htmlparser.h"
#include "text/urlutils.h"
#include "tree/recordfile.h"

#include <algorithm>

namespace tarnhold {

namespace {

// Whether the text from `from` on holds "</head" in any case.
bool HoldsHeadEnd(std::string_view text, std::size_t from) {
    static constexpr std::string_view kEnd = "</head";
    for (std::size_t i = text.find('<', from); i != std::string_view::npos;
         i = text.find('<', i + 1)) {
        if (text.size() - i >= kEnd.size() && AnsiSameText(text.substr(i, kEnd.size()), kEnd))
            return true;
    }
    return false;
}

int CompareNames(const TFolderRow& a, const TFolderRow& b) {
    return AnsiCompareText(a.Node->DisplayName(), b.Node->DisplayName());
}

int NewestFirst(const TFolderRow& a, const TFolderRow& b) {
    return -CompareSystemTime(a.Node->LastModified(), b.Node->LastModified());
}

int Sign(std::uint64_t a, std::uint64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

} // namespace

bool IsHtmlEntry(const TWebCacheEntryInfo& entry) {
    return AnsiLowerCase(entry.HeaderInfo.Values("Content-Type")).find("text/html") !=
           std::string::npos;
}

std::string ReadPageTitle(const std::string& localFile) {
    TWebCacheEntryInfo entry;
    entry.LocalFileName = localFile;
    return ReadPageTitle(entry);
}

std::string ReadPageTitle(const TWebCacheEntryInfo& entry) {
    if (entry.LocalFileName.empty())
        return {};
    std::string head;
    std::size_t searched = 0;
    TError error = ReadCacheBody(entry, head, kTitleReadLimit, nullptr, [&](std::string_view text) {
        // The end of the head may straddle two pieces.
        bool done = HoldsHeadEnd(text, searched);
        searched = text.size() >= 6 ? text.size() - 6 : 0;
        return done;
    });
    if (error)
        return {};
    THTMLParser parser;
    parser.SetHeaderCharset(CharsetParameter(entry.HeaderInfo.Values("Content-Type")));
    parser.LoadFromText(head);
    return parser.Title();
}

std::string UrlNameOf(const TWebCacheTreeNode& node) {
    std::string file, suffix;
    SplitURL(node.Info().Url, nullptr, &file, &suffix);
    return file + suffix;
}

const std::string& TTitleCache::Title(const TWebCacheTreeNode& node) {
    static const std::string kNone;
    if (node.IsFolder || !IsHtmlEntry(node.Info()))
        return kNone;
    if (node.Tree() != tree_ || node.Tree()->Generation() != generation_) {
        // Every rebuild makes new nodes, perhaps at the addresses of old ones.
        items_.clear();
        tree_ = node.Tree();
        generation_ = node.Tree()->Generation();
    }
    auto [it, inserted] = items_.try_emplace(&node);
    if (inserted || it->second.localFile != node.Info().LocalFileName) {
        it->second.localFile = node.Info().LocalFileName;
        it->second.title = ReadPageTitle(node.Info());
    }
    return it->second.title;
}

void TTitleCache::Clear() {
    items_.clear();
    tree_ = nullptr;
    generation_ = 0;
}

int CompareRows(const TFolderRow& a, const TFolderRow& b, int sortKey, int sortOrder) {
    int c = 0;
    const bool aFolder = a.Node->IsFolder;
    const bool bFolder = b.Node->IsFolder;
    if (aFolder != bFolder) {
        c = aFolder ? -1 : 1;
    } else {
        switch (sortKey) {
        case lsUrlName:
            c = AnsiCompareText(a.UrlName, b.UrlName);
            if (c == 0)
                c = CompareNames(a, b);
            if (c == 0)
                c = NewestFirst(a, b);
            break;
        case lsTitle:
        case lsSize:
        case lsType:
            if (aFolder) {
                c = CompareNames(a, b);
                break;
            }
            if (sortKey == lsTitle) {
                if (!a.Title.empty() || !b.Title.empty())
                    c = a.Title.empty() ? -1
                                        : (b.Title.empty() ? 1 : Utf8CompareText(a.Title, b.Title));
            } else if (sortKey == lsSize) {
                c = Sign(a.Node->Size(), b.Node->Size());
            } else {
                c = AnsiCompareText(a.TypeName, b.TypeName);
            }
            if (c == 0)
                c = CompareNames(a, b);
            if (c == 0)
                c = NewestFirst(a, b);
            break;
        case lsDate:
            c = NewestFirst(a, b);
            if (c == 0)
                c = CompareNames(a, b);
            break;
        default: // lsName
            c = CompareNames(a, b);
            if (c == 0)
                c = NewestFirst(a, b);
            break;
        }
    }
    return sortOrder == 1 ? -c : c;
}

std::vector<TFolderRow> ListFolder(const TWebCacheTreeNode& folder, TTitleCache& titles,
                                   int sortKey, int sortOrder, const TTypeNameOf& typeName) {
    std::vector<TFolderRow> rows;
    rows.reserve(static_cast<std::size_t>(folder.Count()));
    for (int i = 0; i < folder.Count(); ++i) {
        TWebCacheTreeNode* node = folder.Items(i);
        if (node->Deleting)
            continue;
        TFolderRow row;
        row.Node = node;
        if (!node->IsFolder) {
            row.UrlName = UrlNameOf(*node);
            row.Title = titles.Title(*node);
        }
        if (typeName)
            row.TypeName = typeName(*node);
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end(), [&](const TFolderRow& a, const TFolderRow& b) {
        return CompareRows(a, b, sortKey, sortOrder) < 0;
    });
    return rows;
}

} // namespace tarnhold
