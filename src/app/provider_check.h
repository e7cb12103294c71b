// The check before the first page appears that the database layer can be
// used at all, and what the user is told when it cannot: the database layer
// tries (db::CheckProvider), the shell explains and offers the downloads.
#pragma once

#include <string>

#include "app/message_sink.h"

namespace app {

// What the check asks of the window around it.
class MessageAsker {
 public:
  virtual ~MessageAsker() = default;
  // A Yes/No question, no icon, the application title. Returns the answer;
  // Yes is kAnswerYes.
  virtual int AskYesNo(const std::string& text) = 0;
  // Opens a web page in the user's browser (the address as given, unquoted).
  virtual void OpenUrl(const std::string& url) = 0;
};
inline constexpr int kAnswerYes = msgbox::kYes;

// The Microsoft download pages of the Access Database Engine, opened in this order.
inline constexpr const char* kEngineDownloadPages[] = {
    "https://www.microsoft.com/en-us/download/details.aspx?id=13255",
    "https://www.microsoft.com/en-us/download/details.aspx?id=54920",
};

// Whether a connection object can be created. When creation fails with the
// missing-provider error (number 3706, or a description containing
// "provider cannot be found" in any case), asks ProviderDiagnosis through
// `ui` and, on Yes, opens the two download pages in order. Any other failure
// shows nothing. Never throws.
bool ProviderAvailable(MessageAsker& ui, const std::string& support_address);

// The seven paragraphs of the explanation, separated by blank lines (CR LF).
std::string ProviderDiagnosis(const std::string& support_address);

}  // namespace app
