// The alert box: choosing with keys, leaving without a choice, an operator who is gone,
// and the screen under the box shown again afterwards.
#include <gtest/gtest.h>

#include "console/alert_box.h"
#include "console/output.h"
#include "tests/console/console_fixture.h"

namespace lum {
namespace {

using AlertBoxTest = testing_support::ConsoleTest;

TEST_F(AlertBoxTest, KeysChooseAnOption) {
  struct Case {
    std::deque<int> keys;
    int expected;
  } cases[] = {
      {{13}, 1},
      {{kKeyRight, 13}, 2},
      {{kKeyRight, kKeyRight, kKeyRight, 10}, 1},  // wraps around
      {{kKeyLeft, ' '}, 3},
      {{9, kKeyEnd, kKeyHome, kKeyDown, 13}, 2},
      {{'d'}, 3},
      {{'x', 'R'}, 2},
      {{27}, kAlertNoChoice},
      {{kKeyNone}, kAlertNoChoice},  // the delay ran out
      {{}, kAlertUnanswerable},
  };
  AlertBox box{{"Error BASE/1110  Argument error: SUBSTR"}, {"Quit", "Retry", "Default"}};
  for (const Case& c : cases) {
    term_->keys_ = c.keys;
    EXPECT_EQ(c.expected, run_alert_box(screen(), box));
  }
}

TEST_F(AlertBoxTest, ShowsTheMessageAndRestoresTheScreen) {
  for (int r = 0; r <= 24; ++r)
    DEVOUT(std::string(80, static_cast<char>('a' + r % 26)), Value(), r, 0);
  SETPOS(3, 4);
  std::vector<std::string> before;
  for (int r = 0; r <= 24; ++r) before.push_back(screen().row_text(r));

  std::string shown;  // the screen while the box waits for the key
  term_->on_read = [&] {
    for (int r = 0; r <= 24; ++r) shown += screen().row_text(r) + "\n";
  };
  term_->keys_ = {13};
  AlertBox box{{"first line", "second"}, {"Ok"}};
  EXPECT_EQ(1, run_alert_box(screen(), box));
  EXPECT_NE(std::string::npos, shown.find("first line"));
  EXPECT_NE(std::string::npos, shown.find("second"));
  EXPECT_NE(std::string::npos, shown.find(" Ok "));
  for (int r = 0; r <= 24; ++r) EXPECT_EQ(before[static_cast<size_t>(r)], screen().row_text(r));
  EXPECT_EQ(std::make_pair(3, 4), cursor());
}

}  // namespace
}  // namespace lum
