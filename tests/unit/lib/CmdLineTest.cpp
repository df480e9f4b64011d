// CCmdLine: matching of each option kind, validation errors and their
// order, lists, queries, the counted length; SplitPath and GetProgramName.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CmdLine.h"

namespace {

const char* const kNoList = CMD_EMPTY_LIST;

// One option definition as the tests write it.
struct Def {
  const char* pszName;
  int nKind;
  const char* pszRequires = kNoList;
  const char* pszConflicts = kNoList;
  bool bRequired = false;
  bool bAllowEmpty = true;
  const char* pszLabel = "";
};

struct Outcome {
  int nResult;
  int nCode;
  std::string strName;
  std::string strOther;
  int nOccurrence;
};

void AddAll(CCmdLine& cmd, const std::vector<Def>& aDefs) {
  for (const Def& d : aDefs)
    ASSERT_TRUE(cmd.AddOption(d.pszName, d.pszLabel, d.nKind, d.pszRequires,
                              d.pszConflicts, d.bRequired, d.bAllowEmpty));
}

// Parses the arguments after the program path "prog" and collects the error.
Outcome ParseArgs(CCmdLine& cmd, std::vector<const char*> aArgs,
                  bool bCaseSensitive = false, bool bValidate = true) {
  aArgs.insert(aArgs.begin(), "prog");
  Outcome out;
  out.nResult =
      cmd.Parse(int(aArgs.size()), aArgs.data(), bCaseSensitive, bValidate);
  CString strName, strOther;
  cmd.GetError(out.nCode, strName, strOther, out.nOccurrence);
  out.strName = strName.GetString();
  out.strOther = strOther.GetString();
  return out;
}

std::string ValueOf(const CCmdLine& cmd, const char* pszKey, int n = 1) {
  CString strValue("stale");
  cmd.GetValue(pszKey, strValue, n);
  return strValue.GetString();
}

// ------------------------------------------------------- kinds and matching

// A table of five definitions, one of each kind, met by various arguments.
struct MatchCase {
  std::vector<const char*> aArgs;
  const char* pszPresent;  // names of the definitions found, in order
  const char* pszS;        // values, "" when absent
  const char* pszN;
  const char* pszT;
  const char* pszM;
  const char* pszMsg;
};

class CmdLineMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(CmdLineMatch, KindsTakeTheirValues) {
  const MatchCase& c = GetParam();
  CCmdLine cmd;
  AddAll(cmd, {{"/S", CMDOPT_SWITCH},
               {"/N:", CMDOPT_NUMBER},
               {"/T:", CMDOPT_TEXT},
               {"/M:", CMDOPT_TEXT_RUN},
               {"", CMDOPT_PARAM}});
  Outcome out = ParseArgs(cmd, c.aArgs);
  EXPECT_EQ(out.nResult, 0) << out.strName;
  std::string strPresent;
  for (const char* pszKey : {"/S", "/N:", "/T:", "/M:", ""})
    if (cmd.IsPresent(pszKey, 1)) strPresent += std::string(pszKey) + ";";
  EXPECT_EQ(strPresent, c.pszPresent);
  EXPECT_EQ(ValueOf(cmd, "/S"), c.pszS);
  EXPECT_EQ(ValueOf(cmd, "/N:"), c.pszN);
  EXPECT_EQ(ValueOf(cmd, "/T:"), c.pszT);
  EXPECT_EQ(ValueOf(cmd, "/M:"), c.pszM);
  EXPECT_EQ(ValueOf(cmd, ""), c.pszMsg);
}

INSTANTIATE_TEST_SUITE_P(
    Args, CmdLineMatch,
    ::testing::Values(
        MatchCase{{}, "", "", "", "", "", ""},
        MatchCase{{"/S"}, "/S;", "", "", "", "", ""},
        MatchCase{{"/s"}, "/S;", "", "", "", "", ""},
        MatchCase{{"/n:42"}, "/N:;", "", "42", "", "", ""},
        MatchCase{{"/N:"}, "/N:;", "", "", "", "", ""},
        MatchCase{{"/t:Mixed Case"}, "/T:;", "", "", "Mixed Case", "", ""},
        MatchCase{{"/T:a", "word"}, "/T:;;", "", "", "a", "", "word"},
        MatchCase{{"/M:one", "two", "three", "/N:2"},
                  "/N:;/M:;",
                  "",
                  "2",
                  "",
                  "one two three",
                  ""},
        MatchCase{{"/M:", "a", "b"}, "/M:;", "", "", "", " a b", ""},
        MatchCase{{"/M:x", "/S", "y"}, "/S;/M:;;", "", "", "", "x", "y"},
        MatchCase{{"Hello World", "/S"}, "/S;;", "", "", "", "", "Hello World"},
        // Once /S is present it is no longer an option: a second one is the
        // free word that the positional definition takes.
        MatchCase{{"/S", "/S"}, "/S;;", "", "", "", "", "/S"},
        // A run stops only at an option that is not yet present.
        MatchCase{{"/S", "/M:a", "/S"}, "/S;/M:;", "", "", "", "a /S", ""}));

TEST(CmdLineMatching, SwitchNeedsTheWholeArgument) {
  CCmdLine cmd;
  AddAll(cmd, {{"/P", CMDOPT_SWITCH}});
  Outcome out = ParseArgs(cmd, {"/PX"});
  EXPECT_EQ(out.nResult, 1);
  EXPECT_EQ(out.nCode, CMDERR_INVALID);
  EXPECT_EQ(out.strName, "/PX");
  EXPECT_FALSE(cmd.IsPresent("/P", 1));
}

TEST(CmdLineMatching, CaseInsensitiveKeepsTypedValues) {
  CCmdLine cmd;
  AddAll(cmd, {{"/R:", CMDOPT_NUMBER}, {"/X:", CMDOPT_TEXT}});
  EXPECT_EQ(ParseArgs(cmd, {"/r:5", "/x:Abc"}).nResult, 0);
  EXPECT_EQ(ValueOf(cmd, "/R:"), "5");
  EXPECT_EQ(ValueOf(cmd, "/X:"), "Abc");
  // Queries compare keys exactly, as registered.
  EXPECT_FALSE(cmd.IsPresent("/r:", 1));
}

TEST(CmdLineMatching, LowerCaseNamesMatchUpperCaseArguments) {
  CCmdLine cmd;
  AddAll(cmd, {{"/q", CMDOPT_SWITCH}});
  EXPECT_EQ(ParseArgs(cmd, {"/Q"}).nResult, 0);
  EXPECT_TRUE(cmd.IsPresent("/q", 1));
}

TEST(CmdLineMatching, CaseSensitiveParseRefusesOtherCase) {
  CCmdLine cmd;
  AddAll(cmd, {{"/R:", CMDOPT_NUMBER}});
  Outcome out = ParseArgs(cmd, {"/r:5"}, true);
  EXPECT_EQ(out.nResult, 1);
  EXPECT_EQ(out.nCode, CMDERR_INVALID);
  EXPECT_EQ(out.strName, "/r:5");
}

TEST(CmdLineMatching, EarlierDefinitionWins) {
  CCmdLine cmd;
  AddAll(cmd, {{"/P", CMDOPT_TEXT}, {"/P:", CMDOPT_NUMBER}});
  EXPECT_EQ(ParseArgs(cmd, {"/P:3"}).nResult, 0);
  EXPECT_TRUE(cmd.IsPresent("/P", 1));
  EXPECT_EQ(ValueOf(cmd, "/P"), ":3");
  EXPECT_FALSE(cmd.IsPresent("/P:", 1));
}

TEST(CmdLineMatching, RepeatedOptionWithoutFreePositionalFails) {
  CCmdLine cmd;
  AddAll(cmd, {{"/R:", CMDOPT_NUMBER}, {"", CMDOPT_PARAM}});
  Outcome out = ParseArgs(cmd, {"/R:1", "msg", "/R:2"});
  EXPECT_EQ(out.nResult, 1);
  EXPECT_EQ(out.nCode, CMDERR_INVALID);
  EXPECT_EQ(out.strName, "/R:2");
  EXPECT_EQ(out.strOther, "");
  EXPECT_EQ(out.nOccurrence, 0);
}

TEST(CmdLineMatching, PositionalTakesExactlyOneWord) {
  for (int nKind : {CMDOPT_TEXT, CMDOPT_PARAM}) {
    CCmdLine cmd;
    AddAll(cmd, {{"", nKind}});
    Outcome out = ParseArgs(cmd, {"first", "second"});
    EXPECT_EQ(out.nResult, 1);
    EXPECT_EQ(out.nCode, CMDERR_INVALID);
    EXPECT_EQ(out.strName, "second");
    EXPECT_EQ(ValueOf(cmd, ""), "first");
  }
}

TEST(CmdLineMatching, ArgumentsAfterAnInvalidOneAreNotExamined) {
  CCmdLine cmd;
  AddAll(cmd, {{"/A", CMDOPT_SWITCH}, {"/B", CMDOPT_SWITCH}});
  Outcome out = ParseArgs(cmd, {"/A", "/Bad", "/B"});
  EXPECT_EQ(out.nCode, CMDERR_INVALID);
  EXPECT_EQ(out.strName, "/Bad");
  EXPECT_TRUE(cmd.IsPresent("/A", 1));
  EXPECT_FALSE(cmd.IsPresent("/B", 1));
}

TEST(CmdLineMatching, NameEndingInABlankTakesTheNextWord) {
  struct Case {
    std::vector<const char*> aArgs;
    int nResult;
    const char* pszValue;
    bool bSwitch;
  };
  const Case aCases[] = {
      {{"/X", "hello"}, 0, "hello", false},
      {{"/x", "Hello"}, 0, "Hello", false},
      {{"/X", "/S"}, 0, "", true},
      {{"/X"}, 0, "", false},
      {{"/Xhello"}, 1, "", false},
  };
  for (const Case& c : aCases) {
    CCmdLine cmd;
    AddAll(cmd, {{"/X ", CMDOPT_TEXT}, {"/S", CMDOPT_SWITCH}});
    Outcome out = ParseArgs(cmd, c.aArgs);
    SCOPED_TRACE(c.aArgs.back());
    EXPECT_EQ(out.nResult, c.nResult);
    EXPECT_EQ(ValueOf(cmd, "/X "), c.pszValue);
    EXPECT_EQ(cmd.IsPresent("/S", 1), c.bSwitch);
  }
}

TEST(CmdLineMatching, BlankNameRunCollectsBothWays) {
  // The next word joins without a blank, later free words with one.
  CCmdLine cmd;
  AddAll(cmd, {{"/M ", CMDOPT_TEXT_RUN}, {"/S", CMDOPT_SWITCH}});
  EXPECT_EQ(ParseArgs(cmd, {"/M", "one", "two", "/S"}).nResult, 0);
  EXPECT_EQ(ValueOf(cmd, "/M "), "one two");
  EXPECT_TRUE(cmd.IsPresent("/S", 1));
}

TEST(CmdLineMatching, UnknownKindStopsTheParse) {
  for (int nKind : {0, 6, -1}) {
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH}, {"/B", nKind}});
    EXPECT_EQ(ParseArgs(cmd, {"/A"}).nResult, 0);  // /A matched first
    CCmdLine cmdTried;
    AddAll(cmdTried, {{"/A", CMDOPT_SWITCH}, {"/B", nKind}});
    Outcome out = ParseArgs(cmdTried, {"/B"});
    EXPECT_EQ(out.nResult, 2);
    EXPECT_EQ(out.nCode, 0);  // no syntax error is recorded
  }
}

