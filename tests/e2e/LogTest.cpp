// The log file named by ZARVO_LOG, checked byte for byte after real runs,
// each in a fresh folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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
// working log, nothing appears anywhere, and standard error says why.
TEST(LogE2E, UnwritableLogIsReported) {
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
    EXPECT_EQ(result.strErr.rfind(
                  "zarvo: cannot write to the log file " + strLog + ": ", 0),
              0u)
        << pszWhere << ": " << result.strErr;
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

// ------------------------------------------------------ shared log files

void SharedFile(const std::string& strPath, const char* pszText, int nMode) {
  e2e::WriteFile(strPath, pszText);
  chmod(strPath.c_str(), mode_t(nMode));
  EXPECT_TRUE(geteuid() != 0 || chown(strPath.c_str(), 65534, 100) == 0);
}

// What a shared file is: the name's type (a link), the file's inode, type,
// mode, owner and group; empty when there is none.
std::vector<unsigned long long> Identity(const std::string& strPath) {
  struct stat tName, tFile;
  if (lstat(strPath.c_str(), &tName) != 0 || stat(strPath.c_str(), &tFile) != 0)
    return {};
  return {tName.st_mode, tFile.st_ino, tFile.st_mode, tFile.st_uid,
          tFile.st_gid};
}

// A log that others share stays what it is: /N empties it in place or not
// at all (a file the user may not write), and an entry that does not fit
// (a size limit, a full disk) leaves no fragment. The device node and the
// small tmpfs need root.
TEST(SharedLogE2E, LeftAsFoundButTheEntry) {
  e2e::TempDir dir;
  chmod(dir.Path().c_str(), 0777);
  SharedFile(dir.File("t.log"), "old\r\n", 0664);
  EXPECT_EQ(symlink("t.log", dir.File("cur.log").c_str()), 0);
  SharedFile(dir.File("a.log"), "audit\r\n", 0444);
  SharedFile(dir.File("l.log"), "old\r\n", 0644);
  mknod(dir.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3));
  mkdir(dir.File("disk").c_str(), 0777);
  if (mount("tmpfs", dir.File("disk").c_str(), "tmpfs", 0, "size=64k") == 0)
    SharedFile(dir.File("disk/b.log"), "step 2\r\n", 0644);
  struct {
    const char* pszLog;
    Args aArgs;
    const char* pszOut;
    int nReported;  // the error told on standard error, or 0
    const char* pszAfter;
    long long nFileSizeLimit;
    bool bUnprivileged;
  } aCases[] = {
      {"cur.log", {"/N", "fresh"}, "fresh\n", 0, "fresh\r\n", 0, false},
      {"a.log",
       {"/N", "x"},
       "x\nZarvo was unable to write to the log file.\n",
       0,
       "audit\r\n",
       0,
       true},
      {"null", {"/N", "x"}, "x\n", 0, "", 0, false},
      {"l.log", {"hello world"}, "hello world\n", EFBIG, "old\r\n", 16, false},
      {"disk/b.log",
       {"/LO", "/R:5000", "step 3 output "},
       "",
       ENOSPC,
       "step 2\r\n",
       0,
       false}};
  for (const auto& c : aCases) {
    std::string strLog = dir.File(c.pszLog);
    std::vector<unsigned long long> anBefore = Identity(strLog);
    if (anBefore.empty()) continue;  // not made: no root
    e2e::RunOptions options;
    options.aArgs = c.aArgs;
    options.aEnv = {"ZARVO_LOG=" + strLog};
    options.nFileSizeLimit = c.nFileSizeLimit;
    options.bUnprivileged = c.bUnprivileged;
    e2e::RunResult result = e2e::Run(options);
    EXPECT_EQ(result.strOut, c.pszOut) << c.pszLog;
    EXPECT_EQ(result.strErr, c.nReported == 0
                                 ? ""
                                 : "zarvo: cannot write to the log file " +
                                       strLog + ": " +
                                       std::strerror(c.nReported) + "\n");
    EXPECT_EQ(result.nExitCode, 0) << c.pszLog;
    EXPECT_EQ(Identity(strLog), anBefore) << c.pszLog;
    EXPECT_EQ(e2e::ReadFile(strLog), c.pszAfter) << c.pszLog;
  }
  umount2(dir.File("disk").c_str(), MNT_DETACH);
}

// ------------------------------------------------ others who share the log

