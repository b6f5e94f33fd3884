// The scanners of stylesheets and srcset values over arbitrary bytes: every
// link they find lies inside the text, in order and without overlap, so a
// rewrite that replaces them keeps every other byte.
#include "copy/cssrewrite.h"
#include "copy/srcset.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tarnhold;

void CheckSpans(std::string_view text, const std::vector<TTextSpan>& spans) {
    std::size_t end = 0;
    for (const TTextSpan& span : spans) {
        if (span.Offset < end || span.Offset > text.size() ||
            span.Length > text.size() - span.Offset)
            std::abort();
        end = span.Offset + span.Length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (bool shiftJis : {false, true}) {
        std::vector<TTextSpan> spans;
        for (const TCssLink& link : FindCssLinks(text, shiftJis)) {
            if (link.Value.empty())
                std::abort();
            spans.push_back(link.Span);
        }
        CheckSpans(text, spans);
    }
    const std::vector<TTextSpan> candidates = SrcsetUrls(text);
    CheckSpans(text, candidates);
    for (const TTextSpan& span : candidates)
        if (span.Length == 0)
            std::abort();
    (void)StylesheetCharset(text, text.substr(0, 64));
    if (CssSafeLink(text).find_first_of(" \"'()\\<>&") != std::string::npos)
        std::abort();
    return 0;
}
