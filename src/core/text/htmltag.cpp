#include "text/htmltag.h"

#include "platform/codepage.h"

#include <algorithm>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnhold {

namespace {

constexpr std::size_t npos = std::string::npos;
constexpr unsigned char ESC = 0x1B;

constexpr bool IsGraphic(unsigned char c) {
    return c >= 0x21 && c <= 0x7E;
}
constexpr bool IsQuoteChar(unsigned char c) {
    return c == '\'' || c == '"';
}

inline unsigned char At(std::string_view text, std::size_t pos) {
    return static_cast<unsigned char>(text[pos]);
}

class TByteSet {
public:
    static constexpr std::size_t kMaxListed = 12;

    constexpr explicit TByteSet(std::string_view bytes) {
        for (char c : bytes)
            Add(static_cast<unsigned char>(c));
    }
    constexpr bool Has(unsigned char c) const { return bits_[c]; }
    constexpr void Add(unsigned char c) {
        if (bits_[c])
            return;
        bits_[c] = true;
        if (count_ < kMaxListed)
            list_[count_] = c;
        ++count_;
    }
    // The bytes one by one, for the vector search; valid when Listed().
    constexpr bool Listed() const { return count_ <= kMaxListed; }
    // Whether a vector search pays: a few bytes, each compared in one
    // instruction. Bigger sets are looked up byte by byte.
    constexpr bool Few() const { return count_ <= 4; }
    constexpr std::size_t Size() const { return count_; }
    constexpr unsigned char Byte(std::size_t i) const { return list_[i]; }

private:
    std::array<bool, 256> bits_{};
    std::array<unsigned char, kMaxListed> list_{};
    std::size_t count_ = 0;
};

// The delimiters with the bytes a delimiter search has to stop at besides
// them: ESC (a JIS kanji switch) and, when quotes count, the quotes.
// Every other byte is stepped over alike, so a search may skip a run of them
// at once.
constexpr TByteSet StopsOf(TByteSet delimiters, bool honourQuotes) {
    delimiters.Add(ESC);
    if (honourQuotes) {
        delimiters.Add('\'');
        delimiters.Add('"');
    }
    return delimiters;
}

#if defined(__SSE2__)
// SSE2 (every x86-64 has it): 16 bytes at a time, each compared with the
// Count bytes of stops; the end of the text, under 16 bytes, is left to the
// caller. pos stays where the search stopped.
template <std::size_t Count>
bool SkipVector(const unsigned char* p, std::size_t n, std::size_t& pos, const TByteSet& stops) {
    __m128i wanted[Count];
    for (std::size_t i = 0; i < Count; ++i)
        wanted[i] = _mm_set1_epi8(static_cast<char>(stops.Byte(i)));
    for (; pos + 16 <= n; pos += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos));
        __m128i hits = _mm_cmpeq_epi8(block, wanted[0]);
        for (std::size_t i = 1; i < Count; ++i)
            hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, wanted[i]));
        if (const int mask = _mm_movemask_epi8(hits); mask != 0) {
            pos += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
            return true;
        }
    }
    return false;
}
#endif

// The first position at or after pos whose byte is in stops; text.size()
// if there is none. Most stops come soon (a tag's attributes, blanks between
// tags), so the first bytes are looked at one by one before the search goes
// 16 bytes at a time.
std::size_t SkipToStop(std::string_view text, std::size_t pos, const TByteSet& stops) {
    const std::size_t n = text.size();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t near = std::min(n, pos + 16);
    for (; pos < near; ++pos) {
        if (stops.Has(p[pos]))
            return pos;
    }
#if defined(__SSE2__)
    if (stops.Few() && pos + 16 <= n) {
        bool found = false;
        switch (stops.Size()) {
        case 1:
            found = SkipVector<1>(p, n, pos, stops);
            break;
        case 2:
            found = SkipVector<2>(p, n, pos, stops);
            break;
        case 3:
            found = SkipVector<3>(p, n, pos, stops);
            break;
        default:
            found = SkipVector<4>(p, n, pos, stops);
            break;
        }
        if (found)
            return pos;
    }
#endif
    while (pos < n && !stops.Has(p[pos]))
        ++pos;
    return pos;
}

