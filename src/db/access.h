// The connection string and the table catalogue helpers every page relies on.
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

// What the table list offers (a Qt list implements it, tests fake it).
class ListViewLike {
 public:
  virtual ~ListViewLike() = default;
  virtual void Clear() = 0;
  virtual void Add(const std::string& text) = 0;
  virtual int Count() const = 0;
  virtual std::string ItemText(int index_1based) const = 0;
  virtual void Remove(int index_1based) = 0;
  virtual int SelectedIndex() const = 0;  // 0 when nothing is selected
  virtual void Select(int index_1based) = 0;
};

// Replaces the list's items with the tables and selects the first; leaves
// the list alone when the file does not exist. `password` is accepted and
// not used (the connection string carries it). More than 32767 tables fail
// with kErrOverflow once the list is emptied, before any is added.
void FillTableList(ListViewLike& list, const std::string& path, const std::string& password,
                   const std::string& connection_string);
// The list-filling half of FillTableList, for a catalogue already read.
void FillListWithTables(ListViewLike& list, const std::vector<std::string>& tables);

// True when a query naming the field on the table can be opened; every
// failure reads as false.
bool TableHasField(const std::string& table, const std::string& field,
                   const std::string& connection_string);

// Whether a connection object can be created. When creation fails with the
// missing-provider error (number 3706, or a description containing
// "provider cannot be found" in any case), shows ProviderDiagnosis through
// `ui` (a Yes/No question, no icon, the application title) and, on Yes,
// opens the two download pages in order. Any other failure shows nothing.
// Never throws. The support address is the product's, passed in so that this
// layer knows nothing of the application.
class MessageAsker {
 public:
  virtual ~MessageAsker() = default;
  // Returns the answer; Yes is kAnswerYes.
  virtual int AskYesNo(const std::string& text) = 0;
  // Opens a web page in the user's browser (the address as given, unquoted).
  virtual void OpenUrl(const std::string& url) = 0;
};
inline constexpr int kAnswerYes = 6;
inline constexpr const char* kEngineDownloadPages[] = {
    "https://www.microsoft.com/en-us/download/details.aspx?id=13255",
    "https://www.microsoft.com/en-us/download/details.aspx?id=54920",
};
bool ProviderAvailable(MessageAsker& ui, const std::string& support_address);
// The seven paragraphs of the explanation, separated by blank lines (CR LF).
std::string ProviderDiagnosis(const std::string& support_address);
// Test hook: make the next connection-object creations fail with this error
// (number, description); number 0 turns it off.
void InjectConnectionCreationFailure(int number, const std::string& description);

}  // namespace db
