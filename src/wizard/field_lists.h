// List work shared by the table and field pages.
#pragma once

#include <functional>
#include <vector>

#include "app/list_view.h"

namespace wizard {

// Removes from `thin` every entry whose text equals (case-sensitively) the
// text of an entry of `drop`. Every pair of entries is compared, and `yield`
// runs before each comparison so that the window stays responsive.
void RemoveListedItems(app::ListViewLike& thin, const app::ListViewLike& drop,
                       const std::function<void()>& yield);

// Each value once, at the place of its last occurrence: {3, 1, 3, 2} gives
// {1, 3, 2}. `yield` runs before each comparison.
std::vector<int> DistinctValues(const std::vector<int>& values, const std::function<void()>& yield);

}  // namespace wizard
