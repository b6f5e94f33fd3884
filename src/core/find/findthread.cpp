#include "find/findthread.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "text/charset.h"
#include "text/htmlparser.h"
#include "text/jconvert.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnhold {

namespace {

// Yields the processor every this many nodes: the worker runs at idle
// priority, so the scheduler keeps the window responsive; the yield only lets
// other idle work in between.
constexpr std::uint64_t kYieldEvery = 1024;
// Hits waiting for the owner at most; the worker waits when there are more.
constexpr std::size_t kMaxPending = 1024;
// The owner is woken for this many new hits, or when the first of them has
// waited this long.
constexpr int kAnnounceBatch = 64;
constexpr auto kAnnounceDelay = std::chrono::milliseconds(20);

void LowerOwnPriority() {
    sched_param param{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
}

bool HasAsciiLetter(std::string_view utf8) {
    return std::any_of(utf8.begin(), utf8.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// ASCII letters to lower case, every other byte as it is.
constexpr std::array<unsigned char, 256> kFoldAscii = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] =
            static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return table;
}();

// How common a byte is in web pages, Japanese ones included: the search
// looks for the needle's least common byte first. Higher is more common.
int Commonness(unsigned char c) {
    if (c == ' ' || c == '\n' || c == '<' || c == '>' || c == '"' || c == '=' || c == '/' ||
        c == 'e' || c == 't' || c == 'a' || c == 'o' || c == 'i' || c == 'n' || c == 's' ||
        c == 'r')
        return 4;
    if (c == 0x82 || c == 0x83 || c == 0x81 || (c >= 'a' && c <= 'z') || c == '.' || c == ',')
        return 3;
    if ((c >= '0' && c <= '9') || c == '\t' || c == '\r' || c == '-' || c == ':' || c == ';' ||
        (c >= 0x88 && c <= 0x9f))
        return 2;
    if (c < 0x80)
        return 1;
    return 0;
}

// The text searched for, as it is or ignoring the case of ASCII letters.
// Ignoring case, the content is folded byte by byte as it is compared, in
// place: no lowered copy of it is made.
class TNeedle {
public:
    TNeedle() = default;
    // lowered: the text with the letters that are to match either case in
    // lower case. exact, when given, marks (non-zero) the bytes that match
    // only as they are (the trail bytes of Shift-JIS characters).
    void Set(std::string_view lowered, bool anyCase, std::string_view exact = {}) {
        text_.assign(lowered);
        anyCase_ = anyCase && !text_.empty();
        exact_.assign(text_.size(), 0);
        for (std::size_t i = 0; i < exact.size() && i < exact_.size(); ++i)
            exact_[i] = exact[i] != 0 ? 1 : 0;
        if (!anyCase_)
            return;
        // The anchor: the least common byte, one that matches as it is
        // before a letter of either case at the same commonness.
        int best = 1 << 30;
        for (std::size_t i = 0; i < text_.size(); ++i) {
            const auto c = static_cast<unsigned char>(text_[i]);
            const bool pair = exact_[i] == 0 && c >= 'a' && c <= 'z';
            const int score = Commonness(c) * 2 + (pair ? 1 : 0);
            if (score < best) {
                best = score;
                anchor_ = i;
            }
        }
        const auto c = static_cast<unsigned char>(text_[anchor_]);
        anchorLow_ = c;
        anchorHigh_ = exact_[anchor_] == 0 && c >= 'a' && c <= 'z'
                          ? static_cast<unsigned char>(c - 'a' + 'A')
                          : c;
    }
    std::size_t size() const { return text_.size(); }

    // The first position at or after from where the text stands in content,
    // or npos.
    std::size_t Find(std::string_view content, std::size_t from) const {
        const std::size_t n = text_.size();
        if (from > content.size() || content.size() - from < n)
            return std::string_view::npos;
        if (!anyCase_) {
            const void* hit =
                ::memmem(content.data() + from, content.size() - from, text_.data(), n);
            return hit == nullptr
                       ? std::string_view::npos
                       : static_cast<std::size_t>(static_cast<const char*>(hit) - content.data());
        }
        const auto* base = reinterpret_cast<const unsigned char*>(content.data());
        // The anchor byte is looked for where a whole match can lie around it.
        const unsigned char* p = base + from + anchor_;
        const unsigned char* end = base + content.size() - (n - 1 - anchor_);
        while (p < end) {
            p = FindAnchor(p, end);
            if (p == nullptr)
                break;
            const unsigned char* start = p - anchor_;
            if (Verify(start))
                return static_cast<std::size_t>(start - base);
            ++p;
        }
        return std::string_view::npos;
    }

private:
    bool Verify(const unsigned char* at) const {
        const auto* want = reinterpret_cast<const unsigned char*>(text_.data());
        for (std::size_t i = 0; i < text_.size(); ++i) {
            const unsigned char c = exact_[i] != 0 ? at[i] : kFoldAscii[at[i]];
            if (c != want[i])
                return false;
        }
        return true;
    }

    // The first byte in [p, end) that is either form of the anchor, or null.
    const unsigned char* FindAnchor(const unsigned char* p, const unsigned char* end) const {
        if (anchorLow_ == anchorHigh_)
            return static_cast<const unsigned char*>(
                std::memchr(p, anchorLow_, static_cast<std::size_t>(end - p)));
#if defined(__SSE2__)
        const __m128i low = _mm_set1_epi8(static_cast<char>(anchorLow_));
        const __m128i high = _mm_set1_epi8(static_cast<char>(anchorHigh_));
        while (end - p >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const int mask = _mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(block, low), _mm_cmpeq_epi8(block, high)));
            if (mask != 0)
                return p + __builtin_ctz(static_cast<unsigned>(mask));
            p += 16;
        }
#endif
        for (; p < end; ++p) {
            if (*p == anchorLow_ || *p == anchorHigh_)
                return p;
        }
        return nullptr;
    }

