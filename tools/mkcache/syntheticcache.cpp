#include "mkcache/syntheticcache.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace tarnhold {

namespace {

// The smallest valid images: a 1x1 GIF and a 1x1 PNG.
constexpr unsigned char kGifBytes[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00,
    0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
constexpr unsigned char kPngBytes[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
    0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9C, 0x63, 0xF8, 0xDF, 0xC0, 0x00, 0x00, 0x04, 0x01, 0x01, 0x80, 0xC5, 0x2A, 0x18,
    0x5D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
const std::string kGif(reinterpret_cast<const char*>(kGifBytes), sizeof kGifBytes);
const std::string kPng(reinterpret_cast<const char*>(kPngBytes), sizeof kPngBytes);

constexpr const char* kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string HttpDate(std::int64_t unix) {
    const std::time_t t = static_cast<std::time_t>(unix);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  kDays[(unix / 86400 % 7 + 7) % 7], tm.tm_mday, kMonths[tm.tm_mon],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

} // namespace

void MakeSyntheticEntry(std::size_t i, TManifestEntry& entry, std::string& content) {
    entry = TManifestEntry{};
    const std::size_t site = i % 157;
    const std::size_t kind = i % 20;
    std::string path;
    for (std::size_t depth = (i / 157) % 4, d = 0; d < depth; ++d)
        path += (d == 0 ? "section" : "part") + std::to_string((i / (7 + d)) % 9) + "/";
    const std::string n = std::to_string(i);
    std::string type;
    if (kind < 12) {
        entry.Url =
            "http://www.site" + std::to_string(site) + ".test/" + path + "page" + n + ".html";
        type = "text/html";
        entry.Extension = "htm";
        content = "<html><head><title>Page " + n + "</title></head><body><a href=\"page" +
                  std::to_string(i + 157) + ".html\">next</a></body></html>\n";
    } else if (kind < 15) {
        entry.Url = "http://img.site" + std::to_string(site) + ".test/" + path + "pic" + n + ".gif";
        type = "image/gif";
        entry.Extension = "gif";
        content = kGif;
    } else if (kind < 17) {
        entry.Url =
            "http://img.site" + std::to_string(site) + ".test/" + path + "photo" + n + ".png";
        type = "image/png";
        entry.Extension = "png";
        content = kPng;
    } else if (kind < 18) {
        entry.Url = "http://www.site" + std::to_string(site) + ".test/css/style" + n + ".css";
        type = "text/css";
        entry.Extension = "css";
        content = "body { margin: 0; }\n";
    } else {
        entry.Url = "http://www.site" + std::to_string(site) + ".test/" + path +
                    "list.asp?id=" + n + "&sort=" + (kind == 18 ? "name" : "date");
        type = "text/html; charset=Shift_JIS";
        entry.Extension = "htm";
        content = "<html><body>list " + n + "</body></html>\n";
    }
    // Last-modified times spread over 2012, a few left unknown.
    const std::int64_t modified = 1325376000 + static_cast<std::int64_t>((i * 7919) % 31536000);
    if (i % 97 != 5)
        entry.LastModified = UnixTimeToFileTime(modified);
    entry.Accessed = UnixTimeToFileTime(1367366400 + static_cast<std::int64_t>(i % 86400));
    entry.Headers = "HTTP/1.1 200 OK\r\nContent-Type: " + type +
                    "\r\nContent-Length: " + std::to_string(content.size()) + "\r\n";
    if (i % 97 != 5)
        entry.Headers += "Last-Modified: " + HttpDate(modified) + "\r\n";
    entry.Headers +=
        "ETag: \"" + std::to_string(i * 2654435761u % 0xFFFFFFF) + "\"\r\n\r\n~U:user\r\n";
}

TError AddSyntheticEntries(TCacheBuilder& builder, std::size_t count) {
    TManifestEntry entry;
    std::string content;
    for (std::size_t i = 0; count == 0 || i < count; ++i) {
        MakeSyntheticEntry(i, entry, content);
        if (TError error = builder.AddContent(entry, std::move(content))) {
            if (count == 0 && error.Code() == ENOSPC)
                return {};
            if (error.Code() == ENOSPC)
                return TError::Message(
                    "an index.dat holds at most " + std::to_string(builder.Count()) +
                        " of these entries (its allocation bitmap caps the file at 15.4 MiB); " +
                        std::to_string(count) + " asked for",
                    ENOSPC);
            return error;
        }
    }
    return {};
}

std::vector<TRawCacheEntry> SyntheticRawEntries(std::size_t count, const std::string& localFile) {
    std::vector<TRawCacheEntry> entries(count);
    TManifestEntry m;
    std::string content;
    for (std::size_t i = 0; i < count; ++i) {
        MakeSyntheticEntry(i, m, content);
        TRawCacheEntry& e = entries[i];
        e.Url = m.Url;
        e.EntryType = m.EntryType;
        e.LastModified = m.LastModified;
        e.HeaderBlock = m.Headers;
        e.FileExtension = m.Extension;
        e.Size = content.size();
        e.LocalFileName = localFile;
    }
    return entries;
}

} // namespace tarnhold
