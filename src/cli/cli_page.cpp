// tarnhold-cli page: what the program reads from an HTML page, its character
// set and title, or every token with its attributes.
#include "cli.h"
#include "text/htmlparser.h"

#include <cstdio>
#include <ostream>

namespace tarnhold::cli {

namespace {

const char* KindName(THTMLTokenKind kind) {
    switch (kind) {
    case tkDoctype:
        return "doctype";
    case tkTag:
        return "tag";
    case tkText:
        return "text";
    case tkComment:
        return "comment";
    default:
        return "none";
    }
}

// Control bytes made visible, so that each token stays on one line. Bytes
// from 0x20 up are kept, Shift-JIS characters included.
std::string Visible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

// An attribute as name, "=", quote, value, quote: the parts the program
// works with. An attribute without "=" shows its name alone (and a value
// standing on its own in its quotes).
std::string AttributeLine(const THTMLEllement& e) {
    std::string out = Visible(e.Name());
    if (!e.Equal().empty())
        out += "=";
    if (!e.Equal().empty() || !e.Quote().empty())
        out += e.Quote() + Visible(e.Value()) + e.Quote();
    return out;
}

void PrintTokens(const TCliContext& ctx, const THTMLParser& parser) {
    THTMLTag tag;
    std::size_t pos = 0;
    std::size_t at = 0;
    for (bool more = parser.FirstTag(pos, tag); more; more = parser.NextTag(pos, tag)) {
        std::string line = std::to_string(at) + "\t" + KindName(tag.Kind()) + "\t";
        if (tag.Kind() == tkTag || tag.Kind() == tkDoctype) {
            line += ctx.Show(Visible(tag.Name()));
            for (int i = 0; i < tag.Count(); ++i)
                line += "\t" + ctx.Show(AttributeLine(tag.Elements(i)));
        } else {
            line += "\"" + ctx.Show(Visible(tag.Text())) + "\"";
        }
        ctx.WriteLine(line);
        at = pos;
    }
}

int RunPage(TCliContext& ctx, const TCliArgs& args) {
    const std::string& file = args.Operands[0];
    THTMLParser parser;
    int error = 0;
    if (!parser.LoadFromFile(std::filesystem::path(file), &error)) {
        ctx.ReportError(ctx.ShowUtf8(file), error);
        return kExitFailure;
    }
    if (args.Has("tokens")) {
        PrintTokens(ctx, parser);
        return kExitOk;
    }
    std::string charset = "charset: " + std::to_string(parser.CharsetCode());
    if (!parser.Charset().empty())
        charset += " " + ctx.Show(parser.Charset());
    ctx.WriteLine(charset);
    ctx.WriteLine("title: " + ctx.ShowUtf8(parser.Title()));
    return kExitOk;
}

const TCliCommandRegistrar registrar({
    "page",
    "page [--tokens] FILE",
    "an HTML page's character set and title, or every token of it",
    "Prints two lines: \"charset: CODE NAME\" (CODE: 0 not determined,\n"
    "1 ISO-8859-1, 2 Shift_JIS, 3 ISO-2022-JP, 4 EUC-JP, 5 UTF-8, 6 another\n"
    "declared name; NAME as the page declares it or as detected) and\n"
    "\"title: TITLE\" (the title as the list shows it).\n"
    "With --tokens: one line per token, \"OFFSET<TAB>KIND<TAB>...\": the byte\n"
    "offset, doctype, tag, text or comment, then the tag's name and attributes\n"
    "or the text in quotes; control characters written as \\r, \\n, \\xNN.\n"
    "\n"
    "example: tarnhold-cli page --tokens index.html\n",
    {{"tokens", 0, "", "every token (offset, kind, name, attributes)"}},
    false,
    1,
    1,
    RunPage,
});

} // namespace

} // namespace tarnhold::cli
