// Places, sizes and fonts of the pages' controls; text that fits and
// controls that do not overlap with the fonts the system has; pictures of
// each page in its typical state, written to the build folder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTreeWidget>

#include "app/qt/controls.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard/form3.h"
#include "wizard/form4.h"
#include "wizard_util.h"

namespace uitest {
namespace {

// The controls of a page, by their names (Qt's own inner widgets excluded).
std::vector<QWidget*> Controls(QWidget& page) {
  std::vector<QWidget*> controls;
  for (QWidget* w : page.findChildren<QWidget*>()) {
    const QString name = w->objectName();
    if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_"))) controls.push_back(w);
  }
  return controls;
}

QWidget* Control(QWidget& page, const char* name) {
  QWidget* w = page.findChild<QWidget*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

std::string Name(const QWidget* w) { return w->objectName().toStdString(); }

// Text shown on a control fits in it, and the controls sharing a parent do
// not overlap; controls inside a frame leave its caption free.
void ExpectTidy(QWidget& page) {
  const std::vector<QWidget*> controls = Controls(page);
  for (QWidget* w : controls) {
    const QFontMetrics fm(w->font());
    const int width = w->width();
    const int height = w->height();
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(button->text()) + 6, width) << Name(w);
      EXPECT_LE(fm.height() + 4, height) << Name(w);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(label->text()), width) << Name(w);
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
      EXPECT_LE(check->sizeHint().width(), width) << Name(w);
      EXPECT_LE(fm.height(), height) << Name(w);
    } else if (qobject_cast<QLineEdit*>(w)) {
      EXPECT_LE(fm.height() + 4, height) << Name(w);
    } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(bar->text()) + 8, width) << Name(w);
      EXPECT_LE(fm.height(), height) << Name(w);
    } else if (auto* list = qobject_cast<QTreeWidget*>(w)) {
      const QFontMetrics header_fm(list->header()->font());
      EXPECT_LE(header_fm.horizontalAdvance(list->headerItem()->text(0)) + 8, list->columnWidth(0))
          << Name(w);
    } else if (auto* frame = qobject_cast<QGroupBox*>(w)) {
      QStyleOptionGroupBox option;
      option.initFrom(frame);
      option.text = frame->title();
      option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      const QRect caption = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxLabel, frame);
      EXPECT_LE(caption.right(), width) << Name(w);
      for (QWidget* inside : controls) {
        if (inside->parentWidget() == frame) {
          EXPECT_FALSE(inside->geometry().intersects(caption))
              << Name(inside) << " covers the caption of " << Name(w);
        }
      }
    }
    EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << Name(w) << " sticks out";
  }
  for (size_t i = 0; i < controls.size(); ++i) {
    for (size_t j = i + 1; j < controls.size(); ++j) {
      if (controls[i]->parentWidget() != controls[j]->parentWidget()) continue;
      EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
          << Name(controls[i]) << " overlaps " << Name(controls[j]);
    }
  }
}

void ExpectArialBold(QWidget* w, double points) {
  EXPECT_EQ(w->font().family(), QStringLiteral("Arial")) << Name(w);
  EXPECT_DOUBLE_EQ(w->font().pointSizeF(), points) << Name(w);
  EXPECT_TRUE(w->font().bold()) << Name(w);
}

class LayoutTest : public WizardTest {};

