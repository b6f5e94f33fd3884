// The measurements every browser-cache source shares: one enumeration of the
// source itself, and one through the cache layer that a refresh of the tree
// reads (each entry converted, its headers parsed).
#pragma once

#include "tree/webcache.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace tarnhold::bench {

template <typename TSource>
void EnumerateSource(benchmark::State& state, const std::filesystem::path& folder) {
    TSource source(folder);
    std::size_t entries = 0;
    for (auto _ : state) {
        entries = 0;
        TRawCacheEntry e;
        for (bool ok = source.First(e); ok; ok = source.Next(e))
            ++entries;
        source.Close();
    }
    state.counters["entries"] = static_cast<double>(entries);
}

template <typename TSource>
void EnumerateThroughCache(benchmark::State& state, const std::filesystem::path& folder) {
    TWebCache cache(std::make_unique<TSource>(folder));
    int entries = 0;
    for (auto _ : state) {
        entries = 0;
        TWebCacheEntryInfo e;
        std::uint64_t bytes = 0;
        for (bool ok = cache.FindFirst(e); ok; ok = cache.FindNext(e)) {
            bytes += e.Url.size() + e.HeaderInfo.Text().size();
            ++entries;
        }
        cache.FindClose();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["entries"] = entries;
}

} // namespace tarnhold::bench