    std::string text_;
    std::string exact_;
    bool anyCase_ = false;
    std::size_t anchor_ = 0;
    unsigned char anchorLow_ = 0;
    unsigned char anchorHigh_ = 0;
};

// Whether text is 7-bit text without an escape: InCodeCheck can only call
// it ASCII (a byte below 0x08 is binary to it, an escape may start
// ISO-2022-JP, a byte above 0x7F another code).
bool SevenBitText(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
#if defined(__SSE2__)
    // Signed, the bytes above 0x7F are below 0x08 too.
    const __m128i low = _mm_set1_epi8(0x08);
    const __m128i escape = _mm_set1_epi8(0x1b);
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(
                _mm_or_si128(_mm_cmplt_epi8(block, low), _mm_cmpeq_epi8(block, escape))) != 0)
            return false;
    }
#endif
    for (; p < end; ++p) {
        if (*p >= 0x80 || *p < 0x08 || *p == 0x1b)
            return false;
    }
    return true;
}

// AnsiFind: a match must not start on a trail byte.
bool ContainsText(std::string_view content, const TNeedle& text) {
    for (std::size_t pos = text.Find(content, 0); pos != std::string_view::npos;
         pos = text.Find(content, pos + 1)) {
        if (IsCharStart(content, pos))
            return true;
    }
    return false;
}

} // namespace

namespace {

// Where characters start in content of a Japanese code: the longest start
// of text that ends on a whole character, and, for ISO-2022-JP, whether the
// bytes after it are kanji pairs (the escape in force there).
struct TCharEnd {
    std::size_t End = 0;
    bool Kanji = false;
};

// The last character boundary at or before limit, walking from the start of
// text (which starts on a character, in single-byte mode for ISO-2022-JP
// unless kanji says otherwise). The steps are those of the conversions.
TCharEnd WalkToBoundary(std::string_view text, int code, std::size_t limit, bool kanji) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    TCharEnd at{0, kanji};
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t step = 1;
        bool nextKanji = at.Kanji;
        if (code == jcJisNew || code == jcJisOld) {
            if (p[i] == 0x1b) {
                step = 3;
                if (i + 1 < text.size() && p[i + 1] == '$')
                    nextKanji = true;
                else if (i + 1 < text.size() && p[i + 1] == '(')
                    nextKanji = false;
            } else if (at.Kanji) {
                step = 2;
            }
        } else if (code == jcEuc) {
            step = p[i] <= 0x80 || p[i] == 0xff ? 1 : 2;
        } else {
            step = IsLeadByte(p[i]) ? 2 : 1;
        }
        if (i + step > limit || i + step > text.size())
            break;
        i += step;
        at = {i, nextKanji};
    }
    return at;
}

