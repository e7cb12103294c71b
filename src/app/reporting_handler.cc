#include "app/reporting_handler.h"

#include <exception>

#include "app/error_report.h"
#include "jet/storage/error.h"

namespace app {

bool ReportingHandler::Step(int label, const std::function<void()>& body) {
  if (stopped_) return false;
  try {
    body();
    return true;
  } catch (const jet::Error& e) {
    Fail(label, e.number(), e.description());
  } catch (const std::exception& e) {
    Fail(label, jet::errnum::kGeneric, e.what());
  }
  return false;
}

void ReportingHandler::Fail(int label, int32_t number, const std::string& description) {
  Failure failure{label, number, description};
  const Verdict verdict = filter_ ? filter_(failure) : Verdict::kReport;
  if (verdict == Verdict::kStopHandler) {
    stopped_ = true;
    return;
  }
  ++reported_;
  // Stopped before the box is shown: a handler re-entered from the box's own
  // event loop must already see that this one is over.
  if (verdict == Verdict::kReportAndStop) stopped_ = true;
  ShowErrorReport(sink_, description, window_, handler_, label);
}

}  // namespace app
