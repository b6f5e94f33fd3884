// Character sets of pages as browsers name and read them: the labels a page
// or a server may use for an encoding, the byte order marks, the charset
// parameter of a Content-Type, the detection of a page that declares
// nothing, and the conversion of text in any of them to UTF-8.
//
// Encodings are named by their canonical names ("UTF-8", "Shift_JIS",
// "windows-1252", "GBK", ...), so that a label such as "latin1", "x-sjis" or
// "ks_c_5601-1987" stands for what browsers make of it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnhold {

// The canonical name of the encoding a label names, ignoring ASCII case and
// the blanks around it; empty for a label no browser knows.
std::string_view EncodingOfLabel(std::string_view label);

// "UTF-8", "UTF-16LE" or "UTF-16BE" when data starts with that byte order
// mark (its length in *bomLength); empty otherwise.
std::string_view EncodingOfBom(std::string_view data, std::size_t* bomLength = nullptr);

// The value of the charset parameter of a Content-Type value
// ("text/html; charset=\"utf-8\"" gives "utf-8"); empty when it has none.
std::string CharsetParameter(std::string_view contentType);

// The value of the first header line called name (ignoring case) in a
// response head of CR LF separated lines; empty when there is none.
std::string HeaderValue(std::string_view head, std::string_view name);

// The encoding of text that declares none: a byte order mark, else UTF-8
// when the text has bytes beyond ASCII and all of them form valid UTF-8,
// else the Japanese encoding the detection finds (ISO-2022-JP, EUC-JP,
// Shift_JIS), else windows-1252 for plain ASCII or undecided text.
std::string_view DetectEncoding(std::string_view text);

// Whether an encoding leaves ASCII bytes as they are, so that markup can
// be read before the text is converted (false for UTF-16, ISO-2022-JP and
// the replacement encoding).
bool IsAsciiCompatible(std::string_view encoding);

// The text in encoding (a canonical name) as UTF-8. A byte sequence that is
// not valid in it becomes U+FFFD, so the result is always valid UTF-8; an
// unknown encoding is read as windows-1252. The result is at most a few
// times as long as the text.
std::string DecodeToUtf8(std::string_view text, std::string_view encoding);

// A link written in a page of encoding, as the browser requests it: the
// bytes beyond ASCII as UTF-8 percent escapes ("%E5%95%86"). Pages in the
// Japanese codes keep their bytes, for the tree's own matching of them.
std::string LinkAsRequested(std::string_view link, std::string_view encoding);

// Compares UTF-8 texts ignoring the case of ASCII letters; otherwise in the
// order of their code points (which is the order of their bytes).
int Utf8CompareText(std::string_view a, std::string_view b);

} // namespace tarnhold