// zarvo with the log write shim raising nSignal before write nAtWrite.
std::vector<std::string> ShimEnv(const std::string& strLog, int nSignal,
                                 int nAtWrite) {
  return {"ZARVO_LOG=" + strLog, std::string("LD_PRELOAD=") + ZARVO_LOG_SHIM,
          "SHIM_SIGNAL=" + std::to_string(nSignal),
          "SHIM_AT_WRITE=" + std::to_string(nAtWrite),
          "ASAN_OPTIONS=verify_asan_link_order=0"};
}

// Waits, in rests of a millisecond, until bDone() holds or nSeconds have
// passed; whether it held. Every wait of these tests has such a deadline.
template <typename TDone>
bool WaitUntil(TDone bDone, int nSeconds = 60) {
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
  while (!bDone()) {
    if (std::chrono::steady_clock::now() > tEnd) return false;
    usleep(1000);
  }
  return true;
}

// Whether the other side of a case is in place: the holder's lock can be
// seen from here, or the FIFO has its reader.
bool Holds(const std::string& strLog, char chKind) {
  if (chKind == 'a') return e2e::ReadFile(strLog) == "old\r\nother\r\n";
  if (chKind == 'p') {
    int nWriter = open(strLog.c_str(), O_WRONLY | O_NONBLOCK);
    if (nWriter >= 0) close(nWriter);
    return nWriter >= 0;
  }
  int nFile = open(strLog.c_str(), O_RDWR);
  struct flock tAll = {};
  tAll.l_type = F_WRLCK;
  bool bHeld = chKind == 'f' ? flock(nFile, LOCK_EX | LOCK_NB) != 0
                             : fcntl(nFile, F_GETLK, &tAll) == 0 &&
                                   tAll.l_type != F_UNLCK;
  close(nFile);  // also lets go of a flock that this look took
  return bHeld;
}

// The other side of a case, in a process of its own: 'f' holds a flock on
// the whole log, 'r' a record lock over it (lockf), 's' is a zarvo stopped
// in the middle of an entry (Ctrl+Z, a debugger), 'p' reads a FIFO log
// never, 'a' appends a line as >> does, taking no lock, and stays. Told 'c', a
// lock holder copies the log to NAME.1 and empties it; told 'm', it renames the
// log to NAME.1 and starts an empty one; told 'M', it renames the log and lets
// go, and a second later starts a new one that belongs to the user nobody. 'n'
// (a FIFO that nobody opens) and 'F' (flock(1) runs zarvo) have no such
// process.
struct Holder {
  pid_t nPid = -1;

  Holder(const std::string& strLog, char chKind) {
    if (chKind == 'n' || chKind == 'F') return;
    nPid = fork();
    if (nPid == 0 && chKind == 's') ExecStopped(strLog);
    if (nPid == 0) Hold(strLog, chKind);
    int nStatus = 0;
    if (chKind == 's') {
      EXPECT_EQ(waitpid(nPid, &nStatus, WUNTRACED), nPid);
    }
    EXPECT_TRUE(WaitUntil([&] { return Holds(strLog, chKind); })) << strLog;
  }

  [[noreturn]] static void ExecStopped(const std::string& strLog) {
    std::vector<std::string> aEnv = ShimEnv(strLog, SIGSTOP, 1);
    char* apEnv[] = {&aEnv[0][0], &aEnv[1][0], &aEnv[2][0],
                     &aEnv[3][0], &aEnv[4][0], nullptr};
    char szName[] = "zarvo", szText[] = "stopped";
    char* apArgs[] = {szName, szText, nullptr};
    if (dup2(open("/dev/null", O_WRONLY), 1) == 1)
      execve(ZARVO_BINARY, apArgs, apEnv);
    _exit(127);
  }

