// What zarvo prints when it does not run a message: the help screen and the
// reports for a command line it refuses, byte for byte, with exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "Harness.h"

namespace {

// The help screen exactly as "C:\Tools\Sample.EXE /?" shows it.
const char* const HELP_FILE = "help-sample.txt";
const char* const SAMPLE_PATH = "C:\\Tools\\Sample.EXE";

// Replaces the single occurrence of strOld; fails the test when there is
// not exactly one.
void ReplaceOnce(std::string& strText, const std::string& strOld,
                 const std::string& strNew) {
  std::size_t nAt = strText.find(strOld);
  ASSERT_NE(nAt, std::string::npos) << strOld;
  ASSERT_EQ(strText.find(strOld, nAt + 1), std::string::npos) << strOld;
  strText.replace(nAt, strOld.size(), strNew);
}

// The help screen for another program name: the name appears in the banner
// and on the first usage line, and sets the continuation indent.
std::string HelpFor(const std::string& strName) {
  std::string strText = e2e::ExpectedFile(HELP_FILE);
  ReplaceOnce(strText, " SAmple version ", " " + strName + " version ");
  ReplaceOnce(strText, "\n     SAmple [message]",
              "\n     " + strName + " [message]");
  ReplaceOnce(strText, "\n" + std::string(5 + 6 + 10, ' ') + " [/N]",
              "\n" + std::string(5 + strName.size() + 10, ' ') + " [/N]");
  return strText;
}

e2e::RunResult RunAs(const std::string& strArgv0,
                     const std::vector<std::string>& aArgs) {
  e2e::RunOptions options;
  options.strArgv0 = strArgv0;
  options.aArgs = aArgs;
  return e2e::Run(options);
}

// ------------------------------------------------------------ help screen

TEST(HelpE2E, WholeScreenByteExact) {
  std::string strHelp = e2e::ExpectedFile(HELP_FILE);
  // Seven banner lines, forty-eight usage lines, two of which wrap.
  ASSERT_EQ(std::count(strHelp.begin(), strHelp.end(), '\n'), 7 + 48 + 2);
  e2e::RunResult result = RunAs(SAMPLE_PATH, {"/?"});
  EXPECT_EQ(result.strOut, strHelp);
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, 0);
}

// The name is the file name without folder and extension, its first two
// characters upper case and the rest lower case; its length sets the indent.
struct NameCase {
  const char* pszArgv0;
  const char* pszName;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const NameCase& c, std::ostream* pOut) { *pOut << c.pszArgv0; }

class HelpNameE2E : public ::testing::TestWithParam<NameCase> {};

TEST_P(HelpNameE2E, BannerNameAndIndent) {
  e2e::RunResult result = RunAs(GetParam().pszArgv0, {"/?"});
  EXPECT_EQ(result.strOut, HelpFor(GetParam().pszName));
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Names, HelpNameE2E,
    ::testing::Values(NameCase{"C:\\Tools\\Sample.EXE", "SAmple"},
                      NameCase{"/usr/local/bin/ZARVO", "ZArvo"},
                      NameCase{"./zarvo.exe", "ZArvo"},
                      NameCase{"C:\\x.exe", "X"},
                      NameCase{"dir/a.b/LongerToolName", "LOngertoolname"},
                      NameCase{"C:\\dir\\.exe", ""}));

// "/?" wins over conflicts and over arguments that match nothing after it.
TEST(HelpE2E, HelpWinsWhenRecognised) {
  for (std::vector<std::string> aArgs :
       {std::vector<std::string>{"/?", "a", "b"},
        {"/?", "/LO", "/DO"},
        {"hello", "/?"},
        {"/SC", "/?"}}) {
    e2e::RunResult result = RunAs(SAMPLE_PATH, aArgs);
    EXPECT_EQ(result.strOut, e2e::ExpectedFile(HELP_FILE)) << aArgs[0];
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(result.nExitCode, 0) << aArgs[0];
  }
}

// ------------------------------------------------------- syntax errors

