#include <algorithm>
#include <cctype>
#include <string_view>

#include "db/access.h"
#include "db/ado.h"
#include "jet/storage/error.h"

namespace db {

namespace {

constexpr std::string_view kPasswordClause = ";JET OLEDB:Database Password=";
constexpr std::string_view kDataSourceKey = "Data Source=";

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == Lower(prefix);
}

[[noreturn]] void BadString(const std::string& why) {
  throw jet::Error(kErrBadConnectionString, "The connection string cannot be used: " + why + ".");
}

}  // namespace

std::string BuildConnectionString(const std::string& path, const std::string& password) {
  std::string tail = Lower(path.size() > 5 ? std::string_view(path).substr(path.size() - 5) : path);
  std::string prefix = tail == "accdb" ? std::string("Provider=") + kAceProvider + ";Data Source="
                                       : std::string("PROVIDER=") + kJetProvider + ";Data Source=";
  return prefix + path + std::string(kPasswordClause) + password;
}

ConnectionTarget ParseConnectionString(const std::string& connection_string) {
  std::string_view s = connection_string;
  if (!StartsWithNoCase(s, "Provider=")) BadString("it does not start with \"Provider=\"");
  s.remove_prefix(9);
  size_t semi = s.find(';');
  ConnectionTarget target;
  target.provider = std::string(s.substr(0, semi));
  std::string lowered = Lower(target.provider);
  if (lowered != Lower(kAceProvider) && lowered != Lower(kJetProvider)) {
    throw jet::Error(jet::errnum::kProviderNotFound,
                     "Provider cannot be found. It may not be properly installed.");
  }
  if (semi == std::string_view::npos) BadString("it names no data source");
  s.remove_prefix(semi + 1);
  if (!StartsWithNoCase(s, kDataSourceKey)) {
    BadString("\"Data Source=\" must follow the provider");
  }
  s.remove_prefix(kDataSourceKey.size());
  // The path is written verbatim and may itself hold ";" or "=", so only the
  // last password clause ends it.
  std::string lowered_rest = Lower(s);
  size_t clause = lowered_rest.rfind(Lower(kPasswordClause));
  if (clause == std::string::npos) {
    target.data_source = std::string(s);
  } else {
    target.data_source = std::string(s.substr(0, clause));
    target.password = std::string(s.substr(clause + kPasswordClause.size()));
  }
  return target;
}

}  // namespace db