TEST(CmdLineMatching, IsOptionSeesOnlyAbsentDefinitions) {
  CCmdLine cmd;
  AddAll(cmd,
         {{"/R:", CMDOPT_NUMBER}, {"/S", CMDOPT_SWITCH}, {"", CMDOPT_PARAM}});
  EXPECT_TRUE(cmd.IsOption("/r:7"));
  EXPECT_TRUE(cmd.IsOption("/S"));
  EXPECT_FALSE(cmd.IsOption("/SX"));
  EXPECT_FALSE(cmd.IsOption("word"));  // an empty name introduces nothing
  EXPECT_FALSE(cmd.IsOption(""));
  ParseArgs(cmd, {"/R:1"});
  EXPECT_FALSE(cmd.IsOption("/R:2"));
  EXPECT_TRUE(cmd.IsOption("/S"));
}

// -------------------------------------------------------------- validation

TEST(CmdLineValidate, RequiredOptionMissing) {
  CCmdLine cmd;
  AddAll(cmd, {{"/A", CMDOPT_SWITCH},
               {"/B:", CMDOPT_TEXT, kNoList, kNoList, true, true, "beta"}});
  Outcome out = ParseArgs(cmd, {});
  EXPECT_EQ(out.nResult, 1);
  EXPECT_EQ(out.nCode, CMDERR_REQUIRED);
  EXPECT_EQ(out.strName, "beta");  // the label is the identity
  EXPECT_EQ(out.strOther, "");
  EXPECT_EQ(out.nOccurrence, 1);
}

