// The zarvo program as a user runs it: output bytes and exit codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
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

// Output and log failures: each is one line on standard error, the run goes
// on, and only a failed display changes an exit code, and only the 0 of a
// run that chose none. A reader that leaves early costs nothing. Standard
// output and the log otherwise hold what a run without failures gives them.
enum Output { PIPE, FULL, GONE };
enum LogPath { LOG_OK, NO_DIR };

struct FailureCase {
  const char* pszName;
  std::vector<std::string> aArgs;
  Output output;
  LogPath log;
  int nExitCode;
  int nDisplayError;  // errno told for standard output, or 0
  int nLogError;      // errno told for the log, or 0
};

void PrintTo(const FailureCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class FailureE2E : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureE2E, ReportedOnceOnStandardError) {
  const FailureCase& c = GetParam();
  e2e::TempDir dir;
  std::filesystem::create_directory(dir.File("reference"));
  e2e::RunOptions options;
  options.aArgs = c.aArgs;
  options.aEnv = {"ZARVO_LOG=" + dir.File("reference/zarvo.log")};
  e2e::RunResult reference = e2e::Run(options);

  std::string strLog =
      dir.File(c.log == LOG_OK ? "zarvo.log" : "none/zarvo.log");
  options.aEnv = {"ZARVO_LOG=" + strLog};
  options.bDefaultSigpipe = true;  // as a shell starts it
  if (c.output == FULL) options.strStdoutFile = "/dev/full";
  if (c.output == GONE) options.nStdoutLimit = 0;
  e2e::RunResult result = e2e::Run(options);

  std::string strErr;
  if (c.nLogError != 0)
    strErr += "zarvo: cannot write to the log file " + strLog + ": " +
              std::strerror(c.nLogError) + "\n";
  if (c.nDisplayError != 0)
    strErr += std::string("zarvo: cannot write to standard output: ") +
              std::strerror(c.nDisplayError) + "\n";
  EXPECT_EQ(result.strErr, strErr);
  EXPECT_EQ(result.nSignal, 0);
  EXPECT_EQ(result.nExitCode, c.nExitCode);
  if (c.output == PIPE) {
    EXPECT_EQ(result.strOut, reference.strOut);
  }
  if (c.log == LOG_OK) {
    EXPECT_EQ(e2e::ReadFile(strLog),
              e2e::ReadFile(dir.File("reference/zarvo.log")));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FailureE2E,
    ::testing::Values(
        FailureCase{"Full", {"hi"}, FULL, LOG_OK, 1, ENOSPC, 0},
        FailureCase{"FullCode", {"hi", "/E:5"}, FULL, LOG_OK, 5, ENOSPC, 0},
        FailureCase{"FullZero", {"hi", "/E:0"}, FULL, LOG_OK, 0, ENOSPC, 0},
        FailureCase{
            "FullLong", {"/R:5000", "ab", "/E:4"}, FULL, LOG_OK, 4, ENOSPC, 0},
        FailureCase{"FullHelp", {"/?"}, FULL, LOG_OK, 1, ENOSPC, 0},
        FailureCase{"FullSyntax", {"a", "b"}, FULL, LOG_OK, 1, ENOSPC, 0},
        FailureCase{"ReaderGone", {"hi"}, GONE, LOG_OK, 0, 0, 0},
        FailureCase{"LogNoDir", {"hi"}, PIPE, NO_DIR, 0, 0, ENOENT},
        FailureCase{
            "BothFail", {"/SN", "hi"}, FULL, NO_DIR, 1, ENOSPC, ENOENT}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
      return std::string(info.param.pszName);
    });

}  // namespace
