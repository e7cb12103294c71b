// Files the fuzz targets found trouble with: each either opens or is refused
// with jet::Error, and the check reads all of it and reports the damage.
#include <gtest/gtest.h>

#include <string>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

TEST(FuzzFindings, AnIndexOnAColumnNumberedPastTheDefinitionIsReportedNotRead) {
  const std::string path =
      testing_support::DataPath("fuzz/calcFieldTestV2010-index-column.damaged");
  auto db = Database::Open(path, OpenOptions{});
  const CheckReport r = CheckDatabase(*db);
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(r.problems.empty());
}

}  // namespace
}  // namespace jet
