// WriteLog against the scripted platform's environment and in-memory files:
// the stored bytes, /N and a failed open, a lost entry's report, and write
// requests of bounded size.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <ostream>
#include <string>

#include "CmdLine.h"
#include "EchoApp.h"
#include "FakePlatform.h"
#include "Platform.h"

namespace {

const char* const LOG = "C:\\logs\\zarvo.log";
const char* const UNSET = nullptr;
const int OPENS_OK = 0;

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
        LogCase{"Unset", UNSET, "hello", false, false, "old", OPENS_OK, 0,
                "old", 0},
        LogCase{"UnsetNewLog", UNSET, "hello", false, true, "old", OPENS_OK, 0,
                "old", 0},
        LogCase{"Empty", "", "hello", false, true, "old", OPENS_OK, 0, "old",
                0},
        // The entry: line feeds stored as CR LF, everything else unchanged.
        LogCase{"Plain", LOG, "hello", false, false, nullptr, OPENS_OK, 0,
                "hello\r\n", 1},
        LogCase{"Appended", LOG, "two", false, false, "one\r\n", OPENS_OK, 0,
                "one\r\ntwo\r\n", 1},
        LogCase{"NoNewline", LOG, "hello", true, false, "ab", OPENS_OK, 0,
                "abhello", 1},
        LogCase{"EmptyMessage", LOG, "", false, false, nullptr, OPENS_OK, 0,
                "\r\n", 1},
        LogCase{"InnerLineFeeds", LOG, "a\nb\n\nc", false, false, nullptr,
                OPENS_OK, 0, "a\r\nb\r\n\r\nc\r\n", 1},
        LogCase{"CarriageReturnLineFeed", LOG, "a\r\nb", false, false, nullptr,
                OPENS_OK, 0, "a\r\r\nb\r\n", 1},
        LogCase{"LoneCarriageReturn", LOG, "a\rb\r", true, false, nullptr,
                OPENS_OK, 0, "a\rb\r", 1},
        LogCase{"OnlyLineFeedsNoNewline", LOG, "\n\n", true, false, nullptr,
                OPENS_OK, 0, "\r\n\r\n", 1},
        LogCase{"HighBytes", LOG, "\xe9\xff\t", false, false, nullptr, OPENS_OK,
                0, "\xe9\xff\t\r\n", 1},
        // /N: a fresh file, also when there was none.
        LogCase{"NewLogReplaces", LOG, "new", false, true, "old\r\n", OPENS_OK,
                0, "new\r\n", 1},
        LogCase{"NewLogMissingCreates", LOG, "new", false, true, nullptr,
                OPENS_OK, 0, "new\r\n", 1},
        LogCase{"NewLogEmptyNoNewline", LOG, "", true, true, "old\r\n",
                OPENS_OK, 0, "", 0},
        // An open that fails keeps the old log whole.
        LogCase{"NewLogOpenFails", LOG, "new", false, true, "old\r\n", EACCES,
                STATUS_LOG_FAILED, "old\r\n", 0},
        LogCase{"OpenFails", LOG, "new", false, false, "old\r\n", EACCES,
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

// A write that fails takes the entry back whole. The report is one line on
// standard error, the path's control characters escaped, on a line of its
// own: where standard error shows on the display, a line feed there ends
// the message's line first; standard output stays as with a working log.
TEST(LogWriter, LostEntryTakenBackAndReportedOnItsOwnLine) {
  const char* const PATH =
      "a\nb\x1b[31m\xc2\x9b"
      "2J\xc2\xa0\xc3\xa9.log";
  fake::Reset();
  fake::SetEnv("ZARVO_LOG", PATH);
  fake::Files()[PATH] = "old\r\n";
  fake::AppendError() = 28;
  const char* apArgs[] = {"zarvo", "/T:1", "hello", "/E:3"};
  CEchoApp app;
  fake::StdoutCapture out;
  EXPECT_EQ(app.Run(4, apArgs), 3);
  EXPECT_EQ(out.Text(), "hello1\b \b0\b \b\n");
  EXPECT_EQ(
      fake::Stderr(),
      "\nzarvo: cannot write to the log file "
      "a\\nb\\x1b[31m\\xc2\\x9b2J\xc2\xa0\xc3\xa9.log: system error 28\n");
  EXPECT_EQ(fake::Files()[PATH], "old\r\n");
}

// A write that another program's lock refuses before any byte of the entry
// went out (Windows enforces such locks) is tried again, within the 10 s
// bound: after 2 s the entry lands; refused for 12 s, it is lost.
TEST(LogWriter, RefusedWriteWaitsWithinTheBound) {
  for (long nRefused : {2000L, 12000L}) {
    fake::Reset();
    fake::SetEnv("ZARVO_LOG", LOG);
    fake::ClearableError() = 33;
    fake::WritesRefusedUntil() = nRefused;
    CEchoApp app;
    app.m_strMessage = "x";
    bool bLands = nRefused < LOG_WAIT_SECONDS * 1000;
    EXPECT_EQ(app.WriteLog(), bLands ? 0 : STATUS_LOG_LOST) << nRefused;
    EXPECT_EQ(fake::Files()[LOG], bLands ? "x\r\n" : "") << nRefused;
    // Woken at most one longest rest (64 ms) after the lock went.
    EXPECT_LE(fake::ElapsedMillis(), bLands ? nRefused + 64 : 10000);
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

// An entry of up to 1 MiB leaves in one request, whatever its line feeds;
// a longer one in requests of 64 KiB (one CR LF split between two), and
// its bytes are those of one entry.
TEST(LogWriter, EntryRequests) {
  struct {
    int nLines;
    int nRequests;
  } aCases[] = {{20000, 1}, {174000, 1}, {175000, 17}};
  for (const auto& c : aCases) {
    fake::Reset();
    fake::SetEnv("ZARVO_LOG", LOG);
    std::string strMessage = "start";
    std::string strStored = "start";
    for (int i = 0; i < c.nLines; ++i) {
      strMessage += "line\n";
      strStored += "line\r\n";
    }
    CEchoApp app;
    app.m_strMessage = strMessage.c_str();
    EXPECT_EQ(app.WriteLog(), 0);
    EXPECT_EQ(fake::AppendCalls(), c.nRequests) << c.nLines;
    EXPECT_EQ(fake::Files()[LOG], strStored + "\r\n") << c.nLines;
  }
}

}  // namespace
