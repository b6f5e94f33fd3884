// Throughput of the Japanese code detection and conversions on a few MB of
// generated Japanese text (the search converts every cached file with them).
#include "text/jconvert.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <string>

namespace {

using namespace tarnhold;

constexpr std::size_t kTextSize = 4 << 20;

// A small deterministic generator, so every run measures the same text.
class TRandom {
public:
    std::uint32_t Next() {
        State_ = State_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(State_ >> 33);
    }
    unsigned Below(unsigned n) { return Next() % n; }

private:
    std::uint64_t State_ = 0x5EED;
};

// JIS X 0208 text as EUC-JP: lines of hiragana, katakana and kanji with some
// ASCII words. With cellLimit below 0x60 the kanji cells stay in the range
// that EUC-JP and Shift-JIS share, so InCodeCheck cannot decide and reads all.
std::string MakeEuc(unsigned cellLimit) {
    TRandom rnd;
    std::string text;
    text.reserve(kTextSize + 128);
    while (text.size() < kTextSize) {
        for (int i = 0; i < 36; ++i) {
            unsigned kind = rnd.Below(10);
            if (kind < 3) {
                text.push_back(static_cast<char>('a' + rnd.Below(26)));
                continue;
            }
            unsigned row = kind < 6 ? 0x24 : kind < 7 ? 0x25 : 0x30 + rnd.Below(0x20);
            unsigned cell = 0x21 + rnd.Below(std::min(row < 0x30 ? 0x53u : cellLimit, cellLimit));
            text.push_back(static_cast<char>(row | 0x80));
            text.push_back(static_cast<char>(cell | 0x80));
        }
        text.push_back('\n');
    }
    return text;
}

// The same characters in ISO-2022-JP.
std::string EucToJis(const std::string& euc) {
    std::string jis;
    jis.reserve(euc.size() + euc.size() / 4);
    bool kanji = false;
    for (std::size_t i = 0; i < euc.size();) {
        auto c = static_cast<unsigned char>(euc[i]);
        if (c >= 0xA1 && i + 1 < euc.size()) {
            if (!kanji)
                jis.append("\x1b$B");
            kanji = true;
            jis.push_back(static_cast<char>(c & 0x7F));
            jis.push_back(static_cast<char>(euc[i + 1] & 0x7F));
            i += 2;
        } else {
            if (kanji)
                jis.append("\x1b(B");
            kanji = false;
            jis.push_back(euc[i++]);
        }
    }
    return jis;
}

const std::string& Euc() {
    static const std::string text = MakeEuc(0x5E);
    return text;
}
const std::string& Jis() {
    static const std::string text = EucToJis(Euc());
    return text;
}
const std::string& Sjis() {
    static const std::string text = euc2sjis(Euc());
    return text;
}
const std::string& Undecided() {
    static const std::string text = MakeEuc(0x3E);
    return text;
}
const std::string& Ascii() {
    static const std::string text = [] {
        std::string s;
        TRandom rnd;
        while (s.size() < kTextSize)
            s.push_back(rnd.Below(40) == 0 ? '\n' : static_cast<char>(' ' + rnd.Below(95)));
        return s;
    }();
    return text;
}

template <typename F> void Run(benchmark::State& state, const std::string& text, F f) {
    for (auto _ : state)
        benchmark::DoNotOptimize(f(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

void BM_euc2sjis(benchmark::State& state) {
    Run(state, Euc(), [](const std::string& t) { return euc2sjis(t); });
}
void BM_jis2sjis(benchmark::State& state) {
    Run(state, Jis(), [](const std::string& t) { return jis2sjis(t); });
}
void BM_ConvertJCode_Euc(benchmark::State& state) {
    Run(state, Euc(), [](const std::string& t) { return ConvertJCode(t, jcSjis); });
}
void BM_ConvertJCode_Jis(benchmark::State& state) {
    Run(state, Jis(), [](const std::string& t) { return ConvertJCode(t, jcSjis); });
}
void BM_ConvertJCode_Sjis(benchmark::State& state) {
    Run(state, Sjis(), [](const std::string& t) { return ConvertJCode(t, jcSjis); });
}
// Detection that has to read the whole text: plain ASCII, and text whose
// bytes fit both EUC-JP and Shift-JIS.
void BM_InCodeCheck_Ascii(benchmark::State& state) {
    Run(state, Ascii(), [](const std::string& t) { return InCodeCheck(t); });
}
void BM_InCodeCheck_Undecided(benchmark::State& state) {
    if (InCodeCheck(Undecided()) != jcEucOrSjis)
        state.SkipWithError("generated text is not undecided");
    Run(state, Undecided(), [](const std::string& t) { return InCodeCheck(t); });
}

BENCHMARK(BM_euc2sjis);
BENCHMARK(BM_jis2sjis);
BENCHMARK(BM_ConvertJCode_Euc);
BENCHMARK(BM_ConvertJCode_Jis);
BENCHMARK(BM_ConvertJCode_Sjis);
BENCHMARK(BM_InCodeCheck_Ascii);
BENCHMARK(BM_InCodeCheck_Undecided);

} // namespace
