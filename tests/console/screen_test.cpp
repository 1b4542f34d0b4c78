// Screen and line output: the grid, the cursor, clipping, wrapping, scrolling, control
// bytes and the text of each kind of value.
#include <gtest/gtest.h>

#include "console/output.h"
#include "console/screen.h"
#include "tests/console/console_fixture.h"
#include "values/dates.h"

namespace lum {
namespace {

using testing_support::ConsoleTest;
using ScreenOutput = ConsoleTest;

TEST_F(ScreenOutput, MemoryScreenIsTwentyFiveByEighty) {
  EXPECT_EQ(24, screen().max_row());
  EXPECT_EQ(79, screen().max_col());
}

TEST_F(ScreenOutput, DevoutClipsAtTheRightEdgeAndAdvancesByTheWholeText) {
  DEVPOS(5, 70);
  DEVOUT("ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(std::string(70, ' ') + "ABCDEFGHIJ", row(5));
  EXPECT_EQ(std::make_pair(5, 90), cursor());
  DEVOUT("more");  // past the edge: nothing visible
  EXPECT_EQ(std::string(70, ' ') + "ABCDEFGHIJ", row(5));
  EXPECT_EQ(std::make_pair(5, 94), cursor());
  DEVPOS(5, 0);
  DEVOUT("more");
  EXPECT_EQ("more", row(5).substr(0, 4));
}

TEST_F(ScreenOutput, DevoutOutsideTheGridShowsNothing) {
  DEVOUT("x", Value(), 30, 0);
  DEVOUT("y", Value(), -1, 0);
  DEVOUT("abc", Value(), 0, -2);  // only the part inside the grid
  for (int r = 1; r <= 24; ++r) EXPECT_EQ("", row(r));
  EXPECT_EQ("c", row(0));
  EXPECT_EQ(std::make_pair(0, 1), cursor());
}

TEST_F(ScreenOutput, PositionNeedsTwoNumbers) {
  SETPOS(3, 4);
  SETPOS("1", 2);
  DEVPOS(Value(), 2);
  EXPECT_EQ(std::make_pair(3, 4), cursor());
  DEVOUT("z", Value(), 9, Value());  // a position needs both
  EXPECT_EQ(std::make_pair(3, 5), cursor());
}

TEST_F(ScreenOutput, TextOfEachKindOfValue) {
  cmd::SETCENTURY(Value::logical(true));
  SET(kSetDateFormat, Value("dd/mm/yyyy"));
  struct Case {
    Value v;
    const char* devout;
    const char* qout;
  } cases[] = {
      {Value("abc"), "abc", "abc"},
      {Value::int32(10), "        10", "        10"},
      {Value::dbl(1234.56, 10, 2), "      1234.56", "      1234.56"},
      {Value::logical(true), "T", ".T."},
      {Value::logical(false), "F", ".F."},
      {Value(), "NIL", "NIL"},
      {Value::date(date_encode(2024, 2, 29)), "29/02/2024", "29/02/2024"},
      {Value::array({Value(1)}), "", ""},
  };
  for (const Case& c : cases) {
    SCROLL();
    DEVOUT(c.v, Value(), 0, 0);
    EXPECT_EQ(c.devout, row(0));
    SETPOS(0, 0);
    QQOUT(c.v);
    EXPECT_EQ(c.qout, row(0));
  }
  EXPECT_EQ(13u, screen_text(Value::dbl(1234.56, 10, 2), true)->size());
}

TEST_F(ScreenOutput, QoutStartsANewLineThenWritesLikeQqout) {
  SETPOS(0, 5);
  QOUT();
  EXPECT_EQ(std::make_pair(1, 0), cursor());
  QOUT("");
  EXPECT_EQ(std::make_pair(2, 0), cursor());
  QOUT(Value::int32(10));
  EXPECT_EQ("        10", row(3));
  QQOUT("a", Value::logical(true), 5);
  EXPECT_EQ("        10a .T.          5", row(3));
  QQOUT();
  EXPECT_EQ(std::make_pair(3, 26), cursor());
}

TEST_F(ScreenOutput, QoutOnTheLastRowScrollsUpOneLine) {
  DEVOUT("top", Value(), 0, 0);
  DEVOUT("second", Value(), 1, 0);
  DEVOUT("bottom", Value(), 24, 0);
  SETPOS(24, 3);
  QOUT("new");
  EXPECT_EQ("second", row(0));
  EXPECT_EQ("bottom", row(23));
  EXPECT_EQ("new", row(24));
  EXPECT_EQ(std::make_pair(24, 3), cursor());
}

TEST_F(ScreenOutput, LineWriterWrapsAtTheRightEdge) {
  SETPOS(2, 75);
  QQOUT("0123456789");
  EXPECT_EQ(std::string(75, ' ') + "01234", row(2));
  EXPECT_EQ("56789", row(3));
  EXPECT_EQ(std::make_pair(3, 5), cursor());
  // A byte into the last column moves the cursor to the next row at once.
  SETPOS(5, 79);
  QQOUT("x");
  EXPECT_EQ(std::make_pair(6, 0), cursor());
  // ... and on the last row that scrolls the screen.
  SETPOS(24, 79);
  QQOUT("y");
  EXPECT_EQ(std::string(79, ' ') + "y", row(23));
  EXPECT_EQ(std::make_pair(24, 0), cursor());
}

TEST_F(ScreenOutput, LineWriterControlBytes) {
  SETPOS(1, 0);
  QQOUT("abc\rX");  // carriage return: column 0 of the same row
  EXPECT_EQ("Xbc", row(1));
  QQOUT("\b\b");  // back over "X", then from column 0 to the end of the row above
  EXPECT_EQ("bc", row(1).substr(1));
  EXPECT_EQ(std::make_pair(0, 79), cursor());
  SETPOS(4, 2);
  QQOUT("a\nb\r\nc");
  EXPECT_EQ("  a", row(4));
  EXPECT_EQ("b", row(5));
  EXPECT_EQ("c", row(6));
  QQOUT("\a\a");
  EXPECT_EQ(2, term_->bells_);
  EXPECT_EQ("c", row(6));  // the bell stores nothing
  SETPOS(0, 0);
  QQOUT("\b");  // at the top-left corner the cell is blanked in place
  EXPECT_EQ(std::make_pair(0, 0), cursor());
}

TEST_F(ScreenOutput, LineWriterPullsAnOutsideCursorBack) {
  SETPOS(40, 100);
  QQOUT("z");
  EXPECT_EQ(std::string(79, ' ') + "z", row(23));  // written at (24,79), then scrolled
  SETPOS(-3, -3);
  QQOUT("w");
  EXPECT_EQ("w", row(0).substr(0, 1));
}

TEST_F(ScreenOutput, LongTextsGoThroughInRuns) {
  std::string text(25 * 80 + 40, '.');
  for (size_t i = 0; i < text.size(); i += 80) text[i] = '#';
  SETPOS(0, 0);
  QQOUT(text);
  EXPECT_EQ(std::make_pair(24, 40), cursor());
  EXPECT_EQ("#" + std::string(39, '.'), row(24));
  EXPECT_EQ("#" + std::string(79, '.'), row(0));
}

TEST_F(ScreenOutput, ConsoleSettingOffSilencesLineOutputOnly) {
  rt_.settings().console = false;
  QOUT("hidden");
  EXPECT_EQ(std::make_pair(0, 0), cursor());
  DEVOUT("shown", Value(), 0, 0);
  EXPECT_EQ("shown", row(0));
}

TEST_F(ScreenOutput, ScrollRegions) {
  auto fill = [] {
    for (int r = 0; r < 6; ++r) DEVOUT(std::string(6, static_cast<char>('a' + r)), Value(), r, 0);
  };
  struct Case {
    Value top, left, bottom, right, vert, horiz;
    std::vector<std::string> rows;  // rows 0..5 afterwards
  } cases[] = {
      {1, 1, 3, 3, Value(), Value(), {"aaaaaa", "b   bb", "c   cc", "d   dd", "eeeeee", "ffffff"}},
      {1, 1, 3, 3, 1, 0, {"aaaaaa", "bcccbb", "cdddcc", "d   dd", "eeeeee", "ffffff"}},
      {1, 1, 3, 3, -1, 0, {"aaaaaa", "b   bb", "cbbbcc", "dcccdd", "eeeeee", "ffffff"}},
      {0, 0, 0, 5, 0, 2, {"aaaa", "bbbbbb", "cccccc", "dddddd", "eeeeee", "ffffff"}},
      {0, 0, 0, 5, 0, -2, {"  aaaa", "bbbbbb", "cccccc", "dddddd", "eeeeee", "ffffff"}},
      {4, 0, 99, 99, 9, 0, {"aaaaaa", "bbbbbb", "cccccc", "dddddd", "", ""}},
      {3, 0, 2, 5, Value(), Value(), {"aaaaaa", "bbbbbb", "cccccc", "dddddd", "eeeeee", "ffffff"}},
      {"x",
       "y",
       0,
       1,
       Value(),
       Value(),
       {"  aaaa", "bbbbbb", "cccccc", "dddddd", "eeeeee", "ffffff"}},
      {-5,
       -5,
       1,
       1,
       Value(),
       Value(),
       {"  aaaa", "  bbbb", "cccccc", "dddddd", "eeeeee", "ffffff"}},
  };
  for (const Case& c : cases) {
    SCROLL();
    fill();
    SETPOS(7, 7);
    SCROLL(c.top, c.left, c.bottom, c.right, c.vert, c.horiz);
    for (int r = 0; r < 6; ++r) EXPECT_EQ(c.rows[static_cast<size_t>(r)], row(r)) << r;
    EXPECT_EQ(std::make_pair(7, 7), cursor());
  }
  SCROLL();
  for (int r = 0; r <= 24; ++r) EXPECT_EQ("", row(r));
}

TEST_F(ScreenOutput, ColourOfAWriteAndItsRestore) {
  DEVOUT("r", Value("W+/R"), 0, 0);
  DEVOUT("n", Value(), 0, 1);
  EXPECT_EQ(0x4F, screen().cell(0, 0).attr);
  EXPECT_EQ(0x07, screen().cell(0, 1).attr);
  EXPECT_EQ("W/N,N/W,N/N,N/N,N/W", SETCOLOR());
  EXPECT_EQ("W/N,N/W,N/N,N/N,N/W", SETCOLOR(Value("N/W")));
  SCROLL(0, 0, 0, 0);  // cleared in the current colour
  EXPECT_EQ(0x70, screen().cell(0, 0).attr);
}

TEST(ColorAttribute, Letters) {
  struct Case {
    const char* text;
    int attr;
  } cases[] = {
      {"W/N,N/W,N/N", 0x07}, {"W+/R", 0x4F}, {"W+/B", 0x1F}, {"N/W", 0x70}, {"GR+/B", 0x1E},
      {"BG/N", 0x03},        {"rb/g", 0x25}, {"B/W*", 0xF1}, {"", 0x07},    {"Q/Z", 0x07},
      {"R", 0x04},
  };
  for (const Case& c : cases) EXPECT_EQ(c.attr, color_attribute(c.text)) << c.text;
}

}  // namespace
}  // namespace lum