struct SyntaxCase {
  const char* pszName;
  std::vector<std::string> aArgs;
  const char* pszReport;  // the lines after "\nSyntax Error\n\n"
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SyntaxCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class SyntaxErrorE2E : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(SyntaxErrorE2E, HelpThenReportExitOne) {
  const SyntaxCase& c = GetParam();
  e2e::RunResult result = RunAs(SAMPLE_PATH, c.aArgs);
  EXPECT_EQ(result.strOut,
            e2e::ExpectedFile(HELP_FILE) + "\nSyntax Error\n\n" + c.pszReport);
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, SyntaxErrorE2E,
    ::testing::Values(
        // Code 1: the argument exactly as typed.
        SyntaxCase{"TwoFreeWords",
                   {"hello", "world"},
                   "The 'world' parameter is invalid.\n"},
        SyntaxCase{"InvalidKeepsCase",
                   {"hello", "WoRlD"},
                   "The 'WoRlD' parameter is invalid.\n"},
        SyntaxCase{"HelpAfterFreeWord",
                   {"a", "b", "/?"},
                   "The 'b' parameter is invalid.\n"},
        SyntaxCase{"RepeatedSwitch",
                   {"hello", "/SN", "/SN"},
                   "The '/SN' parameter is invalid.\n"},
        // Code 1 raised by the driver for values below 1.
        SyntaxCase{"PauseZero", {"/P:0"}, "The '/P:' parameter is invalid.\n"},
        SyntaxCase{
            "TimerNegative", {"/T:-3"}, "The '/T:' parameter is invalid.\n"},
        SyntaxCase{
            "RepeatZero", {"/R:0", "x"}, "The '/R:' parameter is invalid.\n"},
        SyntaxCase{"RepeatEmpty", {"/R:"}, "The '/R:' parameter is invalid.\n"},
        SyntaxCase{"PauseCheckedBeforeRepeat",
                   {"/R:0", "/P:0"},
                   "The '/P:' parameter is invalid.\n"},
        // Code 4.
        SyntaxCase{"RepeatNotNumber",
                   {"/R:x", "ab"},
                   "The value of the '/R:' parameter must be a number.\n"},
        SyntaxCase{"ErrorLevelOutOfRange",
                   {"/E:2147483648"},
                   "The value of the '/E:' parameter must be a number.\n"},
        SyntaxCase{"ErrorLevelWithPlus",
                   {"/e:+5"},
                   "The value of the '/E:' parameter must be a number.\n"},
        // Code 5: the registered names, whatever case was typed.
        SyntaxCase{"LogOnlyDisplayOnly",
                   {"/LO", "/DO"},
                   "The '/LO' parameter cannot be used with the '/DO' "
                   "parameter.\n"},
        SyntaxCase{"ConflictNamesRegistered",
                   {"msg", "/do", "/lo"},
                   "The '/LO' parameter cannot be used with the '/DO' "
                   "parameter.\n"},
        SyntaxCase{"PauseAndTimer",
                   {"/P", "/T:5"},
                   "The '/P' parameter cannot be used with the '/T:' "
                   "parameter.\n"},
        // Code 6: one companion on one line, a list on two.
        SyntaxCase{"FormatWithoutMessage",
                   {"/F"},
                   "The '/F' parameter requires the 'message' parameter.\n"},
        SyntaxCase{"SilentCountdownAlone",
                   {"/SC"},
                   "The '/SC' parameter requires at least one of the "
                   "following\nparameters:  /P: /T:\n"},
        SyntaxCase{"SilentCountdownWithPlainPause",
                   {"/SC", "/P", "hi"},
                   "The '/SC' parameter requires at least one of the "
                   "following\nparameters:  /P: /T:\n"}),
    [](const ::testing::TestParamInfo<SyntaxCase>& info) {
      return std::string(info.param.pszName);
    });

// ---------------------------------------------------- command-line length

const char* const TOO_LONG_REPORT =
    "\n"
    "Error:  The number of characters entered on the command line is >= "
    "8189.\n"
    "        This program is limited to 8188 characters on the command "
    "line.\n"
    "\n";

// The count is the name's length plus, for each argument, one blank, the
// option name and its value: 5 + 1 + 8182 = 8188 is the longest accepted.
struct LengthCase {
  const char* pszName;
  std::vector<std::string> aArgs;
  int nExitCode;  // 6 when refused
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const LengthCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class LengthE2E : public ::testing::TestWithParam<LengthCase> {};

TEST_P(LengthE2E, LimitForFiveCharacterName) {
  const LengthCase& c = GetParam();
  e2e::RunResult result = RunAs("/opt/bin/zarvo", c.aArgs);
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, c.nExitCode);
  if (c.nExitCode == 6) {
    EXPECT_EQ(result.strOut, HelpFor("ZArvo") + TOO_LONG_REPORT);
  } else {
    EXPECT_EQ(result.strOut, c.aArgs[0] + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundary, LengthE2E,
    ::testing::Values(
        LengthCase{"Accepted8182", {std::string(8182, 'm')}, 0},
        LengthCase{"Refused8183", {std::string(8183, 'm')}, 6},
        // Options count too: 5 + (1 + 8177) + (1 + 3 + 1) = 8188.
        LengthCase{"AcceptedWithOption", {std::string(8177, 'm'), "/E:3"}, 3},
        LengthCase{"RefusedWithOption", {std::string(8178, 'm'), "/E:3"}, 6}),
    [](const ::testing::TestParamInfo<LengthCase>& info) {
      return std::string(info.param.pszName);
    });

}  // namespace
