// CErrorReporter: the report of every code on standard error, the cut of a
// location too long for the report area, and what each severity does next.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ErrorReporter.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
// The Windows C runtime's pipe also takes a buffer size and a mode.
inline int pipe(int* pnFds) { return _pipe(pnFds, 4096, _O_BINARY); }
#endif

namespace {

const char kMemoryLines[] =
    "Memory Allocation Error\n\n"
    "Not enough memory is available for this application.\n\n"
    "Please close some programs to free up memory and try running\n"
    "this application again.\n\n";
const char kParseClosing[] =
    "The data file may not be in the correct format or it may be corrupt.\n\n";
const char kPrompt[] = "\nContinue anyway? ";

// What ReportError writes: "\n", the composed text (itself starting with a
// newline), "\n".
std::string Written(const std::string& strText) {
  return "\n" + strText + "\n";
}

// Standard error of a call that returns.
std::string ReportReturning(int nSeverity, int nCode, const char* pszLocation) {
  testing::internal::CaptureStderr();
  CErrorReporter reporter;
  reporter.ReportError(nSeverity, nCode, pszLocation);
  return testing::internal::GetCapturedStderr();
}

// An anchored regular expression that matches exactly this text.
std::string ExactRegex(const std::string& strText) {
  std::string strRegex = "^";
  for (char ch : strText) {
    if (std::strchr(".[]{}()\\*+?^$|", ch) != nullptr) strRegex += '\\';
    strRegex += ch;
  }
  return strRegex + "$";
}

// Replaces this process's standard input by a pipe that holds pszInput and
// then ends. Used inside death-test children only.
void FeedStdin(const char* pszInput) {
  int aFds[2];
  if (pipe(aFds) != 0) std::_Exit(90);
  ssize_t nLength = ssize_t(std::strlen(pszInput));
  if (write(aFds[1], pszInput, size_t(nLength)) != nLength) std::_Exit(91);
  close(aFds[1]);
  dup2(aFds[0], STDIN_FILENO);
  close(aFds[0]);
  std::clearerr(stdin);
}

// ------------------------------------------------------------ every code

struct CodeCase {
  int nCode;
  const char* pszLocation;
  std::string strText;  // the composed text after its leading newline
};

class ReportTextTable : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ReportTextTable, WrittenExactlyAndReturnsForSeverityOne) {
  const CodeCase& c = GetParam();
  EXPECT_EQ(ReportReturning(1, c.nCode, c.pszLocation),
            Written("\n" + c.strText));
}

const char kLoc[] = "CFile::Open";

INSTANTIATE_TEST_SUITE_P(
    Codes, ReportTextTable,
    ::testing::Values(
        CodeCase{ERR_GENERAL_SYSTEM, kLoc,
                 std::string("General System Error\n\n") + kLoc},
        CodeCase{ERR_GENERAL_PROGRAM, kLoc,
                 std::string("General Program Error\n\n") + kLoc},
        CodeCase{ERR_MESSAGE_ONLY, kLoc, kLoc},
        CodeCase{ERR_MESSAGE_ONLY, "", ""},
        CodeCase{ERR_MEMORY_ALLOCATION, "CString::CreateCharString",
                 std::string(kMemoryLines) + "CString::CreateCharString"},
        CodeCase{ERR_FILE_OPEN, kLoc,
                 std::string("File Open Error\n\nUnable to open file...\n\n") +
                     kLoc},
        CodeCase{
            ERR_FILE_READ, kLoc,
            std::string("File Read Error\n\nUnable to read from file...\n\n") +
                kLoc},
        CodeCase{
            ERR_FILE_WRITE, kLoc,
            std::string("File Write Error\n\nUnable to write to file...\n\n") +
                kLoc},
        CodeCase{
            ERR_FILE_CLOSE, kLoc,
            std::string("File Close Error\n\nUnable to close file...\n\n") +
                kLoc},
        CodeCase{
            ERR_PARSE, kLoc,
            std::string("Parse Error\n\nUnable to parse data file...\n\n") +
                kLoc + "\n\n" + kParseClosing},
        CodeCase{
            ERR_PARSE, "",
            std::string("Parse Error\n\nUnable to parse data file...\n\n") +
                kParseClosing},
        CodeCase{
            ERR_PARSE, nullptr,
            std::string("Parse Error\n\nUnable to parse data file...\n\n") +
                kParseClosing},
        CodeCase{ERR_TCPIP, kLoc, std::string("TCP/IP Error\n\n") + kLoc},
        // Unknown codes write the newlines alone and ignore the location.
        CodeCase{0, kLoc, ""}, CodeCase{11, kLoc, ""}, CodeCase{-4, kLoc, ""}));

