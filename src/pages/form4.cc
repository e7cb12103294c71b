#include "pages/form4.h"

#include "app/helpers.h"
#include "app/product.h"
#include "app/reporting_handler.h"
#include "pages/form1.h"
#include "pages/form3.h"

namespace pages {
namespace {

constexpr double kTextPoints = 9;
constexpr double kButtonPoints = 11.25;

}  // namespace

Form4::Form4(ui::Wizard& wizard) : Page(wizard, "Form4", 8040, 5985) {
  frame1_ = new QGroupBox(QStringLiteral("Name Of New Field With Merged Results"), this);
  ui::PlaceTwips(frame1_, 120, 120, 7800, 825);
  frame1_->setFont(ui::ArialBold(kTextPoints));

  text1_ = new QLineEdit(frame1_);
  ui::PlaceTwips(text1_, 240, 300, 6600, 330);
  text1_->setFont(ui::ArialBold(kTextPoints));

  push_button1_ = new ui::PushButton("?", frame1_);
  ui::PlaceTwips(push_button1_, 6960, 300, 600, 345);
  push_button1_->setFont(ui::ArialBold(kButtonPoints));

  frame2_ = new QGroupBox(QStringLiteral("Space Option"), this);
  ui::PlaceTwips(frame2_, 120, 990, 7800, 735);
  frame2_->setFont(ui::ArialBold(kTextPoints));

  check3_ = new QCheckBox(QStringLiteral("Merge with spaces between each field"), frame2_);
  ui::PlaceTwips(check3_, 240, 300, 3780, 285);
  check3_->setFont(ui::ArialBold(kTextPoints));

  push_button3_ = new ui::PushButton("?", frame2_);
  ui::PlaceTwips(push_button3_, 6960, 240, 600, 345);
  push_button3_->setFont(ui::ArialBold(kButtonPoints));

  push_button2_ = new ui::PushButton("< Back", this);
  ui::PlaceTwips(push_button2_, 120, 1830, 3840, 405);
  push_button2_->setFont(ui::ArialBold(kButtonPoints));

  push_button4_ = new ui::PushButton("Start Merging", this);
  ui::PlaceTwips(push_button4_, 4080, 1830, 3840, 405);
  push_button4_->setFont(ui::ArialBold(kButtonPoints));

  progress_bar1_ = new ui::ProgressBar(this);
  ui::PlaceTwips(progress_bar1_, 120, 2350, 7800, 405);
  progress_bar1_->setFont(ui::ArialBold(kTextPoints));
  progress_bar1_->SetText("Progress Bar");

  frame3_ = new QGroupBox(QStringLiteral("Results (will be seen after merge)"), this);
  ui::PlaceTwips(frame3_, 120, 2830, 7800, 3045);
  frame3_->setFont(ui::ArialBold(kTextPoints));

  data_grid1_ = new ui::DataGrid(frame3_);
  ui::PlaceTwips(data_grid1_, 240, 300, 7320, 2535);
  data_grid1_->setFont(ui::ArialBold(kTextPoints));

  text1_->setFocus();

  for (ui::PushButton* button : {push_button1_, push_button2_, push_button3_, push_button4_}) {
    SetPointerOnHover(button, ui::kPointerCustom);
  }
  for (QWidget* other : {static_cast<QWidget*>(text1_), static_cast<QWidget*>(frame1_),
                         static_cast<QWidget*>(frame2_), static_cast<QWidget*>(frame3_)}) {
    SetPointerOnHover(other, ui::kPointerDefault);
  }

  On(push_button1_, &QPushButton::clicked, [this] { PushButton1_Click(); });
  On(push_button2_, &QPushButton::clicked, [this] { PushButton2_Click(); });
  On(push_button3_, &QPushButton::clicked, [this] { PushButton3_Click(); });
  On(push_button4_, &QPushButton::clicked, [this] { PushButton4_Click(); });
}

void Form4::Form_Load() {
  ui::Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form4", "Form_Load");
  h.Step(100, [&] { ui::ApplyFaceColour(*this); });
  h.Step(102, [&] { SetAppIcon(); });
  if (h.Test(104, [&] { return app::FileExists(w.ProgramFile(kHandCursorFile)); })) {
    h.Step(106, [&] { LoadCustomPointer(w.ProgramFile(kHandCursorFile)); });
  }
  h.Step(108, [&] { SetCaption(app::kProductName); });
  h.Step(110, [&] { text1_->setText(QString::fromLatin1(kDefaultResultColumn)); });
  h.Step(112, [&] { merge_done_ = false; });
}

void Form4::PushButton1_Click() {
  ui::Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form4", "PushButton1_Click");
  h.Step(100, [&] {
    w.Message("A new field (column) will be created in your table with the merged results.");
  });
}

void Form4::PushButton3_Click() {
  ui::Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form4", "PushButton3_Click");
  h.Step(100, [&] {
    w.Message(
        "If this feature is checked, instead of LudoQuesk being created, Ludo Quesk will be "
        "created.");
  });
}

void Form4::PushButton2_Click() {
  ui::Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form4", "PushButton2_Click");
  if (h.Test(100, [&] { return merge_done_; })) {
    h.Step(102, [&] { w.Message("Could not go back.\r\n\r\nPlease exit software."); });
    return;
  }
  h.Step(104, [&] { w.ShowPage(w.form3()); });
  h.Step(106, [&] { w.HidePage(*this); });
}

}  // namespace pages
