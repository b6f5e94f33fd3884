// Japanese character code detection and conversion to Shift-JIS.
#pragma once

#include <cstddef>
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
// The same, and in *end the position the check stopped at: every byte it
// looked at lies before it. A text that goes on past end + 1 and past
// STRICT_CHECK_LEN + 1 gets the same answer, so the start of a long file
// tells its code when end stays short of that start's end.
int InCodeCheck(std::string_view text, std::size_t* end);
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
// Conversion to Shift-JIS of a text that comes in blocks (a file read piece
// by piece): the blocks' results put together equal the conversion of the
// whole text, whatever the cuts, and each block's result ends on a whole
// character. Only what a block leaves unfinished (an escape, half a pair)
// is held.
class TSjisStream {
public:
    // source is jcJisNew, jcJisOld or jcEuc; any other code copies the text.
    explicit TSjisStream(int source);
    // Appends the Shift-JIS of block to out.
    void Convert(std::string_view block, std::string& out);
    // The end of the text: what is held unfinished is dropped.
    void Finish();

private:
    std::size_t ConvertJis(const unsigned char* p, std::size_t n, char* out);
    std::size_t ConvertEuc(const unsigned char* p, std::size_t n, char* out);

    int source_;
    bool kanji_ = false; // ISO-2022-JP: in a run of kanji pairs
    unsigned skip_ = 0;  // ISO-2022-JP: bytes of an escape still to drop
    int lead_ = -1;      // the first byte of a pair, or -1
};

// JIS X 0208 pair (0x21-0x7E each) to its two Shift-JIS bytes.
std::string ToSjis(unsigned char c1, unsigned char c2);

// Human-readable name of a code, for the CLI ("Shift-JIS", ...).
const char* JCodeName(int code);

} // namespace tarnhold
