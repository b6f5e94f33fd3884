#include "cache/renamelist.h"

#include "cache/recordfile.h"
#include "platform/codepage.h"
#include "platform/sortedlist.h"
#include "text/urlutils.h"

namespace tarnhold {

int TWebCacheRenameItems::Find(std::string_view lowerKey) const {
    return FindInSortedList(items_, lowerKey, [](std::string_view key, const Entry& e) {
        return AnsiCompareStr(key, e.lowerKey);
    });
}

int TWebCacheRenameItems::Add(std::string_view key, std::string_view value) {
    std::string k = DecodeURL(key);
    std::string v = DecodeURL(value);
    if (v.find("://") == std::string::npos) {
        std::size_t scheme = k.find("://");
        if (scheme != std::string::npos)
            v.insert(0, k.substr(0, scheme + 3));
    }
    std::string lower = AnsiLowerCase(k);
    int index = Find(lower);
    if (index >= 0) {
        items_[static_cast<std::size_t>(index)].item.Value = std::move(v);
        return index;
    }
    index = -index - 1;
    items_.insert(items_.begin() + index, Entry{std::move(lower), {std::move(k), std::move(v)}});
    return index;
}

std::string TWebCacheRenameItems::Lookup(std::string_view url) const {
    if (items_.empty())
        return {};
    int index = Find(AnsiLowerCase(DecodeURL(url)));
    return index >= 0 ? items_[static_cast<std::size_t>(index)].item.Value : std::string();
}

bool TWebCacheRenameItems::LoadFromFile(const std::filesystem::path& file) {
    Clear();
    return ReadRecordFile(
        file, [this](std::string_view key, std::string_view value) { Add(key, value); });
}

bool TWebCacheRenameItems::SaveToFile(const std::filesystem::path& file) const {
    std::vector<std::pair<std::string_view, std::string_view>> records;
    records.reserve(items_.size());
    for (const auto& e : items_)
        records.emplace_back(e.item.Key, e.item.Value);
    return WriteRecordFile(file, records);
}

} // namespace tarnhold
