// Hostile input: what scripts may hand the tool (huge arguments, every byte
// value, escape soup, absurd repeat counts, unusable log paths, closed or
// vanishing output). The tool must refuse or cope without crashing, hanging
// or writing anywhere but its log.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "ExpectedText.h"
#include "Harness.h"

// A sanitizer runtime reserves terabytes of address space up front, so a
// sanitized zarvo cannot start under an address-space limit.
#if defined(__SANITIZE_ADDRESS__)
#define ZARVO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARVO_SANITIZED 1
#endif
#endif

namespace {

typedef std::vector<std::string> Args;

const char* const MEMORY_REPORT =
    "\n\nMemory Allocation Error\n\n"
    "Not enough memory is available for this application.\n\n"
    "Please close some programs to free up memory and try running\n"
    "this application again.\n\n"
    "CString::CreateCharString\n";

const char* const TOO_LONG_LINE =
    "Error:  The number of characters entered on the command line is >= "
    "8189.\n";

e2e::RunOptions Logged(const std::string& strLog, const Args& aArgs) {
  e2e::RunOptions options;
  options.aArgs = aArgs;
  if (!strLog.empty()) options.aEnv.push_back("ZARVO_LOG=" + strLog);
  return options;
}

// Every name below the folder (recursively) with its contents.
std::map<std::string, std::string> Snapshot(const std::string& strFolder) {
  std::map<std::string, std::string> mapFiles;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(strFolder)) {
    mapFiles[entry.path().string()] = entry.is_regular_file()
                                          ? e2e::ReadFile(entry.path().string())
                                          : "<dir>";
  }
  return mapFiles;
}

using expected::LogEntry;
using expected::ReplaceAll;

std::string AllByteValues() {
  std::string strBytes;
  for (int n = 1; n <= 255; ++n) strBytes += char(n);
  return strBytes;
}

// ---------------------------------------------------------- huge arguments

struct HugeCase {
  const char* pszName;
  std::string strArgv0;  // "" for the binary's own path
  Args aArgs;
};

void PrintTo(const HugeCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class HugeArgumentE2E : public ::testing::TestWithParam<HugeCase> {};

// Refused by the length limit before anything is formatted, repeated,
// displayed or logged, whatever the options would have asked for.
TEST_P(HugeArgumentE2E, RefusedWithStatusSixNothingLogged) {
  const HugeCase& c = GetParam();
  e2e::TempDir dir;
  e2e::RunOptions options = Logged(dir.File("zarvo.log"), c.aArgs);
  options.strArgv0 = c.strArgv0;
  e2e::RunResult result = e2e::Run(options);
  EXPECT_EQ(result.nExitCode, 6);
  EXPECT_EQ(result.nSignal, 0);
  EXPECT_EQ(result.strErr, "");
  EXPECT_NE(result.strOut.find(TOO_LONG_LINE), std::string::npos);
  EXPECT_TRUE(Snapshot(dir.Path()).empty());
}

const std::string HUGE_TEXT(100000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Hostile, HugeArgumentE2E,
    ::testing::Values(
        HugeCase{"Message", "", {HUGE_TEXT}},
        HugeCase{"FormattedVariables",
                 "",
                 {"/F",
                  std::string(100000 / 2, '%') + std::string(100000 / 2, 'd')}},
        HugeCase{"RepeatedBillionTimes", "", {"/R:1000000000", HUGE_TEXT}},
        HugeCase{"WithEveryOption",
                 "",
                 {HUGE_TEXT, "/F", "/R:2", "/E:4", "/SN", "/N", "/LO"}},
        HugeCase{"ProgramName", "/opt/" + HUGE_TEXT, {"hello"}},
        HugeCase{"ProgramNameOnly", HUGE_TEXT, {}}),
    [](const ::testing::TestParamInfo<HugeCase>& info) {
      return std::string(info.param.pszName);
    });

// A 100,000-digit number is not a number: a syntax error, nothing logged.
TEST(HostileE2E, HugeNumberIsASyntaxError) {
  e2e::TempDir dir;
  e2e::RunResult result = e2e::Run(
      Logged(dir.File("zarvo.log"), {"hi", "/E:" + std::string(99997, '9')}));
  EXPECT_EQ(result.nExitCode, 1);
  EXPECT_EQ(result.strErr, "");
  EXPECT_NE(result.strOut.find("The value of the '/E:' parameter must be a "
                               "number."),
            std::string::npos);
  EXPECT_TRUE(Snapshot(dir.Path()).empty());
}

// --------------------------------------------------------- every byte value

TEST(HostileE2E, EveryByteValueDisplayedAndLoggedUnchanged) {
  e2e::TempDir dir;
  std::string strMessage = AllByteValues();
  e2e::RunResult result = e2e::Run(Logged(dir.File("zarvo.log"), {strMessage}));
  EXPECT_EQ(result.nExitCode, 0);
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.strOut, strMessage + "\n");
  EXPECT_EQ(e2e::ReadFile(dir.File("zarvo.log")), LogEntry(strMessage));
}

