#include "cli/merge_command.h"

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/error_report.h"
#include "app/helpers.h"
#include "cli/help.h"
#include "db/access.h"
#include "merge/merge_page.h"
#include "merge/merge_run.h"

namespace cli {
namespace {

struct MergeArgs {
  std::string db;
  std::string table;
  std::vector<std::string> fields;
  std::string into = merge::kDefaultResultName;
  std::string password;
  bool spaces = false;
  bool yes = false;
};

// Empty when the arguments are fine, else what is wrong with them.
std::string Parse(int argc, char** argv, MergeArgs& a) {
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string s = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (s == "--field") {
      std::string f;
      if (!value(f)) return "--field needs a value";
      a.fields.push_back(f);
    } else if (s == "--into") {
      if (!value(a.into)) return "--into needs a value";
    } else if (s == "--password") {
      if (!value(a.password)) return "--password needs a value";
    } else if (s == "--spaces") {
      a.spaces = true;
    } else if (s == "--yes") {
      a.yes = true;
    } else if (s.rfind("--", 0) == 0) {
      return "unknown option '" + s + "'";
    } else {
      positional.push_back(s);
    }
  }
  if (positional.size() != 2) return "merge needs DB and TABLE";
  if (a.fields.empty()) return "merge needs at least one --field";
  for (const auto& f : a.fields) {
    // The field list marks names with grave accents and separates them with
    // ", ", so a name holding either cannot travel through it.
    if (f.empty() || f.find('`') != std::string::npos || f.find(", ") != std::string::npos) {
      return "cannot merge a field named \"" + f + "\"";
    }
  }
  a.db = positional[0];
  a.table = positional[1];
  return "";
}

// Message boxes become lines on standard error; the one question (replace an
// existing column?) is answered by --yes.
class TerminalSink : public app::MessageSink {
 public:
  explicit TerminalSink(bool yes) : yes_(yes) {}

  int Show(const std::string& text, const std::string& title, int style) override {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r') {
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        line += '\n';
      } else {
        line += text[i];
      }
    }
    if (title == app::kErrorReportTitle) line = title + ": " + line;
    if (on_message_) on_message_();
    std::fprintf(stderr, "%s\n", line.c_str());
    const int buttons = app::msgbox::ButtonSet(style);
    if (buttons == app::msgbox::kYesNo || buttons == app::msgbox::kYesNoCancel) {
      std::fprintf(stderr,
                   yes_ ? "(answered Yes: --yes)\n" : "(answered No: give --yes to replace it)\n");
      return yes_ ? app::msgbox::kYes : app::msgbox::kNo;
    }
    return app::msgbox::kOk;
  }
  void OnMessage(std::function<void()> f) { on_message_ = std::move(f); }

 private:
  bool yes_;
  std::function<void()> on_message_;
};

// A text progress bar on standard error, drawn only when that is a terminal
// and only when what it shows changes (the run reports every combination).
class TerminalPage : public merge::MergePage {
 public:
  TerminalPage(const MergeArgs& a)
      : args_(a),
        connection_string_(db::BuildConnectionString(a.db, a.password)),
        field_list_(FieldList(a.fields)),
        sink_(a.yes),
        draw_(isatty(STDERR_FILENO) == 1) {
    sink_.OnMessage([this] { ClearBar(); });
  }
  ~TerminalPage() override { ClearBar(); }

  std::string TableName() const override { return args_.table; }
  std::string MergeFieldList() const override { return field_list_; }
  std::string ConnectionString() const override { return connection_string_; }
  std::string NameText() const override { return args_.into; }
  int SpaceOption() const override { return args_.spaces ? 1 : 0; }
  void LockInputs(bool) override {}
  void SetProgressMax(int max) override {
    max_ = max;
    Draw();
  }
  void SetProgressValue(int value) override {
    value_ = value;
    Draw();
  }
  void SetProgressText(const std::string&) override {}
  std::string ButtonCaption() const override { return caption_; }
  void SetButtonCaption(const std::string& caption) override { caption_ = caption; }
  int MousePointer() const override { return pointer_; }
  void SetMousePointer(int pointer) override { pointer_ = pointer; }
  int WindowState() const override { return merge::kWindowNormal; }
  void SetWindowState(int) override {}
  void SetResults(std::shared_ptr<db::RowSource>) override {}
  void SetMergeDone(bool) override {}
  app::MessageSink& Messages() override { return sink_; }
  void DoEvents() override {}
  void EndProgram() override {}

 private:
  static std::string FieldList(const std::vector<std::string>& fields) {
    std::string list;
    for (const auto& f : fields) {
      if (!list.empty()) list += ", ";
      list += "`" + f + "`";
    }
    return list;
  }

  static constexpr int kWidth = 40;

  void Draw() {
    // The bar is shown while the combinations are written: from the first
    // value after the maximum is known until the value drops back to 0.
    if (!draw_ || max_ <= 1 || (value_ == 0 && !shown_)) return;
    if (value_ == 0) {
      ClearBar();
      return;
    }
    const int filled = static_cast<int>(static_cast<long long>(value_) * kWidth / max_);
    const int percent = static_cast<int>(static_cast<long long>(value_) * 100 / max_);
    if (shown_ && filled == filled_ && percent == percent_) return;
    filled_ = filled;
    percent_ = percent;
    shown_ = true;
    std::fprintf(stderr, "\r[%s%s] %3d%% %d/%d", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), percent, value_ - 1, max_ - 1);
    std::fflush(stderr);
  }

  void ClearBar() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", kWidth + 30, "");
    std::fflush(stderr);
    shown_ = false;
  }

  const MergeArgs& args_;
  std::string connection_string_;
  std::string field_list_;
  TerminalSink sink_;
  bool draw_;
  std::string caption_ = merge::kStartCaption;
  int pointer_ = merge::kPointerDefault;
  int max_ = 0;
  int value_ = 0;
  bool shown_ = false;
  int filled_ = -1;
  int percent_ = -1;
};

}  // namespace

int MergeCommand(int argc, char** argv) {
  MergeArgs args;
  if (std::string problem = Parse(argc, argv, args); !problem.empty()) {
    std::fprintf(stderr, "tessaly: %s\n%s", problem.c_str(),
                 ShortUsage(*FindCommand("merge")).c_str());
    return 2;
  }
  if (!app::FileExists(args.db)) {
    std::fprintf(stderr, "tessaly: %s: no such file\n", args.db.c_str());
    return 1;
  }
  TerminalPage page(args);
  merge::MergeRun run(page);
  const merge::MergeOutcome outcome = run.Press();
  const bool ok =
      outcome.status == merge::MergeOutcome::Status::kFinished && outcome.failures_reported == 0;
  if (outcome.status == merge::MergeOutcome::Status::kFinished ||
      outcome.status == merge::MergeOutcome::Status::kStopped) {
    std::printf("%d combinations, %ld rows written\n", outcome.combinations, outcome.rows_written);
    if (outcome.updates_failed > 0) std::printf("%d updates failed\n", outcome.updates_failed);
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}

}  // namespace cli