  // In the child: takes the lock, then follows the orders that come.
  [[noreturn]] static void Hold(const std::string& strLog, char chKind) {
    int nFile = open(strLog.c_str(), chKind == 'p'   ? O_RDONLY | O_NONBLOCK
                                     : chKind == 'a' ? O_WRONLY | O_APPEND
                                                     : O_RDWR);
    if (chKind == 'a' && write(nFile, "other\r\n", 7) != 7) _exit(2);
    if (chKind == 'p' || chKind == 'a')
      for (;;) pause();
    struct flock tAll = {};
    tAll.l_type = F_WRLCK;
    if (chKind == 'f' ? flock(nFile, LOCK_EX) : fcntl(nFile, F_SETLKW, &tAll))
      _exit(2);
    for (std::string strArchive = strLog + ".1";; usleep(1000)) {
      if (e2e::FileExists(strLog + ".c")) {
        e2e::WriteFile(strArchive, e2e::ReadFile(strLog));
        _exit(ftruncate(nFile, 0));
      }
      if (e2e::FileExists(strLog + ".m"))
        _exit(rename(strLog.c_str(), strArchive.c_str()) ||
              close(open(strLog.c_str(), O_WRONLY | O_CREAT, 0644)));
      if (e2e::FileExists(strLog + ".M")) {
        if (rename(strLog.c_str(), strArchive.c_str()) || close(nFile))
          _exit(3);
        sleep(1);
        int nNew = open(strLog.c_str(), O_WRONLY | O_CREAT, 0644);
        _exit(fchown(nNew, 65534, 65534) || close(nNew));
      }
    }
  }

  // Whether the holder has ended by itself (a zombie counts) within the
  // deadline.
  bool Ended() {
    int nStatus = 0;
    bool bEnded =
        WaitUntil([&] { return waitpid(nPid, &nStatus, WNOHANG) == nPid; });
    if (bEnded) nPid = -1;
    return bEnded;
  }

  ~Holder() {
    if (nPid <= 0) return;
    kill(nPid, SIGKILL);
    waitpid(nPid, nullptr, 0);
  }
};

// A process other than nHolder that has strPath open (the zarvo that waits
// for the other side), or 0.
pid_t OpenedByOther(const std::string& strPath, pid_t nHolder) {
  std::error_code error;
  for (const auto& proc : std::filesystem::directory_iterator("/proc", error)) {
    pid_t nPid = std::atoi(proc.path().filename().c_str());
    if (nPid > 0 && nPid != nHolder)
      for (const auto& fd :
           std::filesystem::directory_iterator(proc.path() / "fd", error))
        if (std::filesystem::read_symlink(fd, error) == strPath) return nPid;
  }
  return 0;
}

// Whether a flock on the log can be had now, as flock(1) takes it.
bool FlockFree(const std::string& strLog) {
  int nFile = open(strLog.c_str(), O_RDONLY);
  bool bFree = flock(nFile, LOCK_EX | LOCK_NB) == 0;
  close(nFile);
  return bFree;
}

// One case of a log that others hold up: the other side, the run, and
// what they leave.
struct SharedCase {
  const char* pszName;
  char chHolder;        // see Holder; 'F' flock(1) is zarvo's caller
  char chRotate;        // the order that the holder gets, or 0
  const char* pszArgs;  // the arguments, split at each blank
  const char* pszOut;
  const char* pszErr;          // '@' stands for the log's path
  const char* pszLog;          // the log afterwards; null: a FIFO
  const char* pszArchive;      // NAME.1 afterwards, or null for none
  bool bRotateAfter = false;   // the order comes once the run has ended
  int nSignal = 0;             // sent once the run has the log open
  long long nSizeLimit = 0;    // RLIMIT_FSIZE of the run
  bool bUnprivileged = false;  // as root: run as nobody, in root's folder

  SharedCase& After() { return bRotateAfter = true, *this; }
  SharedCase& Signal(int n) { return nSignal = n, *this; }
  SharedCase& SizeLimit(long long n) { return nSizeLimit = n, *this; }
  SharedCase& AsNobody() { return bUnprivileged = true, *this; }
};

const char* const WAITED =
    "zarvo: the log file @ stayed locked for 10 s: written without the lock\n";

