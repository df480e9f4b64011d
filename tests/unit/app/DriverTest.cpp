// The command-line stage of the driver: what the option table accepts and
// how the fields are mapped.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "EchoApp.h"
#include "FakePlatform.h"

namespace {

struct ParseOutcome {
  int nStatus;
  int nCode;
  std::string strName;
  std::string strOther;
};

ParseOutcome Parse(CEchoApp& app, std::vector<const char*> aArgs) {
  aArgs.insert(aArgs.begin(), "C:\\Tools\\zarvo.exe");
  int nCode = 0;
  CString strName, strOther;
  int nStatus = app.ParseCommandLine(int(aArgs.size()), aArgs.data(), nCode,
                                     strName, strOther);
  return {nStatus, nCode, strName.GetString(), strOther.GetString()};
}

struct ParseCase {
  std::vector<const char*> aArgs;
  int nStatus;
  int nCode;
  const char* pszName;
  const char* pszOther;
};

class ParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, StatusAndError) {
  const ParseCase& c = GetParam();
  CEchoApp app;
  ParseOutcome outcome = Parse(app, c.aArgs);
  EXPECT_EQ(outcome.nStatus, c.nStatus);
  EXPECT_EQ(outcome.nCode, c.nCode);
  EXPECT_EQ(outcome.strName, c.pszName);
  EXPECT_EQ(outcome.strOther, c.pszOther);
}

INSTANTIATE_TEST_SUITE_P(
    OptionTable, ParseTable,
    ::testing::Values(ParseCase{{}, 0, 0, "", ""},
                      ParseCase{{"hello", "/E:5"}, 0, 0, "", ""},
                      ParseCase{{"/?", "a", "b"}, 7, 0, "", ""},
                      ParseCase{{"/? ", "/LO", "/DO"}, 1, 5, "/LO", "/DO"},
                      ParseCase{{"/?", "/LO", "/DO"}, 7, 0, "", ""},
                      ParseCase{{"a", "b", "/?"}, 1, 1, "b", ""},
                      ParseCase{{"hello", "world"}, 1, 1, "world", ""},
                      ParseCase{{"/P:0"}, 1, 1, "/P:", ""},
                      ParseCase{{"/T:-3"}, 1, 1, "/T:", ""},
                      ParseCase{{"/R:0"}, 1, 1, "/R:", ""},
                      ParseCase{{"/R:"}, 1, 1, "/R:", ""},
                      ParseCase{{"/R:x"}, 1, 4, "/R:", ""},
                      ParseCase{{"/E:2147483648"}, 1, 4, "/E:", ""},
                      ParseCase{{"/F"}, 1, 6, "/F", "message"},
                      ParseCase{{"/SC"}, 1, 6, "/SC", "/P:,/T:"},
                      ParseCase{{"/LO", "/DO"}, 1, 5, "/LO", "/DO"},
                      ParseCase{{"/P", "/T:5"}, 1, 5, "/P", "/T:"},
                      ParseCase{{"/p:2", "/sc", "x"}, 0, 0, "", ""},
                      ParseCase{{"/ie"}, 0, 0, "", ""}));

TEST(Driver, MapsFieldsAndKeepsMessageCase) {
  CEchoApp app;
  ASSERT_EQ(
      Parse(app, {"Hello World", "/f", "/r:3", "/e:-2", "/p:4", "/SN"}).nStatus,
      0);
  EXPECT_STREQ(app.m_strProgramName.GetString(), "ZArvo");
  EXPECT_STREQ(app.m_strMessage.GetString(), "Hello World");
  EXPECT_TRUE(app.m_bMessage && app.m_bFormat && app.m_bRepeat && app.m_bPause);
  EXPECT_TRUE(app.m_bNoNewline);
  EXPECT_STREQ(app.m_strRepeat.GetString(), "3");
  EXPECT_STREQ(app.m_strErrorLevel.GetString(), "-2");
  EXPECT_STREQ(app.m_strTimer.GetString(), "4");
  EXPECT_EQ(app.m_nCmdLength, 5 + 12 + 3 + 5 + 6 + 5 + 4);
}

// Syntax-error reports that the option table never produces (no option is
// required or refuses an empty value) still have their wording.
struct SyntaxReportCase {
  int nCode;
  const char* pszName;
  const char* pszOther;
  const char* pszLine;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SyntaxReportCase& c, std::ostream* pOut) {
  *pOut << c.nCode;
}

