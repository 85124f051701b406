#pragma once

#include <utility>
#include <vector>

// Quicksort of row indices with a three-way comparison (-1, 0, 1). Safe with
// any comparison, even one that is not transitive (cells of mixed kinds): it
// never leaves the bounds and always ends. Equal rows keep no particular order.
template <typename Compare> void QuickSortRows(std::vector<int>& rows, Compare compare) {
    int low = 0;
    int high = static_cast<int>(rows.size()) - 1;
    std::vector<std::pair<int, int>> pending;
    for (;;) {
        if (low >= high) {
            if (pending.empty())
                return;
            std::tie(low, high) = pending.back();
            pending.pop_back();
            continue;
        }
        // Partition into [low, less) < pivot, [less, greater] == pivot, (greater, high] > pivot.
        const int pivot = rows[static_cast<size_t>(low + (high - low) / 2)];
        int less = low;
        int greater = high;
        int i = low;
        while (i <= greater) {
            const int row = rows[static_cast<size_t>(i)];
            const int order =
                row == pivot ? 0 : compare(row, pivot); // the pivot stays in the middle
            if (order < 0)
                std::swap(rows[static_cast<size_t>(less++)], rows[static_cast<size_t>(i++)]);
            else if (order > 0)
                std::swap(rows[static_cast<size_t>(i)], rows[static_cast<size_t>(greater--)]);
            else
                ++i;
        }
        // Continue with the smaller part, keep the larger for later: bounded stack.
        if (less - low < high - greater) {
            pending.emplace_back(greater + 1, high);
            high = less - 1;
        } else {
            pending.emplace_back(low, less - 1);
            low = greater + 1;
        }
    }
}
