#include "tree/localpaths.h"

#include "platform/codepage.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"
#include "tree/crc32.h"

#include <algorithm>
#include <cstdio>

namespace tarnhold {

namespace {

std::string Hex8(std::uint32_t value) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", value);
    return buf;
}

// The form in which two URLs that name one document meet: escapes decoded,
// ASCII letters lower-cased.
std::string FoldUrl(std::string_view url) {
    return AnsiLowerCase(DecodeURL(url));
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string SuffixChecksum(const TCrc32Table& table, std::string_view suffix) {
    return Hex8(ComputeCrc32(table, 0, suffix.data(), suffix.size()));
}

std::string SuffixedStem(const TCrc32Table& table, std::string_view fileName,
                         std::string_view suffix) {
    std::string checksum = SuffixChecksum(table, suffix);
    if (fileName.empty())
        return checksum;
    std::string stem(fileName.substr(0, fileName.size() - ExtractFileExt(fileName).size()));
    stem += '~';
    stem += checksum;
    return stem;
}

std::string DiskName(std::string_view ansiName) {
    std::string escaped = EscapeFileName(ansiName);
    if (escaped.empty())
        escaped = "$2f";
    // Control characters, which Windows names cannot hold either and which
    // would reach a terminal that lists the copy: "$0a" and the like. They
    // never stand as a trail byte (those are 0x40 and above).
    if (std::any_of(escaped.begin(), escaped.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != 0) || c == 0x7F;
        })) {
        std::string plain;
        for (char c : escaped) {
            if ((static_cast<unsigned char>(c) < 0x20 && c != 0) || c == 0x7F) {
                char buf[4];
                std::snprintf(buf, sizeof buf, "$%02x", static_cast<unsigned char>(c));
                plain += buf;
            } else {
                plain.push_back(c);
            }
        }
        escaped.swap(plain);
    }
    std::string disk = AnsiToPath(escaped).native();
    if (disk.size() <= kMaxNameBytes)
        return disk;
    // Too long for the file system: keep the start and the extension, and
    // tell long names apart by the CRC of the whole name.
    std::string ext = AnsiToPath(ExtractFileExt(escaped)).native();
    if (ext.size() > 32)
        ext.clear();
    const std::string mark = "~" + Hex8(ComputeCrc32(disk));
    std::size_t cut = kMaxNameBytes - mark.size() - ext.size();
    while (cut > 0 && IsContinuationByte(disk[cut]))
        --cut;
    return disk.substr(0, cut) + mark + ext;
}

TLocalPath NodeLocalPath(const TWebCacheTreeNode* node) {
    TLocalPath path;
    for (const TWebCacheTreeNode* n = node; n != nullptr && n->Parent() != nullptr; n = n->Parent())
        path.push_back(DiskName(n->IsFolder ? std::string_view(n->Name()) : n->DisplayName()));
    std::reverse(path.begin(), path.end());
    return path;
}

TLocalPath PlaceBelow(TLocalPath path, const TLocalPath& prefix) {
    // Only folders are stripped: the file name itself always stays.
    if (prefix.empty() || path.size() <= prefix.size() ||
        !std::equal(prefix.begin(), prefix.end(), path.begin()))
        return path;
    path.erase(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(prefix.size()));
    return path;
}

std::string JoinLocalPath(const TLocalPath& path) {
    std::string text;
    for (const std::string& part : path) {
        if (!text.empty())
            text += '/';
        text += part;
    }
    return text;
}