class SyntaxReportTable : public ::testing::TestWithParam<SyntaxReportCase> {};

TEST_P(SyntaxReportTable, Wording) {
  const SyntaxReportCase& c = GetParam();
  CEchoApp app;
  fake::StdoutCapture out;
  app.ShowSyntaxError(c.nCode, c.pszName, c.pszOther);
  EXPECT_EQ(out.Text(), std::string("\nSyntax Error\n\n") + c.pszLine);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SyntaxReportTable,
    ::testing::Values(
        SyntaxReportCase{2, "message", "",
                         "The 'message' parameter is required.\n"},
        SyntaxReportCase{
            3, "/R:", "",
            "The value of the '/R:' parameter must not be empty.\n"},
        SyntaxReportCase{6, "/X", "/A,/B,/C",
                         "The '/X' parameter requires at least one of the "
                         "following\nparameters:  /A /B /C\n"},
        SyntaxReportCase{6, "/X", "",
                         "The '/X' parameter requires the '' parameter.\n"},
        SyntaxReportCase{0, "/X", "/Y", "\n"},
        SyntaxReportCase{7, "/X", "/Y", "\n"}));

struct ErrorReportCase {
  int nStatus;
  const char* pszText;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ErrorReportCase& c, std::ostream* pOut) {
  *pOut << c.nStatus;
}

class ErrorReportTable : public ::testing::TestWithParam<ErrorReportCase> {};

TEST_P(ErrorReportTable, Text) {
  CEchoApp app;
  fake::StdoutCapture out;
  app.ShowError(GetParam().nStatus);
  EXPECT_EQ(out.Text(), GetParam().pszText);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ErrorReportTable,
    ::testing::Values(
        ErrorReportCase{2, "Program Error.\n"},
        ErrorReportCase{3, "Zarvo was unable to write to the log file.\n"},
        ErrorReportCase{6,
                        "\nError:  The number of characters entered on the "
                        "command line is >= 8189.\n        This program is "
                        "limited to 8188 characters on the command line.\n\n"},
        ErrorReportCase{0, ""}, ErrorReportCase{1, ""}, ErrorReportCase{7, ""},
        ErrorReportCase{-1, ""}));

// A failed /N delete is reported after everything else the run writes, on
// a line of its own; the exit code is the /E: value all the same.
TEST(Driver, FailedNewLogReportedLast) {
  fake::Reset();
  fake::SetEnv("ZARVO_LOG", "x.log");
  fake::Files()["x.log"] = "old\r\n";
  fake::OpenError() = 13;
  const char* apArgs[] = {"zarvo", "/N", "/SN", "msg", "/E:6"};
  CEchoApp app;
  fake::StdoutCapture out;
  EXPECT_EQ(app.Run(5, apArgs), 6);
  EXPECT_EQ(out.Text(), "msg\nZarvo was unable to write to the log file.\n");
  EXPECT_EQ(fake::Files()["x.log"], "old\r\n");
}

// The /N report follows a countdown or cancel text that left the cursor
// mid-line on a line of its own, and never adds an empty line.
TEST(Driver, FailedNewLogReportStartsOnItsOwnLine) {
  struct Case {
    std::vector<const char*> aArgs;
    std::string strOut;
  } aCases[] = {
      {{"/LO", "/N", "/P:3", "/SC", "hi"}, " <ESC> pressed, timer canceled.\n"},
      {{"/N", "/SN", "/F", "hi\\n"}, "hi\n"},
  };
  for (const Case& c : aCases) {
    fake::Reset();
    fake::SetEnv("ZARVO_LOG", "x.log");
    fake::Files()["x.log"] = "old\r\n";
    fake::OpenError() = 13;
    fake::AddKey(300, 27);
    fake::AddKey(400, 'k');
    std::vector<const char*> aArgs = c.aArgs;
    aArgs.insert(aArgs.begin(), "zarvo");
    CEchoApp app;
    fake::StdoutCapture out;
    app.Run(int(aArgs.size()), aArgs.data());
    EXPECT_EQ(out.Text(),
              c.strOut + "Zarvo was unable to write to the log file.\n")
        << c.aArgs[c.aArgs.size() - 1];
  }
}

}  // namespace
