// The one message the program shows for a failure it did not expect: what
// went wrong, where (window, handler, step label), and whom to tell.
#pragma once

#include <string>

#include "app/message_sink.h"

namespace app {

inline constexpr char kErrorReportTitle[] = "Application Error";
inline constexpr int kErrorReportStyle = msgbox::kOkOnly + msgbox::kExclamation;

// "<description>\r\nin <tag>.<window>.<handler> at line <label>\r\rPlease email
// screenshot of this message to <support address>". The odd line breaks are
// kept byte for byte: users send us screenshots and we match them by eye.
std::string ErrorReportMessage(const std::string& description, const std::string& window,
                               const std::string& handler, int label);

// Shows the report as a modal OK-only box with the exclamation icon.
void ShowErrorReport(MessageSink& sink, const std::string& description, const std::string& window,
                     const std::string& handler, int label);

}  // namespace app
