#include "wizard/form2.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/change_check.h"
#include "app/helpers.h"
#include "app/product.h"
#include "app/reporting_handler.h"
#include "app/table_list.h"
#include "db/ado.h"
#include "wizard/form1.h"
#include "wizard/form3.h"

namespace wizard {
namespace {

constexpr double kTextPoints = 9;
constexpr double kButtonPoints = 11.25;

}  // namespace

Form2::Form2(Wizard& wizard) : WizardPage(wizard, "Form2", 8040, 3135) {
  list_view1_ = new ui::ListView(this);
  list_view1_->setObjectName(QStringLiteral("ListView1"));
  ui::PlaceTwips(list_view1_, 120, 120, 7800, 1905);
  list_view1_->setFont(ui::ArialBold(kTextPoints));
  list_view1_->setToolTip(QString::fromLatin1(kListTip));

  push_button2_ = new ui::PushButton("< Back", this);
  push_button2_->setObjectName(QStringLiteral("PushButton2"));
  ui::PlaceTwips(push_button2_, 120, 2100, 3840, 405);
  push_button2_->setFont(ui::ArialBold(kButtonPoints));

  push_button3_ = new ui::PushButton("Next >", this);
  push_button3_->setObjectName(QStringLiteral("PushButton3"));
  ui::PlaceTwips(push_button3_, 4080, 2100, 3840, 405);
  push_button3_->setFont(ui::ArialBold(kButtonPoints));

  progress_bar1_ = new ui::ProgressBar(this);
  progress_bar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ui::PlaceTwips(progress_bar1_, 120, 2610, 7800, 405);
  progress_bar1_->setFont(ui::ArialBold(kTextPoints));
  progress_bar1_->setRange(0, 100);
  progress_bar1_->SetText("Progress Bar");

  setTabOrder(push_button2_, push_button3_);
  setTabOrder(push_button3_, progress_bar1_);
  setTabOrder(progress_bar1_, list_view1_);
  push_button2_->setFocus();
  SetDefaultButton(push_button3_);

  SetPointerOnHover(push_button2_, ui::kPointerCustom);
  SetPointerOnHover(push_button3_, ui::kPointerCustom);
  SetPointerOnHover(list_view1_, ui::kPointerDefault);

  On(push_button2_, &QPushButton::clicked, [this] { PushButton2_Click(); });
  On(push_button3_, &QPushButton::clicked, [this] { PushButton3_Click(); });
  // A double-click on this list does nothing.
}

void Form2::Form_Load() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form2", "Form_Load");
  h.Step(100, [&] { ui::ApplyFaceColour(*this); });
  h.Step(102, [&] { SetAppIcon(); });
  if (h.Test(104, [&] { return app::FileExists(w.ProgramFile(kHandCursorFile)); })) {
    h.Step(106, [&] { LoadCustomPointer(w.ProgramFile(kHandCursorFile)); });
  }
  h.Step(108, [&] { SetCaption(app::kProductName); });
  h.Step(110, [&] { list_view1_->AddColumnHeader("Select Table"); });
  h.Step(112, [&] { list_view1_->SetColumnWidthTwips(7000); });
}

void Form2::FillTableList(const std::string& path, const std::string& password,
                          const std::string& connection_string) {
  app::FillTableList(*list_view1_, path, password, connection_string);
}

void Form2::PushButton2_Click() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form2", "PushButton2_Click");
  h.Step(100, [&] { w.ShowPage(w.form1()); });
  h.Step(102, [&] { w.HidePage(*this); });
}

namespace {

// The steps of "Next >" that open or read the database. After a failure of
// one of them the field page would show a table that could not be read, so
// the failure is reported once and the page stays; the other steps keep
// going on after their report.
bool ReadsTheDatabase(int label) {
  switch (label) {
    case 100:
    case 102:
    case 110:
    case 112:
    case 130:
    case 134:
    case 136:
    case 140:
      return true;
    default:
      return false;
  }
}

}  // namespace