TEST(ReportText, UnknownCodeIsThreeNewlines) {
  EXPECT_EQ(ReportReturning(1, 99, "ignored"), "\n\n\n");
}

TEST(ReportText, MemoryTextLeavesRoomForTheLongestLocation) {
  // 166 bytes of fixed text, so a location of 345 fits the 512-byte area.
  char szText[512];
  CErrorReporter::ComposeReport(ERR_MEMORY_ALLOCATION, "", szText,
                                sizeof szText);
  EXPECT_EQ(std::strlen(szText), 166u);
  std::string strLocation(345, 'L');
  CErrorReporter::ComposeReport(ERR_MEMORY_ALLOCATION, strLocation.c_str(),
                                szText, sizeof szText);
  EXPECT_EQ(std::string(szText),
            "\n" + std::string(kMemoryLines) + strLocation);
}

// --------------------------------------------------- cutting the location

TEST(ReportCut, LongLocationIsCutToTheArea) {
  std::string strLocation(2000, 'L');
  std::string strFixed = "\n" + std::string(kMemoryLines);
  std::string strExpected = strFixed + std::string(511 - strFixed.size(), 'L');
  char szText[600];
  std::memset(szText, '#', sizeof szText);
  CErrorReporter::ComposeReport(ERR_MEMORY_ALLOCATION, strLocation.c_str(),
                                szText, 512);
  EXPECT_EQ(std::string(szText), strExpected);
  for (std::size_t i = 512; i < sizeof szText; ++i)
    ASSERT_EQ(szText[i], '#') << "written past the area at " << i;
  EXPECT_EQ(ReportReturning(1, ERR_MEMORY_ALLOCATION, strLocation.c_str()),
            Written(strExpected));
}

TEST(ReportCut, MessageOnlyFillsTheWholeArea) {
  std::string strLocation(600, 'm');
  EXPECT_EQ(ReportReturning(1, ERR_MESSAGE_ONLY, strLocation.c_str()),
            Written("\n" + std::string(510, 'm')));
}

TEST(ReportCut, ParseReportKeepsItsClosingSentence) {
  // The location stands in the middle of a parse report: it is what gets
  // cut, so the advice after it is still printed whole.
  std::string strLocation(700, 'p');
  char szText[512];
  CErrorReporter::ComposeReport(ERR_PARSE, strLocation.c_str(), szText,
                                sizeof szText);
  std::string strText(szText);
  EXPECT_EQ(strText.size(), 511u);
  std::string strTail = "\n\n" + std::string(kParseClosing);
  ASSERT_GE(strText.size(), strTail.size());
  EXPECT_EQ(strText.substr(strText.size() - strTail.size()), strTail);
  EXPECT_EQ(
      strText.rfind("\nParse Error\n\nUnable to parse data file...\n\npp", 0),
      0u);
}

TEST(ReportCut, TinyAreasStayTerminated) {
  char szText[8];
  std::memset(szText, '#', sizeof szText);
  CErrorReporter::ComposeReport(ERR_GENERAL_SYSTEM, "loc", szText, 0);
  EXPECT_EQ(szText[0], '#');  // nothing at all fits
  CErrorReporter::ComposeReport(ERR_GENERAL_SYSTEM, "loc", szText, 1);
  EXPECT_STREQ(szText, "");
  CErrorReporter::ComposeReport(ERR_GENERAL_SYSTEM, "loc", szText, 8);
  EXPECT_STREQ(szText, "\nGenera");
  CErrorReporter::ComposeReport(ERR_PARSE, "loc", szText, 8);
  EXPECT_STREQ(szText, "\nParse ");
}

// ------------------------------------------------------------- severities

TEST(ReportSeverity, OtherSeveritiesReturn) {
  for (int nSeverity : {1, 3, -1, 100}) {
    EXPECT_EQ(ReportReturning(nSeverity, ERR_MESSAGE_ONLY, "note"),
              "\n\nnote\n")
        << nSeverity;
  }
}

using ReportSeverityDeathTest = ::testing::Test;

void WriteCleanupMark() { std::fputs("clean-up ran\n", stderr); }