TEST(CmdLineValidate, EmptyValue) {
  CCmdLine cmdAllowed;
  AddAll(cmdAllowed, {{"/R:", CMDOPT_NUMBER, kNoList, kNoList, false, true}});
  EXPECT_EQ(ParseArgs(cmdAllowed, {"/R:"}).nResult, 0);

  CCmdLine cmd;
  AddAll(cmd, {{"/R:", CMDOPT_NUMBER, kNoList, kNoList, false, false}});
  Outcome out = ParseArgs(cmd, {"/r:"});
  EXPECT_EQ(out.nResult, 1);
  EXPECT_EQ(out.nCode, CMDERR_EMPTY);
  EXPECT_EQ(out.strName, "/R:");
  EXPECT_EQ(out.nOccurrence, 1);
}

TEST(CmdLineValidate, NoValidationNoErrors) {
  CCmdLine cmd;
  AddAll(cmd, {{"/R:", CMDOPT_NUMBER, kNoList, kNoList, true, false},
               {"/Q", CMDOPT_SWITCH, kNoList, kNoList, true, true}});
  Outcome out = ParseArgs(cmd, {"/R:x"}, false, false);
  EXPECT_EQ(out.nResult, 0);
  EXPECT_EQ(out.nCode, 0);
  EXPECT_EQ(ValueOf(cmd, "/R:"), "x");
}

