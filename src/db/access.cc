#include "db/access.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "db/ado.h"
#include "jet/error.h"

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

void FillListWithTables(ListViewLike& list, const std::vector<std::string>& tables) {
  list.Clear();
  // The list counts its entries in 16 bits.
  if (tables.size() > static_cast<size_t>(INT16_MAX)) {
    throw jet::Error(kErrOverflow, "Overflow: more than 32767 tables cannot be listed.");
  }
  for (int16_t i = 0; i < static_cast<int16_t>(tables.size()); ++i) list.Add(tables[i]);
  if (list.Count() > 0) list.Select(1);
}

void FillTableList(ListViewLike& list, const std::string& path, const std::string& password,
                   const std::string& connection_string) {
  std::optional<std::vector<std::string>> tables = ListTables(path, connection_string);
  if (!tables) return;
  FillListWithTables(list, *tables);
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

std::string ProviderDiagnosis(const std::string& support_address) {
  const char* paragraphs[] = {
      "Error #3706: Provider cannot be found. It may not be properly installed.",
      "You are getting this error because:",
      "1. Microsoft Access is not installed on your computer.",
      "2. A set of Microsoft components to transfer data is not installed on your computer.",
      ("You need to download and install Microsoft Access Database Engine 2010 or 2016 to solve "
       "this problem."),
      "Would you like me to open the Microsoft site now so you can do this?",
  };
  std::string text;
  for (const char* p : paragraphs) text += std::string(p) + "\r\n\r\n";
  text += "(If you have any further questions please email a screenshot of this error message to " +
          support_address + ")";
  return text;
}

bool ProviderAvailable(MessageAsker& ui, const std::string& support_address) {
  int number = 0;
  std::string description;
  bool failed = false;
  try {
    Connection probe;
  } catch (const jet::Error& e) {
    failed = true;
    number = e.number();
    description = e.description();
  } catch (const std::exception& e) {
    failed = true;
    description = e.what();
  } catch (...) {
    failed = true;
  }
  if (!failed) return true;
  if (Lower(description).find("provider cannot be found") == std::string::npos &&
      number != jet::errnum::kProviderNotFound) {
    return false;
  }
  try {
    if (ui.AskYesNo(ProviderDiagnosis(support_address)) == kAnswerYes) {
      for (const char* url : kEngineDownloadPages) {
        try {
          ui.OpenUrl(url);
        } catch (...) {
          // The pages are a courtesy; failing to open one changes nothing.
        }
      }
    }
  } catch (...) {
    // A failing message box is skipped; the answer stays false.
  }
  return false;
}

}  // namespace db