TEST_F(ReportSeverityDeathTest, FatalExitsWithOneAfterTheReport) {
  const std::string strReport =
      Written("\n" + std::string(kMemoryLines) + "CString::CreateCharString");
  EXPECT_EXIT(
      {
        CErrorReporter reporter;
        reporter.ReportError(SEVERITY_FATAL, ERR_MEMORY_ALLOCATION,
                             "CString::CreateCharString");
        std::_Exit(42);  // not reached
      },
      ::testing::ExitedWithCode(1), ExactRegex(strReport));
}

TEST_F(ReportSeverityDeathTest, FatalTakesTheNormalExitPath) {
  // Registered clean-ups run after the report.
  EXPECT_EXIT(
      {
        std::atexit(WriteCleanupMark);
        CErrorReporter reporter;
        reporter.ReportError(SEVERITY_FATAL, ERR_GENERAL_PROGRAM, "X::Y");
      },
      ::testing::ExitedWithCode(1),
      ExactRegex(Written("\nGeneral Program Error\n\nX::Y") +
                 "clean-up ran\n"));
}

TEST_F(ReportSeverityDeathTest, FatalWithUnknownCode) {
  EXPECT_EXIT(
      {
        CErrorReporter reporter;
        reporter.ReportError(SEVERITY_FATAL, 0, "unused");
      },
      ::testing::ExitedWithCode(1), ExactRegex("\n\n\n"));
}

// Answers to the prompt: (input, whether the call returns).
struct AskCase {
  const char* pszInput;
  bool bReturns;
};

class ReportAskDeathTest : public ::testing::TestWithParam<AskCase> {};

TEST_P(ReportAskDeathTest, OnlyYesAsFirstAnswerReturns) {
  const AskCase& c = GetParam();
  const std::string strOutput = Written("\nsure?") + kPrompt;
  EXPECT_EXIT(
      {
        FeedStdin(c.pszInput);
        CErrorReporter reporter;
        reporter.ReportError(SEVERITY_ASK, ERR_MESSAGE_ONLY, "sure?");
        std::exit(42);
      },
      ::testing::ExitedWithCode(c.bReturns ? 42 : 1), ExactRegex(strOutput));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ReportAskDeathTest,
    ::testing::Values(AskCase{"y n", true}, AskCase{"Y N", true},
                      AskCase{"yn", true}, AskCase{" \n\ty\nn\n", true},
                      AskCase{"yes", true}, AskCase{"y", true},
                      AskCase{"n y", false}, AskCase{"N", false},
                      AskCase{"x y", false}, AskCase{"", false},
                      AskCase{" \n\t ", false}));

TEST_F(ReportSeverityDeathTest, AskReadsExactlyTwoAnswers) {
  // The third character stays in standard input for whoever reads next.
  EXPECT_EXIT(
      {
        FeedStdin("y n z");
        CErrorReporter reporter;
        reporter.ReportError(SEVERITY_ASK, ERR_MESSAGE_ONLY, "");
        char cNext = 0;
        std::exit(std::scanf(" %c", &cNext) == 1 && cNext == 'z' ? 42 : 43);
      },
      ::testing::ExitedWithCode(42), "");
}

// Exits with 42 when the next answer in standard input is 'z'.
void ExitWhetherZIsNext() {
  char cNext = 0;
  std::_Exit(std::scanf(" %c", &cNext) == 1 && cNext == 'z' ? 42 : 43);
}

TEST_F(ReportSeverityDeathTest, AskReadsBothAnswersBeforeNo) {
  // The exit of a "no" runs the registered clean-ups, which look at what
  // the prompt left behind.
  EXPECT_EXIT(
      {
        FeedStdin("n y z");
        std::atexit(ExitWhetherZIsNext);
        CErrorReporter reporter;
        reporter.ReportError(SEVERITY_ASK, ERR_MESSAGE_ONLY, "");
      },
      ::testing::ExitedWithCode(42), "");
}

TEST_F(ReportSeverityDeathTest, AskWithoutStandardInputExitsWithOne) {
  EXPECT_EXIT(
      {
        close(STDIN_FILENO);
        std::clearerr(stdin);
        CErrorReporter reporter;
        reporter.ReportError(SEVERITY_ASK, ERR_GENERAL_SYSTEM, "Sys::Call");
        std::exit(42);
      },
      ::testing::ExitedWithCode(1),
      ExactRegex(Written("\nGeneral System Error\n\nSys::Call") + kPrompt));
}

}  // namespace
