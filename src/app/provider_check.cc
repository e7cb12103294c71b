#include "app/provider_check.h"

#include "db/access.h"

namespace app {

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
  switch (db::CheckProvider()) {
    case db::ProviderStatus::kAvailable:
      return true;
    case db::ProviderStatus::kOtherFailure:
      return false;
    case db::ProviderStatus::kMissing:
      break;
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

}  // namespace app