// The same, found from limit backwards where the code allows: a character
// boundary is known a short way back in real text (a single-byte character,
// an escape), and only the stretch after it is walked.
TCharEnd LastBoundary(std::string_view text, int code, std::size_t limit, bool kanji) {
    limit = std::min(limit, text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    constexpr std::size_t kLookBack = 4096;
    const std::size_t floor = limit > kLookBack ? limit - kLookBack : 0;
    if (code == jcJisNew || code == jcJisOld) {
        // The last escape that ends by limit sets the mode after it.
        for (std::size_t e = limit >= 3 ? limit - 3 + 1 : 0; e-- > floor;) {
            if (p[e] != 0x1b)
                continue;
            const bool after = e + 1 < text.size() && p[e + 1] == '$'   ? true
                               : e + 1 < text.size() && p[e + 1] == '(' ? false
                                                                        : kanji;
            const std::size_t from = e + 3;
            TCharEnd rest = WalkToBoundary(text.substr(from), code, limit - from, after);
            return {from + rest.End, rest.Kanji};
        }
    } else {
        // A byte that is a character of its own ends the run before limit;
        // the run's bytes pair up from there.
        auto single = [code](unsigned char c) {
            return code == jcEuc ? c <= 0x80 || c == 0xff : !IsLeadByte(c);
        };
        std::size_t run = 0;
        while (run < limit - floor && !single(p[limit - 1 - run]))
            ++run;
        if (run < limit - floor || floor == 0) {
            // For Shift-JIS a trail byte may look single: only lead bytes
            // count in the run, and a lone one before limit is cut off.
            return {run % 2 == 0 ? limit : limit - 1, false};
        }
    }
    return WalkToBoundary(text, code, limit, kanji);
}

// Whether pos starts a UTF-8 character (is no continuation byte).
bool IsUtf8Start(std::string_view text, std::size_t pos) {
    return (static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80;
}

// ContainsText for UTF-8 content: a match must start on a character.
bool ContainsUtf8(std::string_view content, const TNeedle& text) {
    for (std::size_t pos = text.Find(content, 0); pos != std::string_view::npos;
         pos = text.Find(content, pos + 1)) {
        if (IsUtf8Start(content, pos))
            return true;
    }
    return false;
}

// The last UTF-8 character boundary at or before limit: a sequence cut by
// limit is left out whole.
std::size_t Utf8Boundary(std::string_view text, std::size_t limit) {
    std::size_t j = limit;
    std::size_t continuation = 0;
    while (j > 0 && continuation < 4 && !IsUtf8Start(text, j - 1)) {
        --j;
        ++continuation;
    }
    if (j == 0)
        return limit;
    const auto lead = static_cast<unsigned char>(text[j - 1]);
    const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return continuation + 1 >= need ? limit : j - 1;
}

bool HasNonAscii(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; });
}

// Whether text has bytes beyond ASCII and they form valid UTF-8 (a sequence
// cut off at its very end counts).
bool LooksUtf8(std::string_view text) {
    const std::size_t end = Utf8Boundary(text, text.size());
    return HasNonAscii(text.substr(0, end)) && IsValidUtf8(text.substr(0, end));
}