// Each case at once, each with its own log and other side. Locks held too
// long are waited for 10 s and then done without (a failing entry then
// cannot be cut back); /N then empties nothing, so a rotator that copies
// the log later keeps every line. A rotation while zarvo waits leaves the
// old lines in NAME.1 and the entry, once, in the new log, also when the
// new file comes late and zarvo may not create it. The caller's lock is
// not waited for. While zarvo waits for a record lock, flock users are not
// shut out. A FIFO is waited for within the same bound, and a signal ends
// that wait at once.
TEST(SharedLogE2E, TakesTurnsWithOthersWithinTheBound) {
  SharedCase aRows[] = {
      {"flock-copytruncate", 'f', 'c', "entry", "entry\n", "", "entry\r\n",
       "old\r\n"},
      {"lockf-rename-new", 'r', 'm', "/N /LO new", "", "", "new\r\n",
       "old\r\n"},
      SharedCase{"rename-new-file-late", 'f', 'M', "/LO moved", "", "",
                 "moved\r\n", "old\r\n"}
          .AsNobody(),
      {"flock-held", 'f', 0, "late", "late\n", WAITED, "old\r\nlate\r\n",
       nullptr},
      {"lockf-held", 'r', 0, "late", "late\n", WAITED, "old\r\nlate\r\n",
       nullptr},
      {"zarvo-stopped", 's', 0, "late", "late\n", WAITED, "old\r\nlate\r\n",
       nullptr},
      SharedCase{"flock-held-too-large", 'f', 0, "hello_world", "hello_world\n",
                 "zarvo: the log file @ stayed locked for 10 s: written "
                 "without the lock\nzarvo: cannot write to the log file @: "
                 "File too large\n",
                 "old\r\nhello_world", nullptr}
          .SizeLimit(16),
      SharedCase{"flock-held-new-log", 'f', 'c', "/N /LO fresh",
                 "Zarvo was unable to write to the log file.\n",
                 "zarvo: the log file @ stayed locked for 10 s: not started "
                 "afresh\n",
                 "", "old\r\n"}
          .After(),
      {"unlocked-appender", 'a', 0, "entry", "entry\n", "",
       "old\r\nother\r\nentry\r\n", nullptr},
      {"inside-flock", 'F', 0, "/LO inside", "", "", "old\r\ninside\r\n",
       nullptr},
      {"fifo-never-read", 'p', 0, "/LO /R:100000 entry", "",
       "zarvo: cannot write to the log file @: Resource temporarily "
       "unavailable\n",
       nullptr, nullptr},
      SharedCase{"fifo-never-read-sigterm", 'p', 0, "/LO /R:100000 entry", "",
                 "", nullptr, nullptr}
          .Signal(SIGTERM),
      {"fifo-no-reader", 'n', 0, "/LO entry", "",
       "zarvo: cannot write to the log file @: No such device or address\n",
       nullptr, nullptr}};
  // The cases that this user can set up: another user's run needs root.
  std::vector<SharedCase> aCases;
  for (const SharedCase& c : aRows)
    if (!c.bUnprivileged || geteuid() == 0) aCases.push_back(c);
  const std::size_t CASES = aCases.size();
  e2e::TempDir dir;
  chmod(dir.Path().c_str(), 0755);
  mkdir(dir.File("root").c_str(), 0755);
  std::vector<std::string> aLogs;
  std::vector<std::unique_ptr<Holder>> apHolders;
  // Every holder first: one forked later would keep the runs' pipes open.
  for (const SharedCase& c : aCases) {
    aLogs.push_back(dir.File(c.bUnprivileged ? "root/" : "") + c.pszName);
    if (c.pszLog != nullptr)
      SharedFile(aLogs.back(), "old\r\n", 0644);
    else
      mkfifo(aLogs.back().c_str(), 0666);
    apHolders.emplace_back(new Holder(aLogs.back(), c.chHolder));
  }
  std::vector<e2e::RunResult> aResults(CASES);
  std::vector<double> anSeconds(CASES);
  std::vector<std::thread> aRuns;
  for (std::size_t i = 0; i < CASES; ++i)
    aRuns.emplace_back([&, i] {
      e2e::RunOptions options;
      std::istringstream args(aCases[i].pszArgs);
      for (std::string strArg; args >> strArg;) options.aArgs.push_back(strArg);
      options.aEnv = {"ZARVO_LOG=" + aLogs[i]};
      options.nFileSizeLimit = aCases[i].nSizeLimit;
      options.bUnprivileged = aCases[i].bUnprivileged;
      if (aCases[i].chHolder == 'F') {
        options.strExecutable = "/usr/bin/flock";
        options.strArgv0 = "flock";
        options.aArgs.insert(options.aArgs.begin(), {aLogs[i], ZARVO_BINARY});
      }
      auto tStart = std::chrono::steady_clock::now();
      aResults[i] = e2e::Run(options);
      anSeconds[i] = std::chrono::duration<double>(
                         std::chrono::steady_clock::now() - tStart)
                         .count();
    });
  for (std::size_t i = 0; i < CASES; ++i) {
    const SharedCase& c = aCases[i];
    bool bDuring = (c.chRotate != 0 && !c.bRotateAfter) || c.nSignal != 0;
    if (!bDuring && c.chHolder != 'r') continue;
    pid_t nRun = 0;
    EXPECT_TRUE(WaitUntil([&] {
      return (nRun = OpenedByOther(aLogs[i], apHolders[i]->nPid)) > 0;
    })) << c.pszName;
    if (c.chHolder == 'r') {
      EXPECT_TRUE(WaitUntil([&] { return FlockFree(aLogs[i]); }, 5))
          << c.pszName;
    }
    if (c.nSignal != 0 && nRun > 0) kill(nRun, c.nSignal);
    if (c.chRotate != 0 && !c.bRotateAfter)
      e2e::WriteFile(aLogs[i] + "." + c.chRotate, "");
  }
  for (std::size_t i = 0; i < CASES; ++i) {
    const SharedCase& c = aCases[i];
    SCOPED_TRACE(c.pszName);
    aRuns[i].join();
    if (c.bRotateAfter) {
      e2e::WriteFile(aLogs[i] + "." + c.chRotate, "");
      EXPECT_TRUE(apHolders[i]->Ended());
    }
    std::string strErr = c.pszErr;
    for (std::size_t n; (n = strErr.find('@')) != std::string::npos;)
      strErr.replace(n, 1, aLogs[i]);
    EXPECT_EQ(aResults[i].strOut, c.pszOut);
    EXPECT_EQ(aResults[i].strErr, strErr);
    EXPECT_EQ(aResults[i].nExitCode, c.nSignal != 0 ? -1 : 0);
    EXPECT_EQ(aResults[i].nSignal, c.nSignal);
    // Ended by the signal, not by the end of the 10 s that it waited.
    if (c.nSignal != 0) {
      EXPECT_LT(anSeconds[i], 9.0);
    }
    if (c.pszLog != nullptr) {
      EXPECT_EQ(e2e::ReadFile(aLogs[i]), c.pszLog);
    }
    bool bArchive = false;
    std::string strArchive = e2e::ReadFile(aLogs[i] + ".1", &bArchive);
    EXPECT_EQ(strArchive, c.pszArchive ? c.pszArchive : "");
    EXPECT_EQ(bArchive, c.pszArchive != nullptr);
  }
}

