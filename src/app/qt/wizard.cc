#include "app/qt/wizard.h"

#include <QCoreApplication>
#include <QLineEdit>

#include "app/product.h"
#include "app/qt/page.h"
#include "db/access.h"
#include "pages/form1.h"
#include "pages/form2.h"
#include "pages/form3.h"
#include "pages/form4.h"

namespace ui {

Wizard::Wizard(Services services)
    : services_(std::move(services)),
      application_title_(app::ApplicationTitle(app::kProductName)) {}

Wizard::~Wizard() {
  // Last page first: the merge page's grid may hold the merge's database.
  form4_.reset();
  form3_.reset();
  form2_.reset();
  form1_.reset();
}

template <typename Form>
Form& Wizard::Load(std::unique_ptr<Form>& slot) {
  if (!slot) {
    // Stored before its load runs, so that the load can refer to its own page.
    slot = std::make_unique<Form>(*this);
    slot->Form_Load();
  }
  return *slot;
}

pages::Form1& Wizard::form1() { return Load(form1_); }
pages::Form2& Wizard::form2() { return Load(form2_); }
pages::Form3& Wizard::form3() { return Load(form3_); }
pages::Form4& Wizard::form4() { return Load(form4_); }

bool Wizard::Start() {
  try {
    form1();
  } catch (const ProgramEnded&) {
  }
  if (ended_) return false;
  // The start-up may already have moved on to the table page; then the
  // database page stays hidden.
  if (front_ == nullptr) ShowPage(*form1_);
  return true;
}

std::string Wizard::ConnectionString() {
  pages::Form1& page = form1();
  return db::BuildConnectionString(page.Text1()->text().toStdString(),
                                   page.Text2()->text().toStdString());
}

std::string Wizard::ProgramFile(const std::string& relative) const {
  return services_.program_folder + "/" + relative;
}

int Wizard::Message(const std::string& text, int style) {
  return services_.messages.Show(text, application_title_, style);
}

void Wizard::ShowPage(Page& page) {
  if (front_ != nullptr && front_ != &page && front_->isVisible()) page.move(front_->pos());
  page.show();
  page.activateWindow();
  front_ = &page;
}

void Wizard::HidePage(Page& page) { page.hide(); }

void Wizard::Yield() {
  QCoreApplication::processEvents();
  if (ended_) throw ProgramEnded{};
}

void Wizard::RunEvent(const std::function<void()>& handler) {
  if (ended_) return;
  try {
    handler();
  } catch (const ProgramEnded&) {
  }
}

void Wizard::EndProgram() {
  if (ended_) return;
  ended_ = true;
  for (Page* page :
       std::initializer_list<Page*>{form1_.get(), form2_.get(), form3_.get(), form4_.get()}) {
    if (page != nullptr) page->hide();
  }
  if (services_.end_program) services_.end_program();
}

}  // namespace ui
