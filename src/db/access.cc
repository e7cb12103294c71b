#include "db/access.h"

#include <sys/stat.h>

#include <cctype>
#include <exception>

#include "db/ado.h"
#include "jet/storage/error.h"

namespace db {

namespace {

// The file's date and time can be read.
bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::optional<std::vector<std::string>> ListTables(const std::string& path,
                                                   const std::string& connection_string) {
  Connection connection;
  if (!FileExists(path)) return std::nullopt;
  connection.Open(connection_string);
  Recordset rs = connection.OpenSchema(kSchemaTables);
  std::vector<std::string> tables;
  for (; !rs.Eof(); rs.MoveNext()) {
    if (TextForm(rs.Fields("TABLE_TYPE").Value()) == "TABLE") {
      tables.push_back(TextForm(rs.Fields("TABLE_NAME").Value()));
    }
  }
  rs.Close();
  connection.Close();
  return tables;
}

bool TableHasField(const std::string& table, const std::string& field,
                   const std::string& connection_string) {
  try {
    Connection connection;
    Recordset rs;
    connection.Mode = kModeReadWrite;
    connection.Open(connection_string);
    rs.Open("SELECT [" + field + "] FROM [" + table + "]", connection, kOpenDynamic,
            kLockUnspecified);
    return true;
  } catch (...) {
    return false;
  }
}

ProviderStatus CheckProvider() {
  int number = 0;
  std::string description;
  try {
    Connection probe;
    return ProviderStatus::kAvailable;
  } catch (const jet::Error& e) {
    number = e.number();
    description = e.description();
  } catch (const std::exception& e) {
    description = e.what();
  } catch (...) {
  }
  if (Lower(description).find("provider cannot be found") != std::string::npos ||
      number == jet::errnum::kProviderNotFound) {
    return ProviderStatus::kMissing;
  }
  return ProviderStatus::kOtherFailure;
}

}  // namespace db
