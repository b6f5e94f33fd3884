// The binary search of every sorted list of the program.
#pragma once

#include <cstddef>

namespace tarnhold {

// Searches a list sorted ascending under compare(key, item) (<0, 0, >0 as the
// key sorts before, with or after the item). Returns the index of a matching
// item (one of them, not necessarily the first), or -(p + 1) where p is the
// position at which the key would be inserted: callers insert at -result - 1.
template <typename List, typename Key, typename Compare>
int FindInSortedList(const List& list, const Key& key, Compare compare) {
    if (list.empty())
        return -1;
    int low = 0;
    int high = static_cast<int>(list.size()) - 1;
    int middle = 0;
    int c = 0;
    do {
        middle = (low + high) / 2;
        c = compare(key, list[static_cast<std::size_t>(middle)]);
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
