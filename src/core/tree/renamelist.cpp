#include "tree/renamelist.h"

#include "platform/codepage.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"
#include "tree/recordfile.h"

#include <algorithm>

namespace tarnhold {

void TWebCacheRenameItems::Add(std::string_view key, std::string_view value) {
    std::string k = DecodeURL(key);
    std::string v = DecodeURL(value);
    if (SchemePrefixLength(v) == 0)
        v.insert(0, k.substr(0, SchemePrefixLength(k)));
    std::string lower = AnsiLowerCase(k);
    auto [it, inserted] = items_.try_emplace(std::move(lower));
    if (inserted)
        it->second.Key = std::move(k);
    if (inserted || it->second.Value != v) {
        it->second.Value = std::move(v);
        modified_ = true;
    }
}

std::string TWebCacheRenameItems::Lookup(std::string_view url) const {
    if (items_.empty())
        return {};
    // A URL without '%' is its own normal form: DecodeURL would give it back.
    thread_local std::string key;
    if (url.find('%') == std::string_view::npos)
        AnsiLowerCaseTo(url, key);
    else
        AnsiLowerCaseTo(DecodeURL(url), key);
    auto it = items_.find(key);
    return it != items_.end() ? it->second.Value : std::string();
}

std::vector<const TWebCacheRenameItem*> TWebCacheRenameItems::Items() const {
    std::vector<std::pair<std::string_view, const TWebCacheRenameItem*>> sorted;
    sorted.reserve(items_.size());
    for (const auto& [lower, item] : items_)
        sorted.emplace_back(lower, &item);
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return AnsiCompareStr(a.first, b.first) < 0; });
    std::vector<const TWebCacheRenameItem*> out;
    out.reserve(sorted.size());
    for (const auto& [lower, item] : sorted)
        out.push_back(item);
    return out;
}

TRecordFileRead TWebCacheRenameItems::LoadFromFile(const std::filesystem::path& file) {
    Clear();
    TRecordFileRead read = ReadRecordFile(
        file, [this](std::string_view key, std::string_view value) { Add(key, value); });
    modified_ = false;
    return read;
}

TError TWebCacheRenameItems::SaveToFile(const std::filesystem::path& file) {
    std::vector<std::pair<std::string_view, std::string_view>> records;
    records.reserve(items_.size());
    for (const TWebCacheRenameItem* item : Items())
        records.emplace_back(item->Key, item->Value);
    TError error = WriteRecordFile(file, FormatRecords(records));
    if (error.Ok())
        modified_ = false;
    return error;
}

} // namespace tarnhold
