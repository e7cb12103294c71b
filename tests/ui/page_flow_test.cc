// Where the pages appear as the user walks through them, and the keys that
// walk: Enter presses a page's "Next >", the focus mark on buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include "app/qt/placement.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard/form3.h"
#include "wizard/form4.h"
#include "wizard_util.h"

namespace uitest {
namespace {

QRect Available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

void PressEnter(QWidget* widget, int key = Qt::Key_Return) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

TEST(PlacePageTest, TheFirstPageIsCentredAndTheNextTakesTheCornerOfThePrevious) {
  const QRect screen(0, 0, 1600, 900);
  EXPECT_EQ(ui::PlacePage(std::nullopt, QSize(536, 172), QMargins(), screen),
            QRect(532, 364, 536, 172));
  // With a title bar of 20 and borders of 2 the whole window is centred.
  EXPECT_EQ(ui::PlacePage(std::nullopt, QSize(536, 172), QMargins(2, 20, 2, 2), screen),
            QRect(532, 373, 536, 172));
  EXPECT_EQ(ui::PlacePage(QRect(100, 92, 536, 209), QSize(536, 415), QMargins(2, 20, 2, 2), screen),
            QRect(100, 92, 536, 415))
      << "same client corner, so the title bar stays where it was";
}

TEST(PlacePageTest, APageIsKeptOnTheFreeAreaOfItsScreen) {
  const QRect screen(0, 0, 1600, 900);
  const QMargins frame(2, 20, 2, 2);
  // A tall page after a short one low on the screen: pulled up so that its
  // buttons show.
  EXPECT_EQ(ui::PlacePage(QRect(300, 700, 536, 209), QSize(536, 415), frame, screen),
            QRect(300, 483, 536, 415));
  // Over the right edge, above the top, left of the left edge.
  EXPECT_EQ(ui::PlacePage(QRect(1500, -50, 536, 172), QSize(536, 172), frame, screen),
            QRect(1062, 20, 536, 172));
  EXPECT_EQ(ui::PlacePage(QRect(-400, 300, 536, 172), QSize(536, 172), frame, screen),
            QRect(2, 300, 536, 172));
  // A second screen to the right, with a panel on top of it.
  const QRect second(1600, 32, 1280, 992);
  EXPECT_EQ(ui::PlacePage(QRect(2800, 10, 536, 172), QSize(536, 172), frame, second),
            QRect(2342, 52, 536, 172));
  // Bigger than the screen: the title bar and the left edge stay reachable.
  EXPECT_EQ(ui::PlacePage(QRect(10, 10, 536, 415), QSize(536, 415), frame, QRect(0, 0, 400, 300)),
            QRect(2, 20, 536, 415));
}

class PageFlowTest : public WizardTest {
 protected:
  wizard::Form1& StartWithDatabase() {
    EXPECT_TRUE(wizard().Start());
    wizard::Form1& form1 = wizard().form1();
    form1.Text1()->setText(QString::fromStdString(CopyDatabase("generated/people_V2000_200.mdb")));
    return form1;
  }
  static QPoint Corner(QWidget& page) { return page.geometry().topLeft(); }
};

TEST_F(PageFlowTest, EachPageOpensWhereThePreviousOneWasMovedTo) {
  wizard::Form1& form1 = StartWithDatabase();
  const QRect available = Available();
  EXPECT_EQ(form1.frameGeometry().center(), available.center()) << "the first page is centred";

  // The user drags each page somewhere; the next one opens right there.
  form1.move(30, 40);
  QPoint corner = Corner(form1);
  form1.PushButton3()->click();
  wizard::Form2& form2 = wizard().form2();
  ASSERT_TRUE(form2.isVisible());
  EXPECT_EQ(Corner(form2), corner);
  EXPECT_EQ(form2.frameGeometry().topLeft(), QPoint(30, 40)) << "title bar where it was";

  form2.move(60, 25);
  corner = Corner(form2);
  SelectNamed(form2.ListView1(), "People");
  form2.PushButton3()->click();
  wizard::Form3& form3 = wizard().form3();
  ASSERT_TRUE(form3.isVisible());
  EXPECT_EQ(Corner(form3), corner);

  form3.PushButton6()->click();
  form3.PushButton3()->click();
  wizard::Form4& form4 = wizard().form4();
  ASSERT_TRUE(form4.isVisible());
  EXPECT_EQ(Corner(form4), corner);

  // And back again, every page where the one before it stood.
  form4.move(70, 35);
  corner = Corner(form4);
  form4.PushButton2()->click();
  EXPECT_EQ(Corner(form3), corner);
  form3.PushButton2()->click();
  EXPECT_EQ(Corner(form2), corner);
  form2.PushButton2()->click();
  EXPECT_TRUE(form1.isVisible());
  EXPECT_EQ(Corner(form1), corner);
}

TEST_F(PageFlowTest, APageLeftOffTheScreenOpensTheNextOneOnIt) {
  wizard::Form1& form1 = StartWithDatabase();
  const QRect available = Available();
  // Dragged down and right until most of it is off the screen.
  form1.move(available.right() - 100, available.bottom() - 50);
  form1.PushButton3()->click();
  wizard::Form2& form2 = wizard().form2();
  EXPECT_TRUE(available.contains(form2.frameGeometry()));
  EXPECT_EQ(form2.frameGeometry().right(), available.right());
  EXPECT_EQ(form2.frameGeometry().bottom(), available.bottom());

  // The taller field page after the table page low on the screen: its
  // buttons are on the screen.
  SelectNamed(form2.ListView1(), "People");
  form2.PushButton3()->click();
  wizard::Form3& form3 = wizard().form3();
  EXPECT_TRUE(available.contains(form3.frameGeometry()));
  EXPECT_EQ(form3.frameGeometry().bottom(), available.bottom());
  EXPECT_EQ(Corner(form3).x(), Corner(form2).x()) << "only as far as needed";

  // Far off to the top left.
  form3.move(available.left() - 2000, available.top() - 2000);
  form3.PushButton2()->click();
  EXPECT_EQ(form2.frameGeometry().topLeft(), available.topLeft());
}

TEST_F(PageFlowTest, TheTablePageOfTheStartUpSkipIsCentredAndBackKeepsItsPlace) {
  Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
  ASSERT_TRUE(wizard().Start());
  wizard::Form2& form2 = wizard().form2();
  ASSERT_TRUE(form2.isVisible());
  EXPECT_EQ(form2.frameGeometry().center(), Available().center());
  const QPoint corner = Corner(form2);
  form2.PushButton2()->click();
  EXPECT_EQ(Corner(wizard().form1()), corner);
  wizard().form1().PushButton3()->click();
  EXPECT_EQ(Corner(form2), corner) << "Back then Next leaves the table page where it was";
}

TEST_F(PageFlowTest, EnterPressesNextFromThePathBoxTheListsAndTheGrid) {
  wizard::Form1& form1 = StartWithDatabase();
  EXPECT_EQ(form1.DefaultButton(), form1.PushButton3());
  EXPECT_TRUE(form1.PushButton3()->isDefault());
  PressEnter(form1.Text1());
  wizard::Form2& form2 = wizard().form2();
  ASSERT_TRUE(form2.isVisible()) << "Enter in the path box opened the database";
  EXPECT_FALSE(form1.isVisible());

  SelectNamed(form2.ListView1(), "People");
  PressEnter(form2.ListView1(), Qt::Key_Enter);  // the keypad's Enter too
  wizard::Form3& form3 = wizard().form3();
  ASSERT_TRUE(form3.isVisible());

  // On the field page Enter in the grid asks for fields first, as Next does.
  PressEnter(form3.DataGrid1());
  ASSERT_EQ(MessageTexts(), (std::vector<std::string>{"Please add fields to merge first."}));
  form3.PushButton6()->click();
  PressEnter(form3.ListView2());
  wizard::Form4& form4 = wizard().form4();
  ASSERT_TRUE(form4.isVisible());

  // The merge page has no Next: Enter in the name box starts nothing.
  EXPECT_EQ(form4.DefaultButton(), nullptr);
  PressEnter(form4.Text1());
  EXPECT_EQ(form4.PushButton4()->Caption(), "Start Merging");
  EXPECT_FALSE(form4.merge_done());
  EXPECT_EQ(MessageTexts().size(), 1u);
}

TEST_F(PageFlowTest, EnterWithAModifierOrAnotherKeyDoesNotPressNext) {
  wizard::Form1& form1 = StartWithDatabase();
  QKeyEvent shifted(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
  QApplication::sendEvent(form1.Text1(), &shifted);
  PressEnter(form1.Text1(), Qt::Key_Escape);
  EXPECT_TRUE(form1.isVisible());
  EXPECT_EQ(wizard().loaded_form2(), nullptr);
}

// Pixels of `image` close to `colour`.
int PixelsOf(const QImage& image, const QColor& colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) <
          40) {
        ++count;
      }
    }
  }
  return count;
}

TEST_F(PageFlowTest, TheButtonWithTheFocusCarriesAClearRing) {
  wizard::Form1& form1 = StartWithDatabase();
  QApplication::setActiveWindow(&form1);  // the offscreen screen activates nothing itself
  ui::PushButton* help = form1.PushButton2();
  const QColor ring = help->palette().color(QPalette::Highlight);
  const int before = PixelsOf(help->grab().toImage(), ring);
  help->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(help->hasFocus());
  const QImage focused = help->grab().toImage();
  // A ring all round a 256 x 27 button: several hundred pixels of it.
  EXPECT_GT(PixelsOf(focused, ring), before + 2 * (help->width() + help->height()))
      << "the focus mark is drawn in the selection colour";
  form1.Text1()->setFocus();
  EXPECT_EQ(PixelsOf(help->grab().toImage(), ring), before) << "and goes with the focus";
}

}  // namespace
}  // namespace uitest
