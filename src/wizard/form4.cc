#include "wizard/form4.h"

#include "app/helpers.h"
#include "app/product.h"
#include "app/reporting_handler.h"
#include "merge/merge_page.h"
#include "merge/merge_run.h"
#include "wizard/form1.h"
#include "wizard/form3.h"

namespace wizard {
namespace {

constexpr double kTextPoints = 9;
constexpr double kButtonPoints = 11.25;

}  // namespace

// The merge run drives the page through this: the inputs the earlier pages
// gathered, the page's own controls, and the wizard's message boxes, event
// processing and program end.
class Form4::RunPage : public merge::MergePage {
 public:
  explicit RunPage(Form4& page) : page_(page) {}

  std::string TableName() const override { return page_.wizard().globals().table_name; }
  std::string MergeFieldList() const override { return page_.wizard().globals().merge_field_list; }
  std::string ConnectionString() const override { return page_.wizard().ConnectionString(); }

  std::string NameText() const override { return page_.text1_->text().toStdString(); }
  int SpaceOption() const override { return page_.check3_->isChecked() ? 1 : 0; }
  void LockInputs(bool locked) override {
    // Nothing is disabled while the run works; the name box turns read-only
    // and the check box stops taking clicks and keys.
    page_.text1_->setReadOnly(locked);
    page_.check3_->setAttribute(Qt::WA_TransparentForMouseEvents, locked);
    page_.check3_->setFocusPolicy(locked ? Qt::NoFocus : Qt::StrongFocus);
  }

  void SetProgressMax(int max) override { page_.progress_bar1_->setMaximum(max); }
  void SetProgressValue(int value) override { page_.progress_bar1_->setValue(value); }
  void SetProgressText(const std::string& text) override { page_.progress_bar1_->SetText(text); }

  std::string ButtonCaption() const override { return page_.push_button4_->Caption(); }
  void SetButtonCaption(const std::string& caption) override {
    page_.push_button4_->SetCaption(caption);
  }

  int MousePointer() const override { return page_.MousePointer(); }
  void SetMousePointer(int pointer) override { page_.SetMousePointer(pointer); }

  int WindowState() const override { return page_.WindowState(); }
  void SetWindowState(int state) override { page_.SetWindowState(state); }

  void SetResults(std::shared_ptr<db::RowSource> rows) override {
    page_.data_grid1_->SetDataSource(std::move(rows));
  }
  void SetMergeDone(bool done) override { page_.merge_done_ = done; }

  app::MessageSink& Messages() override { return page_.wizard().messages(); }
  void DoEvents() override { page_.wizard().Yield(); }
  void EndProgram() override { page_.wizard().EndProgram(); }