void Form2::PushButton3_Click() {
  if (next_running_) return;
  next_running_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{next_running_};
  Wizard& w = wizard();
  Globals& g = w.globals();
  app::ReportingHandler h(w.messages(), "Form2", "PushButton3_Click");
  h.SetFilter([](const app::ReportingHandler::Failure& failure) {
    return ReadsTheDatabase(failure.label) ? app::ReportingHandler::Verdict::kReportAndStop
                                           : app::ReportingHandler::Verdict::kReport;
  });
  auto stay = [&] { SetMousePointer(ui::kPointerDefault); };
  std::unique_ptr<db::Connection> connection;
  std::unique_ptr<db::Recordset> rows;
  h.Step(100, [&] { connection = std::make_unique<db::Connection>(); });
  h.Step(102, [&] { rows = std::make_unique<db::Recordset>(); });
  if (h.Test(106, [&] { return list_view1_->SelectedIndex() == 0; })) {
    h.Step(174, [&] { w.Message("Please select a table"); });
    return;
  }
  if (h.stopped()) return;
  h.Step(108, [&] { SetMousePointer(ui::kPointerBusy); });
  h.Step(110, [&] { connection->Mode = db::kModeReadWrite; });
  // A file the merge could not change is named here, once, with its reason.
  std::optional<std::string> unchangeable;
  h.Step(112, [&] {
    unchangeable = app::WhyUnchangeable(w.form1().DatabasePath(), w.file_system());
    if (!unchangeable) connection->Open(w.ConnectionString());
  });
  if (unchangeable) {
    stay();
    w.Message(*unchangeable);
    return;
  }
  if (h.stopped()) return stay();
  h.Step(114, [&] {
    const std::string chosen = list_view1_->ItemText(list_view1_->SelectedIndex());
    // Names chosen for another table are not this one's fields.
    if (chosen != g.table_name) w.form3().ClearFieldsToMerge();
    g.table_name = chosen;
  });
  h.Step(116, [&] { w.form3().ClearAllFields(); });
  h.Step(118, [&] { w.form3().SetPreview(nullptr); });
  h.Step(120, [&] { connection->CursorLocation = db::kUseClient; });
  h.Step(122, [&] { w.Yield(); });
  h.Step(124, [&] { progress_bar1_->setValue(10); });
  h.Step(126, [&] { progress_bar1_->SetText("Processing: " + g.table_name); });
  h.Step(128, [&] { w.Yield(); });
  h.Step(130, [&] {
    rows->Open("SELECT * FROM [" + g.table_name + "];", *connection, db::kOpenDynamic,
               db::kLockUnspecified);
  });
  if (h.stopped()) return stay();
  h.Step(132, [&] { w.Yield(); });
  h.Step(134, [&] { w.form3().SetPreview(rows->DataSource()); });
  // Field positions are counted in 16 bits; a table that cannot be read has none.
  const int16_t last = h.Value(
      136, [&] { return static_cast<int16_t>(rows->FieldCount() - 1); }, int16_t{-1});
  std::vector<std::string> columns;
  for (int i = 0; i <= last && !h.stopped(); ++i) {
    h.Step(138, [&] { w.Yield(); });
    h.Step(140, [&] {
      std::optional<std::string> name = rows->Fields(i).Name();
      columns.push_back(app::NullToDefault(name, std::string()));
      w.form3().AddToAllFields(columns.back());
    });
  }
  if (h.stopped()) return stay();
  h.Step(162, [&] { w.form3().SelectFirstOfAllFields(); });
  h.Step(164, [&] {
    w.form3().KeepOnlyColumnsInFieldsToMerge(columns);
    w.form3().LeaveOutFieldsToMerge();
  });
  if (h.Test(150, [&] { return w.form3().AllFieldsCount() == 0; })) {
    h.Step(152, [&] { g.all_fields_empty = true; });
  } else {
    h.Step(154, [&] { g.all_fields_empty = false; });
  }
  if (h.Test(156, [&] { return w.form3().FieldsToMergeCount() == 0; })) {
    h.Step(158, [&] { g.merge_fields_empty = true; });
  } else {
    h.Step(160, [&] { g.merge_fields_empty = false; });
  }
  h.Step(166, [&] { w.ShowPage(w.form3()); });
  h.Step(168, [&] { w.form3().FocusPreview(); });
  h.Step(170, [&] { w.HidePage(*this); });
  h.Step(172, [&] { SetMousePointer(ui::kPointerDefault); });
}

}  // namespace wizard
