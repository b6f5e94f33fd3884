// Pieces of the link rewriter shared by its units.
#pragma once

#include "text/htmltag.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnhold {

// The fragment of a link ("#...") as it can follow a rewritten link in any
// attribute or sheet: blanks, controls, quotes, "<", ">", "&", "\" and
// parentheses as "%XX" (a browser matches the fragment decoded).
std::string SafeFragment(std::string_view fragment);

// Whether a <link> tag's rel names something the page loads with it: a
// stylesheet, an icon or a preload.
bool IsEmbeddingLink(const THTMLTag& tag);

// Where the <style> block whose content starts at pos ends: the position of
// its "</style" (in any case), or the end of data.
std::size_t FindStyleEnd(std::string_view data, std::size_t pos);

// The value of an attribute as the page has it (between its quotes, with
// its line breaks and references), and whether it could be told apart.
bool RawValue(const THTMLEllement& element, std::string_view& raw);

} // namespace tarnhold