struct NumberCase {
  const char* pszValue;
  bool bAccepted;
};

class CmdLineNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(CmdLineNumber, CanonicalIntegersOnly) {
  const NumberCase& c = GetParam();
  CCmdLine cmd;
  AddAll(cmd, {{"/N:", CMDOPT_NUMBER}});
  std::string strArg = std::string("/N:") + c.pszValue;
  Outcome out = ParseArgs(cmd, {strArg.c_str()});
  EXPECT_EQ(out.nResult, c.bAccepted ? 0 : 1);
  EXPECT_EQ(out.nCode, c.bAccepted ? 0 : int(CMDERR_NOT_NUMBER));
  if (!c.bAccepted) {
    EXPECT_EQ(out.strName, "/N:");
    EXPECT_EQ(out.nOccurrence, 1);
  }
  EXPECT_EQ(ValueOf(cmd, "/N:"), c.pszValue);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CmdLineNumber,
    ::testing::Values(NumberCase{"12", true}, NumberCase{"0", true},
                      NumberCase{"-3", true}, NumberCase{"2147483647", true},
                      NumberCase{"-2147483648", true}, NumberCase{"+3", false},
                      NumberCase{"03", false}, NumberCase{"3x", false},
                      NumberCase{"-0", false}, NumberCase{"2147483648", false},
                      NumberCase{"-2147483649", false},
                      NumberCase{"99999999999999999999", false},
                      NumberCase{" 3", false}, NumberCase{"3 ", false},
                      NumberCase{"x", false}, NumberCase{"-", false},
                      NumberCase{"00", false}));

TEST(CmdLineValidate, ConflictsGroupSharesOneList) {
  const char* pszGroup = "/P,/P:,/T:";
  auto MakeGroup = [pszGroup](CCmdLine& cmd) {
    AddAll(cmd, {{"/P", CMDOPT_SWITCH, kNoList, pszGroup},
                 {"/P:", CMDOPT_NUMBER, kNoList, pszGroup},
                 {"/T:", CMDOPT_NUMBER, kNoList, pszGroup}});
  };
  {
    CCmdLine cmd;
    MakeGroup(cmd);
    Outcome out = ParseArgs(cmd, {"/T:5", "/P"});
    EXPECT_EQ(out.nResult, 1);
    EXPECT_EQ(out.nCode, CMDERR_CONFLICT);
    EXPECT_EQ(out.strName, "/P");
    EXPECT_EQ(out.strOther, "/T:");
    EXPECT_EQ(out.nOccurrence, 1);
  }
  {
    CCmdLine cmd;
    MakeGroup(cmd);
    Outcome out = ParseArgs(cmd, {"/P:2", "/T:5"});
    EXPECT_EQ(out.strName, "/P:");
    EXPECT_EQ(out.strOther, "/T:");
  }
  for (const char* pszAlone : {"/P", "/P:1", "/T:1"}) {
    CCmdLine cmd;
    MakeGroup(cmd);
    EXPECT_EQ(ParseArgs(cmd, {pszAlone}).nResult, 0) << pszAlone;
  }
}