std::string EscapeLinkSegment(std::string_view diskName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(diskName.size());
    for (char ch : diskName) {
        auto c = static_cast<unsigned char>(ch);
        bool plain = c > 0x20 && c < 0x7F;
        if (plain) {
            switch (c) {
            case '%':
            case '#':
            case '?':
            case '"':
            case '\'':
            case '&':
            case '<':
            case '>':
            case '\\':
            case '^':
            case '`':
            case '{':
            case '}':
            case '|':
                plain = false;
                break;
            default:
                break;
            }
        }
        if (plain) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string MakeLocalLink(const TLocalPath& fromFolder, const TLocalPath& to) {
    if (to.empty())
        return {};
    const std::size_t folders = to.size() - 1;
    std::size_t common = 0;
    while (common < fromFolder.size() && common < folders && fromFolder[common] == to[common])
        ++common;
    std::string link;
    for (std::size_t up = fromFolder.size() - common; up > 0; --up)
        link.append("../");
    for (std::size_t i = common; i < to.size(); ++i) {
        if (i > common)
            link.push_back('/');
        link.append(EscapeLinkSegment(to[i]));
    }
    return link;
}

// ---------------------------------------------------------------------------
// TLocalNameTable

void TLocalNameTable::Build() const {
    exact_.clear();
    folded_.clear();
    std::vector<TWebCacheTreeNode*> folders{tree_.Root()};
    while (!folders.empty()) {
        TWebCacheTreeNode* folder = folders.back();
        folders.pop_back();
        for (int i = 0; i < folder->Count(); ++i) {
            TWebCacheTreeNode* child = folder->Items(i);
            if (child->IsFolder) {
                folders.push_back(child);
                continue;
            }
            // The first of equal URLs stays: the newest, as the tree sorts.
            exact_.emplace(child->Info().Url, child);
            folded_.emplace(FoldUrl(child->Info().Url), child);
        }
    }
    built_ = true;
    revision_ = tree_.Revision();
}

TWebCacheTreeNode* TLocalNameTable::Find(std::string_view url) const {
    if (url.empty())
        return nullptr;
    if (!built_ || revision_ != tree_.Revision())
        Build();
    auto lookup = [this](std::string_view u) -> TWebCacheTreeNode* {
        if (auto it = exact_.find(u); it != exact_.end())
            return it->second;
        if (auto it = folded_.find(FoldUrl(u)); it != folded_.end())
            return it->second;
        return nullptr;
    };
    if (TWebCacheTreeNode* node = lookup(url))
        return node;
    // Through the tree: a URL without its scheme (the tree may be built
    // without scheme folders), or a folder's own document.
    TWebCacheTreeNode* node = tree_.FindNodeByUrl(url);
    if (node == nullptr)
        return nullptr;
    if (!node->IsFolder)
        return node;
    std::string folderUrl(url);
    if (folderUrl.back() != '/') {
        folderUrl.push_back('/');
        if (TWebCacheTreeNode* own = lookup(folderUrl))
            return own;
    }
    TWebCacheTreeNode* file = tree_.FindNodeByUrl(folderUrl + tree_.DefaultFileName);
    return file != nullptr && !file->IsFolder ? file : nullptr;
}

TLocalPath TLocalNameTable::WouldBePath(std::string_view url) const {
    std::string dir, file, suffix;
    std::string renamed = tree_.RenameItems().Lookup(url);
    if (!renamed.empty()) {
        // Recorded in decoded form already: cut, not decoded again.
        std::size_t slash = AnsiFindLast(renamed, "/");
        dir = slash == std::string::npos ? std::string() : renamed.substr(0, slash + 1);
        file = slash == std::string::npos ? renamed : renamed.substr(slash + 1);
    } else {
        SplitURL(url, &dir, &file, &suffix);
        if (!suffix.empty() && suffix.front() != '#') {
            if (file.empty())
                file = tree_.DefaultFileName;
            file =
                SuffixedStem(tree_.Crc32Table(), file, suffix) + std::string(ExtractFileExt(file));
        }
    }
    if (!tree_.EnableScheme())
        dir.erase(0, SchemePrefixLength(dir));
    const std::string segments = AnsiReplaceAll(dir, "//", "/");
    TLocalPath path;
    const TWebCacheTreeNode* node = tree_.Root();
    std::string_view rest = segments;
    int depth = 0;
    for (std::size_t slash; (slash = AnsiFind(rest, "/")) != std::string_view::npos;
         rest.remove_prefix(slash + 1)) {
        if (++depth > kMaxFolderDepth)
            continue;
        std::string_view segment = rest.substr(0, slash);
        const TWebCacheTreeNode* child =
            node != nullptr ? const_cast<TWebCacheTreeNode*>(node)->FindFolderChild(segment)
                            : nullptr;
        path.push_back(DiskName(child != nullptr ? std::string_view(child->Name()) : segment));
        node = child;
    }
    path.push_back(
        DiskName(file.empty() ? std::string_view(tree_.DefaultFileName) : std::string_view(file)));
    return path;
}

} // namespace tarnhold
