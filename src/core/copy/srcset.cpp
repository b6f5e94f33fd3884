#include "copy/srcset.h"

namespace tarnhold {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

} // namespace

std::vector<TTextSpan> SrcsetUrls(std::string_view value) {
    std::vector<TTextSpan> urls;
    std::size_t pos = 0;
    const std::size_t size = value.size();
    while (pos < size) {
        while (pos < size && (IsBlank(value[pos]) || value[pos] == ','))
            ++pos;
        if (pos >= size)
            break;
        const std::size_t start = pos;
        while (pos < size && !IsBlank(value[pos]))
            ++pos;
        std::size_t end = pos;
        bool listComma = false;
        while (end > start && value[end - 1] == ',') {
            --end;
            listComma = true;
        }
        if (end > start)
            urls.push_back({start, end - start});
        if (listComma)
            continue; // the candidate has no descriptors
        // Descriptors: up to the next comma outside parentheses.
        int depth = 0;
        while (pos < size) {
            const char c = value[pos];
            if (c == '(')
                ++depth;
            else if (c == ')' && depth > 0)
                --depth;
            else if (c == ',' && depth == 0)
                break;
            ++pos;
        }
        if (pos < size)
            ++pos; // the comma
    }
    return urls;
}

} // namespace tarnhold