void LowerAscii(std::string_view text, std::string& out) {
    out.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        out[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

// The encoding a page's first bytes declare: a byte order mark, else a META
// near the start of an HTML page.
std::string_view DeclaredEncoding(std::string_view start) {
    if (std::string_view bom = EncodingOfBom(start); !bom.empty())
        return bom;
    start = start.substr(0, 4096);
    static const TNeedle charset = [] {
        TNeedle needle;
        needle.Set("charset", true);
        return needle;
    }();
    if (charset.Find(start, 0) == std::string_view::npos)
        return {};
    // The META may stand before or without a HEAD tag.
    THTMLParser parser;
    parser.LoadFromText("<head>" + std::string(start));
    // The canonical name, as a label, gives the table's lasting copy of it.
    return parser.EncodingDeclared() ? EncodingOfLabel(parser.Encoding()) : std::string_view();
}

// Searches content window by window: each window is converted and searched
// on its own, and the next one starts again a little before where the last
// one ended, on a character, so that a match across the seam is found.
//
// The content's encoding decides how: UTF-8 is searched as it is for the
// text in UTF-8; the Japanese codes are turned into Shift-JIS and searched
// for the text in Shift-JIS (when it has one); any other declared encoding
// is turned into UTF-8. An encoding that nothing declares is detected from
// the content as it comes.
class TWindowSearch : public TBodySink {
public:
    TWindowSearch(std::string_view utf8, std::string_view headerEncoding, bool anyCase,
                  const std::function<bool()>& stop)
        : header_(headerEncoding), stop_(stop) {
        const std::string ansi = Utf8ToAnsi(utf8);
        ansiOk_ = AnsiToUtf8(ansi) == utf8;
        anyCase_ = anyCase && HasAsciiLetter(utf8);
        if (anyCase_) {
            std::string lowered;
            LowerAscii(utf8, lowered);
            needleUtf8_.Set(lowered, true);
            // Shift-JIS trail bytes keep their case, in the text as in the
            // content.
            AnsiLowerCaseTo(ansi, lowered);
            std::string trail(ansi.size(), '\0');
            for (std::size_t i = 0; i < ansi.size(); i += IsLeadByte(ansi[i]) ? 2 : 1) {
                if (IsLeadByte(ansi[i]) && i + 1 < ansi.size())
                    trail[i + 1] = 1;
            }
            needleAnsi_.Set(lowered, true, trail);
        } else {
            needleUtf8_.Set(utf8, false);
            needleAnsi_.Set(ansi, false);
        }
        // A character of the text takes at most 4 stored bytes (an EUC-JP
        // half-width kana, an ISO-2022-JP pair after its escape, a UTF-8
        // character).
        overlap_ = 4 * std::max(utf8.size(), ansi.size()) + 8;
        window_ = std::max(kContentWindow, 4 * overlap_);
    }

    bool Found() const { return found_; }
    bool Empty() const { return empty_; }

    bool Write(std::string_view piece) override {
        if (!piece.empty())
            empty_ = false;
        while (!piece.empty()) {
            const std::size_t take =
                std::min(piece.size(), window_ - std::min(window_, data_.size()));
            data_.append(piece.substr(0, take));
            piece.remove_prefix(take);
            if (data_.size() >= window_ && !Search(false))
                return false;
        }
        return true;
    }
    bool Restart() override {
        data_.clear();
        carried_ = 0;
        code_ = -1;
        kanji_ = false;
        mode_ = TMode::Undecided;
        first_ = true;
        notUtf8_ = false;
        return true;
    }
    // Searches what is left at the end of the content.
    void Finish() {
        if (!found_ && data_.size() > carried_)
            (void)Search(true);
    }

private:
    enum class TMode { Undecided, Utf8, Japanese, Other };

    // Takes the encoding that the header or the content's start declares,
    // once, at the first window.
    void Declared() {
        first_ = false;
        std::string_view encoding = DeclaredEncoding(data_);
        if (encoding.empty())
            encoding = header_;
        if (encoding.empty())
            return;
        if (encoding == "UTF-8") {
            mode_ = TMode::Utf8;
        } else if (encoding == "Shift_JIS" || encoding == "EUC-JP" || encoding == "ISO-2022-JP") {
            mode_ = TMode::Japanese;
            code_ = encoding == "Shift_JIS" ? jcSjis : encoding == "EUC-JP" ? jcEuc : jcJisNew;
        } else if (encoding != "windows-1252" || !ansiOk_) {
            // windows-1252 is read as it is when the text is Shift-JIS-able:
            // ASCII is the same in both, and what else matches is what the
            // program has always matched.
            mode_ = TMode::Other;
            encoding_ = encoding;
        }
    }

    // Searches the window; false when the search is over (found or stopped).
    bool Search(bool last) {
        if (first_)
            Declared();
        if (mode_ == TMode::Undecided && !notUtf8_) {
            if (LooksUtf8(data_))
                mode_ = TMode::Utf8;
            else
                notUtf8_ = HasNonAscii(data_);
        }
        if (mode_ == TMode::Undecided && (code_ < 0 || code_ == jcAscii || code_ == jcEucOrSjis)) {
            // Decided by the first window that says; until then, as it is.
            const int code = SevenBitText(data_) ? jcAscii : InCodeCheck(data_);
            if (code_ < 0 || code != jcAscii)
                code_ = code;
        }
        const bool found = mode_ == TMode::Utf8    ? SearchUtf8(last)
                           : mode_ == TMode::Other ? SearchOther(last)
                                                   : SearchJapanese(last);
        if (found) {
            found_ = true;
            return false;
        }
        return !last && !(stop_ && stop_());
    }

    bool Matches(std::string_view utf8) { return ContainsUtf8(utf8, needleUtf8_); }

    // Keeps the bytes from seam on for the next window.
    void Carry(std::size_t seam) {
        data_.erase(0, seam);
        carried_ = data_.size();
    }

    bool SearchUtf8(bool last) {
        const std::size_t end = last ? data_.size() : Utf8Boundary(data_, data_.size());
        if (Matches(std::string_view(data_.data(), end)))
            return true;
        const std::size_t from = end > overlap_ ? end - overlap_ : 0;
        Carry(from == 0 ? 0 : Utf8Boundary(data_, from));
        return false;
    }

    bool SearchOther(bool last) {
        (void)last;
        if (Matches(DecodeToUtf8(data_, encoding_)))
            return true;
        const std::size_t end = data_.size();
        Carry(end > overlap_ ? end - overlap_ : 0);
        return false;
    }

    bool SearchJapanese(bool last) {
        // Text that Shift-JIS cannot hold is in no Japanese page.
        const bool searchable = ansiOk_;
        const bool jis = code_ == jcJisNew || code_ == jcJisOld;
        // The window ends on a whole character unless the content ends.
        const TCharEnd end =
            last ? TCharEnd{data_.size(), false} : LastBoundary(data_, code_, data_.size(), kanji_);
        std::string_view window(data_.data(), end.End);
        std::string_view search = window;
        switch (code_) {
        case jcJisNew:
        case jcJisOld:
        case jcEuc: {
            // Into the same buffer every window; a window that starts inside
            // a kanji run gets the escape that opens one first.
            converted_.clear();
            TSjisStream stream(code_);
            if (jis && kanji_)
                stream.Convert("\x1b$B", converted_);
            stream.Convert(window, converted_);
            stream.Finish();
            search = converted_;
            break;
        }
        default:
            break; // Shift-JIS, ASCII, undecided or not text: as it is
        }
        if (searchable && ContainsText(search, needleAnsi_))
            return true;
        // The next window starts on a character at most overlap_ bytes back.
        const std::size_t from = end.End > overlap_ ? end.End - overlap_ : 0;
        const TCharEnd seam =
            from == 0 ? TCharEnd{0, kanji_} : LastBoundary(window, code_, from, kanji_);
        Carry(seam.End);
        if (jis)
            kanji_ = seam.Kanji;
        return false;
    }

    std::string_view header_;
    const std::function<bool()>& stop_;
    bool anyCase_ = false;
    bool ansiOk_ = false;
    TNeedle needleUtf8_;
    TNeedle needleAnsi_;
    std::size_t overlap_;
    std::size_t window_;
    std::string data_;
    std::size_t carried_ = 0; // bytes of data_ already searched
    TMode mode_ = TMode::Undecided;
    bool first_ = true;
    bool notUtf8_ = false;      // beyond ASCII and not UTF-8: no need to look again
    std::string_view encoding_; // TMode::Other
    int code_ = -1;             // not looked at yet
    bool kanji_ = false;        // ISO-2022-JP: data_ starts in kanji pairs
    bool found_ = false;
    bool empty_ = true;
    std::string converted_;
};

} // namespace

bool FileContains(const std::string& path, std::string_view text, bool anyCase) {
    TWebCacheEntryInfo entry;
    entry.LocalFileName = path;
    return FileContains(entry, text, anyCase);
}

bool FileContains(const TWebCacheEntryInfo& entry, std::string_view text, bool anyCase,
                  const std::function<bool()>& stop) {
    const std::string_view header =
        EncodingOfLabel(CharsetParameter(entry.HeaderInfo.Values("Content-Type")));
    TWindowSearch search(text, header, anyCase, stop);
    TBodyRead read;
    // A file that cannot be read, or is empty, holds nothing to find.
    if (StreamCacheBody(entry, search, &read) || search.Empty())
        return false;
    if (text.empty())
        return true;
    if (read.Complete)
        search.Finish();
    return search.Found();
}

// ---------------------------------------------------------------------------
// TFindThread

TFindThread::TFindThread(std::unique_ptr<TFindData> data) : data_(std::move(data)) {
    if (!data_)
        data_ = std::make_unique<TFindData>();
    masks_.reserve(data_->Names.size());
    for (const std::string& piece : data_->Names)
        masks_.emplace_back("*" + piece + "*");
}

TFindThread::~TFindThread() {
    Terminate();
    Join();
}

void TFindThread::Start() {
    if (started_ || Terminated())
        return;
    started_ = true;
    worker_ = std::thread([this] { Execute(); });
}

void TFindThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated_.store(true, std::memory_order_relaxed);
    }
    workerWake_.notify_all();
}

