#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// Quicksort of row indices with a three-way comparison (-1, 0, 1). Safe with
// any comparison, even one that is not transitive (cells of mixed kinds): it
// never leaves the bounds and always ends. Equal rows keep no particular order.
template <typename Compare> void QuickSortRows(std::vector<int>& rows, Compare compare) {
    auto at = [&rows](int i) -> int& { return rows[static_cast<std::size_t>(i)]; };
    std::vector<std::pair<int, int>> pending{{0, static_cast<int>(rows.size()) - 1}};
    while (!pending.empty()) {
        auto [low, high] = pending.back();
        pending.pop_back();
        while (low < high) {
            // Three parts: [low, less) before the pivot, [less, greater] equal
            // to it (the pivot row itself at least), (greater, high] after it.
            const int pivot = at(low + (high - low) / 2);
            int less = low;
            int greater = high;
            for (int i = low; i <= greater;) {
                const int order = at(i) == pivot ? 0 : compare(at(i), pivot);
                if (order < 0)
                    std::swap(at(less++), at(i++));
                else if (order > 0)
                    std::swap(at(i), at(greater--));
                else
                    ++i;
            }
            // Go on with the smaller part and keep the larger: a short stack.
            if (less - low < high - greater) {
                pending.emplace_back(greater + 1, high);
                high = less - 1;
            } else {
                pending.emplace_back(low, less - 1);
                low = greater + 1;
            }
        }
    }
}
