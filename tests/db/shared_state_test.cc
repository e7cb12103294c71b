// The value identity the row hash indexes use: SameValue and the hash that
// must agree with it, for every kind of value a row can hold.
#include "db/shared_state.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "jet/record/value.h"

namespace {

using jet::Value;

uint64_t Hash(const Value& v) { return db::internal::HashValue(v, db::internal::kHashSeed); }

// Extended dates and complex keys carry their payload in the integer member;
// values that differ there must neither compare the same nor all hash alike
// (an index over such a column would otherwise put every row in one bucket
// and a lookup would match every row).
TEST(RowIdentity, ExtendedDatesAndComplexKeysAreToldApart) {
  std::vector<Value> values;
  for (int64_t day = 0; day < 50; ++day) {
    values.push_back(Value::DateTimeExt(day * jet::kTicksPerDay + day));
    values.push_back(Value::Complex(static_cast<int32_t>(day + 1)));
  }
  std::set<uint64_t> hashes;
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_TRUE(db::internal::SameValue(values[i], values[i]));
    hashes.insert(Hash(values[i]));
    for (size_t j = i + 1; j < values.size(); ++j) {
      EXPECT_FALSE(db::internal::SameValue(values[i], values[j])) << i << " " << j;
    }
  }
  EXPECT_EQ(hashes.size(), values.size());
  // Equal values hash alike, whether or not a complex value's items were read.
  EXPECT_EQ(Hash(Value::DateTimeExt(12345)), Hash(Value::DateTimeExt(12345)));
  EXPECT_EQ(Hash(Value::Complex(9, std::make_shared<jet::ComplexList>())), Hash(Value::Complex(9)));
}

// Reals compare by number across their kinds, as before.
TEST(RowIdentity, RealsCompareByNumber) {
  EXPECT_TRUE(db::internal::SameValue(Value::Double(2.0), Value::DateTime(2.0)));
  EXPECT_EQ(Hash(Value::Double(2.0)), Hash(Value::Float(2.0f)));
  EXPECT_TRUE(db::internal::SameValue(Value::Double(0.0), Value::Double(-0.0)));
  EXPECT_EQ(Hash(Value::Double(0.0)), Hash(Value::Double(-0.0)));
  EXPECT_FALSE(db::internal::SameValue(Value::Double(2.0), Value::Double(3.0)));
}

}  // namespace
