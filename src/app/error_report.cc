#include "app/error_report.h"

#include "app/product.h"

namespace app {

std::string ErrorReportMessage(const std::string& description, const std::string& window,
                               const std::string& handler, int label) {
  return description + "\r\n" + "in " + kErrorSourceTag + "." + window + "." + handler + " " +
         "at line " + std::to_string(label) + "\r" + "\r" +
         "Please email screenshot of this message to " + kSupportAddress;
}

void ShowErrorReport(MessageSink& sink, const std::string& description, const std::string& window,
                     const std::string& handler, int label) {
  sink.Show(ErrorReportMessage(description, window, handler, label), kErrorReportTitle,
            kErrorReportStyle);
}

}  // namespace app
