#include "tree/renamelist.h"

#include "platform/codepage.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"
#include "tree/recordfile.h"

#include <algorithm>
#include <cstdint>
#include <nettle/sha2.h>

namespace tarnhold {

void TWebCacheRenameItems::Add(std::string_view key, std::string_view value) {
    std::string k = DecodeURL(key);
    std::string v = DecodeURL(value);
    if (SchemePrefixLength(v) == 0)
        v.insert(0, k.substr(0, SchemePrefixLength(k)));
    std::string lower = AnsiLowerCase(k);
    auto [it, inserted] = items_.try_emplace(std::move(lower));
    if (inserted) {
        it->second.Key = std::move(k);
        Note(it->first);
    }
    if (inserted || it->second.Value != v) {
        it->second.Value = std::move(v);
        modified_ = true;
    }
}

const std::string& TWebCacheRenameItems::LookupKey(std::string_view url) {
    // A URL without '%' is its own normal form: DecodeURL would give it back.
    thread_local std::string key;
    if (url.find('%') == std::string_view::npos)
        AnsiLowerCaseTo(url, key);
    else
        AnsiLowerCaseTo(DecodeURL(url), key);
    return key;
}

void TWebCacheRenameItems::Note(const std::string& lower) {
    const std::size_t bits = filter_.size() * 64;
    if (items_.size() * 16 > bits) {
        // Grown past its room: made again, larger, from every key held.
        std::size_t words = 16;
        while (words * 64 < items_.size() * 32)
            words *= 2;
        filter_.assign(words, 0);
        for (const auto& [key, item] : items_) {
            const std::size_t bit = items_.hash_function()(key) & (words * 64 - 1);
            filter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
        }
        return;
    }
    const std::size_t bit = items_.hash_function()(lower) & (bits - 1);
    filter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
}

bool TWebCacheRenameItems::MayHold(const std::string& lower) const {
    if (filter_.empty())
        return false;
    const std::size_t bit = items_.hash_function()(lower) & (filter_.size() * 64 - 1);
    return (filter_[bit / 64] >> (bit % 64) & 1) != 0;
}

std::string TWebCacheRenameItems::Lookup(std::string_view url) const {
    if (items_.empty())
        return {};
    const std::string& key = LookupKey(url);
    if (!MayHold(key))
        return {};
    auto it = items_.find(key);
    return it != items_.end() ? it->second.Value : std::string();
}

std::string TWebCacheRenameItems::MoveTo(std::string_view url, TWebCacheRenameItems& to) {
    if (items_.empty() || &to == this)
        return {};
    const std::string& key = LookupKey(url);
    if (!MayHold(key))
        return {};
    auto it = items_.find(key);
    if (it == items_.end())
        return {};
    std::string value = it->second.Value;
    auto item = items_.extract(it);
    auto placed = to.items_.insert(std::move(item));
    if (!placed.inserted)
        placed.position->second = std::move(placed.node.mapped());
    else
        to.Note(placed.position->first);
    modified_ = true;
    to.modified_ = true;
    return value;
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

std::string RenameListFileName(const std::filesystem::path& cachePath) {
    constexpr std::size_t kReadable = 40;
    const std::string& text = cachePath.native();

    // The last components that fit, whole; of a last component longer than
    // that, its end.
    std::string readable;
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t slash = text.rfind('/', end - 1);
        std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
        std::string_view part(text.data() + begin, end - begin);
        end = slash == std::string::npos ? 0 : slash;
        if (part.empty())
            continue;
        const std::size_t joined = readable.empty() ? part.size() : part.size() + 1;
        if (readable.size() + joined > kReadable) {
            if (readable.empty())
                readable = std::string(part.substr(part.size() - kReadable));
            break;
        }
        readable.insert(0, readable.empty() ? std::string(part) : std::string(part) + "_");
    }
    for (char& c : readable) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') ||
                           (u >= 'a' && u <= 'z') || u == '.' || u == '-' || u == '_';
        if (!plain)
            c = '_';
    }
    const std::size_t start = readable.find_first_not_of(".-");
    readable.erase(0, start == std::string::npos ? readable.size() : start);
    if (readable.empty())
        readable = "cache";

    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, sizeof digest, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string name = readable;
    name.push_back('-');
    for (int i = 0; i < 8; ++i) {
        name.push_back(kHex[digest[i] >> 4]);
        name.push_back(kHex[digest[i] & 15]);
    }
    name += ".dat";
    return name;
}

} // namespace tarnhold