TEST_F(LayoutTest, DatabasePageIsPlacedInTwips) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_EQ(form1.size(), QSize(536, 172));  // 8040 x 2580 twips
  EXPECT_EQ(Control(form1, "Frame1")->geometry(), QRect(8, 8, 520, 89));
  EXPECT_EQ(Control(form1, "Label5")->pos(), QPoint(16, 23));
  EXPECT_EQ(Control(form1, "Text1")->geometry(), QRect(152, 20, 313, 23));
  EXPECT_EQ(Control(form1, "PushButton5")->geometry(), QRect(472, 20, 30, 23));
  EXPECT_EQ(Control(form1, "lblPassword")->pos(), QPoint(16, 56));
  EXPECT_EQ(Control(form1, "Text2")->geometry(), QRect(152, 53, 351, 23));
  EXPECT_EQ(Control(form1, "PushButton1")->geometry(), QRect(8, 104, 256, 27));
  EXPECT_EQ(Control(form1, "PushButton2")->geometry(), QRect(272, 104, 256, 27));
  EXPECT_EQ(Control(form1, "PushButton3")->geometry(), QRect(8, 139, 520, 27));
  for (const char* name : {"Frame1", "Label5", "lblPassword", "Text1", "Text2"}) {
    ExpectArialBold(Control(form1, name), 9);
  }
  for (const char* name : {"PushButton1", "PushButton2", "PushButton3", "PushButton5"}) {
    ExpectArialBold(Control(form1, name), 11.25);
  }
  // Arial is there in metric-compatible form; 9 points are 12 pixels here.
  EXPECT_EQ(QFontInfo(form1.Text1()->font()).pixelSize(), 12);
  EXPECT_TRUE(QFontInfo(form1.Text1()->font()).bold());

  // Tab order, with the path box first.
  EXPECT_EQ(form1.focusWidget(), form1.Text1());
  std::vector<std::string> order;
  QWidget* w = form1.Text1();
  for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
    while (w->focusPolicy() == Qt::NoFocus || Name(w).empty()) w = w->nextInFocusChain();
    order.push_back(Name(w));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Text1", "PushButton5", "Text2", "PushButton3",
                                             "PushButton1", "PushButton2"}));
  ExpectTidy(form1);
}

TEST_F(LayoutTest, OtherPagesArePlacedInTwips) {
  Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
  ASSERT_TRUE(wizard().Start());
  wizard::Form2& form2 = wizard().form2();
  EXPECT_EQ(form2.size(), QSize(536, 209));
  EXPECT_EQ(Control(form2, "ListView1")->geometry(), QRect(8, 8, 520, 127));
  EXPECT_EQ(Control(form2, "PushButton2")->geometry(), QRect(8, 140, 256, 27));
  EXPECT_EQ(Control(form2, "PushButton3")->geometry(), QRect(272, 140, 256, 27));
  EXPECT_EQ(Control(form2, "ProgressBar1")->geometry(), QRect(8, 174, 520, 27));
  ExpectArialBold(Control(form2, "ListView1"), 9);
  ExpectArialBold(Control(form2, "PushButton3"), 11.25);
  EXPECT_EQ(form2.ListView1()->toolTip().toStdString(), wizard::kListTip);

  SelectNamed(form2.ListView1(), "People");
  form2.PushButton3()->click();
  wizard::Form3& form3 = wizard().form3();
  EXPECT_EQ(form3.size(), QSize(536, 415));
  EXPECT_EQ(Control(form3, "Frame1")->geometry(), QRect(8, 6, 520, 203));
  EXPECT_EQ(Control(form3, "DataGrid1")->geometry(), QRect(16, 20, 488, 169));
  EXPECT_EQ(Control(form3, "Frame2")->geometry(), QRect(8, 212, 520, 161));
  EXPECT_EQ(Control(form3, "ListView1")->geometry(), QRect(16, 22, 221, 125));
  EXPECT_EQ(Control(form3, "PushButton5")->geometry(), QRect(246, 22, 28, 27));
  EXPECT_EQ(Control(form3, "PushButton8")->geometry(), QRect(246, 118, 28, 27));
  EXPECT_EQ(Control(form3, "ListView2")->geometry(), QRect(280, 22, 221, 125));
  EXPECT_EQ(Control(form3, "PushButton3")->geometry(), QRect(272, 380, 256, 27));
  ExpectArialBold(Control(form3, "PushButton6"), 11.25);
  ExpectArialBold(Control(form3, "Frame2"), 9);

  form3.PushButton6()->click();
  form3.PushButton3()->click();
  wizard::Form4& form4 = wizard().form4();
  EXPECT_EQ(form4.size(), QSize(536, 399));
  EXPECT_EQ(Control(form4, "Frame1")->geometry(), QRect(8, 8, 520, 55));
  EXPECT_EQ(Control(form4, "Text1")->geometry(), QRect(16, 20, 440, 22));
  EXPECT_EQ(Control(form4, "PushButton1")->geometry(), QRect(464, 20, 40, 23));
  EXPECT_EQ(Control(form4, "Frame2")->geometry(), QRect(8, 66, 520, 49));
  EXPECT_EQ(Control(form4, "Check3")->geometry(), QRect(16, 20, 252, 19));
  EXPECT_EQ(Control(form4, "PushButton3")->geometry(), QRect(464, 16, 40, 23));
  EXPECT_EQ(Control(form4, "PushButton2")->geometry(), QRect(8, 122, 256, 27));
  EXPECT_EQ(Control(form4, "PushButton4")->geometry(), QRect(272, 122, 256, 27));
  EXPECT_EQ(Control(form4, "ProgressBar1")->geometry(), QRect(8, 157, 520, 27));
  EXPECT_EQ(Control(form4, "Frame3")->geometry(), QRect(8, 189, 520, 203));
  EXPECT_EQ(Control(form4, "DataGrid1")->geometry(), QRect(16, 20, 488, 169));
  ExpectArialBold(Control(form4, "Check3"), 9);
  ExpectArialBold(Control(form4, "PushButton4"), 11.25);
}