 private:
  Form4& page_;
};

Form4::Form4(Wizard& wizard)
    : WizardPage(wizard, "Form4", 8040, 5985),
      run_page_(std::make_unique<RunPage>(*this)),
      run_(std::make_unique<merge::MergeRun>(*run_page_)) {
  frame1_ = new ui::Frame("Name Of New Field With Merged Results", this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  ui::PlaceTwips(frame1_, 120, 120, 7800, 825);
  frame1_->setFont(ui::ArialBold(kTextPoints));

  text1_ = new QLineEdit(frame1_);
  text1_->setObjectName(QStringLiteral("Text1"));
  ui::PlaceTwips(text1_, 240, 300, 6600, 330);
  text1_->setFont(ui::ArialBold(kTextPoints));

  push_button1_ = new ui::PushButton("?", frame1_);
  push_button1_->setObjectName(QStringLiteral("PushButton1"));
  ui::PlaceTwips(push_button1_, 6960, 300, 600, 345);
  push_button1_->setFont(ui::ArialBold(kButtonPoints));

  frame2_ = new ui::Frame("Space Option", this);
  frame2_->setObjectName(QStringLiteral("Frame2"));
  ui::PlaceTwips(frame2_, 120, 990, 7800, 735);
  frame2_->setFont(ui::ArialBold(kTextPoints));

  check3_ = new QCheckBox(QStringLiteral("Merge with spaces between each field"), frame2_);
  check3_->setObjectName(QStringLiteral("Check3"));
  ui::PlaceTwips(check3_, 240, 300, 3780, 285);
  check3_->setFont(ui::ArialBold(kTextPoints));

  push_button3_ = new ui::PushButton("?", frame2_);
  push_button3_->setObjectName(QStringLiteral("PushButton3"));
  ui::PlaceTwips(push_button3_, 6960, 240, 600, 345);
  push_button3_->setFont(ui::ArialBold(kButtonPoints));

  push_button2_ = new ui::PushButton("< Back", this);
  push_button2_->setObjectName(QStringLiteral("PushButton2"));
  ui::PlaceTwips(push_button2_, 120, 1830, 3840, 405);
  push_button2_->setFont(ui::ArialBold(kButtonPoints));

  push_button4_ = new ui::PushButton("Start Merging", this);
  push_button4_->setObjectName(QStringLiteral("PushButton4"));
  ui::PlaceTwips(push_button4_, 4080, 1830, 3840, 405);
  push_button4_->setFont(ui::ArialBold(kButtonPoints));

  progress_bar1_ = new ui::ProgressBar(this);
  progress_bar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ui::PlaceTwips(progress_bar1_, 120, 2350, 7800, 405);
  progress_bar1_->setFont(ui::ArialBold(kTextPoints));
  progress_bar1_->SetText("Progress Bar");

  frame3_ = new ui::Frame("Results (will be seen after merge)", this);
  frame3_->setObjectName(QStringLiteral("Frame3"));
  ui::PlaceTwips(frame3_, 120, 2830, 7800, 3045);
  frame3_->setFont(ui::ArialBold(kTextPoints));

  data_grid1_ = new ui::DataGrid(frame3_);
  data_grid1_->setObjectName(QStringLiteral("DataGrid1"));
  ui::PlaceTwips(data_grid1_, 240, 300, 7320, 2535);
  data_grid1_->setFont(ui::ArialBold(kTextPoints));

  text1_->setFocus();
  // No default button: Enter in the name box must not start changing the
  // database.

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

Form4::~Form4() {
  // The grid lets go of the rows first, then the run its connection (a run
  // still under way rolls back: only a finished merge was committed).
  data_grid1_->SetDataSource(nullptr);
  run_.reset();
}

int Form4::WindowState() const {
  return (windowState() & Qt::WindowMinimized) ? merge::kWindowMinimized : merge::kWindowNormal;
}

void Form4::SetWindowState(int state) {
  setWindowState(state == merge::kWindowMinimized ? (windowState() | Qt::WindowMinimized)
                                                  : (windowState() & ~Qt::WindowMinimized));
}

void Form4::PushButton4_Click() { run_->Press(); }

void Form4::Form_Load() {
  Wizard& w = wizard();
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
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form4", "PushButton1_Click");
  h.Step(100, [&] {
    w.Message("A new field (column) will be created in your table with the merged results.");
  });
}

void Form4::PushButton3_Click() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form4", "PushButton3_Click");
  h.Step(100, [&] {
    w.Message(
        "If this feature is checked, instead of LudoQuesk being created, Ludo Quesk will be "
        "created.");
  });
}

void Form4::PushButton2_Click() {
  // While a merge runs (it lets events run once per combination) the page
  // stays: the run would otherwise finish over another page.
  if (run_->running()) return;
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form4", "PushButton2_Click");
  if (h.Test(100, [&] { return merge_done_; })) {
    h.Step(102, [&] { w.Message("Could not go back.\r\n\r\nPlease exit software."); });
    return;
  }
  h.Step(104, [&] { w.ShowPage(w.form3()); });
  h.Step(106, [&] { w.HidePage(*this); });
}

}  // namespace wizard
