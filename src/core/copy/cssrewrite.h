// The links of style sheets: url() values and @import targets, found in a
// stylesheet, a <style> block or a style attribute, with their escapes
// decoded, and the text a rewritten link is written as, so that every byte
// around the links stays as written.
#pragma once

#include "copy/srcset.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

enum class TCssLinkKind : std::uint8_t {
    Url,    // url(...) or a string of image-set(): an embedded resource
    Import, // the target of @import (a string or url(...))
};

struct TCssLink {
    TTextSpan Span;    // the bytes a rewritten link replaces (inside any quotes)
    std::string Value; // the link with the sheet's escapes decoded
    TCssLinkKind Kind = TCssLinkKind::Url;
    char Quote = 0; // the quote around the link, 0 in an unquoted url()
};

// The links of css, in order. Comments and strings that are no links are
// stepped over; a url() that a browser would drop (a quote, a parenthesis or
// a blank inside an unquoted value) gives no link. With shiftJis the second
// byte of a double-byte character is never read as a backslash or a quote.
// Linear in the length of css.
std::vector<TCssLink> FindCssLinks(std::string_view css, bool shiftJis);

// A link as it can stand in any place of a sheet (quoted or not, in a style
// attribute too): blanks, controls, quotes, parentheses, backslashes and
// "<", ">", "&" as "%XX"; every other byte as it is.
std::string CssSafeLink(std::string_view link);

// How a stylesheet's bytes are to be read.
enum class TCssCharset : std::uint8_t {
    Undeclared,  // nothing says: ASCII-compatible, the caller may guess
    Bytes,       // an ASCII-compatible set other than Shift-JIS (UTF-8, Latin-1, EUC-JP)
    ShiftJis,    // Shift-JIS: trail bytes may be "\"
    Unsupported, // UTF-16 or UTF-32: not scanned, copied as it is
};

// The character set of a stylesheet: its byte order mark, else the charset
// parameter of its Content-Type, else its @charset rule.
TCssCharset StylesheetCharset(std::string_view css, std::string_view contentType);

// Whether a text of undeclared character set reads as Shift-JIS: asked only
// where it matters, when a byte that may lead a double-byte character
// stands before a backslash. Valid UTF-8 is never taken for Shift-JIS.
bool NeedsShiftJisCheck(std::string_view css);
bool LooksShiftJis(std::string_view text);

} // namespace tarnhold
