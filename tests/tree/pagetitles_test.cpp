// The titles of real browser caches' pages, as the list shows them, against
// the titles the site that filled the caches served.
#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/opencache.h"
#include "support/cachetreefixture.h"
#include "tree/cachelisting.h"
#include "tree/webcachetree.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

// The title a site file holds, in UTF-8 (the test site writes its one
// Shift-JIS page under a name that says so).
std::string ServedTitle(const fs::path& file) {
    std::string page;
    if (!ReadWholeFile(file, page))
        return {};
    const std::size_t start = page.find("<title>");
    const std::size_t end = page.find("</title>");
    if (start == std::string::npos || end == std::string::npos || end < start)
        return {};
    std::string title = page.substr(start + 7, end - start - 7);
    if (file.filename().string().find("sjis") != std::string::npos)
        title = AnsiToUtf8(title);
    return title;
}

// Every page of the cache in the list's rows, by URL, with its title.
std::map<std::string, std::string> ListedTitles(TWebCacheTree& tree) {
    std::map<std::string, std::string> titles;
    TTitleCache cache;
    std::vector<const TWebCacheTreeNode*> folders{tree.Root()};
    while (!folders.empty()) {
        const TWebCacheTreeNode* folder = folders.back();
        folders.pop_back();
        for (const TFolderRow& row : ListFolder(*folder, cache, 0, 0)) {
            if (row.Node->IsFolder)
                folders.push_back(row.Node);
            else if (!row.Title.empty())
                titles[row.Node->Info().Url] = row.Title;
        }
    }
    return titles;
}

TEST(PageTitles, RealBrowserCachesShowTheTitlesTheSiteServed) {
    const fs::path data = TARNHOLD_TEST_DATA;
    struct TCache {
        const char* folder;
        TCacheKind kind;
        const char* site;
        int pages; // titled pages at least
    } const caches[] = {
        {"browsers/chromium", TCacheKind::ckChromium, "browsers/site-chromium", 5},
        {"browsers/firefox", TCacheKind::ckFirefox, "browsers/site-firefox", 5},
    };
    for (const TCache& c : caches) {
        SCOPED_TRACE(c.folder);
        TWebCacheTree tree(OpenCacheSourceAt(data / c.folder, c.kind));
        testing::Refresh(tree);
        const auto titles = ListedTitles(tree);
        int compared = 0;
        for (const auto& [url, title] : titles) {
            // http://127.0.0.1:PORT/<file>: the file of the site.
            const std::size_t path = url.find('/', url.find("://") + 3);
            std::string file = url.substr(path + 1);
            file = file.substr(0, file.find('?'));
            const fs::path served = data / c.site / (file.empty() ? "index.html" : file);
            if (!fs::is_regular_file(served))
                continue; // an error page of the server
            EXPECT_EQ(title, ServedTitle(served)) << url;
            ++compared;
        }
        EXPECT_GE(compared, c.pages);
    }
}

} // namespace
} // namespace tarnhold
