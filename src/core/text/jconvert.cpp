#include "text/jconvert.h"

#include <algorithm>

namespace tarnhold {

int STRICT_CHECK_LEN = 512;

namespace {

constexpr unsigned char kEsc = 0x1B;

bool InRange(unsigned c, unsigned low, unsigned high) {
    return c >= low && c <= high;
}

// JIS X 0208 row/cell bytes to Shift-JIS, written at out[0..1].
inline void PutSjis(unsigned c1, unsigned c2, char* out) {
    unsigned first = ((c1 + 1) >> 1) + (c1 < 0x5F ? 0x70 : 0xB0);
    unsigned second = (c1 & 1) != 0 ? (c2 < 0x60 ? c2 + 0x1F : c2 + 0x20) : c2 + 0x7E;
    out[0] = static_cast<char>(first & 0xFF);
    out[1] = static_cast<char>(second & 0xFF);
}

} // namespace

int InCodeCheck(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    // A byte looked at past the end counts as 0. Index k here is position k+1
    // of the rules; both scans run while the position is below the length, so
    // the last byte is never examined on its own.
    auto at = [&](std::size_t k) -> unsigned { return k < n ? p[k] : 0u; };

    const std::size_t strict =
        STRICT_CHECK_LEN > 0 ? static_cast<std::size_t>(STRICT_CHECK_LEN) : 0;
    const std::size_t strictEnd = std::min(strict, n == 0 ? 0 : n - 1);
    for (std::size_t k = 0; k < strictEnd; ++k) {
        if (p[k] < 0x08 || p[k] == 0xFF)
            return jcBinary;
    }

    int code = jcAscii;
    std::size_t k = 0;
    while ((code == jcAscii || code == jcEucOrSjis) && k + 1 < n) {
        const unsigned c = p[k];
        if (c == kEsc) {
            if (at(++k) == '$') {
                const unsigned e = at(++k);
                if (e == 'B')
                    code = jcJisNew;
                else if (e == 0x40)
                    code = jcJisOld;
            }
        } else if (c < 0x08 || c == 0xFF) {
            code = jcBinary;
        } else if (c <= 0x7F) {
            // plain ASCII decides nothing
        } else if (InRange(c, 0x81, 0x8D) || InRange(c, 0x8F, 0x9F)) {
            code = jcSjis;
        } else if (c == 0x8E) {
            const unsigned d = at(++k);
            if (InRange(d, 0x40, 0x7E) || InRange(d, 0x80, 0xA0) || InRange(d, 0xE0, 0xFC))
                code = jcSjis;
            else if (InRange(d, 0xA1, 0xDF))
                code = jcEucOrSjis;
        } else if (InRange(c, 0xA1, 0xDF)) {
            const unsigned d = at(++k);
            if (InRange(d, 0xF0, 0xFE)) {
                code = jcEuc;
            } else if (InRange(d, 0xA1, 0xDF)) {
                code = jcEucOrSjis;
            } else if (InRange(d, 0xE0, 0xEF)) {
                // Half-width katakana in Shift-JIS or a kanji pair in EUC-JP:
                // read on through the run of high bytes for a byte only one of
                // the two can hold.
                code = jcEucOrSjis;
                while (k < n && p[k] >= 0x40 && code == jcEucOrSjis) {
                    const unsigned b = p[k];
                    if (InRange(b, 0x81, 0x8D) || InRange(b, 0x8F, 0x9C))
                        code = jcSjis;
                    else if (InRange(b, 0xFD, 0xFE))
                        code = jcEuc;
                    ++k;
                }
            } else if (d <= 0x9F) {
                code = jcSjis;
            }
        } else if (InRange(c, 0xF0, 0xFE)) {
            code = jcEuc;
        } else if (InRange(c, 0xE0, 0xEF)) {
            const unsigned d = at(++k);
            if (InRange(d, 0x40, 0x7E) || InRange(d, 0x80, 0xA0))
                code = jcSjis;
            else if (InRange(d, 0xFD, 0xFE))
                code = jcEuc;
            else if (InRange(d, 0xA1, 0xFC))
                code = jcEucOrSjis;
        }
        // 0x80 and 0xA0 decide nothing.
        ++k;
    }
    return code;
}

std::string ToSjis(unsigned char c1, unsigned char c2) {
    std::string out(2, '\0');
    PutSjis(c1, c2, out.data());
    return out;
}

std::string jis2sjis(std::string_view text) {
    // The result is never longer than the text: escapes vanish, pairs stay
    // pairs, other bytes stay single.
    std::string out(text.size(), '\0');
    char* o = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    bool kanji = false;
    std::size_t i = 0;
    while (i < n) {
        if (p[i] == kEsc) {
            // ESC and the two bytes after it; only the first of them counts.
            if (i + 1 < n) {
                if (p[i + 1] == '$')
                    kanji = true;
                else if (p[i + 1] == '(')
                    kanji = false;
            }
            i += 3;
        } else if (kanji) {
            if (i + 1 >= n)
                break; // half a pair at the end: dropped
            PutSjis(p[i], p[i + 1], o);
            o += 2;
            i += 2;
        } else {
            *o++ = static_cast<char>(p[i++]);
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string euc2sjis(std::string_view text) {
    std::string out(text.size(), '\0');
    char* o = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned c = p[i];
        if (c <= 0x80 || c == 0xFF) {
            *o++ = static_cast<char>(c);
            ++i;
        } else if (i + 1 >= n) {
            break; // a lead or single-shift byte without its second byte: dropped
        } else if (c == 0x8E) {
            // Single shift 2: half-width katakana, the same byte in Shift-JIS.
            *o++ = static_cast<char>(p[i + 1]);
            i += 2;
        } else {
            PutSjis(c & 0x7F, p[i + 1] & 0x7Fu, o);
            o += 2;
            i += 2;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string ConvertJCode(std::string_view text, int target) {
    const int source = InCodeCheck(text);
    if (source == jcAscii || source == jcBinary || source == jcEucOrSjis || source == target)
        return std::string(text);
    if (target == jcSjis) {
        if (source == jcJisNew || source == jcJisOld)
            return jis2sjis(text);
        if (source == jcEuc)
            return euc2sjis(text);
    }
    // Conversions into EUC-JP or JIS are not needed by the program.
    return std::string(text);
}

const char* JCodeName(int code) {
    switch (code) {
    case jcAscii:
        return "ASCII (no decision)";
    case jcBinary:
        return "not text";
    case jcJisNew:
        return "JIS (ESC $ B)";
    case jcJisOld:
        return "JIS (ESC $ @)";
    case jcEuc:
        return "EUC-JP";
    case jcSjis:
        return "Shift-JIS";
    case jcEucOrSjis:
        return "EUC-JP or Shift-JIS";
    default:
        return "unknown";
    }
}

} // namespace tarnhold
