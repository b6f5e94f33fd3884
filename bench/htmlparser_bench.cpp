// The HTML tokenizer over a few MB of generated pages: walking every token,
// and walking while changing every href and src the way link rewriting does.
#include "platform/codepage.h"
#include "text/htmltag.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <string>

namespace {

using namespace tarnhold;

// A small fixed generator, so every run measures the same pages.
class TRandom {
public:
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::size_t Below(std::size_t n) { return Next() % n; }

private:
    std::uint32_t state_ = 2463534242u;
};

// Shift-JIS phrases (some with 0x5C trail bytes) for text, titles and alts.
const char* const kPhrases[] = {
    "\x83\x5C\x83\x74\x83\x67\x95\x5C\x8E\xA6",                 // ソフト表示
    "\x97\x5C\x92\xE8\x95\x5C",                                 // 予定表
    "\x93\xFA\x8B\x4C\x82\xCC\x83\x79\x81\x5B\x83\x57",         // 日記のページ
    "\x90\x56\x92\x85\x8F\xEE\x95\xF1",                         // 新着情報
    "\x82\xB1\x82\xCC\x83\x79\x81\x5B\x83\x57\x82\xCD",         // このページは
    "\x8D\x58\x90\x56\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42", // 更新しました。
};

std::string Phrase(TRandom& r) {
    return kPhrases[r.Below(std::size(kPhrases))];
}

std::string Path(TRandom& r) {
    static const char* const dirs[] = {"",         "../",   "img/",
                                       "2003/05/", "/css/", "http://www.example.co.jp/"};
    static const char* const exts[] = {".html", ".gif", ".jpg",
                                       ".htm",  ".css", ".cgi?id=42&amp;p=3"};
    return std::string(dirs[r.Below(std::size(dirs))]) + "f" + std::to_string(r.Below(10000)) +
           exts[r.Below(std::size(exts))];
}

// One page of the kind a 2000s Japanese site served: tables, links, images,
// comments, a script with "<" in it, attributes quoted every way.
std::string Page(TRandom& r) {
    std::string p =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n<HTML>\r\n<HEAD>\r\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">\r\n<TITLE>" +
        Phrase(r) + " - " + Phrase(r) + "</TITLE>\r\n<LINK rel=\"stylesheet\" href=\"" + Path(r) +
        "\">\r\n<SCRIPT language=\"JavaScript\"><!--\r\nfor (i = 0; i < 10; i++) { if (a > b) "
        "document.write('<b>x</b>'); }\r\n// --></SCRIPT>\r\n</HEAD>\r\n<BODY bgcolor=#FFFFFF "
        "background='" +
        Path(r) + "'>\r\n";
    for (int row = 0; row < 40; ++row) {
        switch (r.Below(5)) {
        case 0:
            p += "<TABLE border=0 cellpadding=2 cellspacing=0 width=\"100%\"><TR>\r\n";
            for (int c = 0; c < 3; ++c)
                p += "<TD nowrap valign=top><A HREF=\"" + Path(r) + "\">" + Phrase(r) +
                     "</A></TD>\r\n";
            p += "</TR></TABLE>\r\n";
            break;
        case 1:
            p += "<P>" + Phrase(r) + Phrase(r) + "<A href=" + Path(r) + " target=_blank>" +
                 Phrase(r) + "</A>" + Phrase(r) + "<BR>\r\n";
            break;
        case 2:
            p += "<IMG src=\"" + Path(r) + "\" alt='" + Phrase(r) +
                 "' width=" + std::to_string(r.Below(640)) +
                 " height=" + std::to_string(r.Below(480)) + " border=0><BR>\r\n";
            break;
        case 3:
            p += "<!-- " + Phrase(r) + " " + std::to_string(r.Below(100000)) +
                 " -->\r\n<DIV "
                 "class=\"item\" id=i" +
                 std::to_string(row) + "><a href='" + Path(r) + "'\r\n   title=\"" + Phrase(r) +
                 "\">" + Phrase(r) + "</a></DIV>\r\n";
            break;
        default:
            p += "<FONT size=\"-1\" color=\"#333333\">" + Phrase(r) + " &nbsp; " + Phrase(r) +
                 "</FONT>\r\n";
            break;
        }
    }
    p += "</BODY>\r\n</HTML>\r\n";
    return p;
}

const std::string& Pages() {
    static const std::string pages = [] {
        TRandom r;
        std::string all;
        while (all.size() < 4u << 20)
            all += Page(r);
        return all;
    }();
    return pages;
}

void BM_Tokenize(benchmark::State& state) {
    const std::string& data = Pages();
    THTMLTag tag;
    for (auto _ : state) {
        std::size_t pos = 0;
        std::size_t attributes = 0;
        while (NextTag(data, pos, tag))
            attributes += static_cast<std::size_t>(tag.Count());
        benchmark::DoNotOptimize(attributes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_Tokenize)->Unit(benchmark::kMillisecond);

// What link rewriting does with a page: every href and src gets a new value,
// and every token's text is written out.
void BM_TokenizeAndRewriteLinks(benchmark::State& state) {
    const std::string& data = Pages();
    THTMLTag tag;
    std::string out;
    for (auto _ : state) {
        out.clear();
        std::size_t pos = 0;
        while (NextTag(data, pos, tag)) {
            if (tag.Kind() == tkTag) {
                for (int i = 0; i < tag.Count(); ++i) {
                    THTMLEllement& e = tag.Elements(i);
                    if (AnsiSameText(e.Name(), "href") || AnsiSameText(e.Name(), "src"))
                        e.SetValue("local/" + e.Value());
                }
            }
            out += tag.Text();
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_TokenizeAndRewriteLinks)->Unit(benchmark::kMillisecond);

} // namespace