TEST(CmdLineValidate, RequiresList) {
  auto Make = [](CCmdLine& cmd, const char* pszRequires) {
    AddAll(cmd, {{"/SC", CMDOPT_SWITCH, pszRequires},
                 {"/P:", CMDOPT_NUMBER},
                 {"/T:", CMDOPT_NUMBER}});
  };
  {
    CCmdLine cmd;
    Make(cmd, "/P:,/T:");
    Outcome out = ParseArgs(cmd, {"/SC"});
    EXPECT_EQ(out.nResult, 1);
    EXPECT_EQ(out.nCode, CMDERR_REQUIRES);
    EXPECT_EQ(out.strName, "/SC");
    EXPECT_EQ(out.strOther, "/P:,/T:");
    EXPECT_EQ(out.nOccurrence, 1);
  }
  for (const char* pszOther : {"/P:1", "/T:1"}) {
    CCmdLine cmd;
    Make(cmd, "/P:,/T:");
    EXPECT_EQ(ParseArgs(cmd, {"/SC", pszOther}).nResult, 0) << pszOther;
  }
  {
    // A blank after the comma belongs to the entry, which names nothing.
    CCmdLine cmd;
    Make(cmd, "/P:, /T:");
    Outcome out = ParseArgs(cmd, {"/SC", "/T:1"});
    EXPECT_EQ(out.nCode, CMDERR_REQUIRES);
    EXPECT_EQ(out.strOther, "/P:, /T:");
  }
  {
    // An option never meets its own requirement.
    CCmdLine cmd;
    Make(cmd, "/SC");
    EXPECT_EQ(ParseArgs(cmd, {"/SC"}).nCode, CMDERR_REQUIRES);
  }
}

TEST(CmdLineValidate, NoListAgainstEmptyList) {
  // "%EmptyList%" has no entries: nothing required, nothing excluded.
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH, kNoList, kNoList}, {"", CMDOPT_PARAM}});
    EXPECT_EQ(ParseArgs(cmd, {"/A"}).nResult, 0);
  }
  // "" is one empty entry, met only by a present definition with an empty
  // identity: the positional one.
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH, ""}, {"", CMDOPT_PARAM}});
    Outcome out = ParseArgs(cmd, {"/A"});
    EXPECT_EQ(out.nCode, CMDERR_REQUIRES);
    EXPECT_EQ(out.strOther, "");
  }
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH, ""}, {"", CMDOPT_PARAM}});
    EXPECT_EQ(ParseArgs(cmd, {"/A", "text"}).nResult, 0);
  }
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH, kNoList, ""}, {"", CMDOPT_PARAM}});
    Outcome out = ParseArgs(cmd, {"/A", "text"});
    EXPECT_EQ(out.nCode, CMDERR_CONFLICT);
    EXPECT_EQ(out.strName, "/A");
    EXPECT_EQ(out.strOther, "");
  }
  {
    // A labelled positional has a non-empty identity.
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH, ""},
                 {"", CMDOPT_PARAM, kNoList, kNoList, false, true, "message"}});
    EXPECT_EQ(ParseArgs(cmd, {"/A", "text"}).nCode, CMDERR_REQUIRES);
  }
}

TEST(CmdLineValidate, ListsNameIdentities) {
  CCmdLine cmd;
  AddAll(cmd, {{"/Q", CMDOPT_SWITCH, "message"},
               {"", CMDOPT_PARAM, kNoList, kNoList, false, true, "message"}});
  EXPECT_EQ(ParseArgs(cmd, {"/Q", "hi"}).nResult, 0);
  EXPECT_EQ(ValueOf(cmd, "message"), "hi");
  EXPECT_EQ(ValueOf(cmd, ""), "hi");
}

TEST(CmdLineValidate, EntrySuffixSelectsADefinition) {
  // "~1" is the plain entry; the reported name drops the suffix.
  {
    CCmdLine cmd;
    AddAll(cmd,
           {{"/A", CMDOPT_SWITCH, kNoList, "/B~1"}, {"/B", CMDOPT_SWITCH}});
    Outcome out = ParseArgs(cmd, {"/A", "/B"});
    EXPECT_EQ(out.nCode, CMDERR_CONFLICT);
    EXPECT_EQ(out.strOther, "/B");
  }
  // "~2" names the second definition that shares the name.
  auto Make = [](CCmdLine& cmd) {
    AddAll(cmd, {{"/Z", CMDOPT_SWITCH, kNoList, "/D:~2"},
                 {"/D:", CMDOPT_TEXT},
                 {"/D:", CMDOPT_TEXT}});
  };
  {
    CCmdLine cmd;
    Make(cmd);
    EXPECT_EQ(ParseArgs(cmd, {"/Z", "/D:1"}).nResult, 0);
  }
  {
    CCmdLine cmd;
    Make(cmd);
    Outcome out = ParseArgs(cmd, {"/Z", "/D:1", "/D:2"});
    EXPECT_EQ(out.nCode, CMDERR_CONFLICT);
    EXPECT_EQ(out.strOther, "/D:");
  }
}

