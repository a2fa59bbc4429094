#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>

#include "ui/DialogTemplates.h"
#include "ui/qt/DialogLayout.h"

namespace quorvel::qt {
namespace {

TEST(MulDivTest, RoundsHalvesAwayFromZero) {
  struct Case {
    int a, b, c, expected;
  };
  const Case cases[] = {
      {240, 9, 4, 540}, {7, 9, 4, 16},  {1, 9, 4, 2},   {1, 7, 4, 2},   {1, 5, 4, 1},  {3, 6, 4, 5},
      {5, 17, 8, 11},   {0, 9, 4, 0},   {-1, 6, 4, -2}, {-3, 1, 4, -1}, {10, 1, -4, -3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
  }
  // The product is taken in 64 bits.
  EXPECT_EQ(MulDiv(1000000, 100000, 1000), 100000000);
  EXPECT_EQ(MulDiv(5, 5, 0), -1);
}

TEST(NameFiltersTest, PairsBecomeFiltersWithTheirOwnPatterns) {
  struct Case {
    const char* filter;
    QStringList expected;
  };
  const Case cases[] = {
      {"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||",
       {"Config Files (*.pkc)", "All Files (*)"}},
      {"Config Files (*.kyc)|*.kyc|All Files (*.*)|*.*||",
       {"Config Files (*.kyc)", "All Files (*)"}},
      // The pattern part counts, not what the text says.
      {"Images (*.png)|*.png;*.jpg|Anything|*.*||", {"Images (*.png *.jpg)", "Anything (*)"}},
      {"Text|*.txt", {"Text (*.txt)"}},
      {"Text|*.txt|Odd", {"Text (*.txt)"}},
      {"", {}},
      {"||", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NameFilters(FromQString(QString::fromUtf8(c.filter))), c.expected) << c.filter;
  }
}

TEST(WithoutAccessMarksTest, SingleMarksVanishDoubleMarksShowOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"About Update Routine(&A)...", "About Update Routine(A)..."},
      {"Salt && Pepper", "Salt & Pepper"},
      {"&&&x", "&x"},
      {"trailing&", "trailing"},
      {"plain", "plain"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(WithoutAccessMarks(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
  }
}

TEST(DialogFontTest, MainDialogGetsAJapaneseGothicBoldAt12Points) {
  const QFont font = DialogFont(*FindDialogTemplate(IDD_QUORVEL_DIALOG));
  EXPECT_EQ(font.families().value(0), QStringLiteral("IPAPGothic"));
  EXPECT_EQ(font.pointSize(), 12);
  EXPECT_EQ(font.weight(), QFont::Bold);
  EXPECT_FALSE(font.italic());
  // The metric-compatible font is installed on build machines.
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("IPAPGothic"));
}

TEST(DialogFontTest, AboutBoxGetsTheDesktopFontAt9Points) {
  const QFont font = DialogFont(*FindDialogTemplate(IDD_ABOUTBOX));
  EXPECT_EQ(font.pointSize(), 9);
  EXPECT_EQ(font.weight(), QFont::Normal);
  EXPECT_NE(font.family(), QStringLiteral("MS Shell Dlg"));
}

TEST(BaseUnitsTest, AverageLetterWidthAndCharacterHeight) {
  for (int id : {IDD_QUORVEL_DIALOG, IDD_ABOUTBOX}) {
    const QFont font = DialogFont(*FindDialogTemplate(id));
    const QFontMetrics metrics(font);
    const double average =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
        52.0;
    const BaseUnits units = BaseUnitsOf(font);
    EXPECT_NEAR(units.x, average, 0.51) << id;
    EXPECT_EQ(units.y, metrics.ascent() + metrics.descent()) << id;
    EXPECT_GT(units.x, 2);
  }
}

TEST(ControlRectTest, QuartersAndEighthsOfTheBaseUnits) {
  const BaseUnits units{9, 17};
  const ControlTemplate lamp{IDC_USB_LAMP, ControlKind::OwnerDrawStatic, 21, 58, 12, 12, u""};
  EXPECT_EQ(ControlRect(lamp, units), QRect(47, 123, 27, 26));
  EXPECT_EQ(DialogClientSize(*FindDialogTemplate(IDD_QUORVEL_DIALOG), units), QSize(540, 327));
}

}  // namespace
}  // namespace quorvel::qt
