// The command-line stage of the driver: what the option table accepts and
// how the fields are mapped.
#include <gtest/gtest.h>

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
    ::testing::Values(
        ParseCase{{}, 0, 0, "", ""}, ParseCase{{"hello", "/E:5"}, 0, 0, "", ""},
        ParseCase{{"/?", "a", "b"}, 7, 0, "", ""},
        ParseCase{{"/? ", "/LO", "/DO"}, 1, 5, "/LO", "/DO"},
        ParseCase{{"/?", "/LO", "/DO"}, 7, 0, "", ""},
        ParseCase{{"a", "b", "/?"}, 1, 1, "b", ""},
        ParseCase{{"hello", "world"}, 1, 1, "world", ""},
        ParseCase{{"/P:0"}, 1, 1, "/P:", ""}, ParseCase{{"/T:-3"}, 1, 1, "/T:", ""},
        ParseCase{{"/R:0"}, 1, 1, "/R:", ""}, ParseCase{{"/R:"}, 1, 1, "/R:", ""},
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
  ASSERT_EQ(Parse(app, {"Hello World", "/f", "/r:3", "/e:-2", "/p:4", "/SN"}).nStatus, 0);
  EXPECT_STREQ(app.m_strProgramName.GetString(), "ZArvo");
  EXPECT_STREQ(app.m_strMessage.GetString(), "Hello World");
  EXPECT_TRUE(app.m_bMessage && app.m_bFormat && app.m_bRepeat && app.m_bPause);
  EXPECT_TRUE(app.m_bNoNewline);
  EXPECT_STREQ(app.m_strRepeat.GetString(), "3");
  EXPECT_STREQ(app.m_strErrorLevel.GetString(), "-2");
  EXPECT_STREQ(app.m_strTimer.GetString(), "4");
  EXPECT_EQ(app.m_nCmdLength, 5 + 12 + 3 + 5 + 6 + 5 + 4);
}

}  // namespace