TEST(CmdLineValidate, FirstErrorInDefinitionOrderWins) {
  // Both /A (required, absent) and /B (not a number) are wrong; whichever
  // is defined first is reported, whatever the argument order.
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH, kNoList, kNoList, true},
                 {"/B:", CMDOPT_NUMBER}});
    Outcome out = ParseArgs(cmd, {"/B:x"});
    EXPECT_EQ(out.nCode, CMDERR_REQUIRED);
    EXPECT_EQ(out.strName, "/A");
  }
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/B:", CMDOPT_NUMBER},
                 {"/A", CMDOPT_SWITCH, kNoList, kNoList, true}});
    Outcome out = ParseArgs(cmd, {"/B:x"});
    EXPECT_EQ(out.nCode, CMDERR_NOT_NUMBER);
    EXPECT_EQ(out.strName, "/B:");
  }
  {
    // Within one definition: empty before number, number before conflict,
    // conflict before requires.
    CCmdLine cmd;
    AddAll(cmd, {{"/B:", CMDOPT_NUMBER, "/Y", "/C", false, false},
                 {"/C", CMDOPT_SWITCH}});
    EXPECT_EQ(ParseArgs(cmd, {"/B:", "/C"}).nCode, CMDERR_EMPTY);
    CCmdLine cmd2;
    AddAll(cmd2, {{"/B:", CMDOPT_NUMBER, "/Y", "/C", false, false},
                  {"/C", CMDOPT_SWITCH}});
    EXPECT_EQ(ParseArgs(cmd2, {"/B:x", "/C"}).nCode, CMDERR_NOT_NUMBER);
    CCmdLine cmd3;
    AddAll(cmd3, {{"/B:", CMDOPT_NUMBER, "/Y", "/C", false, false},
                  {"/C", CMDOPT_SWITCH}});
    EXPECT_EQ(ParseArgs(cmd3, {"/B:1", "/C"}).nCode, CMDERR_CONFLICT);
    CCmdLine cmd4;
    AddAll(cmd4, {{"/B:", CMDOPT_NUMBER, "/Y", "/C", false, false},
                  {"/C", CMDOPT_SWITCH}});
    EXPECT_EQ(ParseArgs(cmd4, {"/B:1"}).nCode, CMDERR_REQUIRES);
  }
  {
    // A syntax error ends the parse before validation could find more.
    CCmdLine cmd;
    AddAll(cmd, {{"/A", CMDOPT_SWITCH, kNoList, kNoList, true}});
    Outcome out = ParseArgs(cmd, {"bad"});
    EXPECT_EQ(out.nCode, CMDERR_INVALID);
    EXPECT_EQ(out.strName, "bad");
  }
}

TEST(CmdLineValidate, OccurrenceNumbersOfSharedNames) {
  CCmdLine cmd;
  AddAll(cmd, {{"/D:", CMDOPT_TEXT, kNoList, kNoList, false, false},
               {"/D:", CMDOPT_TEXT, kNoList, kNoList, false, false}});
  Outcome out = ParseArgs(cmd, {"/D:first", "/d:"});
  EXPECT_EQ(out.nCode, CMDERR_EMPTY);
  EXPECT_EQ(out.strName, "/D:");
  EXPECT_EQ(out.nOccurrence, 2);
  EXPECT_EQ(ValueOf(cmd, "/D:", 1), "first");
  EXPECT_EQ(ValueOf(cmd, "/D:", 2), "");
  EXPECT_TRUE(cmd.IsPresent("/D:", 2));
}

TEST(CmdLineValidate, OnlyArgvZeroCanFailOnlyWithRequired) {
  CCmdLine cmd;
  AddAll(cmd, {{"/N:", CMDOPT_NUMBER, "/X", "/Y", false, false},
               {"/X", CMDOPT_SWITCH, kNoList, kNoList, true, false}});
  Outcome out = ParseArgs(cmd, {});
  EXPECT_EQ(out.nCode, CMDERR_REQUIRED);
  EXPECT_EQ(out.strName, "/X");
  EXPECT_EQ(cmd.GetCmdLineLength(), 4);
}

TEST(CmdLineValidate, ErrorIsKeptAfterItIsRecorded) {
  CCmdLine cmd;
  AddAll(cmd, {{"/A:", CMDOPT_NUMBER}, {"/B:", CMDOPT_NUMBER}});
  Outcome out = ParseArgs(cmd, {"/A:x", "/B:y"});
  EXPECT_EQ(out.strName, "/A:");
  CString strName, strOther;
  int nCode = 0, nOccurrence = 0;
  EXPECT_TRUE(cmd.GetError(nCode, strName, strOther, nOccurrence));
  EXPECT_STREQ(strName.GetString(), "/A:");
}

