// The log file named by ZARVO_LOG, checked byte for byte after real runs,
// each in a fresh folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "Harness.h"

namespace {

typedef std::vector<std::string> Args;

// Runs zarvo in the folder; pszLog is the value of ZARVO_LOG, or null for
// a run without the variable.
e2e::RunResult RunLogged(const e2e::TempDir& dir, const char* pszLog,
                         const Args& aArgs) {
  e2e::RunOptions options;
  options.aArgs = aArgs;
  options.strCwd = dir.Path();
  if (pszLog != nullptr)
    options.aEnv.push_back(std::string("ZARVO_LOG=") + pszLog);
  return e2e::Run(options);
}

// Every name in the folder with its contents.
std::map<std::string, std::string> Snapshot(const e2e::TempDir& dir) {
  std::map<std::string, std::string> mapFiles;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    std::string strName = entry.path().filename().string();
    mapFiles[strName] = entry.is_regular_file()
                            ? e2e::ReadFile(entry.path().string())
                            : "<dir>";
  }
  return mapFiles;
}

// ------------------------------------------------------------ logging off

TEST(LogE2E, UnsetOrEmptyVariableTouchesNothing) {
  for (const char* pszLog : {static_cast<const char*>(nullptr), ""}) {
    for (const Args& aArgs : {Args{"hello"}, Args{"/N", "hello"}, Args{}}) {
      e2e::TempDir dir;
      e2e::WriteFile(dir.File("zarvo.log"), "old\r\n");
      e2e::RunResult result = RunLogged(dir, pszLog, aArgs);
      std::string strWhat = pszLog == nullptr ? "unset" : "empty";
      EXPECT_EQ(result.strOut, aArgs.empty() ? "\n" : "hello\n") << strWhat;
      EXPECT_EQ(result.strErr, "");
      EXPECT_EQ(result.nExitCode, 0) << strWhat;
      std::map<std::string, std::string> mapExpected = {
          {"zarvo.log", "old\r\n"}};
      EXPECT_EQ(Snapshot(dir), mapExpected) << strWhat;
    }
  }
}

// ---------------------------------------------------------------- entries

