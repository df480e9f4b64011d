// WriteLog against the scripted platform's environment and in-memory files:
// the stored bytes, the /N delete and its failure, and the one write request
// per entry.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "CmdLine.h"
#include "EchoApp.h"
#include "FakePlatform.h"
#include "Platform.h"

namespace {

const char* const LOG = "C:\\logs\\zarvo.log";
const char* const UNSET = nullptr;

struct LogCase {
  const char* pszName;
  const char* pszEnv;  // value of ZARVO_LOG, or UNSET
  std::string strMessage;
  bool bNoNewline;
  bool bNewLog;
  const char* pszBefore;  // the file before, or null for none
  int nOpenError;         // what an open of the log answers
  int nStatus;
  const char* pszAfter;  // the file afterwards, or null for none
  int nAppendCalls;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const LogCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class LogWriterTable : public ::testing::TestWithParam<LogCase> {};

TEST_P(LogWriterTable, StatusAndStoredBytes) {
  const LogCase& c = GetParam();
  fake::Reset();
  if (c.pszEnv != UNSET) fake::SetEnv("ZARVO_LOG", c.pszEnv);
  if (c.pszBefore != nullptr) fake::Files()[LOG] = c.pszBefore;
  fake::OpenError() = c.nOpenError;

  CEchoApp app;
  app.m_strMessage = c.strMessage.c_str();
  app.m_bNoNewline = c.bNoNewline;
  app.m_bNewLog = c.bNewLog;
  EXPECT_EQ(app.WriteLog(), c.nStatus);
  EXPECT_STREQ(app.m_strLogFile.GetString(), c.pszEnv == UNSET ? "" : c.pszEnv);

  std::map<std::string, std::string> mapExpected;
  if (c.pszAfter != nullptr) mapExpected[LOG] = c.pszAfter;
  EXPECT_EQ(fake::Files(), mapExpected);
  EXPECT_EQ(fake::AppendCalls(), c.nAppendCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, LogWriterTable,
    ::testing::Values(
        // Logging off: nothing is deleted, opened or written.
        LogCase{"Unset", UNSET, "hello", false, false, "old", 0, 0, "old", 0},
        LogCase{"UnsetNewLog", UNSET, "hello", false, true, "old", 0, 0, "old",
                0},
        LogCase{"Empty", "", "hello", false, true, "old", 0, 0, "old", 0},
        // The entry: line feeds stored as CR LF, everything else unchanged.
        LogCase{"Plain", LOG, "hello", false, false, nullptr, 0, 0, "hello\r\n",
                1},
        LogCase{"Appended", LOG, "two", false, false, "one\r\n", 0, 0,
                "one\r\ntwo\r\n", 1},
        LogCase{"NoNewline", LOG, "hello", true, false, "ab", 0, 0, "abhello",
                1},
        LogCase{"EmptyMessage", LOG, "", false, false, nullptr, 0, 0, "\r\n",
                1},
        LogCase{"InnerLineFeeds", LOG, "a\nb\n\nc", false, false, nullptr, 0, 0,
                "a\r\nb\r\n\r\nc\r\n", 1},
        LogCase{"CarriageReturnLineFeed", LOG, "a\r\nb", false, false, nullptr,
                0, 0, "a\r\r\nb\r\n", 1},
        LogCase{"LoneCarriageReturn", LOG, "a\rb\r", true, false, nullptr, 0, 0,
                "a\rb\r", 1},
        LogCase{"OnlyLineFeedsNoNewline", LOG, "\n\n", true, false, nullptr, 0,
                0, "\r\n\r\n", 1},
        LogCase{"HighBytes", LOG, "\xe9\xff\t", false, false, nullptr, 0, 0,
                "\xe9\xff\t\r\n", 1},
        // /N: a fresh file, also when there was none.
        LogCase{"NewLogReplaces", LOG, "new", false, true, "old\r\n", 0, 0,
                "new\r\n", 1},
        LogCase{"NewLogMissingCreates", LOG, "new", false, true, nullptr, 0, 0,
                "new\r\n", 1},
        LogCase{"NewLogEmptyNoNewline", LOG, "", true, true, "old\r\n", 0, 0,
                "", 0},
        // An open that fails keeps the old log whole.
        LogCase{"NewLogOpenFails", LOG, "new", false, true, "old\r\n", 13,
                STATUS_LOG_FAILED, "old\r\n", 0},
        LogCase{"OpenFails", LOG, "new", false, false, "old\r\n", 13,
                STATUS_LOG_LOST, "old\r\n", 0}),
    [](const ::testing::TestParamInfo<LogCase>& info) {
      return std::string(info.param.pszName);
    });

// The path is used exactly as given: no quotes stripped, nothing expanded.
TEST(LogWriter, QuotedPathIsNotStripped) {
  fake::Reset();
  fake::SetEnv("ZARVO_LOG", "\"%TEMP%\\a b.log\"");
  CEchoApp app;
  app.m_strMessage = "x";
  EXPECT_EQ(app.WriteLog(), 0);
  EXPECT_EQ(fake::Files().count("\"%TEMP%\\a b.log\""), 1u);
  EXPECT_EQ(fake::Files().size(), 1u);
}

// A write that fails part way takes the entry back whole. The report is one
// line on standard error, the path's control characters escaped; an open
// line on the display ends first, and the run goes on as it would.
TEST(LogWriter, LostEntryTakenBackAndReportedOnItsOwnLine) {
  const char* const PATH = "a\nb\x1b[31m.log";
  struct {
    std::vector<const char*> aArgs;
    const char* pszOut;
  } aCases[] = {{{"zarvo", "hello", "/E:3"}, "hello\n"},
                {{"zarvo", "/SN", "hello", "/E:3"}, "hello\n"},
                {{"zarvo", "/T:1", "hello", "/E:3"}, "hello\n1\b \b0\b \b"},
                {{"zarvo", "/LO", "hello", "/E:3"}, ""}};
  for (const auto& c : aCases) {
    fake::Reset();
    fake::SetEnv("ZARVO_LOG", PATH);
    fake::Files()[PATH] = "old\r\n";
    fake::AppendError() = 28;
    fake::AppendRoom() = 3;
    CEchoApp app;
    fake::StdoutCapture out;
    EXPECT_EQ(app.Run(int(c.aArgs.size()), c.aArgs.data()), 3);
    EXPECT_EQ(out.Text(), c.pszOut);
    EXPECT_EQ(fake::Stderr(),
              "zarvo: cannot write to the log file a\\nb\\x1b[31m.log: "
              "system error 28\n");
    EXPECT_EQ(fake::Files()[PATH], "old\r\n");
  }
}

// The variable is read on every call, so a changed value takes effect.
TEST(LogWriter, ReadsVariableEachCall) {
  fake::Reset();
  CEchoApp app;
  app.m_strMessage = "x";
  fake::SetEnv("ZARVO_LOG", "first.log");
  app.WriteLog();
  fake::SetEnv("ZARVO_LOG", "second.log");
  app.WriteLog();
  EXPECT_STREQ(app.m_strLogFile.GetString(), "second.log");
  EXPECT_EQ(fake::Files()["first.log"], "x\r\n");
  EXPECT_EQ(fake::Files()["second.log"], "x\r\n");
}

// A long entry goes out in write requests of bounded size, whatever the
// message holds, and its bytes are those of one whole entry.
TEST(LogWriter, LongEntryInBoundedRequests) {
  fake::Reset();
  fake::SetEnv("ZARVO_LOG", LOG);
  std::string strMessage;
  std::string strStored;
  for (int i = 0; i < 40000; ++i) {
    strMessage += i % 2 == 0 ? "\n" : "line\n";
    strStored += i % 2 == 0 ? "\r\n" : "line\r\n";
  }
  CEchoApp app;
  app.m_strMessage = strMessage.c_str();
  EXPECT_EQ(app.WriteLog(), 0);
  EXPECT_GT(fake::AppendCalls(), 1);
  EXPECT_LE(fake::MaxAppend(), 65536u);
  EXPECT_EQ(fake::Files()[LOG], strStored + "\r\n");
}

}  // namespace
