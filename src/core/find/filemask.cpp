#include "find/filemask.h"

#include "platform/codepage.h"

#include <cstring>

namespace tarnhold {

namespace {

// The character at pos (one or two bytes), ASCII letters lower-cased.
unsigned CharAt(std::string_view s, std::size_t pos, std::size_t& length) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (IsLeadByte(c) && pos + 1 < s.size()) {
        length = 2;
        return (static_cast<unsigned>(c) << 8) | static_cast<unsigned char>(s[pos + 1]);
    }
    length = 1;
    return c >= 'A' && c <= 'Z' ? c + 32u : c;
}

} // namespace

TFileMask::TFileMask(std::string_view mask) {
    std::size_t i = 0;
    while (i < mask.size()) {
        std::size_t len = 0;
        const unsigned c = CharAt(mask, i, len);
        TToken token;
        if (c == '*') {
            token.Kind = TKind::AnyRun;
            i += len;
        } else if (c == '?') {
            token.Kind = TKind::AnyOne;
            i += len;
        } else if (c == '[') {
            // Find the closing "]" first: without one, "[" is a plain character.
            std::size_t j = i + 1;
            bool negate = false;
            if (j < mask.size() && mask[j] == '!') {
                negate = true;
                ++j;
            }
            std::vector<std::pair<unsigned, unsigned>> ranges;
            bool closed = false;
            while (j < mask.size()) {
                std::size_t l1 = 0;
                const unsigned low = CharAt(mask, j, l1);
                if (low == ']') {
                    closed = true;
                    ++j;
                    break;
                }
                j += l1;
                unsigned high = low;
                if (j + 1 < mask.size() && mask[j] == '-' && mask[j + 1] != ']') {
                    std::size_t l2 = 0;
                    high = CharAt(mask, j + 1, l2);
                    j += 1 + l2;
                }
                ranges.emplace_back(low, high);
            }
            if (closed) {
                token.Kind = TKind::Set;
                token.Negate = negate;
                token.Ranges = std::move(ranges);
                i = j;
            } else {
                token.Char = '[';
                i += 1;
            }
        } else {
            token.Char = c;
            i += len;
        }
        // "**" is "*".
        if (token.Kind == TKind::AnyRun && !tokens_.empty() && tokens_.back().Kind == TKind::AnyRun)
            continue;
        tokens_.push_back(std::move(token));
    }

    // The common case, "*piece*" with plain characters: a substring search.
    if (tokens_.size() >= 2 && tokens_.front().Kind == TKind::AnyRun &&
        tokens_.back().Kind == TKind::AnyRun) {
        substring_ = true;
        for (std::size_t t = 1; t + 1 < tokens_.size(); ++t) {
            const TToken& token = tokens_[t];
            if (token.Kind != TKind::Char) {
                substring_ = false;
                break;
            }
            if (token.Char > 0xFF)
                literal_.push_back(static_cast<char>(token.Char >> 8));
            literal_.push_back(static_cast<char>(token.Char & 0xFF));
        }
    }
}

bool TFileMask::TokenMatches(const TToken& token, unsigned c) const {
    switch (token.Kind) {
    case TKind::Char:
        return token.Char == c;
    case TKind::AnyOne:
        return true;
    case TKind::Set: {
        bool in = false;
        for (const auto& [low, high] : token.Ranges) {
            if (c >= low && c <= high) {
                in = true;
                break;
            }
        }
        return in != token.Negate;
    }
    case TKind::AnyRun:
        break;
    }
    return false;
}

bool TFileMask::Matches(std::string_view name, bool lowered) const {
    if (substring_) {
        if (literal_.empty())
            return true;
        if (lowered)
            return AnsiFind(name, literal_) != std::string::npos;
        thread_local std::string lower;
        AnsiLowerCaseTo(name, lower);
        return AnsiFind(lower, literal_) != std::string::npos;
    }
    // Every token but "*" takes one character; "*" remembers where to try
    // again with one more character taken.
    const std::size_t count = tokens_.size();
    std::size_t t = 0, n = 0;
    std::size_t starToken = count, starName = 0;
    while (n < name.size()) {
        if (t < count && tokens_[t].Kind == TKind::AnyRun) {
            starToken = t++;
            starName = n;
            continue;
        }
        std::size_t len = 0;
        const unsigned c = CharAt(name, n, len);
        if (t < count && TokenMatches(tokens_[t], c)) {
            ++t;
            n += len;
            continue;
        }
        if (starToken == count)
            return false;
        std::size_t skip = 0;
        CharAt(name, starName, skip);
        starName += skip;
        n = starName;
        t = starToken + 1;
    }
    while (t < count && tokens_[t].Kind == TKind::AnyRun)
        ++t;
    return t == count;
}

} // namespace tarnhold
