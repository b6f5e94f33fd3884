// tarnhold-cli page: what the program reads from an HTML page, its character
// set and title, or every token with its attributes.
#include "cli.h"
#include "text/htmlparser.h"

#include <cstdio>
#include <optional>
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
            line += Visible(tag.Name());
            for (int i = 0; i < tag.Count(); ++i)
                line += "\t" + AttributeLine(tag.Elements(i));
        } else {
            line += "\"" + Visible(tag.Text()) + "\"";
        }
        ctx.WriteLine(line);
        at = pos;
    }
}

int RunPage(TCliContext& ctx, const std::vector<std::string>& args) {
    bool tokens = false;
    std::optional<std::string> file;
    for (const auto& a : args) {
        if (a == "--tokens")
            tokens = true;
        else if (a.size() > 1 && a[0] == '-')
            return UsageError(ctx, "page", "unknown option " + a);
        else if (file)
            return UsageError(ctx, "page", "one file only");
        else
            file = a;
    }
    if (!file)
        return UsageError(ctx, "page", "no file given");

    THTMLParser parser;
    int error = 0;
    if (!parser.LoadFromFile(std::filesystem::path(*file), &error)) {
        ctx.ReportError(*file, error);
        return kExitFailure;
    }
    if (tokens) {
        PrintTokens(ctx, parser);
        return kExitOk;
    }
    ctx.WriteUtf8("charset: " + std::to_string(parser.CharsetCode()));
    if (!parser.Charset().empty()) {
        ctx.WriteUtf8(" ");
        ctx.WriteText(parser.Charset());
    }
    ctx.WriteUtf8("\ntitle: ");
    ctx.WriteLine(parser.Title());
    return kExitOk;
}

const TCliCommandRegistrar registrar({
    "page",
    "page [--tokens] FILE",
    "an HTML page's character set (code and name) and title; with --tokens every token "
    "(offset, kind, name, attributes) as the program reads it",
    RunPage,
});

} // namespace

} // namespace tarnhold::cli