void TFindThread::Join() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
}

void TFindThread::Stop() {
    Terminate();
    Join();
    bool run = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.clear();
        if (!started_)
            finished_ = true; // a search stopped before it started ends too
        if (finished_ && !terminateDelivered_) {
            terminateDelivered_ = true;
            run = true;
        }
    }
    if (run && OnTerminate)
        OnTerminate(*this);
}

bool TFindThread::HitsWaiting() {
    // Without waiting for the worker's lock: a worker holding it is adding
    // a hit and wakes the owner once there are enough.
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    return lock.owns_lock() && !pending_.empty();
}

bool TFindThread::ProcessMessages(std::chrono::milliseconds timeout, std::size_t maxHits) {
    if (!started_)
        return false;
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    // The worker runs at the lowest priority: on a busy machine it may be
    // kept off the processor for long while it holds the lock. An owner that
    // does not mean to wait takes the lock only when it is free, and comes
    // back for the hits later.
    if (timeout.count() > 0)
        lock.lock();
    else if (!lock.try_lock())
        return !terminateDelivered_;
    if (terminateDelivered_)
        return false;
    ownerWake_.wait_for(lock, timeout, [this] { return !pending_.empty() || finished_; });
    if (Terminated())
        pending_.clear();
    // The hits in the order found, taken in one go so that the worker's
    // lock is not asked for again while they are handed over.
    const std::size_t take = std::min(maxHits, pending_.size());
    std::vector<TWebCacheTreeNode*> batch(pending_.begin(),
                                          pending_.begin() + static_cast<std::ptrdiff_t>(take));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
    // Once the worker has ended nothing joins the queue: the end follows the
    // last hit.
    const bool ends = finished_ && pending_.empty() && !terminateDelivered_;
    if (ends)
        terminateDelivered_ = true;
    lock.unlock();
    if (take > 0)
        workerWake_.notify_all(); // there is room again
    for (TWebCacheTreeNode* node : batch) {
        // A stop asked for meanwhile (also from a handler) drops the rest.
        if (Terminated())
            break;
        foundNode_ = node;
        OnFound(*this, node);
    }
    foundNode_ = nullptr;
    if (ends) {
        Join();
        if (OnTerminate)
            OnTerminate(*this);
        return false;
    }
    return !terminateDelivered_;
}

