// The HTML tokenizer on any bytes: the tokens give the page back exactly, and
// changing or deleting attributes touches nothing of a tag but the
// attribute's own text.
#include "text/charset.h"
#include "text/htmlparser.h"
#include "text/htmltag.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnhold;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// Every attribute's text stands at its recorded offset, in order, without
// overlapping the next.
void CheckOffsets(const THTMLTag& tag) {
    std::size_t end = 0;
    for (int i = 0; i < tag.Count(); ++i) {
        std::size_t at = tag.ElementOffset(i);
        const std::string& own = tag.Elements(i).Text();
        Check(at >= end && at <= tag.Text().size());
        Check(tag.Text().compare(at, own.size(), own) == 0);
        end = at + own.size();
    }
}

void ChangeEveryAttribute(std::string_view token, std::string_view page) {
    THTMLTag tag;
    tag.SetText(token);
    CheckOffsets(tag);
    // Values from the page itself, so they may hold quotes, ">" or line breaks.
    const std::string_view values[] = {"x", "", "../dir/file name.html", page.substr(0, 7),
                                       page.substr(page.size() / 2, 3)};
    for (int i = 0; i < tag.Count(); ++i) {
        THTMLEllement& e = tag.Elements(i);
        std::string before = tag.Text();
        std::size_t at = tag.ElementOffset(i);
        std::string old = e.Text();
        switch ((i + token.size()) % 4) {
        case 0:
        case 1:
            e.SetValue(values[(i + page.size()) % 5]);
            break;
        case 2:
            e.SetQuote(i % 2 ? "'" : "\"");
            break;
        default:
            e.SetName("src");
            break;
        }
        std::string expected = before.substr(0, at) + e.Text() + before.substr(at + old.size());
        Check(tag.Text() == expected);
        CheckOffsets(tag);
    }
    if (tag.Count() > 0) {
        int victim = static_cast<int>(page.size() % static_cast<std::size_t>(tag.Count()));
        std::string before = tag.Text();
        std::size_t at = tag.ElementOffset(victim);
        std::size_t length = tag.Elements(victim).Text().size();
        int count = tag.Count();
        tag.DeleteElement(victim);
        Check(tag.Count() == count - 1);
        Check(tag.Text() == before.substr(0, at) + before.substr(at + length));
        CheckOffsets(tag);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view page(reinterpret_cast<const char*>(data), size);
    std::string joined;
    THTMLTag tag;
    std::size_t pos = 0;
    for (std::size_t at = pos; NextTag(page, pos, tag); at = pos) {
        Check(!tag.Text().empty());
        Check(tag.Kind() != tkNone);
        Check(pos - at == tag.Text().size() && page.substr(at, pos - at) == tag.Text());
        joined += tag.Text();
        if (tag.Count() > 0)
            ChangeEveryAttribute(tag.Text(), page);
    }
    Check(pos == size);
    Check(joined == page);

    // The head: consecutive tokens of the page, a known code, a title in every
    // character set.
    THTMLParser parser;
    parser.LoadFromText(page);
    Check(parser.Data() == page);
    Check(parser.CharsetCode() <= csDeclared);
    std::string head;
    for (int i = 0; i < parser.Count(); ++i) {
        Check(!parser.Tags(i).Text().empty());
        head += parser.Tags(i).Text();
    }
    Check(page.find(head) != std::string_view::npos);
    // Whatever the encoding, a title is one line of valid UTF-8.
    for (const char* encoding : {"UTF-8", "Shift_JIS", "EUC-JP", "ISO-2022-JP", "windows-1252",
                                 "GBK", "Big5", "UTF-16LE", "x-user-defined", "replacement"}) {
        std::string title = MakeTitle(page, encoding);
        Check(title.find('\n') == std::string::npos && title.find('\r') == std::string::npos);
        Check(DecodeToUtf8(title, "UTF-8") == title);
    }
    Check(DecodeToUtf8(parser.Title(), "UTF-8") == parser.Title());
    return 0;
}
