#include "support/cachetreefixture.h"

#include <cstdio>
#include <cstdlib>

namespace tarnhold::testing {

TRawCacheEntry MakeRawEntry(const TEntrySpec& spec) {
    TRawCacheEntry e;
    e.Url = spec.Url;
    e.EntryType = NORMAL_CACHE_ENTRY;
    e.Size = spec.Size;
    e.HeaderBlock = "HTTP/1.1 200 OK\r\n";
    if (!spec.ContentType.empty())
        e.HeaderBlock += "Content-Type: " + spec.ContentType + "\r\n";
    e.HeaderBlock += "\r\n~U:tester\r\n";
    SYSTEMTIME st{2026, 11, 0, static_cast<std::uint16_t>(spec.Day), 12, 0, 0, 0};
    SystemTimeToFileTime(st, e.LastModified);
    e.LocalFileName = spec.LocalFile;
    return e;
}

std::unique_ptr<TWebCacheTree> MakeTree(const std::vector<TEntrySpec>& entries, bool enableScheme) {
    std::vector<TRawCacheEntry> raw;
    for (const auto& spec : entries)
        raw.push_back(MakeRawEntry(spec));
    return MakeTreeFromRaw(std::move(raw), enableScheme);
}

std::unique_ptr<TWebCacheTree> MakeTreeFromRaw(std::vector<TRawCacheEntry> entries,
                                               bool enableScheme) {
    auto source = std::make_unique<TMemoryCacheSource>(std::move(entries));
    auto tree = std::make_unique<TWebCacheTree>(std::move(source));
    tree->MimeTypesFile = std::string(TARNHOLD_TEST_DATA) + "/cache/mime.types";
    tree->LoadContentTypes();
    tree->SetEnableScheme(enableScheme);
    return tree;
}

void Refresh(TWebCacheTree& tree) {
    if (TError error = tree.Refresh()) {
        std::fprintf(stderr, "refresh failed: %s\n", error.Text().c_str());
        std::abort();
    }
}

TMemoryCacheSource& SourceOf(TWebCacheTree& tree) {
    return *static_cast<TMemoryCacheSource*>(tree.Cache().Source());
}

std::vector<std::string> ChildNames(const TWebCacheTreeNode* folder) {
    std::vector<std::string> names;
    for (int i = 0; i < folder->Count(); ++i)
        names.push_back(folder->Items(i)->Name());
    return names;
}

} // namespace tarnhold::testing