void TFindThread::WaitFor() {
    while (ProcessMessages(std::chrono::milliseconds(100))) {
    }
}

void TFindThread::Execute() {
    LowerOwnPriority();
    if (data_->StartNode != nullptr)
        SearchFolder(data_->StartNode);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    walkEnded_.store(true, std::memory_order_release);
    ownerWake_.notify_all();
    if (OnWake)
        OnWake();
}

void TFindThread::SearchFolder(TWebCacheTreeNode* node) {
    // Children are tested before any grandchild; folders are entered depth
    // first. An explicit stack: a hostile cache may nest folders deeply.
    struct TFrame {
        TWebCacheTreeNode* node;
        int next;
    };
    std::vector<TFrame> stack;
    auto enter = [&](TWebCacheTreeNode* folder) {
        visited_.store(folder, std::memory_order_relaxed);
        if (OnFolder)
            OnFolder(*this, folder->DirUrl());
        for (int i = 0; i < folder->Count() && !Terminated(); ++i)
            TestNode(folder->Items(i));
        stack.push_back({folder, 0});
    };
    enter(node);
    while (!stack.empty() && !Terminated()) {
        TFrame& top = stack.back();
        if (!data_->SubFolders || top.next >= top.node->Count()) {
            stack.pop_back();
            continue;
        }
        // Files are visited too: they have no children, so the visit is only
        // the OnFolder notification.
        enter(top.node->Items(top.next++));
    }
}