constexpr TByteSet kTagEnd(">");
constexpr TByteSet kTagStart("<");
constexpr TByteSet kEqualSign("=");
constexpr TByteSet kEqualOrBlank("= \r\n\t");
constexpr TByteSet kAttributeEnd(" \r\n\t/>");

constexpr TByteSet kEqualSignStops = StopsOf(kEqualSign, true);
constexpr TByteSet kTagEndStops = StopsOf(kTagEnd, true);
constexpr TByteSet kTagStartStops = StopsOf(kTagStart, false);
constexpr TByteSet kEqualOrBlankStops = StopsOf(kEqualOrBlank, true);
constexpr TByteSet kAttributeEndStops = StopsOf(kAttributeEnd, true);
// Inside a quoted word only its closing quote and a kanji switch count.
constexpr TByteSet kInDoubleQuoteStops("\"\x1b");
constexpr TByteSet kInSingleQuoteStops("'\x1b");

// The walk of FindDelimiter, one unit (escape, kanji or byte) at a time, so
// that the searches of an attribute can share it.
struct TDelimiterScan {
    std::string_view text;
    std::size_t pos;
    bool honourQuotes;
    bool inKanji = false;
    unsigned char quote = 0; // the open quote character, 0 when none
    unsigned char prev = 0;  // the last byte stepped over

    // Whether the state is the one a new scan starts in: what a scan finds
    // from here equals what a scan started here would find.
    bool Fresh() const { return !inKanji && quote == 0 && !IsQuoteChar(prev); }

    // True when the byte at pos is a delimiter (pos stays on it); otherwise
    // steps over one unit.
    bool Step(const TByteSet& delimiters) {
        unsigned char c = At(text, pos);
        if (!inKanji && c != ESC && !(honourQuotes && IsQuoteChar(c))) {
            // The common case: an ordinary byte outside a kanji run.
            if ((quote == 0 || (c == '>' && IsQuoteChar(prev))) && delimiters.Has(c))
                return true;
            prev = c;
            ++pos;
            return false;
        }
        if (inKanji) {
            if (IsJISKanjiOut(text, pos)) {
                inKanji = false;
                prev = At(text, pos + 2);
                pos += 3;
            } else {
                // A kanji cut short by the end of the text ends the scan.
                prev = pos + 1 < text.size() ? At(text, pos + 1) : 0;
                pos += 2;
            }
            return false;
        }
        if (IsJISKanjiIn(text, pos)) {
            inKanji = true;
            prev = At(text, pos + 2);
            pos += 3;
            return false;
        }
        if (honourQuotes && IsQuoteChar(c)) {
            if (quote != 0) {
                if (c == quote)
                    quote = 0;
            } else if (prev != c) {
                quote = c;
            }
        } else if ((quote == 0 || (c == '>' && IsQuoteChar(prev))) && delimiters.Has(c)) {
            return true;
        }
        prev = c;
        ++pos;
        return false;
    }
};

// stops is StopsOf(delimiters, honourQuotes). Outside a kanji run the bytes
// that are not stops are skipped in one go: Step would pass each of them
// without a change of state but prev, which ends as the last of them.
std::size_t FindIn(std::size_t start, std::string_view text, const TByteSet& delimiters,
                   const TByteSet& stops, bool honourQuotes) {
    TDelimiterScan scan{text, start, honourQuotes};
    while (scan.pos < text.size()) {
        if (!scan.inKanji) {
            const std::size_t next = SkipToStop(text, scan.pos, stops);
            if (next != scan.pos) {
                scan.prev = At(text, next - 1);
                scan.pos = next;
                if (next >= text.size())
                    break;
            }
        }
        if (scan.Step(delimiters))
            return scan.pos;
    }
    return npos;
}

