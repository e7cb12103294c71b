#include "wizard/form3.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "app/helpers.h"
#include "app/product.h"
#include "app/reporting_handler.h"
#include "wizard/field_lists.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard/form4.h"

namespace wizard {
namespace {

constexpr double kTextPoints = 9;
constexpr double kButtonPoints = 11.25;
constexpr int kListColumnTwips = 2400;

constexpr char kNoFieldsToMerge[] = "No fields to merge .";
constexpr char kAddFieldsFirst[] = "Please add fields to merge first.";
constexpr char kSelectFieldFirst[] = "Please select a field first.";

}  // namespace

Form3::Form3(Wizard& wizard) : WizardPage(wizard, "Form3", 8040, 6225) {
  frame1_ = new ui::Frame("Preview", this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  ui::PlaceTwips(frame1_, 120, 90, 7800, 3045);
  frame1_->setFont(ui::ArialBold(kTextPoints));

  data_grid1_ = new ui::DataGrid(frame1_);
  data_grid1_->setObjectName(QStringLiteral("DataGrid1"));
  ui::PlaceTwips(data_grid1_, 240, 300, 7320, 2535);
  data_grid1_->setFont(ui::ArialBold(kTextPoints));

  frame2_ = new ui::Frame("Which fields would you like to merge?", this);
  frame2_->setObjectName(QStringLiteral("Frame2"));
  ui::PlaceTwips(frame2_, 120, 3180, 7800, 2415);
  frame2_->setFont(ui::ArialBold(kTextPoints));

  list_view1_ = new ui::ListView(frame2_);
  list_view1_->setObjectName(QStringLiteral("ListView1"));
  ui::PlaceTwips(list_view1_, 240, 330, 3315, 1875);

  auto make_button = [this](const char* name, const char* caption, int top) {
    auto* button = new ui::PushButton(caption, frame2_);
    button->setObjectName(QString::fromLatin1(name));
    ui::PlaceTwips(button, 3690, top, 420, 405);
    button->setFont(ui::ArialBold(kButtonPoints));
    return button;
  };
  push_button5_ = make_button("PushButton5", ">", 330);
  push_button6_ = make_button("PushButton6", ">>", 810);
  push_button7_ = make_button("PushButton7", "<", 1290);
  push_button8_ = make_button("PushButton8", "<<", 1770);

  list_view2_ = new ui::ListView(frame2_);
  list_view2_->setObjectName(QStringLiteral("ListView2"));
  ui::PlaceTwips(list_view2_, 4200, 330, 3315, 1875);

  for (ui::ListView* list : {list_view1_, list_view2_}) {
    list->setFont(ui::ArialBold(kTextPoints));
    list->setToolTip(QString::fromLatin1(kListTip));
  }

  push_button2_ = new ui::PushButton("< Back", this);
  push_button2_->setObjectName(QStringLiteral("PushButton2"));
  ui::PlaceTwips(push_button2_, 120, 5700, 3840, 405);
  push_button2_->setFont(ui::ArialBold(kButtonPoints));

  push_button3_ = new ui::PushButton("Next >", this);
  push_button3_->setObjectName(QStringLiteral("PushButton3"));
  ui::PlaceTwips(push_button3_, 4080, 5700, 3840, 405);
  push_button3_->setFont(ui::ArialBold(kButtonPoints));

  SetDefaultButton(push_button3_);

  for (ui::PushButton* button :
       {push_button2_, push_button3_, push_button5_, push_button6_, push_button7_, push_button8_}) {
    SetPointerOnHover(button, ui::kPointerCustom);
  }
  for (QWidget* other : {static_cast<QWidget*>(list_view1_), static_cast<QWidget*>(list_view2_),
                         static_cast<QWidget*>(frame1_), static_cast<QWidget*>(frame2_),
                         static_cast<QWidget*>(data_grid1_)}) {
    SetPointerOnHover(other, ui::kPointerDefault);
  }

  On(push_button2_, &QPushButton::clicked, [this] { PushButton2_Click(); });
  On(push_button3_, &QPushButton::clicked, [this] { PushButton3_Click(); });
  On(push_button5_, &QPushButton::clicked, [this] { PushButton5_Click(); });
  On(push_button6_, &QPushButton::clicked, [this] { PushButton6_Click(); });
  On(push_button7_, &QPushButton::clicked, [this] { PushButton7_Click(); });
  On(push_button8_, &QPushButton::clicked, [this] { PushButton8_Click(); });
  On(list_view1_, &ui::ListView::DoubleClicked, [this] { ListView1_DblClick(); });
  On(list_view2_, &ui::ListView::DoubleClicked, [this] { ListView2_DblClick(); });
}

void Form3::Form_Load() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form3", "Form_Load");
  h.Step(100, [&] { ui::ApplyFaceColour(*this); });
  h.Step(102, [&] { SetAppIcon(); });
  if (h.Test(104, [&] { return app::FileExists(w.ProgramFile(kHandCursorFile)); })) {
    h.Step(106, [&] { LoadCustomPointer(w.ProgramFile(kHandCursorFile)); });
  }
  h.Step(108, [&] { SetCaption(app::kProductName); });
  h.Step(110, [&] { list_view1_->AddColumnHeader("All Fields"); });
  h.Step(112, [&] { list_view1_->SetColumnWidthTwips(kListColumnTwips); });
  h.Step(114, [&] { list_view2_->AddColumnHeader("Fields To Merge"); });
  h.Step(116, [&] { list_view2_->SetColumnWidthTwips(kListColumnTwips); });
}

void Form3::ClearAllFields() { list_view1_->Clear(); }

void Form3::AddToAllFields(const std::string& name) { list_view1_->Add(name); }

void Form3::SelectFirstOfAllFields() {
  if (list_view1_->Count() >= 1) list_view1_->Select(1);
}

void Form3::LeaveOutFieldsToMerge() {
  Wizard& w = wizard();
  RemoveListedItems(*list_view1_, *list_view2_, [&] { w.Yield(); });
}

void Form3::ClearFieldsToMerge() { list_view2_->Clear(); }

void Form3::KeepOnlyColumnsInFieldsToMerge(const std::vector<std::string>& columns) {
  for (int i = list_view2_->Count(); i >= 1; --i) {
    if (std::find(columns.begin(), columns.end(), list_view2_->ItemText(i)) == columns.end()) {
      list_view2_->Remove(i);
    }
  }
}

int Form3::AllFieldsCount() const { return list_view1_->Count(); }

int Form3::FieldsToMergeCount() const { return list_view2_->Count(); }

void Form3::SetPreview(std::shared_ptr<db::RowSource> rows) {
  data_grid1_->SetDataSource(std::move(rows));
}

void Form3::FocusPreview() { data_grid1_->setFocus(); }

void Form3::RefreshFlags(app::ReportingHandler& h, int all_label, int merge_label) {
  Globals& g = wizard().globals();
  if (h.Test(all_label, [&] { return list_view1_->Count() == 0; })) {
    h.Step(all_label + 2, [&] { g.all_fields_empty = true; });
  } else {
    h.Step(all_label + 4, [&] { g.all_fields_empty = false; });
  }
  if (h.Test(merge_label, [&] { return list_view2_->Count() == 0; })) {
    h.Step(merge_label + 2, [&] { g.merge_fields_empty = true; });
  } else {
    h.Step(merge_label + 4, [&] { g.merge_fields_empty = false; });
  }
}

void Form3::MoveSelected(const char* handler, ui::ListView* from, ui::ListView* to,
                         bool source_empty, const char* empty_message) {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form3", handler);
  if (h.Test(100, [&] { return source_empty; })) {
    h.Step(122, [&] { w.Message(empty_message); });
    return;
  }
  if (h.Test(102, [&] { return from->SelectedIndex() == 0; })) {
    h.Step(120, [&] { w.Message(kSelectFieldFirst); });
    return;
  }
  h.Step(104, [&] { to->Add(from->ItemText(from->SelectedIndex())); });
  h.Step(106, [&] { from->Remove(from->SelectedIndex()); });
  RefreshFlags(h, 108, 114);
}

void Form3::MoveAll(const char* handler, ui::ListView* from, ui::ListView* to, bool source_empty,
                    const char* empty_message) {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form3", handler);
  if (h.Test(100, [&] { return source_empty; })) {
    h.Step(126, [&] { w.Message(empty_message); });
    return;
  }
  // Positions are counted in 16 bits, as everywhere on the pages.
  const int16_t count = h.Value(
      102, [&] { return static_cast<int16_t>(from->Count()); }, int16_t{0});
  for (int i = 1; i <= count; ++i) h.Step(104, [&] { to->Add(from->ItemText(i)); });
  const int16_t last = h.Value(
      108, [&] { return static_cast<int16_t>(from->Count()); }, int16_t{0});
  for (int i = last; i >= 1; --i) h.Step(110, [&] { from->Remove(i); });
  RefreshFlags(h, 114, 120);
}

void Form3::MoveSelectedQuietly(ui::ListView* from, ui::ListView* to) {
  const int selected = from->SelectedIndex();
  if (selected == 0) return;
  to->Add(from->ItemText(selected));
  from->Remove(selected);
  Globals& g = wizard().globals();
  g.all_fields_empty = list_view1_->Count() == 0;
  g.merge_fields_empty = list_view2_->Count() == 0;
}

void Form3::PushButton5_Click() {
  MoveSelected("PushButton5_Click", list_view1_, list_view2_, wizard().globals().all_fields_empty,
               kNoFieldsToMerge);
}

void Form3::PushButton7_Click() {
  MoveSelected("PushButton7_Click", list_view2_, list_view1_, wizard().globals().merge_fields_empty,
               kAddFieldsFirst);
}

void Form3::PushButton6_Click() {
  MoveAll("PushButton6_Click", list_view1_, list_view2_, wizard().globals().all_fields_empty,
          kNoFieldsToMerge);
}

void Form3::PushButton8_Click() {
  MoveAll("PushButton8_Click", list_view2_, list_view1_, wizard().globals().merge_fields_empty,
          kAddFieldsFirst);
}

void Form3::ListView1_DblClick() { MoveSelectedQuietly(list_view1_, list_view2_); }

void Form3::ListView2_DblClick() { MoveSelectedQuietly(list_view2_, list_view1_); }

void Form3::PushButton3_Click() {
  Wizard& w = wizard();
  Globals& g = w.globals();
  app::ReportingHandler h(w.messages(), "Form3", "PushButton3_Click");
  if (h.Test(100, [&] { return g.merge_fields_empty; })) {
    h.Step(122, [&] { w.Message(kAddFieldsFirst); });
    return;
  }
  // The hand-over marks names with grave accents and parts them with ", ":
  // a name holding either would reach the merge as other fields.
  for (int i = 1; i <= list_view2_->Count(); ++i) {
    const std::string name = list_view2_->ItemText(i);
    if (name.find('`') != std::string::npos || name.find(", ") != std::string::npos) {
      w.Message("The field \"" + name +
                "\" cannot be merged: a name that holds a grave accent (`) or a comma followed "
                "by a blank cannot be handed on to the merge.");
      return;
    }
  }
  h.Step(108, [&] { g.merge_field_list.clear(); });
  const int16_t count = h.Value(
      110, [&] { return static_cast<int16_t>(list_view2_->Count()); }, int16_t{0});
  for (int i = 1; i <= count; ++i) {
    h.Step(112, [&] { g.merge_field_list += "`" + list_view2_->ItemText(i) + "`, "; });
  }
  h.Step(116, [&] {
    if (g.merge_field_list.size() < 2)
      throw std::invalid_argument("Invalid procedure call or argument");
    g.merge_field_list.resize(g.merge_field_list.size() - 2);
  });
  h.Step(118, [&] { w.ShowPage(w.form4()); });
  h.Step(120, [&] { w.HidePage(*this); });
}

void Form3::PushButton2_Click() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form3", "PushButton2_Click");
  h.Step(100, [&] { w.ShowPage(w.form2()); });
  h.Step(102, [&] { w.HidePage(*this); });
}

}  // namespace wizard