bool TFindThread::Matches(const TFindData& data, const std::vector<TFileMask>& masks,
                          const TWebCacheTreeNode* node, const std::function<bool()>& stop) {
    // Cheapest first: level, date, size, type, names; the content last.
    if (node->IsFolder && node->Level() <= 1)
        return false;
    if (data.DateFilter) {
        const std::int64_t day = DayNumber(node->LastModified());
        if (day < 0 || day < data.DateBegin || day > data.DateEnd)
            return false;
    }
    if (!node->IsFolder) {
        if (data.SizeFilter && (node->Size() < data.SizeMin || node->Size() > data.SizeMax))
            return false;
        if (data.TypeFilter) {
            thread_local std::string ext;
            AnsiLowerCaseTo(ExtractFileExt(node->DisplayName()), ext);
            if (!data.HasExtension(ext))
                return false;
        }
    } else if (data.TypeFilter) {
        return false;
    }
    if (!masks.empty()) {
        // LowerName is the lower-cased Name; an empty Name shows the tree's
        // default file name.
        const std::string& name = node->Name().empty() ? node->DisplayName() : node->LowerName();
        bool any = false;
        for (const TFileMask& mask : masks) {
            if (mask.Matches(name)) {
                any = true;
                break;
            }
        }
        if (!any)
            return false;
    }
    if (!data.Contains.empty()) {
        if (node->IsFolder)
            return false;
        return FileContains(node->Info(), data.Contains, data.MatchAnyCase, stop);
    }
    return true;
}

void TFindThread::TestNode(TWebCacheTreeNode* node) {
    if (Terminated())
        return;
    if (tested_.fetch_add(1, std::memory_order_relaxed) % kYieldEvery == kYieldEvery - 1)
        std::this_thread::yield();
    if (unannounced_ > 0)
        AnnounceHits();
    if (Matches(*data_, masks_, node, [this] { return Terminated(); }))
        Deliver(node);
}

void TFindThread::Deliver(TWebCacheTreeNode* node) {
    if (!OnFound)
        return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (pending_.size() >= kMaxPending) {
            lock.unlock();
            WakeOwner(); // before waiting for room
            lock.lock();
            workerWake_.wait(lock, [&] { return pending_.size() < kMaxPending || Terminated(); });
        }
        if (Terminated())
            return;
        pending_.push_back(node);
    }
    if (unannounced_++ == 0)
        firstUnannounced_ = std::chrono::steady_clock::now();
    AnnounceHits();
}

void TFindThread::AnnounceHits() {
    // Hits are announced in batches: one wake-up of the owner per hit would
    // cost more than the test of a node. The first hit waits at most
    // kAnnounceDelay.
    if (unannounced_ >= kAnnounceBatch ||
        std::chrono::steady_clock::now() - firstUnannounced_ >= kAnnounceDelay)
        WakeOwner();
}

void TFindThread::WakeOwner() {
    unannounced_ = 0;
    ownerWake_.notify_all();
    if (OnWake)
        OnWake();
}

TSubscription StopBeforeChanges(TWebCacheTree& tree, TFindThread& search) {
    return tree.OnChanging.Subscribe([&search](TWebCacheTree&) { search.Stop(); });
}

} // namespace tarnhold