// ReadWord's first step: over blanks and control bytes (and the bytes from
// 0x80 up that cannot start a Shift-JIS character), up to a JIS kanji switch
// or a lead byte.
std::size_t SkipBlanks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && !IsGraphic(At(text, pos)) && !IsLeadByte(At(text, pos)) &&
           !(At(text, pos) == ESC && IsJISKanjiIn(text, pos)))
        ++pos;
    return pos;
}

bool IsQuoted(std::string_view s) {
    return s.size() >= 2 && IsQuoteChar(At(s, 0)) && s.back() == s.front();
}

} // namespace

bool IsJISKanjiIn(std::string_view text, std::size_t pos) {
    if (pos + 2 >= text.size() || At(text, pos) != ESC || text[pos + 1] != '$')
        return false;
    char c = text[pos + 2];
    return c == '@' || c == 'B' || c == 'b' || c == 'D' || c == 'd';
}

bool IsJISKanjiOut(std::string_view text, std::size_t pos) {
    if (pos + 2 >= text.size() || At(text, pos) != ESC || text[pos + 1] != '(')
        return false;
    char c = text[pos + 2];
    return c == 'B' || c == 'b' || c == 'I' || c == 'i' || c == 'J' || c == 'j';
}

std::size_t FindDelimiter(std::size_t start, std::string_view text, std::string_view delimiters,
                          bool honourQuotes) {
    const TByteSet set(delimiters);
    return FindIn(start, text, set, StopsOf(set, honourQuotes), honourQuotes);
}

std::string_view ReadWord(std::size_t& pos, std::string_view text) {
    const std::size_t n = text.size();
    std::size_t p = SkipBlanks(text, std::min(pos, n));
    if (p >= n) {
        pos = n;
        return text.substr(n);
    }
    const std::size_t start = p;
    bool inKanji = false;
    unsigned char quote = 0;
    while (p < n) {
        if (inKanji) {
            if (IsJISKanjiOut(text, p)) {
                inKanji = false;
                p += 3;
            } else {
                p += 2;
            }
            continue;
        }
        if (At(text, p) == ESC && IsJISKanjiIn(text, p)) {
            inKanji = true;
            p += 3;
            continue;
        }
        unsigned char c = At(text, p);
        if (quote != 0) {
            ++p;
            if (c == quote)
                break; // the closing quote belongs to the word
            p = SkipToStop(text, p, quote == '"' ? kInDoubleQuoteStops : kInSingleQuoteStops);
            continue;
        }
        if (IsQuoteChar(c)) {
            quote = c;
            ++p;
            continue;
        }
        if (!IsGraphic(c))
            break;
        ++p;
    }
    p = std::min(p, n);
    std::size_t length = p - start;
    if (length > 2 && text.substr(start + length - 2, 2) == "/>") {
        length -= 2;
        p -= 2;
    }
    if (length > 1 && text[start + length - 1] == '>') {
        length -= 1;
        p -= 1;
    }
    pos = p;
    return text.substr(start, length);
}

std::string NormalizeAttributeValue(std::string_view value) {
    std::string out;
    NormalizeAttributeValue(value, out);
    return out;
}