// Every control placed in a frame lies inside the frame's border, clear of
// the line, and below the caption.
void ExpectInsideTheirFrames(QWidget& page) {
  int frames = 0;
  for (ui::Frame* frame : page.findChildren<ui::Frame*>()) {
    ++frames;
    const QRect inside = frame->BorderRect().adjusted(1, 1, -1, -1);
    for (QWidget* control : Controls(*frame)) {
      if (control->parentWidget() != frame) continue;
      EXPECT_TRUE(inside.contains(control->geometry()))
          << Name(control) << " crosses the border of " << Name(frame);
      EXPECT_FALSE(control->geometry().intersects(frame->CaptionRect()))
          << Name(control) << " covers the caption of " << Name(frame);
    }
  }
  EXPECT_GT(frames, 0) << Name(&page);
}

TEST_F(LayoutTest, ControlsInFramesLieInsideTheBorder) {
  Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
  ASSERT_TRUE(wizard().Start());
  ExpectInsideTheirFrames(wizard().form1());
  SelectNamed(wizard().form2().ListView1(), "People");
  wizard().form2().PushButton3()->click();
  ExpectInsideTheirFrames(wizard().form3());
  wizard().form3().PushButton6()->click();
  wizard().form3().PushButton3()->click();
  wizard::Form4& form4 = wizard().form4();
  ExpectInsideTheirFrames(form4);
  // The space option's "?" sits 16 pixels down in a frame whose caption is
  // as tall as that: the border runs through the caption's middle.
  auto* space = static_cast<ui::Frame*>(form4.Frame2());
  EXPECT_LT(space->BorderRect().top(), form4.PushButton3()->geometry().top());
  EXPECT_GT(space->CaptionRect().right(), space->BorderRect().left());
}

TEST_F(LayoutTest, ScreenshotsOfEachPageInItsTypicalState) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  form1.Text1()->setText(QString::fromStdString(CopyDatabase("generated/people_V2000_200.mdb")));
  form1.Text2()->setText("secret");
  ExpectTidy(form1);
  SaveScreenshot(form1, "form1-database.png");

  form1.PushButton3()->click();
  wizard::Form2& form2 = wizard().form2();
  ExpectTidy(form2);
  SaveScreenshot(form2, "form2-table.png");

  SelectNamed(form2.ListView1(), "People");
  form2.PushButton3()->click();
  wizard::Form3& form3 = wizard().form3();
  for (const char* name : {"First", "Middle", "Last"}) {
    SelectNamed(form3.ListView1(), name);
    form3.PushButton5()->click();
  }
  ExpectTidy(form3);
  SaveScreenshot(form3, "form3-fields.png");

  form3.PushButton3()->click();
  wizard::Form4& form4 = wizard().form4();
  ExpectTidy(form4);
  SaveScreenshot(form4, "form4-merge-before.png");
  form4.PushButton4()->click();
  ASSERT_EQ(MessageTexts(), (std::vector<std::string>{"Done."}));
  // Scroll the grid to its new last column, as a user would look for it.
  QCoreApplication::processEvents();
  form4.DataGrid1()->scrollTo(form4.DataGrid1()->model()->index(0, 8));
  ExpectTidy(form4);
  SaveScreenshot(form4, "form4-merge-done.png");
}

}  // namespace
}  // namespace uitest
