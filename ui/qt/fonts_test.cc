#include "ui/qt/fonts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

#include "ui/qt/icons.h"

namespace qzr {
namespace {

TEST(FontsTest, FacesMapToTheDesktopsFonts) {
  // The UI face is the application font itself.
  EXPECT_EQ(FontForFace("MS Sans Serif").family(), QApplication::font().family());
  EXPECT_EQ(FontForFace("").family(), QApplication::font().family());
  // Arial resolves through fontconfig's sans-serif, to a real, proportional font.
  QFontInfo arial(FontForFace("Arial"));
  EXPECT_FALSE(arial.fixedPitch()) << arial.family().toStdString();
  // Code is fixed-pitch.
  EXPECT_TRUE(QFontInfo(CodeFont()).fixedPitch()) << QFontInfo(CodeFont()).family().toStdString();
  EXPECT_TRUE(QFontInfo(FontForFace("Courier New")).fixedPitch());
  // The size is applied on top of the substitute.
  EXPECT_EQ(FontForFace("Arial", 14).pointSize(), 14);
  EXPECT_TRUE(IsFixedFace("courier new"));
  EXPECT_FALSE(IsFixedFace("MS Sans Serif"));
}

TEST(FontsTest, DialogUnitsFollowTheFont) {
  QFont small = FontForFace("MS Sans Serif", 8);
  QFont large = FontForFace("MS Sans Serif", 16);
  DialogBase s = BaseUnitsOf(small);
  DialogBase l = BaseUnitsOf(large);
  EXPECT_GT(l.x, s.x);
  EXPECT_GT(l.y, s.y);
  // 4 horizontal units are one average character, 8 vertical ones a line.
  EXPECT_EQ(DluToPixelsX(4, s), s.x);
  EXPECT_EQ(DluToPixelsY(8, s), s.y);
  EXPECT_EQ(DluToPixelsX(0, s), 0);
  // Adjacent rectangles stay adjacent after rounding.
  DialogBase odd{7, 15};
  QRect a = DluToPixels(QRect(3, 5, 11, 9), odd);
  QRect b = DluToPixels(QRect(14, 14, 11, 9), odd);
  EXPECT_EQ(a.x() + a.width(), b.x());
  EXPECT_EQ(a.y() + a.height(), b.y());
}

TEST(IconsTest, NamedIconsAreCompiledInAndUnknownNamesGetTheDefault) {
  for (const char* name : {"AutoformatDoc.ico", "autoformatdoc.ICO", "~14.ico", "~16.ico"}) {
    EXPECT_TRUE(HasIcon(name)) << name;
    QIcon icon = IconByName(name);
    ASSERT_FALSE(icon.isNull()) << name;
    EXPECT_FALSE(icon.pixmap(16, 16).isNull()) << name;
  }
  for (const char* name : {"", "nothing.ico", "~99.ico", "\xff\xfe"}) {
    EXPECT_FALSE(HasIcon(name)) << name;
    EXPECT_FALSE(IconByName(name).isNull()) << name;
  }
  // Distinct pictures for the two list icons.
  EXPECT_NE(IconByName("~14.ico").pixmap(16, 16).toImage(),
            IconByName("~16.ico").pixmap(16, 16).toImage());
}

}  // namespace
}  // namespace qzr