void NormalizeAttributeValue(std::string_view value, std::string& result) {
    if (std::none_of(value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n'; })) {
        result.assign(AnsiTrim(value));
        return;
    }
    // CR LF and lone CR become LF. CR and LF are never trail bytes, so this
    // goes byte by byte.
    std::string lf;
    lf.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r') {
            lf.push_back('\n');
            if (i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else {
            lf.push_back(value[i]);
        }
    }
    // Every LF, first to last, with the blanks after it.
    std::string out;
    out.reserve(lf.size());
    std::size_t i = 0;
    while (i < lf.size()) {
        if (lf[i] != '\n') {
            out.push_back(lf[i++]);
            continue;
        }
        std::size_t j = i + 1;
        while (j < lf.size() && (lf[j] == ' ' || lf[j] == '\t'))
            ++j;
        if (j >= lf.size())
            break; // only blanks follow: the value ends before the LF
        if (j > i + 1)
            out.push_back(' ');
        i = j;
    }
    result.assign(AnsiTrim(out));
}

// ---------------------------------------------------------------------------
// THTMLEllement

void THTMLEllement::SetText(std::string_view text) {
    if (text == text_)
        return;
    Parse(text);
}

void THTMLEllement::Parse(std::string_view text) {
    text_.assign(text);
    quote_.clear();
    equal_.clear();
    std::string_view t = text_;
    std::size_t e = FindIn(0, t, kEqualSign, kEqualSignStops, true);
    if (e != npos) {
        name_.assign(AnsiTrim(t.substr(0, e)));
        std::size_t p = e + 1;
        std::string_view word = ReadWord(p, t);
        value_.assign(word);
        if (!word.empty()) {
            equal_.assign(t.substr(name_.size(), t.size() - name_.size() - word.size()));
            if (IsQuoted(word)) {
                quote_.assign(word.substr(0, 1));
                NormalizeAttributeValue(word.substr(1, word.size() - 2), value_);
            }
        }
    } else {
        value_.clear();
        if (IsQuoted(t)) {
            // A value standing on its own, as in <a 'x'>.
            quote_.assign(t.substr(0, 1));
            NormalizeAttributeValue(t.substr(1, t.size() - 2), value_);
            name_.clear();
        } else {
            name_.assign(t);
        }
    }
}

void THTMLEllement::Rebuild() {
    // The old text goes to oldText_ and the new one is written where the
    // text before it was, so that changing attributes one after another
    // does not allocate each time.
    oldText_.swap(text_);
    text_.clear();
    if (!equal_.empty()) {
        text_.reserve(name_.size() + equal_.size() + value_.size() + 2 * quote_.size());
        text_.append(name_).append(equal_).append(quote_).append(value_).append(quote_);
    } else {
        text_ = name_;
    }
    if (onChange_)
        onChange_(*this, index_, oldText_, text_);
}

void THTMLEllement::SetName(std::string_view name) {
    if (name == name_)
        return;
    name_.assign(name);
    Rebuild();
}

void THTMLEllement::SetValue(std::string_view value) {
    if (value == value_)
        return;
    value_.assign(value);
    Rebuild();
}

void THTMLEllement::SetQuote(std::string_view quote) {
    if (quote == quote_)
        return;
    quote_.assign(quote);
    Rebuild();
}

// ---------------------------------------------------------------------------
// THTMLTag

void THTMLTag::Clear() {
    kind_ = tkNone;
    name_.clear();
    count_ = 0; // the attributes stay in elements_ for the next token
    spans_.clear();
    removed_.clear();
    text_.clear();
    source_ = {};
    viewing_ = false;
    stale_ = false;
    equalMemoReady_ = false;
}

const std::string& THTMLTag::Text() const {
    if (stale_)
        Assemble();
    if (viewing_) {
        // The caller wants a string of its own: the token is copied out of
        // the page now (the spans stay where they are in the copy).
        text_.assign(source_);
        source_ = text_;
        viewing_ = false;
    }
    return text_;
}

std::string_view THTMLTag::TextView() const {
    if (stale_)
        Assemble();
    return source_;
}

std::size_t THTMLTag::ElementOffset(int index) const {
    if (stale_)
        Assemble();
    return spans_[static_cast<std::size_t>(index)].Offset;
}

void THTMLTag::Assemble() const {
    // The stretches between attributes stay as they were; each attribute's
    // place gets its text as it is now, a deleted one's nothing.
    std::sort(removed_.begin(), removed_.end(),
              [](const TSpan& a, const TSpan& b) { return a.Offset < b.Offset; });
    const std::string_view text = source_;
    std::size_t size = text.size();
    for (std::size_t i = 0; i < count_; ++i)
        size += Element(i).Text().size();
    std::string& out = assembled_;
    out.clear();
    out.reserve(size);
    std::size_t pos = 0;
    std::size_t r = 0;
    auto copyTo = [&](std::size_t offset) {
        if (offset > pos)
            out.append(text.substr(pos, offset - pos));
    };
    for (std::size_t i = 0; i <= count_; ++i) {
        const std::size_t next = i < count_ ? spans_[i].Offset : text.size();
        for (; r < removed_.size() && removed_[r].Offset < next; ++r) {
            copyTo(removed_[r].Offset);
            pos = std::max(pos, removed_[r].Offset + removed_[r].Length);
        }
        if (i == count_)
            break;
        copyTo(spans_[i].Offset);
        pos = std::max(pos, spans_[i].Offset + spans_[i].Length);
        const std::string& own = elements_[i]->Text();
        spans_[i] = {out.size(), own.size(), true};
        out.append(own);
    }
    copyTo(text.size());
    text_.swap(out);
    source_ = text_;
    viewing_ = false;
    removed_.clear();
    stale_ = false;
}

void THTMLTag::SetText(std::string_view text) {
    // A token that views a page is not compared: the page may be gone.
    if (!viewing_ && text == Text())
        return;
    Clear();
    text_.assign(text);
    source_ = text_;
    Read();
}

void THTMLTag::View(std::string_view text) {
    Clear();
    source_ = text;
    viewing_ = true;
    Read();
}

void THTMLTag::Read() {
    const std::string_view text = source_;
    if (text.empty() || text[0] != '<') {
        kind_ = tkText;
        return;
    }
    std::size_t pos = 1;
    std::string_view name = ReadWord(pos, text);
    if (name.empty()) {
        kind_ = tkText;
        return;
    }
    if (name.substr(0, 3) == "!--") {
        // A comment's inside is not read for attributes.
        kind_ = tkComment;
        return;
    }
    name_.assign(name);
    kind_ = name_[0] == '!' && AnsiSameText(name_, "!DOCTYPE") ? tkDoctype : tkTag;
    std::string_view attribute;
    while (ReadAttributeText(pos, attribute)) {
        if (count_ == elements_.size()) {
            elements_.push_back(std::make_unique<THTMLEllement>());
            elements_.back()->SetOnChange([this](THTMLEllement&, int, const std::string&,
                                                 const std::string&) { stale_ = true; });
        }
        elements_[count_]->SetIndex(Count());
        spans_.push_back(
            {static_cast<std::size_t>(attribute.data() - text.data()), attribute.size(), false});
        ++count_;
    }
}

THTMLEllement& THTMLTag::Element(std::size_t index) const {
    THTMLEllement& element = *elements_[index];
    TSpan& span = spans_[index];
    if (!span.Parsed) {
        // The tag text has not been put together anew since the attribute
        // was cut out of it: no attribute has changed before this one is
        // parsed.
        element.Parse(source_.substr(span.Offset, span.Length));
        span.Parsed = true;
    }
    return element;
}

// Cuts the next attribute out of the tag text. An attribute is followed by its
// "=" and value unless a blank comes first and an "=" still follows somewhere
// in the tag (<td nowrap width=5>); with no "=" left at all, names end at a
// blank, "/" or ">".
bool THTMLTag::ReadAttributeText(std::size_t& pos, std::string_view& attribute) {
    const std::string_view text = source_;
    const std::size_t s = SkipBlanks(text, pos);
    if (s >= text.size())
        return false;
    // The "=" search and the blank search walk alike (neither looks at ">"),
    // so one walk tells which comes first.
    std::size_t first = FindIn(s, text, kEqualOrBlank, kEqualOrBlankStops, true);
    if (first != npos && text[first] == '=') {
        std::size_t p = first + 1;
        std::string_view word = ReadWord(p, text);
        if (word.empty() || word.back() == '>')
            p = static_cast<std::size_t>(word.data() - text.data());
        attribute = text.substr(s, p - s);
        pos = p;
        return true;
    }
    if (first != npos && EqualFollows(first + 1)) {
        attribute = text.substr(s, first - s);
        pos = first;
        return true;
    }
    std::size_t end = FindIn(s, text, kAttributeEnd, kAttributeEndStops, true);
    if (end == npos || end == s)
        return false;
    attribute = text.substr(s, end - s);
    pos = end;
    return true;
}

// Whether a walk of FindDelimiter started at from finds an "=". Each walk
// notes its answer at every position where it stood in the state a new walk
// starts in, and stops where an earlier walk left an answer.
bool THTMLTag::EqualFollows(std::size_t from) {
    if (!equalMemoReady_) {
        equalMemo_.assign(source_.size() + 1, -1);
        equalMemoReady_ = true;
    }
    equalPath_.clear();
    TDelimiterScan scan{source_, from, true};
    bool found = false;
    while (scan.pos < source_.size()) {
        if (scan.Fresh()) {
            std::int8_t known = equalMemo_[scan.pos];
            if (known >= 0) {
                found = known != 0;
                break;
            }
            equalPath_.push_back(scan.pos);
        }
        if (scan.Step(kEqualSign)) {
            found = true;
            break;
        }
    }
    for (std::size_t p : equalPath_)
        equalMemo_[p] = found ? 1 : 0;
    return found;
}

void THTMLTag::DeleteElement(int index) {
    if (index < 0 || index >= Count())
        return;
    const auto k = static_cast<std::size_t>(index);
    removed_.push_back(spans_[k]);
    // The attribute goes to the kept ones past the list.
    std::rotate(elements_.begin() + static_cast<std::ptrdiff_t>(k),
                elements_.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                elements_.begin() + static_cast<std::ptrdiff_t>(count_));
    --count_;
    spans_.erase(spans_.begin() + static_cast<std::ptrdiff_t>(k));
    stale_ = true;
}

void THTMLTag::DeleteElements(const std::function<bool(const THTMLEllement&)>& remove) {
    std::size_t keep = 0;
    for (std::size_t k = 0; k < count_; ++k) {
        if (remove(Element(k))) {
            removed_.push_back(spans_[k]);
            stale_ = true;
            continue;
        }
        // Swapped, not moved: the removed ones stay past the list, kept.
        std::swap(elements_[keep], elements_[k]);
        spans_[keep] = spans_[k];
        ++keep;
    }
    count_ = keep;
    spans_.resize(keep);
}

// ---------------------------------------------------------------------------

namespace {

// Where the token that begins at pos ends (pos < data.size()).
std::size_t TokenEnd(std::string_view data, std::size_t pos) {
    std::size_t end;
    if (data[pos] == '<') {
        std::size_t close = FindIn(pos, data, kTagEnd, kTagEndStops, true);
        end = close == npos ? data.size() : close + 1;
    } else {
        // Text runs to the next "<" that is not a byte of a JIS kanji.
        std::size_t open = FindIn(pos, data, kTagStart, kTagStartStops, false);
        end = open == npos ? data.size() : open;
    }
    return end;
}

} // namespace

bool NextTag(std::string_view data, std::size_t& pos, THTMLTag& tag) {
    if (pos >= data.size())
        return false;
    const std::size_t end = TokenEnd(data, pos);
    tag.SetText(data.substr(pos, end - pos));
    pos = end;
    return true;
}

bool NextTagInPlace(std::string_view data, std::size_t& pos, THTMLTag& tag) {
    if (pos >= data.size())
        return false;
    const std::size_t end = TokenEnd(data, pos);
    tag.View(data.substr(pos, end - pos));
    pos = end;
    return true;
}

} // namespace tarnhold
