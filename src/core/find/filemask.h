// File-name masks as the search's name criterion uses them: "*" any run of
// characters, "?" exactly one character, "[...]" one character of a set of
// characters and ranges ("[a-z0-9_]"), "[!...]" one character outside it.
// ASCII letters match either case; a double-byte character of code page 932
// is one character. A "[" without its "]" stands for itself.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnhold {

class TFileMask {
public:
    explicit TFileMask(std::string_view mask);
    // lowered: the name's ASCII letters are lower case already (a node's
    // LowerName), which saves a copy.
    bool Matches(std::string_view name, bool lowered = false) const;

private:
    enum class TKind { Char, AnyOne, AnyRun, Set };
    struct TToken {
        TKind Kind = TKind::Char;
        unsigned Char = 0; // folded
        bool Negate = false;
        std::vector<std::pair<unsigned, unsigned>> Ranges; // folded, inclusive
    };
    bool TokenMatches(const TToken& token, unsigned c) const;

    std::vector<TToken> tokens_;
    // "*text*" with plain characters only: a substring search for text
    // (lower-cased) in the lower-cased name.
    bool substring_ = false;
    std::string literal_;
};

} // namespace tarnhold
