// The cache tree over arbitrary URLs: every line of the input is one cache
// entry ("URL", or "URL<TAB>Content-Type"). The tree is refreshed (and must
// hold no more text than a few times the input), every file is found again
// by its folder URL and name, folders are listed, links between the entries
// are resolved, and the entries are deleted one by one.
#include "support/memorycachesource.h"
#include "tree/cachelisting.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace tarnhold;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024)
        return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto source = std::make_unique<TMemoryCacheSource>();
    std::vector<std::string> urls;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        std::size_t tab = line.find('\t');
        TRawCacheEntry e;
        e.Url = std::string(line.substr(0, tab));
        e.EntryType = NORMAL_CACHE_ENTRY;
        e.Size = line.size();
        e.LastModified = U64ToFileTime(130000000000000000ULL + pos * 10000000ULL);
        e.HeaderBlock =
            "HTTP/1.1 200 OK\r\nContent-Type: " +
            std::string(tab == std::string_view::npos ? "text/html" : line.substr(tab + 1)) +
            "\r\n";
        urls.push_back(e.Url);
        source->Add(std::move(e));
    }

    for (bool scheme : {true, false}) {
        TWebCacheTree tree(std::make_unique<TMemoryCacheSource>(*source));
        tree.MimeTypesFile = "/nonexistent"; // the built-in table only
        tree.LoadContentTypes();
        tree.SetEnableScheme(scheme);
        int expected = tree.CountEntries();
        if (tree.Refresh() || tree.CountFiles(tree.Root()) != expected)
            std::abort();
        // The text the nodes hold stays in proportion to the input, however
        // deep and long its URLs are.
        std::size_t held = 0;
        std::vector<const TWebCacheTreeNode*> pending{tree.Root()};
        TTitleCache titles;
        while (!pending.empty()) {
            const TWebCacheTreeNode* node = pending.back();
            pending.pop_back();
            held += node->Name().size() + node->Info().Url.size() + node->Info().DirUrl.size() +
                    node->Info().FileName.size() + node->Info().ExtraInfo.size();
            if (node->IsFolder && pending.size() < 64) {
                if (node->Count() <= 64)
                    (void)ListFolder(*node, titles, static_cast<int>(held % 6));
                (void)JoinLocalPath(NodeLocalPath(node));
            }
            for (int i = 0; i < node->Count(); ++i)
                pending.push_back(node->Items(i));
        }
        if (held > 6 * (size + 32 * urls.size()) + 64)
            std::abort();
        const TLocalNameTable names(tree);
        for (std::size_t i = 0; i < urls.size() && i < 64; ++i) {
            tree.FindFolderByUrl(urls[i]);
            (void)names.Find(urls[(i + 1) % urls.size()]);
            (void)names.WouldBePath(urls[i]);
        }
        int deleted = 0;
        TSubscription counter =
            tree.OnNodeDeleted.Subscribe([&](TWebCacheTree&, std::string_view) { ++deleted; });
        while (tree.Root()->Count() > 0) {
            TWebCacheTreeNode* node = tree.Root();
            while (node->Count() > 0)
                node = node->Items(node->Count() / 2);
            if (tree.DeleteNode(node))
                std::abort(); // the memory cache deletes every entry it holds
        }
        if (deleted < expected)
            std::abort();
    }
    return 0;
}
