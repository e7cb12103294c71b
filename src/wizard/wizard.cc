#include "wizard/wizard.h"

#include "db/access.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard/form3.h"
#include "wizard/form4.h"

namespace wizard {

Wizard::Wizard(ui::Services services) : Shell(std::move(services)) {}

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

Form1& Wizard::form1() { return Load(form1_); }
Form2& Wizard::form2() { return Load(form2_); }
Form3& Wizard::form3() { return Load(form3_); }
Form4& Wizard::form4() { return Load(form4_); }

bool Wizard::Start() {
  try {
    form1();
  } catch (const ui::ProgramEnded&) {
  }
  if (ended()) return false;
  // The start-up may already have moved on to the table page; then the
  // database page stays hidden.
  if (front() == nullptr) ShowPage(*form1_);
  return true;
}

std::string Wizard::ConnectionString() {
  Form1& page = form1();
  return db::BuildConnectionString(page.DatabasePath(), page.DatabasePassword());
}

}  // namespace wizard
