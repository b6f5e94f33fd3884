// The pages both search benchmarks read: 10,000 cached pages on disk in 100
// folders, a third each in Shift-JIS, EUC-JP and ISO-2022-JP, one in ten
// holding the word "東京都".
#pragma once

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "sources/cachesource.h"
#include "support/testfiles.h"

#include <filesystem>
#include <iconv.h>
#include <string>
#include <vector>

namespace tarnhold::bench {

// Shift-JIS text in another Japanese code (iconv's name for it).
inline std::string ConvertFromCp932(const char* to, const std::string& sjis) {
    iconv_t cd = iconv_open(to, "CP932");
    std::string out(sjis.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(sjis.data());
    std::size_t inLeft = sjis.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv(cd, nullptr, nullptr, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// The word one page in ten holds, as ANSI text.
inline std::string FindPagesWord() {
    return Utf8ToAnsi("東京都");
}

// Writes the pages below dir; their cache entries.
inline std::vector<TRawCacheEntry> WriteFindPages(const std::filesystem::path& dir) {
    const std::string sentence =
        Utf8ToAnsi("今日の天気は晴れのち曇り、午後から所により雨が降るでしょう。経済ニュース、"
                   "市場の動き、スポーツの結果をお届けします。");
    const std::string marked = Utf8ToAnsi("大阪府と東京都の知事選挙。");
    std::vector<TRawCacheEntry> entries;
    for (int i = 0; i < 10000; ++i) {
        std::string page =
            "<html><head><title>page " + std::to_string(i) + "</title></head><body>\n";
        const int paragraphs = 40 + i % 40;
        for (int p = 0; p < paragraphs; ++p) {
            page += "<p class=\"text\">";
            page += i % 10 == 3 && p == paragraphs / 2 ? marked : sentence;
            page += "</p>\n";
        }
        page += "</body></html>\n";
        const char* code = i % 3 == 0 ? nullptr : i % 3 == 1 ? "EUC-JP" : "ISO-2022-JP";
        if (code != nullptr)
            page = ConvertFromCp932(code, page);
        const auto folder = dir / std::to_string(i % 100);
        ForceDirectories(folder);
        const auto file = folder / ("p" + std::to_string(i) + ".htm");
        WriteTestFile(file, page);
        TRawCacheEntry e;
        e.Url = "http://site" + std::to_string(i % 20) + ".test/d" + std::to_string(i % 7) + "/p" +
                std::to_string(i) + ".html";
        e.EntryType = 1;
        e.LastModified = U64ToFileTime(133000000000000000ULL);
        e.HeaderBlock = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
        e.Size = page.size();
        e.LocalFileName = file.string();
        entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace tarnhold::bench