// Single bytes that mean something somewhere (option starts, escapes,
// variables, separators, line ends, high bytes) are plain messages too.
TEST(HostileE2E, SpecialBytesAloneAreMessages) {
  e2e::TempDir dir;
  std::string strLog = dir.File("zarvo.log");
  std::string strExpectedLog;
  for (char ch : std::string("/\\%?:-,~ \t\n\r\x1b\b\x7f\x80\xfe\xff\"'$")) {
    std::string strByte(1, ch);
    e2e::RunResult result = e2e::Run(Logged(strLog, {strByte}));
    int nByte = static_cast<unsigned char>(ch);
    EXPECT_EQ(result.nExitCode, 0) << "byte " << nByte;
    EXPECT_EQ(result.strOut, strByte + "\n") << "byte " << nByte;
    strExpectedLog += LogEntry(strByte);
  }
  EXPECT_EQ(e2e::ReadFile(strLog), strExpectedLog);
}

// ------------------------------------------------------------ escape soup

// The formatter's passes for a message that cannot hold a date or time
// variable: the letters d and t never follow a percent sign.

std::string FormattedWithoutVariables(std::string strText) {
  const std::string strSentinel = "Z$a$r$v$o";
  strText = ReplaceAll(strText, "\\\\", strSentinel);
  const struct {
    const char* pszEscape;
    const char* pszCode;
  } aEscapes[] = {{"\\a", "\a"}, {"\\b", "\b"}, {"\\f", "\f"},
                  {"\\n", "\n"}, {"\\r", "\r"}, {"\\t", "\t"}};
  for (const auto& escape : aEscapes)
    strText = ReplaceAll(strText, escape.pszEscape, escape.pszCode);
  strText = ReplaceAll(strText, strSentinel, "\\");
  strText = ReplaceAll(strText, "%%", strSentinel);
  return ReplaceAll(strText, strSentinel, "%");
}

// Messages of escapes, backslashes and percent signs only, from a fixed
// pseudo-random sequence, up to just under the length limit.
TEST(HostileE2E, EscapesAndPercentSignsOnly) {
  const char* const apszPieces[] = {"\\a", "\\b", "\\f",      "\\n",
                                    "\\r", "\\t", "\\\\",     "\\",
                                    "%",   "%%",  "Z$a$r$v$o"};
  unsigned nState = 12345;
  auto Next = [&nState](unsigned nRange) {
    nState = nState * 1103515245u + 12345u;
    return (nState >> 16) % nRange;
  };
  std::vector<std::string> aMessages = {"%%%%\\\\\\\\", "%\\%\\\\%%%\\n%",
                                        "\\\\\\n%%%", std::string(8000, '%'),
                                        std::string(8001, '\\')};
  for (int nMessage = 0; nMessage < 12; ++nMessage) {
    std::string strMessage;
    std::size_t nLength = nMessage < 10 ? 1 + Next(60) : 7000;
    while (strMessage.size() < nLength) strMessage += apszPieces[Next(11)];
    aMessages.push_back(strMessage);
  }
  e2e::TempDir dir;
  std::string strLog = dir.File("zarvo.log");
  std::string strExpectedLog;
  for (const std::string& strMessage : aMessages) {
    std::string strExpected = FormattedWithoutVariables(strMessage);
    e2e::RunResult result = e2e::Run(Logged(strLog, {"/F", strMessage}));
    EXPECT_EQ(result.nExitCode, 0) << strMessage;
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(result.strOut, strExpected + "\n") << strMessage;
    strExpectedLog += LogEntry(strExpected);
  }
  EXPECT_EQ(e2e::ReadFile(strLog), strExpectedLog);
  // Hand-checked: every protected pair comes back as one character.
  EXPECT_EQ(FormattedWithoutVariables("%%%%\\\\\\\\"), "%%\\\\");
  EXPECT_EQ(FormattedWithoutVariables("\\\\\\n%%%"), "\\\n%%");
  EXPECT_EQ(FormattedWithoutVariables("Z$a$r$v$o%"), "\\%");
}

