// Japanese character code detection and conversion to Shift-JIS.
#pragma once

#include <string>
#include <string_view>

namespace tarnhold {

// Codes returned by InCodeCheck and taken by ConvertJCode.
enum : int {
    jcAscii = 0,     // no decision: only 0x08-0x7F met
    jcBinary = 1,    // not text: a byte below 0x08 or 0xFF met
    jcJisNew = 2,    // ESC $ B
    jcJisOld = 3,    // ESC $ @
    jcEuc = 4,       // EUC-JP
    jcSjis = 5,      // Shift-JIS
    jcEucOrSjis = 6, // undecided
};

// Leading bytes scanned for control bytes before the encoding is looked at.
extern int STRICT_CHECK_LEN;

// Guesses the code of a text (jcAscii ... jcEucOrSjis). Linear in the length.
int InCodeCheck(std::string_view text);
// The text converted to target as InCodeCheck judges it. Undecided, ASCII and
// binary texts, and texts already in target, come back unchanged. Only the
// Shift-JIS target (jcSjis) converts; any other target returns the text as it is.
std::string ConvertJCode(std::string_view text, int target);
// ISO-2022-JP to Shift-JIS. ESC and the two bytes after it are dropped ("$"
// after ESC switches to kanji pairs, "(" back to single bytes). Half a kanji
// pair at the end of the text is dropped.
std::string jis2sjis(std::string_view text);
// EUC-JP to Shift-JIS. A lead byte or 0x8E without its second byte at the
// end of the text is dropped.
std::string euc2sjis(std::string_view text);
// JIS X 0208 pair (0x21-0x7E each) to its two Shift-JIS bytes.
std::string ToSjis(unsigned char c1, unsigned char c2);

// Human-readable name of a code, for the CLI ("Shift-JIS", ...).
const char* JCodeName(int code);

} // namespace tarnhold
