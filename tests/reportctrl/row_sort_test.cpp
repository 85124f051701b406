#include "controls/report_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

namespace {

std::vector<int> Identity(int n) {
    std::vector<int> rows(static_cast<size_t>(n));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

TEST(RowSort, SortsByTheComparison) {
    std::mt19937 random(7);
    for (int n : {0, 1, 2, 3, 10, 257, 2000}) {
        std::vector<int> keys(static_cast<size_t>(n));
        for (int& key : keys)
            key = static_cast<int>(random() % 50); // many equal keys
        std::vector<int> rows = Identity(n);
        QuickSortRows(rows, [&](int a, int b) {
            const int x = keys[static_cast<size_t>(a)], y = keys[static_cast<size_t>(b)];
            return x < y ? -1 : (x > y ? 1 : 0);
        });
        std::vector<int> sorted;
        for (int row : rows)
            sorted.push_back(keys[static_cast<size_t>(row)]);
        EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end())) << n;
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, Identity(n)) << n;
    }
}

TEST(RowSort, ReversedComparisonSortsDescending) {
    std::vector<int> rows = Identity(100);
    std::shuffle(rows.begin(), rows.end(), std::mt19937(3));
    QuickSortRows(rows, [](int a, int b) { return a < b ? 1 : (a > b ? -1 : 0); });
    EXPECT_TRUE(std::is_sorted(rows.rbegin(), rows.rend()));
}

TEST(RowSort, InconsistentComparisonStaysInBoundsAndEnds) {
    // Cells of mixed kinds give comparisons that are not transitive; a
    // comparison answering at random is the worst case of that.
    std::mt19937 random(11);
    for (int round = 0; round < 50; ++round) {
        std::vector<int> rows = Identity(1 + round * 7);
        QuickSortRows(rows, [&](int, int) { return static_cast<int>(random() % 3) - 1; });
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, Identity(1 + round * 7));
    }
}

} // namespace
