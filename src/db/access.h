// The connection string, the table catalogue, the field probe and the check
// that a connection object can be made. What the user is shown of them (the
// table list, the missing-provider question) belongs to the application shell.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace db {

// The provider names the connection string may carry.
inline constexpr const char* kAceProvider = "Microsoft.ACE.OLEDB.12.0";
inline constexpr const char* kJetProvider = "Microsoft.Jet.OLEDB.4.0";

// "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";JET OLEDB:Database Password=" +
// password for paths whose last five characters, lower-cased, are "accdb";
// "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=..." for every other path.
std::string BuildConnectionString(const std::string& path, const std::string& password);

struct ConnectionTarget {
  std::string provider;
  std::string data_source;
  std::string password;
};
// Parses a connection string of the two forms above. The data source runs up
// to the password clause, so paths containing ";" or "=" survive. Throws
// jet::Error for an unknown provider (errnum::kProviderNotFound) or a
// malformed string.
ConnectionTarget ParseConnectionString(const std::string& connection_string);

// The user tables of the database at `path` in catalogue order, or nothing
// when the file does not exist. Failures to open propagate.
std::optional<std::vector<std::string>> ListTables(const std::string& path,
                                                   const std::string& connection_string);

// True when a query naming the field on the table can be opened; every
// failure reads as false.
bool TableHasField(const std::string& table, const std::string& field,
                   const std::string& connection_string);

// What became of an attempt to create a connection object: the check made
// before the first page appears.
enum class ProviderStatus {
  kAvailable,  // a connection object could be created
  // Creation failed with the missing-provider error: number 3706, or a
  // description containing "provider cannot be found" in any case.
  kMissing,
  kOtherFailure,  // creation failed in any other way
};
// Tries to create a connection object (nothing is opened). Never throws.
ProviderStatus CheckProvider();
// Test hook: make the next connection-object creations fail with this error
// (number, description); number 0 turns it off.
void InjectConnectionCreationFailure(int number, const std::string& description);

}  // namespace db
