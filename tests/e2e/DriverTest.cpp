// The zarvo program as a user runs it: output bytes and exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <ostream>
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

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const RunCase& c, std::ostream* pOut) { *pOut << c.pszName; }

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

// Messages around the size of the output buffer, and repeated ones far
// beyond it, arrive whole and in order.
TEST(DriverE2E, LongOutputWhole) {
  for (std::size_t nSize : {4095u, 4096u, 4097u, 8182u}) {
    std::string strMessage;
    for (std::size_t i = 0; i < nSize; ++i)
      strMessage += char('a' + i * 7 % 26);
    e2e::RunResult result = e2e::RunArgs({strMessage});
    EXPECT_EQ(result.strOut, strMessage + "\n") << nSize;
  }
  std::string strPart(5000, 'x');
  strPart[0] = '<';
  strPart[4999] = '>';
  e2e::RunResult result = e2e::RunArgs({"/R:30", strPart});
  std::string strExpected;
  for (int i = 0; i < 30; ++i) strExpected += strPart;
  EXPECT_EQ(result.strOut, strExpected + "\n");
  EXPECT_EQ(result.nExitCode, 0);
}

// Runs zarvo with standard output on a given file, or closed (null).
int ExitCodeWithStdout(const char* pszPath, std::vector<std::string> aArgs) {
  posix_spawn_file_actions_t tActions;
  posix_spawn_file_actions_init(&tActions);
  if (pszPath != nullptr)
    posix_spawn_file_actions_addopen(&tActions, 1, pszPath, O_WRONLY, 0);
  else
    posix_spawn_file_actions_addclose(&tActions, 1);
  std::string strBinary = e2e::BinaryPath();
  std::vector<char*> aArgv = {&strBinary[0]};
  for (std::string& strArg : aArgs) aArgv.push_back(&strArg[0]);
  aArgv.push_back(nullptr);
  char* apEnv[] = {nullptr};
  pid_t nPid = 0;
  int nStatus = 0;
  if (posix_spawn(&nPid, strBinary.c_str(), &tActions, nullptr, aArgv.data(),
                  apEnv) != 0 ||
      waitpid(nPid, &nStatus, 0) != nPid)
    nStatus = -1;
  posix_spawn_file_actions_destroy(&tActions);
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// A display that refuses the text (a full device, a closed output) changes
// neither the exit code nor ends the run early.
TEST(DriverE2E, RefusedDisplayKeepsExitCode) {
  EXPECT_EQ(ExitCodeWithStdout("/dev/full", {"hello", "/E:3"}), 3);
  EXPECT_EQ(ExitCodeWithStdout("/dev/full", {"/R:5000", "abc", "/E:4"}), 4);
  EXPECT_EQ(ExitCodeWithStdout("/dev/full", {"/?"}), 0);
  EXPECT_EQ(ExitCodeWithStdout(nullptr, {"hello", "/E:5"}), 5);
  EXPECT_EQ(ExitCodeWithStdout(nullptr, {"a", "b"}), 1);
}

}  // namespace
