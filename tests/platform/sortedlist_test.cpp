#include "platform/codepage.h"
#include "platform/sortedlist.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarnhold {
namespace {

int CompareInt(int key, int item) {
    return key < item ? -1 : key > item ? 1 : 0;
}

TEST(FindInSortedList, IndexOrInsertionPoint) {
    const std::vector<int> list = {10, 20, 30, 40, 50};
    struct {
        int Key;
        std::ptrdiff_t Result;
    } cases[] = {
        {10, 0}, {30, 2},  {50, 4},            // found
        {5, -1}, {15, -2}, {35, -4}, {55, -6}, // -(insertion point + 1)
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindInSortedList(list, c.Key, CompareInt), c.Result) << c.Key;
    EXPECT_EQ(FindInSortedList(std::vector<int>{}, 1, CompareInt), -1);
    EXPECT_EQ(FindInSortedList(std::vector<int>{7}, 7, CompareInt), 0);
    EXPECT_EQ(FindInSortedList(std::vector<int>{7}, 8, CompareInt), -2);
}

TEST(FindInSortedList, InsertingAtTheAnswerKeepsTheOrder) {
    std::vector<std::string> list;
    auto compare = [](const std::string& key, const std::string& item) {
        return AnsiCompareStr(key, item);
    };
    for (const char* s : {"m", "c", "x", "a", "\x82\xa0", "b", "z", "c"}) {
        std::ptrdiff_t r = FindInSortedList(list, std::string(s), compare);
        if (r < 0)
            list.insert(list.begin() + (-r - 1), s);
    }
    EXPECT_EQ(list, (std::vector<std::string>{"a", "b", "c", "m", "x", "z", "\x82\xa0"}));
}

TEST(FindInSortedList, DuplicatesGiveOneOfThem) {
    const std::vector<int> list = {1, 2, 2, 2, 3};
    std::ptrdiff_t r = FindInSortedList(list, 2, CompareInt);
    ASSERT_GE(r, 1);
    ASSERT_LE(r, 3);
}

} // namespace
} // namespace tarnhold