// ------------------------------------------------------ memory exhaustion

struct MemoryCase {
  const char* pszName;
  Args aArgs;
  long long nAddressSpaceLimit;
};

void PrintTo(const MemoryCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class MemoryE2E : public ::testing::TestWithParam<MemoryCase> {};

// The exact report on standard error, exit code 1, nothing displayed and
// nothing appended to the log.
TEST_P(MemoryE2E, ReportedNothingDisplayedOrLogged) {
  const MemoryCase& c = GetParam();
#ifdef ZARVO_SANITIZED
  if (c.nAddressSpaceLimit > 0)
    GTEST_SKIP() << "a sanitized zarvo cannot run under an address-space limit";
#endif
  e2e::TempDir dir;
  std::string strLog = dir.File("zarvo.log");
  e2e::WriteFile(strLog, "earlier\r\n");
  e2e::RunOptions options = Logged(strLog, c.aArgs);
  options.nAddressSpaceLimit = c.nAddressSpaceLimit;
  e2e::RunResult result = e2e::Run(options);
  EXPECT_EQ(result.strErr, MEMORY_REPORT);
  EXPECT_EQ(result.nExitCode, 1);
  EXPECT_EQ(result.nSignal, 0);
  EXPECT_EQ(result.strOut, "");
  EXPECT_EQ(e2e::ReadFile(strLog), "earlier\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, MemoryE2E,
    ::testing::Values(
        // 2 * 2147483647 bytes: beyond the 2^31-byte limit of a text.
        MemoryCase{"OverTextLimit", {"/R:2147483647", "ab"}, 0},
        MemoryCase{
            "OverTextLimitFormatted", {"/F", "/R:2147483647", "\\r\\n"}, 0},
        // 10^9 bytes under a 256 MiB address space.
        MemoryCase{
            "UnderAddressLimit", {"/R:100000000", "abcdefghij"}, 256LL << 20},
        MemoryCase{"UnderAddressLimitLogOnly",
                   {"/LO", "/R:100000000", "abcdefghij"},
                   256LL << 20}),
    [](const ::testing::TestParamInfo<MemoryCase>& info) {
      return std::string(info.param.pszName);
    });

// 50 MB of line feeds is logged within a 100 MB address space: the entry,
// twice that size, is never built in memory.
TEST(HostileE2E, LargeEntryLoggedInBoundedMemory) {
#ifdef ZARVO_SANITIZED
  GTEST_SKIP() << "a sanitized zarvo cannot run under an address-space limit";
#endif
  e2e::TempDir dir;
  e2e::RunOptions options =
      Logged(dir.File("big.log"), {"/LO", "/F", "/R:50000000", "\\n"});
  options.nAddressSpaceLimit = 100000000;
  e2e::RunResult result = e2e::Run(options);
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, 0);
  EXPECT_EQ(std::filesystem::file_size(dir.File("big.log")), 100000002u);
}

// -------------------------------------------------------- unusable logs

// A log that cannot be written changes nothing on standard output or in
// the exit code; nothing appears in the folder; standard error tells why,
// once per run that had an entry to write.
TEST(HostileE2E, UnusableLogIsReported) {
  e2e::TempDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  const std::vector<std::pair<std::string, int>> aLogs = {
      {dir.File("folder"), EISDIR},
      {"/dev/full", ENOSPC},
      {dir.File("missing/parent/zarvo.log"), ENOENT},
      {dir.File(std::string(4000, 'n')), ENAMETOOLONG},
      {dir.File(std::string(4000, 'n') + "/zarvo.log"), ENAMETOOLONG}};
  const std::vector<Args> aRuns = {
      {"hello"}, {AllByteValues(), "/E:9"}, {"/SN", "/R:3", "/F", "a\\tb"},
      {"/E:4"},  {"Wait", "/P:1"},          {"/T:1", "/SN", "Wait"}};
  std::map<std::string, std::string> mapBefore = Snapshot(dir.Path());
  for (const Args& aArgs : aRuns) {
    // The runs with a wait take a second each: all at once.
    e2e::RunResult expected;
    std::vector<e2e::RunResult> aResults(aLogs.size());
    std::vector<std::thread> aThreads;
    aThreads.emplace_back([&] { expected = e2e::Run(Logged("", aArgs)); });
    for (std::size_t i = 0; i < aLogs.size(); ++i)
      aThreads.emplace_back(
          [&, i] { aResults[i] = e2e::Run(Logged(aLogs[i].first, aArgs)); });
    for (std::thread& thread : aThreads) thread.join();
    for (std::size_t i = 0; i < aLogs.size(); ++i) {
      const auto& log = aLogs[i];
      const e2e::RunResult& result = aResults[i];
      std::string strWhat = log.first.substr(0, 60) + " with " + aArgs[0];
      std::string strErr = "zarvo: cannot write to the log file " + log.first +
                           ": " + std::strerror(log.second) + "\n";
      EXPECT_EQ(result.strOut, expected.strOut) << strWhat;
      EXPECT_TRUE(result.strErr == (aArgs[0] == "/E:4" ? "" : strErr))
          << strWhat << ": " << result.strErr.substr(0, 100);
      EXPECT_EQ(result.nExitCode, expected.nExitCode) << strWhat;
      EXPECT_EQ(result.nSignal, 0) << strWhat;
    }
  }
  EXPECT_EQ(Snapshot(dir.Path()), mapBefore);
}

// ----------------------------------------------------- standard output

// With standard output closed the first file the tool opens gets its
// descriptor: the log must still receive exactly its entry and nothing of
// the display, and the failed display is told on standard error.
TEST(HostileE2E, ClosedStandardOutput) {
  const struct {
    Args aArgs;
    const char* pszEntry;  // "": no log file at all
    int nExitCode;
  } aCases[] = {{{"hello"}, "hello\r\n", 1},
                {{"/SN", "/R:3", "ab"}, "ababab", 1},
                {{"/F", "a\\nb", "/E:5"}, "a\r\nb\r\n", 5},
                {{"/?"}, "", 1},
                {{"/T:1", "tick"}, "tick\r\n", 1}};
  for (const auto& c : aCases) {
    e2e::TempDir dir;
    e2e::RunOptions options = Logged(dir.File("zarvo.log"), c.aArgs);
    options.bCloseStdout = true;
    e2e::RunResult result = e2e::Run(options);
    EXPECT_EQ(result.nExitCode, c.nExitCode) << c.aArgs[0];
    EXPECT_EQ(result.nSignal, 0) << c.aArgs[0];
    EXPECT_EQ(result.strOut, "");
    EXPECT_EQ(result.strErr,
              "zarvo: cannot write to standard output: Bad file descriptor\n");
    bool bExists = false;
    std::string strLogged = e2e::ReadFile(dir.File("zarvo.log"), &bExists);
    EXPECT_EQ(strLogged, c.pszEntry) << c.aArgs[0];
    EXPECT_EQ(bExists, c.pszEntry[0] != '\0') << c.aArgs[0];
  }
}

// A reader that goes away after a few bytes (as "| head -c 10" does), with
// the broken-pipe signal as a shell leaves it or ignored: the run goes on to
// its normal exit code with its log entry complete, and says nothing.
TEST(HostileE2E, ReaderThatExitsEarly) {
  const Args aArgs = {"/R:100000", "abcdefghij", "/E:3"};
  for (bool bDefaultSigpipe : {true, false}) {
    e2e::TempDir dir;
    e2e::RunOptions options = Logged(dir.File("zarvo.log"), aArgs);
    options.nStdoutLimit = 10;
    options.bDefaultSigpipe = bDefaultSigpipe;
    e2e::RunResult result = e2e::Run(options);
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(result.strOut.compare(0, 10, "abcdefghij"), 0);
    EXPECT_EQ(result.nSignal, 0);
    EXPECT_EQ(result.nExitCode, 3);
    EXPECT_EQ(e2e::ReadFile(dir.File("zarvo.log")).size(), 1000000u + 2u);
  }
}

// A reader that has gone before the usage screen is written.
TEST(HostileE2E, ReaderGoneBeforeUsageScreen) {
  for (bool bDefaultSigpipe : {true, false}) {
    e2e::RunOptions options;
    options.aArgs = {"/?"};
    options.nStdoutLimit = 0;
    options.bDefaultSigpipe = bDefaultSigpipe;
    e2e::RunResult result = e2e::Run(options);
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(result.nSignal, 0);
    EXPECT_EQ(result.nExitCode, 0);
  }
}

}  // namespace
