// URL splitting, decoding, local paths and relative links over arbitrary
// bytes. The input is "base\ntarget" (without a newline, base and target are
// the same text). Aborts if a local path could leave the save folder.
#include "platform/codepage.h"
#include "text/urlutils.h"
#include "tree/localpaths.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace tarnhold;

// A path below the save folder: relative, no "." or ".." component, no NUL.
void CheckLocalPath(std::string_view path) {
    if (!path.empty() && path.front() == '/')
        std::abort();
    if (path.find('\0') != std::string_view::npos)
        std::abort();
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('/', start);
        std::string_view part =
            path.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (part == "." || part == "..")
            std::abort();
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
}

// Every component of a local path is one name inside its folder.
void CheckComponents(const TLocalPath& path) {
    for (const std::string& part : path) {
        if (part.empty() || part.find('/') != std::string::npos || part.size() > kMaxNameBytes)
            std::abort();
    }
    CheckLocalPath(JoinLocalPath(path));
}

// A link climbs with leading "../" only, then names folders as on disk.
void CheckLink(std::string_view link) {
    if (!link.empty() && link.front() == '/')
        std::abort();
    while (link.substr(0, 3) == "../")
        link.remove_prefix(3);
    CheckLocalPath(link);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t nl = input.find('\n');
    std::string_view base = input.substr(0, nl);
    std::string_view target = nl == std::string_view::npos ? input : input.substr(nl + 1);

    std::string dir, file, suffix;
    SplitURL(target, &dir, &file, &suffix);
    SplitURL(target, nullptr, &file, nullptr);
    (void)DecodeURL(target);
    (void)DecodeURLString(target);
    (void)DecodeUTF8Text(target);

    CheckLocalPath(EscapeFileName(file));
    if (EscapeFileName(file).find('/') != std::string::npos)
        std::abort();
    static TWebCacheTree tree; // empty: every URL is named as one the cache lacks
    const TLocalNameTable names(tree);
    const TLocalPath to = names.WouldBePath(target);
    CheckComponents(to);
    TLocalPath from = names.WouldBePath(base);
    CheckComponents(from);
    from.pop_back();
    CheckLink(MakeLocalLink(from, to));

    (void)GetSiteRootURL(target);
    (void)GetURLDirectory(target);
    (void)GetParentURL(target);
    (void)GetURLFolderName(target);
    (void)GetURLFileName(target);
    return 0;
}
