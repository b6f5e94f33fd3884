#include "text/jconvert.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace tarnhold {

int STRICT_CHECK_LEN = 512;

namespace {

constexpr unsigned char kEsc = 0x1B;

bool InRange(unsigned c, unsigned low, unsigned high) {
    return c >= low && c <= high;
}

// JIS X 0208 row/cell bytes to Shift-JIS, by rule.
constexpr unsigned SjisFirst(unsigned c1) {
    return (((c1 + 1) >> 1) + (c1 < 0x5F ? 0x70 : 0xB0)) & 0xFF;
}
constexpr unsigned SjisSecond(unsigned c1, unsigned c2) {
    return ((c1 & 1) != 0 ? (c2 < 0x60 ? c2 + 0x1F : c2 + 0x20) : c2 + 0x7E) & 0xFF;
}

// The same rule as tables over every byte value, for the inner loops: the
// first byte by row, the second by cell and the row's parity.
struct TSjisTables {
    std::array<unsigned char, 256> first{};
    std::array<std::array<unsigned char, 256>, 2> second{};
};

constexpr TSjisTables MakeSjisTables() {
    TSjisTables t;
    for (unsigned c = 0; c < 256; ++c) {
        t.first[c] = static_cast<unsigned char>(SjisFirst(c));
        t.second[0][c] = static_cast<unsigned char>(SjisSecond(0, c));
        t.second[1][c] = static_cast<unsigned char>(SjisSecond(1, c));
    }
    return t;
}

constexpr TSjisTables kSjis = MakeSjisTables();

// JIS X 0208 row/cell bytes to Shift-JIS, written at out[0..1].
inline void PutSjis(unsigned c1, unsigned c2, char* out) {
    out[0] = static_cast<char>(kSjis.first[c1 & 0xFF]);
    out[1] = static_cast<char>(kSjis.second[c1 & 1][c2 & 0xFF]);
}

// The length of the run of bytes below 0x80 at the start of p[0..n).
inline std::size_t AsciiRun(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if ((word & 0x8080808080808080ULL) != 0)
            break;
    }
    while (i < n && p[i] < 0x80)
        ++i;
    return i;
}

} // namespace

int InCodeCheck(std::string_view text) {
    return InCodeCheck(text, nullptr);
}

int InCodeCheck(std::string_view text, std::size_t* end) {
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
        if (p[k] < 0x08 || p[k] == 0xFF) {
            if (end != nullptr)
                *end = k + 1;
            return jcBinary;
        }
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
    if (end != nullptr)
        *end = k;
    return code;
}

std::string ToSjis(unsigned char c1, unsigned char c2) {
    std::string out(2, '\0');
    PutSjis(c1, c2, out.data());
    return out;
}

TSjisStream::TSjisStream(int source) : source_(source) {}

void TSjisStream::Finish() {
    kanji_ = false;
    skip_ = 0;
    lead_ = -1;
}

void TSjisStream::Convert(std::string_view block, std::string& out) {
    if (block.empty())
        return;
    // The result of a block is never longer than the block and the one
    // byte held from the block before.
    const std::size_t done = out.size();
    out.resize(done + block.size() + 1);
    const auto* p = reinterpret_cast<const unsigned char*>(block.data());
    char* o = out.data() + done;
    std::size_t written;
    if (source_ == jcJisNew || source_ == jcJisOld) {
        written = ConvertJis(p, block.size(), o);
    } else if (source_ == jcEuc) {
        written = ConvertEuc(p, block.size(), o);
    } else {
        std::memcpy(o, p, block.size());
        written = block.size();
    }
    out.resize(done + written);
}

