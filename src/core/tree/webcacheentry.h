// One cache entry as the rest of the program sees it.
#pragma once

#include "platform/filetime.h"
#include "sources/cachesource.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarnhold {

// The HTTP response headers stored with an entry: an ordered list of lines.
// Held as one text (lines joined with CR LF) because the cache tree keeps one
// per node and most are never asked anything.
class TWebCacheHeaderInfo {
public:
    // All lines joined with CR LF.
    const std::string& Text() const { return text_; }
    // Replaces the lines by text split at CR LF, CR or LF (a final line break
    // makes no empty line), unless the text equals the current one.
    void SetText(std::string_view text);
    void SetText(std::string&& text);
    void SetText(const char* text) { SetText(std::string_view(text)); }

    int Count() const;
    std::string Lines(int index) const;
    void SetLines(int index, std::string_view line);

    // The value of the first line whose name (text before its first ':',
    // trimmed) equals name ignoring case; empty when none does.
    std::string Values(std::string_view name) const;
    // The same as a view into Text (valid until the text changes).
    std::string_view ValueView(std::string_view name) const;
    // Replaces the first matching line by "<name as found>: <value>", or
    // appends "<name>: <value>".
    void SetValues(std::string_view name, std::string_view value);

private:
    std::string text_;
};

// The cached copy and where its body lies: TCachedBody (LocalFileName empty
// when there is none).
struct TWebCacheEntryInfo : TCachedBody {
    std::string Url;         // exactly as the cache holds it
    SYSTEMTIME LastModified; // local time
    // Files: the low 32 bits of the cached size, as the cache reports it.
    // Folders of the cache tree: the total of their files, which may pass 4 GiB.
    std::uint64_t Size = 0;
    TWebCacheHeaderInfo HeaderInfo;
    std::string FileExtension; // as the cache recorded it
    // A deleted entry recovered from what the cache left behind.
    bool Recovered = false;
};

// The entry as a node of the cache tree holds it: the URL's directory, local
// file name and suffix, filled by the tree.
struct TWebCacheEntryInfoEx : TWebCacheEntryInfo {
    std::string DirUrl;
    std::string FileName;
    std::string ExtraInfo;
};

} // namespace tarnhold
