// ANSI text: byte strings in code page 932 (Shift-JIS / CP932).
//
// Every search, replace and lower-casing of ANSI text in the program goes
// through here, so that a match never starts on the trail byte of a
// double-byte character (trail bytes may be 0x5C "\" or 0x7C "|"), and
// lower-casing never touches a trail byte (0x83 0x41 is a katakana, not "A").
// Positions are 0-based byte offsets; std::string::npos means "absent".
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarnhold {

// The lead bytes of code page 932: 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
constexpr bool IsLeadByte(char c) {
    return IsLeadByte(static_cast<unsigned char>(c));
}

// Whether byte position pos of text starts a character (is not a trail byte).
bool IsCharStart(std::string_view text, std::size_t pos);

// First occurrence of pattern at or after from that starts on a character.
std::size_t AnsiFind(std::string_view text, std::string_view pattern, std::size_t from = 0);
// Last occurrence of pattern that starts on a character.
std::size_t AnsiFindLast(std::string_view text, std::string_view pattern);
// First byte at or after from that is one of set and starts a character.
std::size_t AnsiFindFirstOf(std::string_view text, std::string_view set, std::size_t from = 0);
bool AnsiContains(std::string_view text, std::string_view pattern);

// One left-to-right pass over non-overlapping occurrences; the inserted text
// is not searched again ("///" with "//" -> "/" gives "//").
std::string AnsiReplaceAll(std::string_view text, std::string_view pattern,
                           std::string_view replacement);
// AnsiReplaceAll(text, "//", "/") into out, reusing out's storage (the tree
// does it for every file of a refresh).
void CollapseDoubleSlashes(std::string_view text, std::string& out);

// ASCII letters only, trail bytes untouched.
std::string AnsiLowerCase(std::string_view text);
// The same into a buffer the caller reuses.
void AnsiLowerCaseTo(std::string_view text, std::string& out);
std::string AnsiUpperCase(std::string_view text);

// The comparison of every sorted list and of its binary search: plain byte
// order (unsigned). <0, 0, >0.
int AnsiCompareStr(std::string_view a, std::string_view b);
// Case-ignoring comparison: byte order of both texts lower-cased as above.
int AnsiCompareText(std::string_view a, std::string_view b);
inline bool AnsiSameText(std::string_view a, std::string_view b) {
    return AnsiCompareText(a, b) == 0;
}

// Trims bytes <= 0x20 (blanks and control characters) at both ends.
std::string_view AnsiTrim(std::string_view text);

// The length (1 to 4) of the well-formed UTF-8 sequence at text[pos], 0 when
// the bytes there are none: a stray or cut-short sequence, an overlong form,
// a surrogate or a value past U+10FFFF. Its code point goes to *codePoint
// when asked for.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos = 0,
                               char32_t* codePoint = nullptr);
// Whether text is well-formed UTF-8 throughout (Utf8SequenceLength).
bool IsValidUtf8(std::string_view text);

// Text in the character set of the C library's locale (a system message) as
// UTF-8; as it is when the locale is UTF-8 or the text cannot be converted.
std::string LocaleToUtf8(std::string_view text);

// Conversions through iconv. Characters the target lacks become "?" (the code
// page's default character) in the ANSI direction; bytes that do not decode as
// CP932 become U+FFFD in the Unicode direction.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view utf16);

// Unicode text (a page's title, a bookmark's name) for a file kept in the
// code page (favorites.dat): UTF-8 converted to ANSI, where each character
// the code page cannot hold (or would not give back as it was) is written as
// a decimal character reference ("&#128512;"), and an "&" that starts "&#"
// is written "&#38;", so that AnsiRefsToUtf8 gives the text back exactly.
// Bytes that are not UTF-8 become "?".
std::string Utf8ToAnsiRefs(std::string_view utf8);
// The inverse: ANSI text as UTF-8, every decimal character reference "&#N;"
// of a Unicode scalar value read as its character; anything else, as it is.
std::string AnsiRefsToUtf8(std::string_view ansi);

// ANSI text (a name taken from a URL) as a path component: CP932 decoded to
// UTF-8 character by character; a byte sequence that does not decode is kept
// as it is, so two different names never collapse into one path.
std::filesystem::path AnsiToPath(std::string_view ansi);
// The path's bytes as ANSI text (UTF-8 encoded back to CP932 where it
// round-trips, raw bytes elsewhere). Used only for display and keys.
std::string PathToAnsi(const std::filesystem::path& path);

} // namespace tarnhold
