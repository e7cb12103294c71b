#include "merge/run_util.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/error_report.h"
#include "db/access.h"
#include "db/ado.h"
#include "jet/record/tdef.h"
#include "jet/storage/error.h"
#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace merge_test {

void RecordingRunner::MaybeFail(const std::string& sql) {
  if (fail_if && fail_if(sql)) throw jet::Error(jet::errnum::kGeneric, kInjectedFailure);
}

long RecordingRunner::Execute(db::Connection& connection, const std::string& sql) {
  statements.push_back(sql);
  MaybeFail(sql);
  return StatementRunner::Execute(connection, sql);
}

void RecordingRunner::Open(db::Recordset& recordset, const std::string& sql,
                           db::Connection& connection, int cursor_type, int lock_type) {
  statements.push_back(sql);
  MaybeFail(sql);
  StatementRunner::Open(recordset, sql, connection, cursor_type, lock_type);
}

std::vector<std::string> RecordingRunner::Starting(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& s : statements) {
    if (s.compare(0, prefix.size(), prefix) == 0) out.push_back(s);
  }
  return out;
}

void ExecuteAll(const std::string& path, const std::vector<std::string>& statements) {
  db::Connection connection;
  connection.Mode = db::kModeReadWrite;
  connection.Open(db::BuildConnectionString(path, ""));
  for (const auto& s : statements) connection.Execute(s);
  connection.Commit();
  connection.Close();
}

std::string FieldList(const std::vector<std::string>& fields) {
  std::string list;
  for (const auto& f : fields) list += (list.empty() ? "`" : ", `") + f + "`";
  return list;
}

std::vector<std::vector<jet::Value>> ReadRows(const std::string& path, const std::string& table,
                                              const std::vector<std::string>& columns) {
  auto db = jet::Database::Open(path, jet::OpenOptions{});
  auto def = db->Table(table);
  std::vector<const jet::Column*> wanted;
  for (const auto& name : columns) {
    const jet::Column* c = def->FindColumn(name);
    if (!c) throw jet::Error(jet::errnum::kNoSuchColumn, "no column " + name);
    wanted.push_back(c);
  }
  std::vector<std::vector<jet::Value>> rows;
  jet::TableScan scan(*db, def);
  while (scan.Next()) {
    std::vector<jet::Value> row;
    for (const jet::Column* c : wanted) row.push_back(scan.Get(*c));
    rows.push_back(std::move(row));
  }
  return rows;
}

bool HasColumn(const std::string& path, const std::string& table, const std::string& column) {
  auto db = jet::Database::Open(path, jet::OpenOptions{});
  return db->Table(table)->FindColumn(column) != nullptr;
}

std::string Merged(const std::vector<jet::Value>& values, bool spaced) {
  std::string out;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!values[i].is_null()) out += jet::TextForm(values[i]);
    if (spaced && i + 1 < values.size()) out += ' ';
  }
  return out;
}

void SetUp(merge::RecordingMergePage& page, const std::string& path, const std::string& table,
           const std::vector<std::string>& fields) {
  page.table = table;
  page.field_list = FieldList(fields);
  page.connection_string = db::BuildConnectionString(path, "");
}

std::vector<std::string> Reports(const merge::RecordingMergePage& page) {
  std::vector<std::string> out;
  for (const auto& m : page.messages.shown()) {
    if (m.title == app::kErrorReportTitle) out.push_back(m.text);
  }
  return out;
}

std::vector<std::string> Notices(const merge::RecordingMergePage& page) {
  std::vector<std::string> out;
  for (const auto& m : page.messages.shown()) {
    if (m.title != app::kErrorReportTitle) out.push_back(m.text);
  }
  return out;
}

int ReportedLabel(const std::string& report) {
  const std::string marker = " at line ";
  size_t at = report.find(marker);
  if (at == std::string::npos) return -1;
  return std::atoi(report.c_str() + at + marker.size());
}

void ExpectUnchanged(const std::string& path, const std::string& before, const std::string& what) {
  EXPECT_TRUE(testing_support::ReadFile(path) == before) << what << ": the file changed";
  auto db = jet::Database::Open(path, jet::OpenOptions{});
  const jet::CheckReport report = jet::CheckDatabase(*db);
  EXPECT_TRUE(report.ok()) << what << ": " << (report.problems.empty() ? "" : report.problems[0]);
}

}  // namespace merge_test
