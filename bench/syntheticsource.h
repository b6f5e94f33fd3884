// A cache source that makes its entries as they are asked for, so that it
// holds no memory itself: what a measurement over it sees is the tree.
#pragma once

#include "sources/cachesource.h"

#include <cerrno>
#include <cstdio>
#include <string_view>

namespace tarnhold::bench {

// URLs of many hosts with folders, query strings, images and folder pages;
// every other entry of the first 100,000 is a file of one big folder.
class TSyntheticCacheSource : public TCacheSource {
public:
    explicit TSyntheticCacheSource(std::size_t count) : count_(count) {}

    bool First(TRawCacheEntry& entry) override {
        next_ = 0;
        return Next(entry);
    }
    bool Next(TRawCacheEntry& entry) override {
        if (next_ >= count_)
            return false;
        Make(next_++, entry);
        return true;
    }
    void Close() override { next_ = count_; }
    TError Error() const override { return {}; }
    TError DeleteEntry(std::string_view) override { return TError::FromErrno(EROFS); }
    std::string Describe() const override { return "(synthetic)"; }
    TCacheKind Kind() const override { return TCacheKind::ckIndexDat; }

private:
    void Make(std::size_t i, TRawCacheEntry& e) const {
        char buf[160];
        // Every other entry of the first 100,000 is a file of the big folder.
        const std::size_t bigFolderFiles = 50000;
        bool big = i % 2 == 0 && i / 2 < bigFolderFiles;
        std::size_t host = (i * 2654435761u) % (count_ / 150 + 1);
        std::size_t kind = i % 10;
        if (big) {
            std::snprintf(buf, sizeof buf, "http://big.test/files/item%zu.html", i / 2);
        } else if (kind < 5) {
            std::snprintf(buf, sizeof buf, "http://www.site%zu.test/sec%zu/sub%zu/page%zu.html",
                          host, i % 7, i % 3, i);
        } else if (kind < 7) {
            std::snprintf(buf, sizeof buf, "http://www.site%zu.test/cgi/list.php?id=%zu&p=%zu",
                          host, i, i % 5);
        } else if (kind < 9) {
            std::snprintf(buf, sizeof buf, "http://img.site%zu.test/img/%zu/pic%zu.gif", host,
                          i % 11, i);
        } else {
            std::snprintf(buf, sizeof buf, "https://www.site%zu.test/dir%zu/", host, i);
        }
        e.Url = buf;
        e.EntryType = NORMAL_CACHE_ENTRY;
        e.Size = 1000 + i % 50000;
        e.LastModified = U64ToFileTime(133000000000000000ULL + i * 10000000ULL);
        e.LocalFileName = "/nonexistent/cache/ABCDEFGH/file.htm";
        e.FileExtension = kind >= 7 && kind < 9 ? "gif" : "htm";
        e.HeaderBlock = kind >= 7 && kind < 9
                            ? "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: "
                              "1234\r\nETag: \"abc\"\r\n\r\n~U:bench\r\n"
                            : "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=Shift_JIS\r\n"
                              "Last-Modified: Mon, 07 Dec 2026 07:05:09 GMT\r\n\r\n~U:bench\r\n";
    }

    std::size_t count_;
    std::size_t next_ = 0;
};

} // namespace tarnhold::bench