struct EntryCase {
  const char* pszName;
  const char* pszBefore;    // the file before the runs; null: no file
  std::vector<Args> aRuns;  // one zarvo run each, in order
  const char* pszLastOut;   // what the last run displayed
  const char* pszAfter;     // the file afterwards; null: no file
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const EntryCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class LogEntryE2E : public ::testing::TestWithParam<EntryCase> {};

TEST_P(LogEntryE2E, FileBytes) {
  const EntryCase& c = GetParam();
  e2e::TempDir dir;
  std::string strLog = dir.File("run.log");
  if (c.pszBefore != nullptr) e2e::WriteFile(strLog, c.pszBefore);
  e2e::RunResult result;
  for (const Args& aArgs : c.aRuns) {
    result = RunLogged(dir, strLog.c_str(), aArgs);
    EXPECT_EQ(result.strErr, "");
  }
  EXPECT_EQ(result.strOut, c.pszLastOut);
  bool bExists = false;
  std::string strAfter = e2e::ReadFile(strLog, &bExists);
  ASSERT_EQ(bExists, c.pszAfter != nullptr);
  if (bExists) {
    EXPECT_EQ(strAfter, c.pszAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, LogEntryE2E,
    ::testing::Values(
        EntryCase{
            "FiveCharacters", nullptr, {{"hello"}}, "hello\n", "hello\r\n"},
        EntryCase{"AppendsNeverTruncates",
                  "one\r\n",
                  {{"two"}, {"three"}},
                  "three\n",
                  "one\r\ntwo\r\nthree\r\n"},
        EntryCase{"NoNewlineContinuesLine",
                  nullptr,
                  {{"/SN", "ab"}, {"cd"}},
                  "cd\n",
                  "abcd\r\n"},
        EntryCase{"EmptyMessage", nullptr, {{""}}, "\n", "\r\n"},
        EntryCase{"NoArguments", nullptr, {{}}, "\n", "\r\n"},
        EntryCase{"NewLogReplacesExisting",
                  "old entry\r\nmore\r\n",
                  {{"/N", "fresh"}},
                  "fresh\n",
                  "fresh\r\n"},
        EntryCase{"NewLogCreatesMissing",
                  nullptr,
                  {{"/n", "fresh"}},
                  "fresh\n",
                  "fresh\r\n"},
        EntryCase{
            "NewLogEmptyNoNewline", "old\r\n", {{"/N", "/SN", ""}}, "", ""},
        EntryCase{"DisplayOnlyLeavesFile",
                  "old\r\n",
                  {{"/DO", "hello"}},
                  "hello\n",
                  "old\r\n"},
        EntryCase{"DisplayOnlyCreatesNothing",
                  nullptr,
                  {{"/DO", "/N", "hello"}},
                  "hello\n",
                  nullptr},
        EntryCase{"LogOnly", nullptr, {{"/LO", "hello"}}, "", "hello\r\n"},
        EntryCase{"RepeatIsOneEntry",
                  nullptr,
                  {{"/R:3", "ab"}},
                  "ababab\n",
                  "ababab\r\n"},
        EntryCase{
            "ErrorLevelAloneLogsNothing", nullptr, {{"/E:5"}}, "", nullptr},
        EntryCase{"ErrorLevelWithMessage",
                  nullptr,
                  {{"hi", "/E:5"}},
                  "hi\n",
                  "hi\r\n"},
        EntryCase{"FormattedLineEnds",
                  nullptr,
                  {{"/F", "a\\r\\nb"}},
                  "a\r\nb\n",
                  "a\r\r\nb\r\n"},
        EntryCase{"FormattedLoneCarriageReturn",
                  nullptr,
                  {{"/F", "a\\rb"}},
                  "a\rb\n",
                  "a\rb\r\n"},
        EntryCase{"FormattedNewlines",
                  nullptr,
                  {{"/F", "/SN", "\\na\\n\\n"}},
                  "\na\n\n",
                  "\r\na\r\n\r\n"},
        EntryCase{"BytesKept",
                  nullptr,
                  {{"\t\xe9\xff%d"}},
                  "\t\xe9\xff%d\n",
                  "\t\xe9\xff%d\r\n"}),
    [](const ::testing::TestParamInfo<EntryCase>& info) {
      return std::string(info.param.pszName);
    });

// The exact bytes of the most common entry, spelled out.
TEST(LogE2E, FiveCharacterEntryIsSevenBytes) {
  e2e::TempDir dir;
  RunLogged(dir, dir.File("a.log").c_str(), {"abcde"});
  std::string strLog = e2e::ReadFile(dir.File("a.log"));
  ASSERT_EQ(strLog.size(), 7u);
  EXPECT_EQ(strLog[5], '\x0D');
  EXPECT_EQ(strLog[6], '\x0A');
}

// A new log file gets read and write permission for all, less the umask.
TEST(LogE2E, CreatedFileMode) {
  e2e::TempDir dir;
  mode_t nMask = umask(022);
  RunLogged(dir, dir.File("m.log").c_str(), {"x"});
  umask(nMask);
  struct stat tInfo;
  ASSERT_EQ(stat(dir.File("m.log").c_str(), &tInfo), 0);
  EXPECT_EQ(tInfo.st_mode & 0777, 0644u);
}

// ---------------------------------------------------------- failing logs

// Paths that cannot take an entry: the run looks exactly like a run with a
// working log, and nothing appears anywhere.
TEST(LogE2E, UnwritableLogIsSilent) {
  e2e::TempDir good;
  e2e::RunResult expected =
      RunLogged(good, good.File("ok.log").c_str(), {"hello", "/E:3"});
  ASSERT_EQ(expected.strOut, "hello\n");
  ASSERT_EQ(expected.nExitCode, 3);

  for (const char* pszWhere : {"missing-folder", "folder", "/dev/full"}) {
    e2e::TempDir dir;
    std::filesystem::create_directory(dir.File("folder"));
    std::string strLog = pszWhere[0] == '/' ? pszWhere
                         : std::string(pszWhere) == "folder"
                             ? dir.File("folder")
                             : dir.File("nowhere/zarvo.log");
    e2e::RunResult result = RunLogged(dir, strLog.c_str(), {"hello", "/E:3"});
    EXPECT_EQ(result.strOut, expected.strOut) << pszWhere;
    EXPECT_EQ(result.strErr, "") << pszWhere;
    EXPECT_EQ(result.nExitCode, expected.nExitCode) << pszWhere;
    std::map<std::string, std::string> mapExpected = {{"folder", "<dir>"}};
    EXPECT_EQ(Snapshot(dir), mapExpected) << pszWhere;
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("folder"))) << pszWhere;
  }
}

// /N on a path that cannot be deleted (a folder): nothing is written, the
// report comes last on a line of its own, the exit code stays.
struct NewLogFailCase {
  const char* pszName;
  Args aArgs;
  const char* pszOut;
  int nExitCode;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const NewLogFailCase& c, std::ostream* pOut) {
  *pOut << c.pszName;
}

class NewLogFailE2E : public ::testing::TestWithParam<NewLogFailCase> {};

TEST_P(NewLogFailE2E, ReportedNothingWritten) {
  const NewLogFailCase& c = GetParam();
  e2e::TempDir dir;
  std::string strFolder = dir.File("logdir");
  std::filesystem::create_directory(strFolder);
  e2e::WriteFile(strFolder + "/inside", "keep");
  e2e::RunResult result = RunLogged(dir, strFolder.c_str(), c.aArgs);
  EXPECT_EQ(result.strOut, c.pszOut);
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, c.nExitCode);
  EXPECT_TRUE(std::filesystem::is_directory(strFolder));
  EXPECT_EQ(e2e::ReadFile(strFolder + "/inside"), "keep");
  EXPECT_EQ(Snapshot(dir).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    FailedDelete, NewLogFailE2E,
    ::testing::Values(
        NewLogFailCase{"Plain",
                       {"/N", "hello"},
                       "hello\n"
                       "Zarvo was unable to write to the log file.\n",
                       0},
        NewLogFailCase{"ExitCodeKept",
                       {"/N", "hello", "/E:4"},
                       "hello\n"
                       "Zarvo was unable to write to the log file.\n",
                       4},
        NewLogFailCase{"NoNewlineStillOwnLine",
                       {"/N", "/SN", "hello"},
                       "hello\n"
                       "Zarvo was unable to write to the log file.\n",
                       0},
        NewLogFailCase{"EmptyNoNewline",
                       {"/N", "/SN", ""},
                       "Zarvo was unable to write to the log file.\n",
                       0},
        NewLogFailCase{"LogOnly",
                       {"/N", "/LO", "hello", "/E:9"},
                       "Zarvo was unable to write to the log file.\n",
                       9},
        NewLogFailCase{
            "DisplayOnlyNeverDeletes", {"/N", "/DO", "hello"}, "hello\n", 0},
        NewLogFailCase{"NoMessageNoLog", {"/N", "/E:2"}, "", 2}),
    [](const ::testing::TestParamInfo<NewLogFailCase>& info) {
      return std::string(info.param.pszName);
    });

// ------------------------------------------------------------ concurrency

const int WRITERS = 16;
const int MESSAGES = 200;

// Distinct messages of different lengths, so that a torn or mixed entry
// shows as a line that no writer wrote.
std::string Message(int nWriter, int nMessage) {
  char szHead[32];
  std::snprintf(szHead, sizeof szHead, "w%02d-m%03d-", nWriter, nMessage);
  return szHead +
         std::string(std::size_t(20 + (nWriter * 37 + nMessage * 11) % 500),
                     char('a' + nWriter));
}

// In a forked child: runs zarvo for each of this writer's messages, one
// after the other; never returns.
[[noreturn]] void WriterLoop(int nWriter, const std::string& strEnv) {
  posix_spawn_file_actions_t tActions;
  posix_spawn_file_actions_init(&tActions);
  posix_spawn_file_actions_addopen(&tActions, 1, "/dev/null", O_WRONLY, 0);
  std::string strBinary = e2e::BinaryPath();
  std::string strVar = strEnv;
  char* apEnv[] = {&strVar[0], nullptr};
  for (int m = 0; m < MESSAGES; ++m) {
    std::string strMessage = Message(nWriter, m);
    char* apArgv[] = {&strBinary[0], &strMessage[0], nullptr};
    pid_t nPid = 0;
    if (posix_spawn(&nPid, strBinary.c_str(), &tActions, nullptr, apArgv,
                    apEnv) != 0)
      _exit(2);
    int nStatus = 0;
    if (waitpid(nPid, &nStatus, 0) != nPid || !WIFEXITED(nStatus) ||
        WEXITSTATUS(nStatus) != 0)
      _exit(3);
  }
  _exit(0);
}

TEST(LogConcurrencyE2E, SimultaneousWritersKeepEveryEntryWhole) {
  e2e::TempDir dir;
  std::string strLog = dir.File("shared.log");
  std::vector<pid_t> aChildren;
  for (int w = 0; w < WRITERS; ++w) {
    pid_t nPid = fork();
    ASSERT_GE(nPid, 0);
    if (nPid == 0) WriterLoop(w, "ZARVO_LOG=" + strLog);
    aChildren.push_back(nPid);
  }
  for (pid_t nPid : aChildren) {
    int nStatus = 0;
    ASSERT_EQ(waitpid(nPid, &nStatus, 0), nPid);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << nStatus;
  }

  std::multiset<std::string> setExpected;
  for (int w = 0; w < WRITERS; ++w)
    for (int m = 0; m < MESSAGES; ++m) setExpected.insert(Message(w, m));

  std::string strText = e2e::ReadFile(strLog);
  ASSERT_GE(strText.size(), 2u);
  ASSERT_EQ(strText.substr(strText.size() - 2), "\r\n");
  std::multiset<std::string> setFound;
  std::size_t nStart = 0;
  while (nStart < strText.size()) {
    std::size_t nEnd = strText.find("\r\n", nStart);
    setFound.insert(strText.substr(nStart, nEnd - nStart));
    nStart = nEnd + 2;
  }
  EXPECT_EQ(setFound.size(), std::size_t(WRITERS * MESSAGES));
  // Name the first line that no writer wrote once, shortened.
  std::string strStray;
  for (const std::string& strLine : setFound)
    if (setExpected.count(strLine) != 1 || setFound.count(strLine) != 1) {
      strStray = strLine.substr(0, 80);
      break;
    }
  EXPECT_TRUE(setFound == setExpected)
      << "entries missing, doubled or torn; first stray line: " << strStray;
}

}  // namespace