// ------------------------------------------------------------------ queries

TEST(CmdLineQuery, NoErrorAnswersZeroAndEmpty) {
  CCmdLine cmd;
  AddAll(cmd, {{"/A", CMDOPT_SWITCH}});
  ASSERT_EQ(ParseArgs(cmd, {"/A"}).nResult, 0);
  int nCode = 7, nOccurrence = 7;
  CString strName("x"), strOther("y");
  EXPECT_FALSE(cmd.GetError(nCode, strName, strOther, nOccurrence));
  EXPECT_EQ(nCode, 0);
  EXPECT_EQ(nOccurrence, 0);
  EXPECT_TRUE(strName.IsEmpty());
  EXPECT_TRUE(strOther.IsEmpty());
}

TEST(CmdLineQuery, GetValueAndIsPresentWithN) {
  CCmdLine cmd;
  AddAll(cmd, {{"/D:", CMDOPT_TEXT, kNoList, kNoList, false, true, "dee"},
               {"/D:", CMDOPT_TEXT},
               {"/E:", CMDOPT_TEXT}});
  ASSERT_EQ(ParseArgs(cmd, {"/D:one", "/D:two"}).nResult, 0);
  EXPECT_EQ(ValueOf(cmd, "/D:", 0), "one");
  EXPECT_EQ(ValueOf(cmd, "/D:", 1), "one");
  EXPECT_EQ(ValueOf(cmd, "/D:", 2), "two");
  EXPECT_EQ(ValueOf(cmd, "dee", 1), "one");  // by label
  EXPECT_EQ(ValueOf(cmd, "dee", 2), "");     // only one definition has it
  EXPECT_FALSE(cmd.IsPresent("dee", 2));
  EXPECT_TRUE(cmd.IsPresent("/D:", 0));
  EXPECT_TRUE(cmd.IsPresent("/D:", 2));
  EXPECT_FALSE(cmd.IsPresent("/D:", 3));
  CString strValue("stale");
  EXPECT_FALSE(cmd.GetValue("/D:", strValue, 3));
  EXPECT_TRUE(strValue.IsEmpty());
  EXPECT_FALSE(cmd.GetValue("/E:", strValue, 1));  // defined, not given
  EXPECT_TRUE(strValue.IsEmpty());
  EXPECT_FALSE(cmd.GetValue("/nothing", strValue, 1));
  EXPECT_TRUE(strValue.IsEmpty());
  EXPECT_FALSE(cmd.IsPresent("/nothing", 1));
}

TEST(CmdLineQuery, SecondFormHasNoLabel) {
  CCmdLine cmd;
  ASSERT_TRUE(
      cmd.AddOption("/A:", CMDOPT_TEXT, kNoList, kNoList, false, false));
  Outcome out = ParseArgs(cmd, {"/A:"});
  EXPECT_EQ(out.nCode, CMDERR_EMPTY);
  EXPECT_EQ(out.strName, "/A:");
}

// ---------------------------------------------------------- counted length

TEST(CmdLineLength, CountsProgramNameOptionsAndValues) {
  CCmdLine cmd;
  AddAll(cmd,
         {{"", CMDOPT_PARAM}, {"/R:", CMDOPT_NUMBER}, {"/S", CMDOPT_SWITCH}});
  ASSERT_EQ(ParseArgs(cmd, {"hello", "/R:3"}).nResult, 0);
  EXPECT_EQ(cmd.GetCmdLineLength(), 4 + 6 + 5);
}

TEST(CmdLineLength, CountsTheRegisteredNameAndJoinedRuns) {
  CCmdLine cmd;
  AddAll(cmd, {{"/m:", CMDOPT_TEXT_RUN}, {"/S", CMDOPT_SWITCH}});
  ASSERT_EQ(ParseArgs(cmd, {"/M:a", "b", "/s"}).nResult, 0);
  EXPECT_EQ(cmd.GetCmdLineLength(), 4 + (1 + 3 + 3) + (1 + 2));
}