// ESC and the two bytes after it are dropped; the first of them switches
// ("$" into kanji pairs, "(" back to single bytes). In a kanji run the bytes
// go in pairs; elsewhere they are copied.
std::size_t TSjisStream::ConvertJis(const unsigned char* p, std::size_t n, char* out) {
    char* o = out;
    std::size_t i = 0;
    while (i < n) {
        if (skip_ != 0) {
            if (skip_ == 2) {
                if (p[i] == '$')
                    kanji_ = true;
                else if (p[i] == '(')
                    kanji_ = false;
            }
            --skip_;
            ++i;
        } else if (lead_ >= 0) {
            PutSjis(static_cast<unsigned>(lead_), p[i], o);
            o += 2;
            lead_ = -1;
            ++i;
        } else if (p[i] == kEsc) {
            if (i + 2 < n) {
                // The whole escape in this block.
                if (p[i + 1] == '$')
                    kanji_ = true;
                else if (p[i + 1] == '(')
                    kanji_ = false;
                i += 3;
            } else {
                skip_ = 2;
                ++i;
            }
        } else if (kanji_) {
            // Whole pairs up to the next escape. A pair whose second byte
            // is an ESC takes it along, as any second byte.
            const void* esc = std::memchr(p + i, kEsc, n - i);
            const std::size_t end =
                esc != nullptr
                    ? static_cast<std::size_t>(static_cast<const unsigned char*>(esc) - p)
                    : n;
            for (; i + 1 < end; i += 2) {
                PutSjis(p[i], p[i + 1], o);
                o += 2;
            }
            if (i + 1 == end) {
                if (end < n) {
                    PutSjis(p[i], p[end], o);
                    o += 2;
                    i += 2;
                } else {
                    lead_ = p[i]; // its second byte is in the next block
                    ++i;
                }
            }
        } else {
            // Single bytes up to the next escape, in one copy.
            const void* esc = std::memchr(p + i, kEsc, n - i);
            const std::size_t end =
                esc != nullptr
                    ? static_cast<std::size_t>(static_cast<const unsigned char*>(esc) - p)
                    : n;
            std::memcpy(o, p + i, end - i);
            o += end - i;
            i = end;
        }
    }
    return static_cast<std::size_t>(o - out);
}

// Bytes up to 0x80 and 0xFF are copied; a single shift (0x8E) gives the byte
// after it (half-width katakana, the same byte in Shift-JIS); any other byte
// from 0x81 up leads a JIS X 0208 pair.
std::size_t TSjisStream::ConvertEuc(const unsigned char* p, std::size_t n, char* out) {
    char* o = out;
    std::size_t i = 0;
    if (lead_ >= 0 && n > 0) {
        if (lead_ == 0x8E) {
            *o++ = static_cast<char>(p[0]);
        } else {
            PutSjis(static_cast<unsigned>(lead_) & 0x7F, p[0] & 0x7Fu, o);
            o += 2;
        }
        lead_ = -1;
        i = 1;
    }
    while (i < n) {
        // A run of JIS X 0208 pairs (both bytes 0xA1-0xFE in EUC-JP text;
        // any lead from 0xA1 up but 0xFF takes the byte after it).
        while (i + 1 < n && p[i] >= 0xA1 && p[i] != 0xFF) {
            PutSjis(p[i] & 0x7Fu, p[i + 1] & 0x7Fu, o);
            o += 2;
            i += 2;
        }
        const std::size_t run = AsciiRun(p + i, n - i);
        if (run != 0) {
            std::memcpy(o, p + i, run);
            o += run;
            i += run;
            continue;
        }
        if (i >= n)
            break;
        const unsigned c = p[i];
        if (c == 0x80 || c == 0xFF) {
            *o++ = static_cast<char>(c);
            ++i;
        } else if (i + 1 >= n) {
            lead_ = static_cast<int>(c); // its second byte is in the next block
            ++i;
        } else if (c == 0x8E) {
            *o++ = static_cast<char>(p[i + 1]);
            i += 2;
        } else {
            PutSjis(c & 0x7F, p[i + 1] & 0x7Fu, o);
            o += 2;
            i += 2;
        }
    }
    return static_cast<std::size_t>(o - out);
}

std::string jis2sjis(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 1);
    TSjisStream stream(jcJisNew);
    stream.Convert(text, out);
    stream.Finish();
    return out;
}

std::string euc2sjis(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 1);
    TSjisStream stream(jcEuc);
    stream.Convert(text, out);
    stream.Finish();
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
