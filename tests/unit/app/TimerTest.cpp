// The waits on a scripted clock and keyboard: the exact bytes of the count,
// when it falls, which keys end or cancel it, and that the keyboard is always
// given back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EchoApp.h"
#include "ExpectedText.h"
#include "FakePlatform.h"

namespace {

const int ESC = 27;
const char CANCEL[] = " <ESC> pressed, timer canceled.";

using expected::Count;
using expected::Erase;

// A countdown that runs out: every value down to 0, then the final erase.
std::string Full(int nFrom) { return Count(nFrom, nFrom) + Erase(1); }

struct Wait {
  const char* pszTimer;  // "" for the plain key wait
  bool bPause;
  bool bNoCountdown;
};

Wait T(const char* pszValue) { return {pszValue, false, false}; }
Wait P(const char* pszValue) { return {pszValue, true, false}; }
Wait PSC(const char* pszValue) { return {pszValue, true, true}; }
const Wait PLAIN = {"", true, false};

// Runs one wait as the driver would pick it and returns what it wrote.
// The fake platform must be set up (Reset, keys, jumps) before.
std::string RunWait(const Wait& wait) {
  CEchoApp app;
  app.m_strTimer = wait.pszTimer;
  app.m_bPause = wait.bPause;
  app.m_bNoCountdown = wait.bNoCountdown;
  fake::StdoutCapture capture;
  if (!app.m_strTimer.IsEmpty())
    app.RunTimer();
  else
    app.WaitForKey();
  return capture.Text();
}

struct Key {
  long nAt;
  int nCode;
};

struct TimerCase {
  const char* pszName;
  Wait wait;
  std::vector<Key> aKeys;
  std::string strOut;
  long nEndMillis;  // when the wait ended, on the fake clock
  int nKeysLeft;
};

class TimerTable : public ::testing::TestWithParam<TimerCase> {};

TEST_P(TimerTable, WritesExactBytesAndEndsOnTime) {
  const TimerCase& c = GetParam();
  fake::Reset();
  for (const Key& key : c.aKeys) fake::AddKey(key.nAt, key.nCode);
  EXPECT_EQ(RunWait(c.wait), c.strOut);
  EXPECT_EQ(fake::ElapsedMillis(), c.nEndMillis);
  EXPECT_EQ(fake::KeysLeft(), c.nKeysLeft);
  EXPECT_FALSE(fake::KeyboardIsOpen());
}

// The count starts on a whole second: it falls at 1000, 2000, ... so "3" of
// /P:5 is shown from 2000 to 3000.
INSTANTIATE_TEST_SUITE_P(
    Waits, TimerTable,
    ::testing::Values(
        TimerCase{"T3", T("3"), {}, Full(3), 3000, 0},
        TimerCase{"T10FirstEraseIsTwoWide",
                  T("10"),
                  {},
                  "10" + Erase(2) + "9" + Erase(1) + "8" + Erase(1) + "7" +
                      Erase(1) + "6" + Erase(1) + "5" + Erase(1) + "4" +
                      Erase(1) + "3" + Erase(1) + "2" + Erase(1) + "1" +
                      Erase(1) + "0" + Erase(1),
                  10000,
                  0},
        TimerCase{"T100", T("100"), {}, Full(100), 100000, 0},
        // /T:n never reads the keyboard: every key stays, Escape included.
        TimerCase{"T5KeysStayUnread",
                  T("5"),
                  {{500, 'x'}, {1500, ESC}, {2500, 0}, {2500, 72}},
                  Full(5),
                  5000,
                  4},
        TimerCase{"P5RunsOut", P("5"), {}, Full(5), 5000, 0},
        TimerCase{"P5AnyKeyWhileThreeShown",
                  P("5"),
                  {{2500, 'x'}},
                  Count(5, 2) + Erase(1),
                  2500,
                  0},
        TimerCase{
            "P5KeyBeforeFirstFall", P("5"), {{0, '\r'}}, "5" + Erase(1), 0, 0},
        TimerCase{"P12KeyErasesTwoWide",
                  P("12"),
                  {{1500, 'q'}},
                  "12" + Erase(2) + "11" + Erase(2),
                  1500,
                  0},
        TimerCase{"P5EscapeThenKey",
                  P("5"),
                  {{2500, ESC}, {4000, 'x'}},
                  Count(5, 2) + Erase(1) + CANCEL,
                  4000,
                  0},
        // After Escape nothing times out: the next key comes long after 5 s.
        TimerCase{"P5EscapeWaitsWithoutTimeout",
                  P("5"),
                  {{2500, ESC}, {60000, ' '}},
                  Count(5, 2) + Erase(1) + CANCEL,
                  60000,
                  0},
        TimerCase{"P5EscapeTwice",
                  P("5"),
                  {{2500, ESC}, {2600, ESC}, {9000, 'z'}},
                  Count(5, 2) + Erase(1) + CANCEL,
                  2600,
                  1},
        TimerCase{"P5NoCountdownEscapeWritesCancelTextOnly",
                  PSC("5"),
                  {{2500, ESC}, {3000, 'k'}},
                  CANCEL,
                  3000,
                  0},
        TimerCase{"P5NoCountdownRunsOutSilently", PSC("5"), {}, "", 5000, 0},
        TimerCase{"P5NoCountdownKey", PSC("5"), {{1200, 'k'}}, "", 1200, 0},
        // A special key: prefix 0, then its own code; it is not Escape.
        TimerCase{"P5SpecialKeyEndsWait",
                  P("5"),
                  {{2500, 0}, {2500, 72}},
                  Count(5, 2) + Erase(1),
                  2500,
                  0},
        // A special key whose second code is 27 still reads as 27.
        TimerCase{"P5PrefixThenEscapeCode",
                  P("5"),
                  {{2500, 0}, {2500, ESC}, {3500, 'k'}},
                  Count(5, 2) + Erase(1) + CANCEL,
                  3500,
                  0},
        // A prefix with no second code counts as no key at all.
        TimerCase{"P5LonePrefixIgnored", P("5"), {{1500, 0}}, Full(5), 5000, 0},
        // Only 0 is a prefix: 224 is an ordinary key, and the code after it
        // stays unread.
        TimerCase{"P5Code224IsOrdinary",
                  P("5"),
                  {{2500, 224}, {2500, 72}},
                  Count(5, 2) + Erase(1),
                  2500,
                  1},
        TimerCase{"PEndedByKey", PLAIN, {{3000, 'a'}}, "", 3000, 0},
        TimerCase{"PEndedByEscape", PLAIN, {{3000, ESC}}, "", 3000, 0},
        TimerCase{"PSpecialKeyReadsBothCodes",
                  PLAIN,
                  {{3000, 0}, {3000, 80}},
                  "",
                  3000,
                  0},
        TimerCase{"PLonePrefixDoesNotEndWait",
                  PLAIN,
                  {{1000, 0}, {7000, 'y'}, {8000, 'z'}},
                  "",
                  7000,
                  1}),
    [](const ::testing::TestParamInfo<TimerCase>& info) {
      return std::string(info.param.pszName);
    });

TEST(Timer, TenLongCancelErasesTwoWide) {
  fake::Reset();
  fake::AddKey(500, ESC);
  fake::AddKey(800, 'k');
  EXPECT_EQ(RunWait(P("10")), "10" + Erase(2) + CANCEL);
}

// Started in the middle of a second, the first fall comes at the next change
// of the second: /T:3 lasts more than 2 and at most 3 seconds.
TEST(Timer, FirstFallAtNextChangeOfSecond) {
  fake::Reset(fake::DEFAULT_START, 700);
  EXPECT_EQ(RunWait(T("3")), Full(3));
  EXPECT_EQ(fake::ElapsedMillis(), 700 + 2300);
}

// Forward by several seconds at once: still one fall, then one per second.
TEST(Timer, ClockJumpForwardFallsOnce) {
  fake::Reset();
  fake::AddClockJump(1500, 10);
  EXPECT_EQ(RunWait(T("5")), Full(5));
  EXPECT_EQ(fake::ElapsedMillis(), 5000);
}

// Backwards: nothing falls, and counting resumes from the new reading.
TEST(Timer, ClockJumpBackFallsNothing) {
  fake::Reset();
  fake::AddClockJump(1500, -3);
  EXPECT_EQ(RunWait(T("5")), Full(5));
  EXPECT_EQ(fake::ElapsedMillis(), 6000);
}

TEST(Timer, ClockJumpWithKeyboardToo) {
  fake::Reset();
  fake::AddClockJump(500, 3600);
  fake::AddKey(2500, 'x');
  EXPECT_EQ(RunWait(P("5")), Count(5, 2) + Erase(1));
}

// A reading that begins just before the second changes and ends after it
// must not make the wait sleep past the change: every second still counts.
TEST(Timer, SlowClockReadingAtSecondChangeLosesNoSecond) {
  fake::Reset();
  fake::AddKey(1999, 0);  // a lone prefix wakes the wait just before 2000
  fake::AddClockReadDelay(1999, 2);
  EXPECT_EQ(RunWait(P("3")), Full(3));
  EXPECT_LT(fake::ElapsedMillis(), 3100);
}

TEST(Timer, NoKeyboardPauseReturnsAtOnce) {
  fake::Reset();
  fake::SetKeyboard(false);
  fake::AddKey(0, 'x');
  EXPECT_EQ(RunWait(PLAIN), "");
  EXPECT_EQ(fake::ElapsedMillis(), 0);
  EXPECT_EQ(fake::KeyboardOpenCount(), 0);
}

TEST(Timer, NoKeyboardCountdownRunsOut) {
  fake::Reset();
  fake::SetKeyboard(false);
  EXPECT_EQ(RunWait(P("3")), Full(3));
  EXPECT_EQ(fake::ElapsedMillis(), 3000);
  EXPECT_EQ(RunWait(PSC("2")), "");
  EXPECT_FALSE(fake::KeyboardIsOpen());
}

// /T:n reads no key; it only silences the terminal's echo while it counts
// and gives it back afterwards.
TEST(Timer, CountdownWithoutPauseNeverOpensKeyboard) {
  fake::Reset();
  fake::AddKey(100, 'x');
  RunWait(T("2"));
  EXPECT_EQ(fake::KeyboardOpenCount(), 0);
  EXPECT_EQ(fake::KeysLeft(), 1);
  EXPECT_EQ(fake::EchoOffCount(), 1);
  EXPECT_FALSE(fake::EchoIsOff());
}

// A terminal that hangs up while only a key can end the wait ends it, rather
// than waiting for a key that can never come.
TEST(Timer, KeyboardLostAfterEscapeEndsWait) {
  fake::Reset();
  fake::AddKey(1500, ESC);
  fake::LoseKeyboardAt(2000);
  EXPECT_EQ(RunWait(P("5")), Count(5, 1) + Erase(1) + CANCEL);
  EXPECT_FALSE(fake::KeyboardIsOpen());
}

TEST(Timer, KeyboardLostDuringPauseEndsWait) {
  fake::Reset();
  fake::LoseKeyboardAt(4000);
  EXPECT_EQ(RunWait(PLAIN), "");
  EXPECT_FALSE(fake::KeyboardIsOpen());
}

// While counting, a lost keyboard leaves the count to run out.
TEST(Timer, KeyboardLostWhileCountingRunsOut) {
  fake::Reset();
  fake::LoseKeyboardAt(1500);
  fake::AddKey(2500, 'x');
  EXPECT_EQ(RunWait(P("4")), Full(4));
  EXPECT_EQ(fake::ElapsedMillis(), 4000);
}

// The driver places the wait after the message and before its line feed.
TEST(Timer, RunPlacesCountdownBetweenMessageAndLineFeed) {
  fake::Reset();
  const char* aArgs[] = {"zarvo", "Hi", "/T:2"};
  CEchoApp app;
  fake::StdoutCapture capture;
  EXPECT_EQ(app.Run(3, aArgs), 0);
  EXPECT_EQ(capture.Text(), "Hi" + Full(2) + "\n");
}

TEST(Timer, RunAfterEscapeLineFeedFollowsCancelText) {
  fake::Reset();
  fake::AddKey(300, ESC);
  fake::AddKey(400, 'k');
  const char* aArgs[] = {"zarvo", "Hi", "/P:2"};
  CEchoApp app;
  fake::StdoutCapture capture;
  EXPECT_EQ(app.Run(3, aArgs), 0);
  EXPECT_EQ(capture.Text(), std::string("Hi2") + Erase(1) + CANCEL + "\n");
}

}  // namespace
