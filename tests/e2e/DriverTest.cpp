// The zarvo program as a user runs it: output bytes and exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Harness.h"

namespace {

TEST(DriverE2E, EchoesMessageWithLineFeed) {
  e2e::RunResult result = e2e::RunArgs({"Hello World"});
  EXPECT_EQ(result.strOut, "Hello World\n");
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, 0);
}

// One accepted command line: what the display gets and the exit code.
struct RunCase {
  const char* pszName;
  std::vector<std::string> aArgs;
  const char* pszOut;
  int nExitCode;
};

class RunSequenceE2E : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunSequenceE2E, DisplayAndExitCode) {
  const RunCase& c = GetParam();
  e2e::RunResult result = e2e::RunArgs(c.aArgs);
  EXPECT_EQ(result.strOut, c.pszOut);
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nSignal, 0);
  EXPECT_EQ(result.nExitCode, c.nExitCode);
}

// Exit codes are what a POSIX shell sees: the low eight bits of the value.
INSTANTIATE_TEST_SUITE_P(
    Runs, RunSequenceE2E,
    ::testing::Values(
        RunCase{"NoArguments", {}, "\n", 0},
        RunCase{"CaseKept", {"Hello World"}, "Hello World\n", 0},
        RunCase{"CaseKeptUnderLowerOptions",
                {"/sn", "MiXeD CaSe"},
                "MiXeD CaSe",
                0},
        RunCase{"UnknownSlashIsMessage", {"/X"}, "/X\n", 0},
        RunCase{"MessageAfterOptions", {"/E:3", "/R:2", "ab"}, "abab\n", 3},
        // /E: with a value and no message skips the message entirely.
        RunCase{"ErrorLevelAlone", {"/E:5"}, "", 5},
        RunCase{"ErrorLevelWithMessage", {"hello", "/E:5"}, "hello\n", 5},
        RunCase{"ErrorLevelEmptyIsAbsent", {"/E:"}, "\n", 0},
        RunCase{"ErrorLevelEmptyWithMessage", {"hello", "/e:"}, "hello\n", 0},
        RunCase{"ErrorLevelNegative", {"/E:-2"}, "", 254},
        RunCase{"ErrorLevelSeven", {"/E:7"}, "", 7},
        RunCase{"ErrorLevelSevenWithMessage", {"x", "/E:7"}, "x\n", 7},
        RunCase{"ErrorLevelZero", {"/E:0"}, "", 0},
        RunCase{"ErrorLevel255", {"/E:255"}, "", 255},
        RunCase{"ErrorLevel256", {"/E:256"}, "", 0},
        RunCase{"ErrorLevelLargest", {"/E:2147483647"}, "", 255},
        RunCase{"ErrorLevelSmallest", {"/E:-2147483648"}, "", 0},
        RunCase{"Repeat", {"/R:3", "ab"}, "ababab\n", 0},
        RunCase{"RepeatOnce", {"/R:1", "ab"}, "ab\n", 0},
        RunCase{"RepeatWithoutNewline", {"/R:2", "/SN", "ab"}, "abab", 0},
        RunCase{"RepeatEmptyMessage", {"/R:4"}, "\n", 0},
        // Formatting comes first, so an escape never spans two copies.
        RunCase{"FormatBeforeRepeat", {"/R:2", "/F", "a\\"}, "a\\a\\\n", 0},
        RunCase{"LogOnlyShowsNothing", {"/LO", "hello"}, "", 0},
        RunCase{"LogOnlyWithoutNewline", {"/LO", "/SN", "hello"}, "", 0},
        RunCase{"NoNewline", {"/SN", "hello"}, "hello", 0},
        RunCase{"NoNewlineEmpty", {"/SN"}, "", 0},
        RunCase{"DisplayOnly", {"/DO", "hello"}, "hello\n", 0},
        RunCase{"IgnoredSwitch", {"/ie"}, "\n", 0},
        RunCase{"IgnoredSwitchWithMessage", {"hi", "/IE"}, "hi\n", 0},
        RunCase{"NewLogWithoutLog", {"/N", "hi"}, "hi\n", 0}),
    [](const ::testing::TestParamInfo<RunCase>& info) {
      return std::string(info.param.pszName);
    });

// Bytes pass through unchanged: a tab, a high byte, a lone carriage return.
TEST(DriverE2E, MessageBytesUnchanged) {
  std::string strMessage = "a\tb\xe9\xff\rc %d \\n";
  e2e::RunResult result = e2e::RunArgs({strMessage});
  EXPECT_EQ(result.strOut, strMessage + "\n");
  EXPECT_EQ(result.nExitCode, 0);
}

}  // namespace