// An entry of many write requests that a signal meets half way is
// finished first, and one that fails (a size limit) is taken back first;
// then the run ends by that signal.
TEST(SharedLogE2E, EndingSignalWaitsForTheWholeEntry) {
  std::string strEntry;
  for (int i = 0; i < 200000; ++i) strEntry += "line\r\n";
  const Args LONG = {"/LO", "/F", "/R:200000", "line\\n"};
  const std::string WHOLE = "old\r\n" + strEntry + "\r\n";
  struct {
    int nSignal;
    int nAtWrite;  // raised just before this write request
    long long nSizeLimit;
    Args aArgs;
    std::string strAfter;
  } aCases[] = {{SIGTERM, 2, 0, LONG, WHOLE},
                {SIGINT, 2, 0, LONG, WHOLE},
                {SIGHUP, 2, 0, LONG, WHOLE},
                {SIGTERM, 1, 16, {"hello_world"}, "old\r\n"}};
  for (const auto& c : aCases) {
    e2e::TempDir dir;
    e2e::WriteFile(dir.File("s.log"), "old\r\n");
    e2e::RunOptions options;
    options.aArgs = c.aArgs;
    options.aEnv = ShimEnv(dir.File("s.log"), c.nSignal, c.nAtWrite);
    options.nFileSizeLimit = c.nSizeLimit;
    EXPECT_EQ(e2e::Run(options).nSignal, c.nSignal);
    EXPECT_TRUE(e2e::ReadFile(dir.File("s.log")) == c.strAfter)
        << c.nSignal << " " << c.aArgs[0];
  }
}

