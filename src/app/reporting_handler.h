// Runs an event handler (or the merge run) as a sequence of labelled steps.
// A step that throws does not end the handler: its failure is shown as the
// error report, naming the window, the handler and the step's label, and the
// handler goes on with the next step. This keeps a half-working window usable
// and tells support exactly which step failed.
//
//   ReportingHandler h(sink, "Fields", "NextClicked");
//   h.Step(100, [&] { table = ReadTableName(); });
//   if (h.Test(102, [&] { return table.empty(); })) {  // a failing test counts as passed
//     h.Step(104, [&] { ShowNoTable(); });
//   }
//   int last = h.Value(106, [&] { return rs.FieldCount() - 1; }, /*on_failure=*/0);
//   for (int i = 0; i <= last && !h.stopped(); ++i) {
//     h.Step(108, [&] { AddField(rs.FieldName(i)); });
//   }
//
// Labels are whatever the caller passes; they need not rise. Only
// std::exception and its kin (jet::Error among them) are caught; anything
// else is a programming fault and propagates.
//
// A filter may look at a failure first and let it be reported, stop the
// whole handler silently (after, say, showing its own message), or report it
// and then stop (a failure that would make every later step wrong). Once stopped,
// Step runs nothing and returns false, Test returns false and Value returns
// its on_failure value, so loops and guarded blocks wind down without
// further reports; callers may also return early on stopped().
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "app/message_sink.h"

namespace app {

class ReportingHandler {
 public:
  struct Failure {
    int label;
    int32_t number;  // jet::Error's number; jet::errnum::kGeneric for other exceptions
    std::string description;
  };
  enum class Verdict { kReport, kStopHandler, kReportAndStop };
  using Filter = std::function<Verdict(const Failure&)>;

  ReportingHandler(MessageSink& sink, std::string window, std::string handler)
      : sink_(sink), window_(std::move(window)), handler_(std::move(handler)) {}

  void SetFilter(Filter filter) { filter_ = std::move(filter); }

  // Runs `body`; true when it ran to its end.
  bool Step(int label, const std::function<void()>& body);

  // The outcome of the condition; true when evaluating it threw, so the steps
  // it guards still run. False once the handler is stopped.
  bool Test(int label, const std::function<bool()>& condition) {
    bool result = true;
    if (!Step(label, [&] { result = condition(); })) return !stopped_;
    return result;
  }

  // The value `body` returns, or `on_failure` when it throws or the handler is stopped.
  template <typename T, typename F>
  T Value(int label, F&& body, T on_failure) {
    Step(label, [&] { on_failure = static_cast<T>(body()); });
    return on_failure;
  }

  bool stopped() const { return stopped_; }
  // How many failures were shown as error reports.
  int reported() const { return reported_; }

 private:
  void Fail(int label, int32_t number, const std::string& description);

  MessageSink& sink_;
  std::string window_;
  std::string handler_;
  Filter filter_;
  bool stopped_ = false;
  int reported_ = 0;
};

}  // namespace app
