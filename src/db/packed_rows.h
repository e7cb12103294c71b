// Rows of values kept compactly: each row's values packed one after the
// other into one buffer. A select distinct over a large table keeps tens of
// thousands of combinations; as separate value objects they would cost
// several times the memory and an allocation each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/record/value.h"

namespace db::internal {

class PackedRows {
 public:
  explicit PackedRows(size_t width = 0) : width_(width) {}

  // Appends the packed form of `v` to `out`. Two values pack to the same
  // bytes exactly when they are the same stored value (text byte for byte;
  // 0 and -0 alike).
  static void Pack(const jet::Value& v, std::string& out);

  // Adds a row packed by Pack (width() values).
  void Append(std::string_view packed);
  size_t size() const { return starts_.size(); }
  size_t width() const { return width_; }
  std::string_view Row(size_t row) const;
  jet::Value Get(size_t row, size_t column) const;

 private:
  size_t width_;
  std::string bytes_;
  std::vector<size_t> starts_;
};

}  // namespace db::internal