// Entries of up to 1 MiB reach the file in one request each: a writer
// that takes no lock (>>), appending all the while, never lands inside.
TEST(SharedLogE2E, UnlockedAppendsNeverLandInsideAnEntry) {
  e2e::TempDir dir;
  std::string strLog = dir.File("mixed.log");
  pid_t nAppender = fork();
  if (nAppender == 0) {
    int nFile = open(strLog.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    while (write(nFile, "OTHER\r\n", 7) == 7) {
    }
    _exit(1);
  }
  EXPECT_TRUE(WaitUntil([&] { return !e2e::ReadFile(strLog).empty(); }));
  for (char ch = 'a'; ch < 'f'; ++ch)
    RunLogged(dir, strLog.c_str(),
              {"/LO", "/F", "/R:170000", std::string(4, ch) + "\\n"});
  kill(nAppender, SIGKILL);
  waitpid(nAppender, nullptr, 0);
  std::string strText = e2e::ReadFile(strLog);
  for (char ch = 'a'; ch < 'f'; ++ch) {
    std::string strEntry;
    for (int k = 0; k < 170000; ++k) strEntry += std::string(4, ch) + "\r\n";
    EXPECT_NE(strText.find(strEntry + "\r\n"), std::string::npos) << ch;
  }
}

// A log already at its size limit takes nothing of the entry, and then
// nothing is cut either: the file is not touched, its time stays.
TEST(SharedLogE2E, RefusedEntryCutsNothing) {
  e2e::TempDir dir;
  std::string strLog = dir.File("full.log");
  e2e::WriteFile(strLog, "old\r\n");
  struct timespec atTimes[2] = {{978307200, 0}, {978307200, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, strLog.c_str(), atTimes, 0), 0);
  e2e::RunOptions options;
  options.aArgs = {"x"};
  options.aEnv = {"ZARVO_LOG=" + strLog};
  options.nFileSizeLimit = 5;
  EXPECT_NE(e2e::Run(options).strErr, "");
  struct stat tInfo;
  ASSERT_EQ(stat(strLog.c_str(), &tInfo), 0);
  EXPECT_EQ(tInfo.st_mtim.tv_sec, 978307200);
}

// ------------------------------------------------------------ concurrency

// Distinct messages of different lengths, so that a torn or mixed entry
// shows as a line that no writer wrote.
std::string Message(int nWriter, int nMessage) {
  char szHead[32];
  std::snprintf(szHead, sizeof szHead, "w%02d-m%03d-", nWriter, nMessage);
  return szHead +
         std::string(std::size_t(20 + (nWriter * 37 + nMessage * 11) % 500),
                     char('a' + nWriter));
}

// A distinct line of 100 bytes, its line feed included.
std::string Line100(int nWriter, int nLine) {
  char szHead[32];
  std::snprintf(szHead, sizeof szHead, "w%02d-l%03d-", nWriter, nLine);
  return szHead + std::string(99 - std::strlen(szHead), char('a' + nWriter));
}

typedef std::string (*TextFunction)(int nWriter, int nText);

// In a forked child: runs zarvo once for each of this writer's nCount texts,
// one after the other, with the environment aEnv and standard output on
// nStdout (/dev/null when -1); never returns.
[[noreturn]] void WriterLoop(int nWriter, int nCount, TextFunction pfnText,
                             std::vector<std::string> aEnv, int nStdout) {
  posix_spawn_file_actions_t tActions;
  posix_spawn_file_actions_init(&tActions);
  if (nStdout < 0)
    posix_spawn_file_actions_addopen(&tActions, 1, "/dev/null", O_WRONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&tActions, nStdout, 1);
  std::string strBinary = e2e::BinaryPath();
  std::vector<char*> apEnv;
  for (std::string& strVar : aEnv) apEnv.push_back(&strVar[0]);
  apEnv.push_back(nullptr);
  for (int m = 0; m < nCount; ++m) {
    std::string strText = pfnText(nWriter, m);
    char* apArgv[] = {&strBinary[0], &strText[0], nullptr};
    pid_t nPid = 0;
    if (posix_spawn(&nPid, strBinary.c_str(), &tActions, nullptr, apArgv,
                    apEnv.data()) != 0)
      _exit(2);
    int nStatus = 0;
    if (waitpid(nPid, &nStatus, 0) != nPid || !WIFEXITED(nStatus) ||
        WEXITSTATUS(nStatus) != 0)
      _exit(3);
  }
  _exit(0);
}

// Starts nWriters writers at once; they run until WaitWriters.
std::vector<pid_t> StartWriters(int nWriters, int nCount, TextFunction pfnText,
                                const std::vector<std::string>& aEnv,
                                int nStdout) {
  std::vector<pid_t> aChildren;
  for (int w = 0; w < nWriters; ++w) {
    pid_t nPid = fork();
    if (nPid == 0) WriterLoop(w, nCount, pfnText, aEnv, nStdout);
    if (nPid > 0) aChildren.push_back(nPid);
  }
  return aChildren;
}

void WaitWriters(const std::vector<pid_t>& aChildren, int nWriters) {
  EXPECT_EQ(int(aChildren.size()), nWriters);
  for (pid_t nPid : aChildren) {
    int nStatus = 0;
    ASSERT_EQ(waitpid(nPid, &nStatus, 0), nPid);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << nStatus;
  }
}

// Every text of every writer must be a line of strText, ended by strEnd,
// exactly once; a torn, mixed, lost or doubled line fails.
void ExpectEveryLineOnce(const std::string& strText, const std::string& strEnd,
                         int nWriters, int nCount, TextFunction pfnText) {
  std::multiset<std::string> setExpected;
  for (int w = 0; w < nWriters; ++w)
    for (int m = 0; m < nCount; ++m) setExpected.insert(pfnText(w, m));
  ASSERT_GE(strText.size(), strEnd.size());
  ASSERT_EQ(strText.substr(strText.size() - strEnd.size()), strEnd);
  std::multiset<std::string> setFound;
  std::size_t nStart = 0;
  while (nStart < strText.size()) {
    std::size_t nEnd = strText.find(strEnd, nStart);
    setFound.insert(strText.substr(nStart, nEnd - nStart));
    nStart = nEnd + strEnd.size();
  }
  EXPECT_EQ(setFound.size(), std::size_t(nWriters * nCount));
  // Name the first line that no writer wrote once, shortened.
  std::string strStray;
  for (const std::string& strLine : setFound)
    if (setExpected.count(strLine) != 1 || setFound.count(strLine) != 1) {
      strStray = strLine.substr(0, 80);
      break;
    }
  EXPECT_TRUE(setFound == setExpected)
      << "lines missing, doubled or torn; first stray line: " << strStray;
}

TEST(LogConcurrencyE2E, SimultaneousWritersKeepEveryEntryWhole) {
  const int WRITERS = 16;
  const int MESSAGES = 200;
  e2e::TempDir dir;
  std::string strLog = dir.File("shared.log");
  WaitWriters(
      StartWriters(WRITERS, MESSAGES, Message, {"ZARVO_LOG=" + strLog}, -1),
      WRITERS);
  ExpectEveryLineOnce(e2e::ReadFile(strLog), "\r\n", WRITERS, MESSAGES,
                      Message);
}

// Appends that an NFS client makes (size lookup, pause, write there) keep
// every entry whole: the writers take turns by the lock.
TEST(LogConcurrencyE2E, NonAtomicAppendsKeepEveryEntryWhole) {
  const int WRITERS = 8;
  const int MESSAGES = 60;
  e2e::TempDir dir;
  std::string strLog = dir.File("nfs.log");
  WaitWriters(
      StartWriters(
          WRITERS, MESSAGES, Message,
          {"ZARVO_LOG=" + strLog, std::string("LD_PRELOAD=") + ZARVO_LOG_SHIM,
           "SHIM_NFS_APPEND=1", "ASAN_OPTIONS=verify_asan_link_order=0"},
          -1),
      WRITERS);
  ExpectEveryLineOnce(e2e::ReadFile(strLog), "\r\n", WRITERS, MESSAGES,
                      Message);
}

// Parallel jobs printing through one output, a file opened for appending
// (">>") or a pipe, never split each other's lines.
TEST(OutputConcurrencyE2E, ParallelJobsKeepEveryLineWhole) {
  const int JOBS = 8;
  const int LINES = 250;
  e2e::TempDir dir;
  std::string strFile = dir.File("shared.out");
  int nFile = open(strFile.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  ASSERT_GE(nFile, 0);
  WaitWriters(StartWriters(JOBS, LINES, Line100, {}, nFile), JOBS);
  close(nFile);
  ExpectEveryLineOnce(e2e::ReadFile(strFile), "\n", JOBS, LINES, Line100);

  int anPipe[2];
  ASSERT_EQ(pipe(anPipe), 0);
  std::vector<pid_t> aJobs = StartWriters(JOBS, LINES, Line100, {}, anPipe[1]);
  close(anPipe[1]);
  std::string strPiped;
  char abBuf[65536];
  ssize_t nRead;
  while ((nRead = read(anPipe[0], abBuf, sizeof abBuf)) > 0 ||
         (nRead < 0 && errno == EINTR))
    if (nRead > 0) strPiped.append(abBuf, std::size_t(nRead));
  close(anPipe[0]);
  WaitWriters(aJobs, JOBS);
  ExpectEveryLineOnce(strPiped, "\n", JOBS, LINES, Line100);
}

}  // namespace
