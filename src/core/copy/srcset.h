// The candidates of a srcset value (srcset, imagesrcset, data-srcset): where
// each candidate's URL stands, so that only the URLs are replaced and the
// descriptors, commas and blanks between them stay as written.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tarnhold {

// A run of bytes within a text.
struct TTextSpan {
    std::size_t Offset = 0;
    std::size_t Length = 0;
};

// The URL of each candidate of value, in order, read as a browser reads a
// srcset: blanks and commas before a candidate are skipped, the URL runs to
// the next blank (commas at its end belong to the list, not the URL), and
// the descriptors run to the next comma outside parentheses. A URL may hold
// commas of its own ("data:image/png;base64,...").
std::vector<TTextSpan> SrcsetUrls(std::string_view value);

} // namespace tarnhold
