// The URL functions that the cache tree runs for every entry of a refresh.
#include "text/urlutils.h"
#include "tree/localpaths.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

using namespace tarnhold;

const std::vector<std::string>& Urls() {
    static const std::vector<std::string> urls = {
        "http://www.example.co.jp/news/2004/06/index.html",
        "http://www.example.co.jp/images/top/logo_header.gif",
        "http://search.example.com/cgi-bin/search.cgi?q=%E6%97%A5%E6%9C%AC&page=2",
        "http://www.example.co.jp/%E8%A3%BD%E5%93%81/%E4%B8%80%E8%A6%A7.html",
        "http://static.example.net/js/lib/jquery-1.2.6.min.js",
        "http://www.example.org/wiki/Main%20Page",
        "http://ad.example.com/click;id=123/x=4/y.html",
        "https://secure.example.com/account/",
    };
    return urls;
}

void BM_SplitURL(benchmark::State& state) {
    std::string dir, file, suffix;
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const auto& url : Urls()) {
            SplitURL(url, &dir, &file, &suffix);
            benchmark::DoNotOptimize(dir.data());
            bytes += url.size();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * Urls().size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_WouldBePath(benchmark::State& state) {
    TWebCacheTree tree;
    const TLocalNameTable names(tree);
    for (auto _ : state) {
        for (const auto& url : Urls())
            benchmark::DoNotOptimize(names.WouldBePath(url));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * Urls().size()));
}

void BM_MakeLocalLink(benchmark::State& state) {
    TWebCacheTree tree;
    const TLocalNameTable names(tree);
    TLocalPath base = names.WouldBePath("http://www.example.co.jp/news/2004/06/index.html");
    base.pop_back();
    for (auto _ : state) {
        for (const auto& url : Urls())
            benchmark::DoNotOptimize(MakeLocalLink(base, names.WouldBePath(url)));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * Urls().size()));
}

BENCHMARK(BM_SplitURL);
BENCHMARK(BM_WouldBePath);
BENCHMARK(BM_MakeLocalLink);

} // namespace
