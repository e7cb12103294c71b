// The database page: the Access file and its password, the sample database,
// help, and "Next >" to open the database. It is also the start-up window: its
// load restores the remembered path and password and, when the remembered file
// is still there, goes on to the table page at once. Its two text boxes are
// the wizard's only record of the path and password.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <string>

#include "app/qt/controls.h"
#include "wizard/wizard.h"

namespace wizard {

// The open-dialog settings of the browse button.
inline constexpr char kBrowseTitle[] = "Select Access Database";
inline constexpr char kBrowseFilter[] =
    "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
    "Microsoft 2007 Database (*.accdb)|*.accdb|";
inline constexpr char kSamplePath[] = "Samples/Sample.mdb";
inline constexpr char kHandCursorFile[] = "HAND-M.CUR";
inline constexpr char kSkinFile[] = "x/o.cjs";
inline constexpr char kDatabaseKey[] = "Database";
inline constexpr char kPasswordKey[] = "Password";

class Form1 : public WizardPage {
  Q_OBJECT

 public:
  explicit Form1(Wizard& wizard);

  // Event handlers, named control_event.
  void Form_Load();
  void PushButton1_Click();  // "Load Sample/Example Database"
  void PushButton2_Click();  // "Help"
  void PushButton3_Click();  // "Next >"
  void PushButton5_Click();  // "..." (browse)
  void Text1_Change();
  void Text2_Change();
  void Text1_GotFocus();
  void Text2_GotFocus();

  // The path and password boxes as they are now: the wizard's only record of
  // the database and its password.
  std::string DatabasePath() const;
  std::string DatabasePassword() const;

  QGroupBox* Frame1() const { return frame1_; }
  QLabel* Label5() const { return label5_; }
  QLineEdit* Text1() const { return text1_; }
  ui::PushButton* PushButton5() const { return push_button5_; }
  QLabel* lblPassword() const { return lbl_password_; }
  QLineEdit* Text2() const { return text2_; }
  ui::PushButton* PushButton1() const { return push_button1_; }
  ui::PushButton* PushButton2() const { return push_button2_; }
  ui::PushButton* PushButton3() const { return push_button3_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Sets a box's text. Setting the text it already has still counts as a
  // change, so the setting is written back either way.
  void AssignText(QLineEdit* box, const std::string& text);

  QGroupBox* frame1_;
  QLabel* label5_;
  QLineEdit* text1_;
  ui::PushButton* push_button5_;
  QLabel* lbl_password_;
  QLineEdit* text2_;
  ui::PushButton* push_button1_;
  ui::PushButton* push_button2_;
  ui::PushButton* push_button3_;
};

}  // namespace wizard
