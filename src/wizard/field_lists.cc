#include "wizard/field_lists.h"

namespace wizard {

void RemoveListedItems(app::ListViewLike& thin, const app::ListViewLike& drop,
                       const std::function<void()>& yield) {
  std::vector<int> positions;
  const int thin_count = thin.Count();
  const int drop_count = drop.Count();
  for (int i = 1; i <= thin_count; ++i) {
    for (int j = 1; j <= drop_count; ++j) {
      yield();
      if (drop.ItemText(j) == thin.ItemText(i)) positions.push_back(i);
    }
  }
  positions = DistinctValues(positions, yield);
  // Positions rise, so removing from the back keeps the others valid.
  for (auto it = positions.rbegin(); it != positions.rend(); ++it) thin.Remove(*it);
}

std::vector<int> DistinctValues(const std::vector<int>& values,
                                const std::function<void()>& yield) {
  std::vector<int> result;
  for (size_t i = 0; i < values.size(); ++i) {
    bool later_copy = false;
    for (size_t j = i + 1; j < values.size(); ++j) {
      yield();
      if (values[j] == values[i]) later_copy = true;
    }
    if (!later_copy) result.push_back(values[i]);
  }
  return result;
}

}  // namespace wizard