TEST(CmdLineLength, ProgramNameAloneWithoutValidationOrAfterError1) {
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/R:", CMDOPT_NUMBER}});
    ParseArgs(cmd, {"/R:3"}, false, false);
    EXPECT_EQ(cmd.GetCmdLineLength(), 4);
  }
  {
    CCmdLine cmd;
    AddAll(cmd, {{"/R:", CMDOPT_NUMBER}});
    ParseArgs(cmd, {"/R:3", "stray"});
    EXPECT_EQ(cmd.GetCmdLineLength(), 4);
  }
  {
    // Validation errors still finish the count.
    CCmdLine cmd;
    AddAll(cmd, {{"/R:", CMDOPT_NUMBER}, {"/T:", CMDOPT_TEXT}});
    ParseArgs(cmd, {"/R:x", "/T:abc"});
    EXPECT_EQ(cmd.GetCmdLineLength(), 4 + 5 + 7);
  }
}

TEST(CmdLineLength, ProgramPathCountsOnlyTheName) {
  CCmdLine cmd;
  const char* aArgv[] = {"C:\\Tools\\zarvo.exe", "/S"};
  AddAll(cmd, {{"/S", CMDOPT_SWITCH}});
  ASSERT_EQ(cmd.Parse(2, aArgv, false, true), 0);
  EXPECT_EQ(cmd.GetCmdLineLength(), 5 + 3);
  EXPECT_STREQ(g_strProgramName.GetString(), "zarvo");
}

TEST(CmdLineLength, EmptyArgumentVector) {
  CCmdLine cmd;
  const char* aArgv[] = {nullptr};
  EXPECT_EQ(cmd.Parse(0, aArgv, false, true), 0);
  EXPECT_EQ(cmd.GetCmdLineLength(), 0);
  EXPECT_STREQ(g_strProgramName.GetString(), "");
}

// -------------------------------------------------------- program path

struct PathCase {
  const char* pszPath;
  const char* pszDrive;
  const char* pszDir;
  const char* pszName;
  const char* pszExt;
};

class SplitPathTable : public ::testing::TestWithParam<PathCase> {};

TEST_P(SplitPathTable, FourParts) {
  const PathCase& c = GetParam();
  CString strDrive("x"), strDir("x"), strName("x"), strExt("x");
  EXPECT_TRUE(SplitPath(c.pszPath, strDrive, strDir, strName, strExt));
  EXPECT_STREQ(strDrive.GetString(), c.pszDrive);
  EXPECT_STREQ(strDir.GetString(), c.pszDir);
  EXPECT_STREQ(strName.GetString(), c.pszName);
  EXPECT_STREQ(strExt.GetString(), c.pszExt);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SplitPathTable,
    ::testing::Values(
        PathCase{"C:\\Tools\\prog.exe", "C:", "\\Tools\\", "prog", ".exe"},
        PathCase{"\\\\server\\share\\dir\\prog.exe", "\\\\server\\share\\",
                 "dir\\", "prog", ".exe"},
        PathCase{"\\\\server\\share\\prog.exe", "\\\\server\\share\\", "",
                 "prog", ".exe"},
        PathCase{"\\\\server\\share", "", "\\\\server\\", "share", ""},
        PathCase{"prog.html", "", "", "prog.html", ""},
        PathCase{"prog.htm", "", "", "prog", ".htm"},
        PathCase{"a.tar.gz", "", "", "a.tar", ".gz"},
        PathCase{"file.", "", "", "file", "."},
        PathCase{"C:prog", "C:", "", "prog", ""},
        PathCase{"C:", "C:", "", "", ""},
        PathCase{"dir.d\\prog", "", "dir.d\\", "prog", ""},
        PathCase{" \tC:\\x\\y.c \n", "C:", "\\x\\", "y", ".c"},
        PathCase{"", "", "", "", ""},
        PathCase{"/usr/local/bin/Zarvo.exe", "", "/usr/local/bin/", "Zarvo",
                 ".exe"},
        PathCase{"/usr/local/bin/zarvo", "", "/usr/local/bin/", "zarvo", ""},
        PathCase{"./zarvo", "", "./", "zarvo", ""},
        PathCase{"C:\\a/b\\c/d.txt", "C:", "\\a/b\\c/", "d", ".txt"}));

TEST(ProgramName, KeepsTheNameInTheGlobal) {
  CString strName = GetProgramName("C:\\Tools\\prog.exe");
  EXPECT_STREQ(strName.GetString(), "prog");
  EXPECT_STREQ(g_strProgramName.GetString(), "prog");
  strName = GetProgramName("/usr/local/bin/zarvo");
  EXPECT_STREQ(strName.GetString(), "zarvo");
  EXPECT_STREQ(g_strProgramName.GetString(), "zarvo");
  GetProgramName("");
  EXPECT_STREQ(g_strProgramName.GetString(), "");
}

}  // namespace
