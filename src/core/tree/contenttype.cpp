#include "tree/contenttype.h"

#include "platform/codepage.h"
#include "platform/mimetypes.h"
#include "platform/sortedlist.h"
#include "tree/recordfile.h"

#include <algorithm>
#include <utility>

namespace tarnhold {

namespace {

// The extension a user expects for the common web types: what the MIME
// database's "Extension" value says on a Windows machine. Applied after the
// media-types file, so these win over its last-in-order extension.
constexpr std::pair<std::string_view, std::string_view> kBuiltInDefaults[] = {
    {"application/javascript", ".js"},
    {"application/json", ".json"},
    {"application/pdf", ".pdf"},
    {"application/x-javascript", ".js"},
    {"application/x-shockwave-flash", ".swf"},
    {"application/xhtml+xml", ".xhtml"},
    {"application/xml", ".xml"},
    {"application/zip", ".zip"},
    {"audio/mpeg", ".mp3"},
    {"audio/wav", ".wav"},
    {"image/bmp", ".bmp"},
    {"image/gif", ".gif"},
    {"image/jpeg", ".jpg"},
    {"image/pjpeg", ".jpg"},
    {"image/png", ".png"},
    {"image/svg+xml", ".svg"},
    {"image/webp", ".webp"},
    {"image/x-icon", ".ico"},
    {"image/x-png", ".png"},
    {"text/css", ".css"},
    {"text/html", ".html"},
    {"text/javascript", ".js"},
    {"text/plain", ".txt"},
    {"text/xml", ".xml"},
    {"video/mp4", ".mp4"},
};

} // namespace

void TContentTypeItem::SetDefaultExtension(std::string_view ext) {
    if (ext == DefaultExtension)
        return;
    DefaultExtension = std::string(ext);
    if (!HasExtension(ext))
        Extensions.push_back(DefaultExtension);
}

bool TContentTypeItem::HasExtension(std::string_view ext) const {
    return std::any_of(Extensions.begin(), Extensions.end(),
                       [&](const std::string& e) { return AnsiSameText(e, ext); });
}

int TContentType::IndexOf(std::string_view contentType) const {
    return FindInSortedList(items_, contentType,
                            [](std::string_view key, const TContentTypeItem& item) {
                                return AnsiCompareStr(key, item.ContentType);
                            });
}

int TContentType::Add(std::string_view contentType, std::string_view ext) {
    int index = IndexOf(contentType);
    if (index < 0) {
        index = -index - 1;
        items_.insert(items_.begin() + index, TContentTypeItem(std::string(contentType)));
    }
    items_[static_cast<std::size_t>(index)].SetDefaultExtension(ext);
    return index;
}

void TContentType::LoadFromRegistry(const std::filesystem::path& mimeTypesFile) {
    Clear();
    // Sorted once rather than each type inserted in its place, which moved
    // the table for every line of a long file. The sort is stable, so the
    // extensions of one type come in the file's order as before.
    std::vector<std::pair<std::string, std::string>> lines = ReadMimeTypesFile(mimeTypesFile);
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
        return AnsiCompareStr(a.second, b.second) < 0;
    });
    for (const auto& [ext, type] : lines) {
        if (type.empty())
            continue;
        if (items_.empty() || items_.back().ContentType != type)
            items_.emplace_back(type);
        items_.back().SetDefaultExtension(ext);
    }
    for (const auto& [type, ext] : kBuiltInDefaults)
        Add(type, ext);
}

TRecordFileRead TContentType::LoadFromFile(const std::filesystem::path& file, std::string* text) {
    return ReadRecordFile(
        file, [this](std::string_view type, std::string_view ext) { Add(type, ext); }, text);
}

std::string TContentType::RecordText() const {
    std::vector<std::pair<std::string_view, std::string_view>> records;
    records.reserve(items_.size());
    for (const auto& item : items_)
        records.emplace_back(item.ContentType, item.DefaultExtension);
    return FormatRecords(records);
}

TError TContentType::SaveToFile(const std::filesystem::path& file) const {
    return WriteRecordFile(file, RecordText());
}

} // namespace tarnhold
