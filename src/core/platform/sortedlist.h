// The binary search behind every sorted list of the program (cache tree
// children, rename list, content types, title cache, find results).
#pragma once

#include <cstddef>

namespace tarnhold {

// Searches list (ascending by compare) for key. compare(key, item) answers
// below 0, 0 or above 0 as key sorts before, with or after item. The result is
// the index of a matching item (one of them, not necessarily the first), or
// -(p + 1) where p is the position at which key would be inserted: callers
// insert at -result - 1. An empty list gives -1.
//
// List needs size() and operator[]; any integer-like compare result works.
template <typename List, typename Key, typename Compare>
std::ptrdiff_t FindInSortedList(const List& list, const Key& key, Compare compare) {
    const auto count = static_cast<std::ptrdiff_t>(list.size());
    if (count == 0)
        return -1;
    std::ptrdiff_t low = 0;
    std::ptrdiff_t high = count - 1;
    std::ptrdiff_t middle = 0;
    int c = 0;
    do {
        middle = low + (high - low) / 2;
        const auto r = compare(key, list[static_cast<std::size_t>(middle)]);
        c = r < 0 ? -1 : r > 0 ? 1 : 0;
        if (c > 0)
            low = middle + 1;
        else
            high = middle - 1;
    } while (c != 0 && high >= low);
    if (c == 0)
        return middle;
    return -((c > 0 ? middle + 1 : middle) + 1);
}

} // namespace tarnhold
