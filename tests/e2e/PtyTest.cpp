// zarvo's waits on a real pseudo-terminal that is the child's controlling
// terminal: keys typed on it, signals from it, and its settings before and
// after. Every wait here is bounded so that a fault fails instead of hanging.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ExpectedText.h"
#include "Harness.h"

namespace {

// How long any one step may take before the test gives up on it. A count
// that the test ends, or acts in, runs for several seconds after the test's
// last look (/P:9, /T:5), so that a busy machine cannot end it first.
const int LIMIT_MILLIS = 20000;
const char CANCEL[] = " <ESC> pressed, timer canceled.";

using expected::Count;
using expected::Erase;

// True when strOut is strHead, the count from nFrom with some falls short of
// 0, then strTail: a countdown that something other than time ended.
bool IsCountEndedEarly(const std::string& strOut, const std::string& strHead,
                       int nFrom, const std::string& strTail) {
  for (int nFalls = 0; nFalls < nFrom; ++nFalls)
    if (strOut == strHead + Count(nFrom, nFalls) + strTail) return true;
  return false;
}

// Differences between two terminal settings, "" when they are the same.
std::string Differences(const termios& a, const termios& b) {
  std::string strDiff;
  if (a.c_iflag != b.c_iflag) strDiff += " c_iflag";
  if (a.c_oflag != b.c_oflag) strDiff += " c_oflag";
  if (a.c_cflag != b.c_cflag) strDiff += " c_cflag";
  if (a.c_lflag != b.c_lflag) strDiff += " c_lflag";
  for (int i = 0; i < NCCS; ++i)
    if (a.c_cc[i] != b.c_cc[i]) strDiff += " c_cc[" + std::to_string(i) + "]";
  if (cfgetispeed(&a) != cfgetispeed(&b)) strDiff += " ispeed";
  if (cfgetospeed(&a) != cfgetospeed(&b)) strDiff += " ospeed";
  return strDiff;
}

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline() {
  return Clock::now() + std::chrono::milliseconds(LIMIT_MILLIS);
}

// The state letter of process nPid (R, S, T, Z...), 0 when there is none.
char ProcessState(pid_t nPid) {
  std::ifstream stat("/proc/" + std::to_string(nPid) + "/stat");
  std::string strStat;
  if (!std::getline(stat, strStat)) return 0;
  // The name in parentheses may hold anything; the state follows it.
  std::size_t nEnd = strStat.rfind(')');
  return nEnd != std::string::npos && nEnd + 2 < strStat.size()
             ? strStat[nEnd + 2]
             : 0;
}

// Whether process nPid has ended: gone, or a zombie that its parent has not
// reaped yet (an interactive shell may take its time).
bool Ended(pid_t nPid) {
  if (kill(nPid, 0) != 0 && errno == ESRCH) return true;
  char cState = ProcessState(nPid);
  return cState == 'Z' || cState == 'X';
}

// Whether process nPid sleeps in poll or select: waiting for a key or the
// next second, done with everything it was given before.
bool AsleepInPoll(pid_t nPid) {
  std::ifstream call("/proc/" + std::to_string(nPid) + "/syscall");
  long nCall = -1;
  if (!(call >> nCall) || ProcessState(nPid) != 'S') return false;
#ifdef SYS_poll
  if (nCall == SYS_poll) return true;
#endif
#ifdef SYS_select
  if (nCall == SYS_select) return true;
#endif
  return nCall == SYS_ppoll || nCall == SYS_pselect6;
}

struct ChildOptions {
  std::vector<std::string> aArgs;
  bool bControllingTty = true;  // false: setsid() only, as under cron or CI
  std::string strStdoutFile;    // "" means the terminal
  std::string strStdinFile;     // "" means the terminal
  // Runs zarvo in a process group of its own under a small job-control
  // shell, so that Ctrl+Z really stops it.
  bool bJobControl = false;
  std::vector<int> aIgnored;      // signals zarvo starts with ignored (nohup)
  std::vector<std::string> aEnv;  // "NAME=value"; nothing is inherited
  // A program to run instead of zarvo, with its arguments; in its
  // environment $ZARVO names zarvo and $SHIM the preloadable tcsetattr.
  std::vector<std::string> aCommand;
};

// zarvo started on a fresh pseudo-terminal. The test keeps both ends open:
// the master to type and read, the slave to read the settings.
class PtyChild {
 public:
  explicit PtyChild(const ChildOptions& options) { Start(options); }
  // Only the child is killed, never a job of its: a job's zarvo ends with
  // the job shell, and a number that the shell has reaped may be another
  // process's by now.
  ~PtyChild() {
    if (m_nPid > 0 && !m_bExited) {
      kill(m_nPid, SIGKILL);
      waitpid(m_nPid, nullptr, 0);
    }
    for (int nFd : {m_nMaster, m_nSlave, m_nReport})
      if (nFd >= 0) close(nFd);
  }

  bool Started() const { return m_nPid > 0; }
  const termios& Before() const { return m_tBefore; }
  const std::string& Output() const { return m_strOut; }
  pid_t ZarvoPid() const { return m_nZarvo > 0 ? m_nZarvo : m_nPid; }

  void Apply(const termios& tSettings) {
    tcsetattr(m_nSlave, TCSANOW, &tSettings);
  }

  termios Settings() const {
    termios tNow;
    std::memset(&tNow, 0, sizeof tNow);
    tcgetattr(m_nSlave, &tNow);
    return tNow;
  }

  void Send(const std::string& strKeys) {
    ASSERT_EQ(write(m_nMaster, strKeys.data(), strKeys.size()),
              ssize_t(strKeys.size()));
  }

  // Until zarvo has taken the terminal (echo off: keys read one at a time
  // under /P, merely not shown under /T:n): from then on typed keys are its.
  bool WaitTaken() {
    for (Clock::time_point tEnd = Deadline(); Clock::now() < tEnd;) {
      if ((Settings().c_lflag & ECHO) == 0) return true;
      if (Reap(WNOHANG)) return false;
      Pump(5);
    }
    return false;
  }

  // Until zarvo sleeps in its wait: whatever it was sent before has not
  // ended it.
  bool WaitAsleep() {
    for (Clock::time_point tEnd = Deadline(); Clock::now() < tEnd;) {
      if (AsleepInPoll(ZarvoPid())) return true;
      if (Reap(WNOHANG)) return false;
      Pump(5);
    }
    return false;
  }

  // Until the child has stopped (by a signal it raised itself).
  bool WaitStopped() {
    for (Clock::time_point tEnd = Deadline(); Clock::now() < tEnd;) {
      if (ProcessState(m_nPid) == 'T') return true;
      if (Reap(WNOHANG)) return false;
      Pump(5);
    }
    return false;
  }

  // Until process nPid (a job of a shell on the terminal) has ended.
  bool WaitEnded(pid_t nPid) {
    for (Clock::time_point tEnd = Deadline(); Clock::now() < tEnd;) {
      if (Ended(nPid)) return true;
      Pump(20);
    }
    return false;
  }

  // Until the output from the terminal contains strPart.
  bool WaitOutput(const std::string& strPart) {
    for (Clock::time_point tEnd = Deadline(); Clock::now() < tEnd;) {
      if (m_strOut.find(strPart) != std::string::npos) return true;
      Pump(20);
    }
    return false;
  }

  // Until the child ends; after the limit it is killed and false returned.
  bool WaitExit() {
    for (Clock::time_point tEnd = Deadline(); Clock::now() < tEnd;) {
      if (Reap(WNOHANG)) break;
      Pump(10);
    }
    if (!m_bExited) {
      kill(m_nPid, SIGKILL);
      Reap(0);
      return false;
    }
    Pump(0);
    return true;
  }

  bool Running() { return !Reap(WNOHANG); }
  pid_t ForegroundGroup() const { return tcgetpgrp(m_nMaster); }
  int ExitCode() const {
    return WIFEXITED(m_nStatus) ? WEXITSTATUS(m_nStatus) : -1;
  }
  int Signal() const {
    return WIFSIGNALED(m_nStatus) ? WTERMSIG(m_nStatus) : 0;
  }

  // The job-control shell's report: 'S' when zarvo stopped, 'X' when ended.
  char NextReport() {
    pollfd tPoll = {m_nReport, POLLIN, 0};
    for (Clock::time_point tEnd = Deadline(); Clock::now() < tEnd;) {
      Pump(0);
      if (poll(&tPoll, 1, 10) > 0) {
        char cReport = 0;
        return read(m_nReport, &cReport, 1) == 1 ? cReport : 0;
      }
    }
    return 0;
  }

  // What is left for the next reader of the terminal, once zarvo is gone.
  std::string PendingInput() {
    std::string strIn;
    pollfd tPoll = {m_nSlave, POLLIN, 0};
    if (poll(&tPoll, 1, LIMIT_MILLIS) <= 0) return strIn;
    fcntl(m_nSlave, F_SETFL, fcntl(m_nSlave, F_GETFL) | O_NONBLOCK);
    char abBuf[256];
    ssize_t nRead;
    while ((nRead = read(m_nSlave, abBuf, sizeof abBuf)) > 0)
      strIn.append(abBuf, std::size_t(nRead));
    return strIn;
  }

 private:
  void Start(const ChildOptions& options) {
    if (openpty(&m_nMaster, &m_nSlave, nullptr, nullptr, nullptr) != 0) return;
    // Output bytes pass unchanged, so that they can be compared exactly.
    termios tSettings = Settings();
    tSettings.c_oflag &= tcflag_t(~OPOST);
    tcsetattr(m_nSlave, TCSANOW, &tSettings);
    m_tBefore = Settings();
    fcntl(m_nMaster, F_SETFL, fcntl(m_nMaster, F_GETFL) | O_NONBLOCK);

    int anReport[2] = {-1, -1};
    if (options.bJobControl && pipe(anReport) != 0) return;
    // Everything the child needs is prepared before fork().
    std::vector<std::string> aArgv = {e2e::BinaryPath()};
    aArgv.insert(aArgv.end(), options.aArgs.begin(), options.aArgs.end());
    std::vector<std::string> aEnv = options.aEnv;
    if (!options.aCommand.empty()) {
      aArgv = options.aCommand;
      aEnv.push_back("ZARVO=" + e2e::BinaryPath());
      aEnv.push_back(std::string("SHIM=") + ZARVO_TCSETATTR_SHIM);
      aEnv.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
      // A sanitizer build would refuse a library loaded before its own.
      aEnv.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    }
    std::vector<char*> argv;
    for (std::string& s : aArgv) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& s : aEnv) envp.push_back(&s[0]);
    envp.push_back(nullptr);

    m_nPid = fork();
    if (m_nPid == 0) {
      if (options.bJobControl) close(anReport[0]);
      RunChild(options, argv.data(), envp.data(), anReport[1]);
    }
    if (options.bJobControl) {
      close(anReport[1]);
      m_nReport = anReport[0];
      pid_t nZarvo = 0;
      pollfd tPoll = {m_nReport, POLLIN, 0};
      if (poll(&tPoll, 1, LIMIT_MILLIS) > 0 &&
          read(m_nReport, &nZarvo, sizeof nZarvo) == ssize_t(sizeof nZarvo))
        m_nZarvo = nZarvo;
    }
  }

  [[noreturn]] void RunChild(const ChildOptions& options, char** argv,
                             char** envp, int nReport) {
    setsid();
    if (options.bControllingTty) ioctl(m_nSlave, TIOCSCTTY, 0);
    int nIn = m_nSlave;
    int nOut = m_nSlave;
    if (!options.strStdinFile.empty())
      nIn = open(options.strStdinFile.c_str(), O_RDONLY);
    if (!options.strStdoutFile.empty())
      nOut = open(options.strStdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                  0644);
    if (nIn < 0 || nOut < 0) _exit(126);
    dup2(nIn, 0);
    dup2(nOut, 1);
    dup2(m_nSlave, 2);
    for (int nFd : {m_nMaster, m_nSlave, nIn, nOut})
      if (nFd > 2) close(nFd);
    rlimit tNoCore = {0, 0};  // Ctrl+\ must not leave a core file behind
    setrlimit(RLIMIT_CORE, &tNoCore);
    sigset_t tNone;
    sigemptyset(&tNone);
    sigprocmask(SIG_SETMASK, &tNone, nullptr);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTOU})
      signal(nSignal, SIG_DFL);
    for (int nSignal : options.aIgnored) signal(nSignal, SIG_IGN);
    if (options.bJobControl) RunJobShell(argv, envp, nReport);
    execve(argv[0], argv, envp);
    _exit(127);
  }

  // Like an interactive shell: zarvo runs as the terminal's foreground
  // process group, and this process reports when it stops and when it ends.
  [[noreturn]] static void RunJobShell(char** argv, char** envp, int nReport) {
    pid_t nShell = getpid();
    pid_t nZarvo = fork();
    if (nZarvo == 0) {
      close(nReport);
      // zarvo ends with this shell, however the test ends it.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != nShell) _exit(127);
      setpgid(0, 0);
      signal(SIGTTOU, SIG_IGN);  // a background group may not take the tty
      tcsetpgrp(0, getpid());
      signal(SIGTTOU, SIG_DFL);
      execve(argv[0], argv, envp);
      _exit(127);
    }
    setpgid(nZarvo, nZarvo);
    if (write(nReport, &nZarvo, sizeof nZarvo) != ssize_t(sizeof nZarvo))
      _exit(125);
    int nStatus = 0;
    for (;;) {
      pid_t nDone = waitpid(nZarvo, &nStatus, WUNTRACED);
      if (nDone < 0 && errno == EINTR) continue;
      if (nDone < 0) _exit(124);
      if (WIFSTOPPED(nStatus)) {
        if (write(nReport, "S", 1) != 1) _exit(125);
        continue;
      }
      if (write(nReport, "X", 1) != 1) _exit(125);
      _exit(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus)
                               : 128 + WTERMSIG(nStatus));
    }
  }

  // Reads what the child wrote to the terminal, waiting up to nMillis.
  void Pump(int nMillis) {
    pollfd tPoll = {m_nMaster, POLLIN, 0};
    if (poll(&tPoll, 1, nMillis) <= 0) return;
    char abBuf[4096];
    ssize_t nRead;
    while ((nRead = read(m_nMaster, abBuf, sizeof abBuf)) > 0)
      m_strOut.append(abBuf, std::size_t(nRead));
  }

  bool Reap(int nOptions) {
    if (m_bExited) return true;
    pid_t nDone;
    do {
      nDone = waitpid(m_nPid, &m_nStatus, nOptions);
    } while (nDone < 0 && errno == EINTR);
    m_bExited = nDone == m_nPid;
    return m_bExited;
  }

  int m_nMaster = -1;
  int m_nSlave = -1;
  int m_nReport = -1;
  pid_t m_nPid = -1;
  pid_t m_nZarvo = -1;
  bool m_bExited = false;
  int m_nStatus = 0;
  termios m_tBefore{};
  std::string m_strOut;
};

ChildOptions Args(std::vector<std::string> aArgs) {
  ChildOptions options;
  options.aArgs = std::move(aArgs);
  return options;
}

// zarvo with these arguments, raising nSignal right after the tcsetattr
// that takes the terminal or gives it back.
std::string Shimmed(const char* pszAfter, int nSignal, const char* pszArgs) {
  return std::string("LD_PRELOAD=\"$SHIM\" ") + pszAfter + "=" +
         std::to_string(nSignal) + " exec \"$ZARVO\" " + pszArgs;
}

const char* const TAKE = "SHIM_AFTER_TAKE";
const char* const GIVE = "SHIM_AFTER_GIVE";

TEST(Pty, PauseEndsOnKeyWithoutEchoAndGivesTerminalBack) {
  PtyChild child(Args({"msg", "/P"}));
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitTaken());
  // Keys without echo, but Ctrl+C and the like still raise signals.
  termios tWaiting = child.Settings();
  EXPECT_EQ(tWaiting.c_lflag & ECHO, 0u);
  EXPECT_NE(tWaiting.c_lflag & ISIG, 0u);
  child.Send("k");
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(child.Output(), "msg\n");  // the key itself never appears
  EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
}

// One key ends the wait; the keys typed after it are left in the terminal
// for the shell or the next program.
TEST(Pty, KeysAfterTheOneThatEndsPauseStayInTerminal) {
  PtyChild child(Args({"/P"}));
  ASSERT_TRUE(child.WaitTaken());
  child.Send("ab\n");
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(child.PendingInput(), "b\n");
}

// Standard input redirected from a file does not feed the wait: only a key
// on the terminal ends it.
TEST(Pty, PauseIgnoresRedirectedStandardInput) {
  e2e::TempDir dir;
  e2e::WriteFile(dir.File("in.txt"), "x\ny\n");
  ChildOptions options = Args({"msg", "/P"});
  options.strStdinFile = dir.File("in.txt");
  PtyChild child(options);
  ASSERT_TRUE(child.WaitTaken());
  ASSERT_TRUE(child.WaitAsleep());
  child.Send(" ");
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(child.Output(), "msg\n");
}

struct KeyCase {
  const char* pszName;
  std::string strKeys;  // written to the terminal in one piece
  bool bCancels;        // read as Escape (cancel text), then one more key
};

void PrintTo(const KeyCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class PtyKeys : public ::testing::TestWithParam<KeyCase> {};

// What a terminal sends for one key press is one key: an escape sequence
// is a special key (prefix 0 and a second code), never Escape, so it ends the
// countdown with no cancel text.
TEST_P(PtyKeys, OneKeyPressIsOneKey) {
  const KeyCase& c = GetParam();
  PtyChild child(Args({"msg", "/P:9"}));
  ASSERT_TRUE(child.WaitTaken());
  child.Send(c.strKeys);
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  std::string strTail = Erase(1) + (c.bCancels ? CANCEL : "") + "\n";
  EXPECT_TRUE(IsCountEndedEarly(child.Output(), "msg", 9, strTail))
      << child.Output();
  EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Waits, PtyKeys,
    ::testing::Values(KeyCase{"ArrowUp", "\x1b[A", false},
                      KeyCase{"ShiftF5", "\x1b[15;2~", false},
                      KeyCase{"F1", "\x1bOP", false},
                      KeyCase{"LinuxConsoleF1", "\x1b[[A", false},
                      KeyCase{"AltX", "\x1bx", false},
                      KeyCase{"CtrlAt", std::string(1, '\0'), false},
                      KeyCase{"Utf8Letter", "\xc3\xa9", false},
                      KeyCase{"Enter", "\r", false},
                      // A sequence cut short is a key of its own; what cut
                      // it short is not read as Escape.
                      KeyCase{"CutShortSequence", "\x1b[\x1b", false},
                      // Escape pressed twice: cancel, then the end.
                      KeyCase{"EscapeTwice", "\x1b\x1b", true}),
    [](const ::testing::TestParamInfo<KeyCase>& info) {
      return std::string(info.param.pszName);
    });

// A lone Escape cancels the count; the wait then needs one more key.
TEST(Pty, EscapeCancelsThenKeyEndsWait) {
  PtyChild child(Args({"msg", "/P:9"}));
  ASSERT_TRUE(child.WaitTaken());
  child.Send("\x1b");
  ASSERT_TRUE(child.WaitOutput(CANCEL)) << child.Output();
  EXPECT_TRUE(child.Running());
  child.Send("k");
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_TRUE(
      IsCountEndedEarly(child.Output(), "msg", 9, Erase(1) + CANCEL + "\n"))
      << child.Output();
  EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
}

// Output to a file holds the same bytes a console would get; the terminal
// is left as the timer found it.
TEST(Pty, CountdownToFileHoldsExactBytes) {
  e2e::TempDir dir;
  ChildOptions options = Args({"msg", "/T:2"});
  options.strStdoutFile = dir.File("out.txt");
  PtyChild child(options);
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(e2e::ReadFile(dir.File("out.txt")),
            "msg2" + Erase(1) + "1" + Erase(1) + "0" + Erase(1) + "\n");
  EXPECT_EQ(child.Output(), "");
  EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
}

struct SignalCase {
  const char* pszName;
  std::vector<std::string> aArgs;
  bool bEscapeFirst;   // cancel the count before the signal
  const char* pszKey;  // typed to raise the signal, or "" to send it
  int nSignal;
};

void PrintTo(const SignalCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class PtySignals : public ::testing::TestWithParam<SignalCase> {};

// The tool ends by the same signal and the terminal's settings are exactly
// those it found.
TEST_P(PtySignals, EndBySignalAndGiveTerminalBack) {
  const SignalCase& c = GetParam();
  PtyChild child(Args(c.aArgs));
  ASSERT_TRUE(child.WaitTaken());
  if (c.bEscapeFirst) {
    child.Send("\x1b");
    ASSERT_TRUE(child.WaitOutput(CANCEL));
  }
  if (*c.pszKey != '\0')
    child.Send(c.pszKey);
  else
    kill(child.ZarvoPid(), c.nSignal);
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.Signal(), c.nSignal);
  EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Waits, PtySignals,
    ::testing::Values(
        SignalCase{"CtrlCDuringPause", {"msg", "/P"}, false, "\x03", SIGINT},
        SignalCase{"CtrlCAfterEscape", {"/P:9"}, true, "\x03", SIGINT},
        SignalCase{
            "CtrlBackslashDuringCount", {"/P:9"}, false, "\x1c", SIGQUIT},
        SignalCase{"TermDuringCount", {"msg", "/P:9"}, false, "", SIGTERM},
        SignalCase{"HangUpDuringPause", {"/P"}, false, "", SIGHUP},
        SignalCase{"CtrlCDuringTimer", {"msg", "/T:9"}, false, "\x03", SIGINT},
        SignalCase{"AlarmDuringPause", {"msg", "/P"}, false, "", SIGALRM},
        SignalCase{"User1DuringPause", {"msg", "/P"}, false, "", SIGUSR1}),
    [](const ::testing::TestParamInfo<SignalCase>& info) {
      return std::string(info.param.pszName);
    });

// Under nohup a hang-up stays ignored: the wait goes on until a key. A
// Ctrl+C that ended the run would do so before the key could be read.
TEST(Pty, IgnoredSignalStaysIgnored) {
  ChildOptions options = Args({"msg", "/P"});
  options.aIgnored = {SIGHUP, SIGINT};
  PtyChild child(options);
  ASSERT_TRUE(child.WaitTaken());
  kill(child.ZarvoPid(), SIGHUP);
  child.Send("\x03");
  ASSERT_TRUE(child.WaitAsleep());
  child.Send("k");
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(child.Output(), "msg\n");
  EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
}

// Ctrl+Z: while stopped the terminal is as it was; after SIGCONT the wait
// takes it again: a key still ends /P, and /T:n counts on to its end.
TEST(Pty, CtrlZGivesTerminalBackWhileStopped) {
  for (std::string strWait : {"/P", "/T:5"}) {
    ChildOptions options = Args({"msg", strWait});
    options.bJobControl = true;
    PtyChild child(options);
    ASSERT_GT(child.ZarvoPid(), 0);
    ASSERT_TRUE(child.WaitTaken());
    child.Send("\x1a");
    ASSERT_EQ(child.NextReport(), 'S');
    EXPECT_EQ(Differences(child.Before(), child.Settings()), "") << strWait;
    kill(child.ZarvoPid(), SIGCONT);
    ASSERT_TRUE(child.WaitTaken());
    if (strWait == "/P") child.Send("k");
    ASSERT_EQ(child.NextReport(), 'X');
    ASSERT_TRUE(child.WaitExit());
    EXPECT_EQ(child.ExitCode(), 0);
    if (strWait == "/P") {
      EXPECT_EQ(child.Output(), "msg\n");
    }
    EXPECT_EQ(Differences(child.Before(), child.Settings()), "") << strWait;
  }
}

// Without a controlling terminal nobody can press a key: /P returns at
// once, /P:n counts its seconds down, and the terminal on standard output is
// left alone.
TEST(Pty, NoControllingTerminal) {
  struct NoTtyCase {
    std::vector<std::string> aArgs;
    std::string strOut;
  };
  const NoTtyCase aCases[] = {
      {{"msg", "/P"}, "msg\n"},
      {{"msg", "/P:2"}, "msg" + Count(2, 2) + Erase(1) + "\n"},
      {{"msg", "/P:1", "/SC"}, "msg\n"},
  };
  for (const NoTtyCase& c : aCases) {
    ChildOptions options = Args(c.aArgs);
    options.bControllingTty = false;
    PtyChild child(options);
    ASSERT_TRUE(child.WaitExit()) << c.aArgs[1];
    EXPECT_EQ(child.ExitCode(), 0) << c.aArgs[1];
    EXPECT_TRUE(child.WaitOutput(c.strOut)) << c.aArgs[1];
    EXPECT_EQ(child.Output(), c.strOut) << c.aArgs[1];
    EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
  }
}

// /T:n reads no key and shows none: only the echo is off while it counts,
// and keys typed meanwhile stay unread for the next reader of the terminal.
TEST(Pty, CountdownNeitherShowsNorReadsTypedKeys) {
  // zarvo stops itself once it has taken the terminal, so the keys surely
  // come while it holds it, before the count has begun.
  ChildOptions options;
  options.aCommand = {"/bin/sh", "-c", Shimmed(TAKE, SIGSTOP, "msg /T:2")};
  PtyChild child(options);
  ASSERT_TRUE(child.WaitStopped());
  termios tCounting = child.Settings();
  EXPECT_EQ(child.Before().c_lflag ^ tCounting.c_lflag, tcflag_t(ECHO));
  EXPECT_EQ(Differences(child.Before(), tCounting), " c_lflag");
  child.Send("ab\x1b\n");
  kill(child.ZarvoPid(), SIGCONT);
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(child.Output(), "msg" + Count(2, 2) + Erase(1) + "\n");
  EXPECT_EQ(Differences(child.Before(), child.Settings()), "");
  EXPECT_EQ(child.PendingInput(), "ab\x1b\n");
}

// A pager reading the output ("zarvo /T:3 | less") that sets the terminal up
// for itself during the count keeps its settings: zarvo gives back only
// what is still its own. The pager comes once zarvo counts, its own
// settings noted.
TEST(Pty, CountdownLeavesSettingsThatAnotherProgramMade) {
  PtyChild child(Args({"msg", "/T:3"}));
  ASSERT_TRUE(child.WaitTaken());
  ASSERT_TRUE(child.WaitAsleep());
  termios tPager = child.Before();
  tPager.c_lflag &= tcflag_t(~(ICANON | ECHO | ISIG));
  child.Apply(tPager);
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(Differences(tPager, child.Settings()), "");
}

// How a case starts its command on the terminal.
enum Start {
  SCRIPT,  // sh -c with this script, as a script runs it
  JOB,     // the same as a job of the small job-control shell
  SHELL    // this line typed into an interactive bash with job control
};

struct OwnerCase {
  const char* pszName;
  Start start;
  std::string strCommand;
  // What happens, in order: 'u' the count "w /T:2" shows its first figure
  // (zarvo has chosen not to take the terminal) and the settings are as they
  // were, 'e' the test turns echo off as "read -s" does, 't' zarvo takes the
  // terminal, 'z' Ctrl+Z stops it, 'k' "kill %1" ends it, 's' the job shell
  // sees it stop and SIGCONT resumes it, 'o' the line prints "rc=0", 'x' zarvo
  // ends (by nSignal, else with 0).
  const char* pszSteps;
  int nSignal;
};

void PrintTo(const OwnerCase& c, std::ostream* pOut) { *pOut << c.pszName; }

// Whatever the run is, the terminal's settings end as their owner left them.
class PtyOwner : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(PtyOwner, SettingsEndAsTheirOwnerLeftThem) {
  const OwnerCase& c = GetParam();
  ChildOptions options;
  options.aCommand = {"/bin/sh", "-c", c.strCommand};
  if (c.start == SHELL)
    options.aCommand = {"/bin/bash", "--norc", "--noprofile", "--noediting",
                        "-i"};
  options.aEnv = {"PS1=$ "};
  options.bJobControl = c.start == JOB;
  PtyChild child(options);
  ASSERT_TRUE(child.Started());
  termios tOwner = child.Before();
  if (c.start == SHELL) {
    ASSERT_TRUE(child.WaitOutput("$ "));
    tOwner = child.Settings();
    child.Send(c.strCommand + "\n");
  }
  pid_t nZarvo = child.ZarvoPid();
  for (const char* pStep = c.pszSteps; *pStep != '\0'; ++pStep) {
    switch (*pStep) {
      case 'u':
        ASSERT_TRUE(child.WaitOutput("w2")) << child.Output();
        ASSERT_EQ(Differences(tOwner, child.Settings()), "");
        break;
      case 'e':
        tOwner.c_lflag &= tcflag_t(~ECHO);
        child.Apply(tOwner);
        break;
      case 't':
        ASSERT_TRUE(child.WaitTaken());
        nZarvo = child.ForegroundGroup();
        break;
      case 'z':
        child.Send("\x1a");
        ASSERT_TRUE(child.WaitOutput("Stopped"));
        break;
      case 'k':
        child.Send("kill %1\n");
        EXPECT_TRUE(child.WaitEnded(nZarvo));
        break;
      case 's':
        ASSERT_EQ(child.NextReport(), 'S');
        kill(nZarvo, SIGCONT);
        break;
      case 'o': ASSERT_TRUE(child.WaitOutput("rc=0")) << child.Output(); break;
      case 'x':
        ASSERT_TRUE(child.WaitExit()) << child.Output();
        if (child.ExitCode() == 77) GTEST_SKIP() << child.Output();
        EXPECT_EQ(child.Signal(), c.nSignal);
        EXPECT_EQ(child.ExitCode(), c.nSignal == 0 ? 0 : -1);
        break;
    }
  }
  EXPECT_EQ(Differences(tOwner, child.Settings()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Waits, PtyOwner,
    ::testing::Values(
        // A script's "&" keeps zarvo in the foreground group; its output is
        // not the terminal, so the terminal stays the script's.
        OwnerCase{"ScriptCountdownInBackground", SCRIPT,
                  "\"$ZARVO\" w /T:2 | cat & wait", "uex", 0},
        OwnerCase{"CountdownIntoPipe", SCRIPT, "\"$ZARVO\" w /T:2 | cat", "ux",
                  0},
        OwnerCase{"SignalRightAfterPauseTakes", SCRIPT,
                  Shimmed(TAKE, SIGINT, "msg /P:3"), "x", SIGINT},
        OwnerCase{"SignalRightAfterCountdownTakes", SCRIPT,
                  Shimmed(TAKE, SIGINT, "msg /T:3"), "x", SIGINT},
        OwnerCase{"StopRightAfterGiveBack", JOB,
                  Shimmed(GIVE, SIGTSTP, "msg /P:1"), "sx", 0},
        // The wall clock stands still; the wait keeps time all the same.
        OwnerCase{"FrozenCalendarClock", SCRIPT,
                  "command -v faketime >/dev/null || exit 77; "
                  "FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f "
                  "'2026-12-08 12:00:00' \"$ZARVO\" msg /T:2",
                  "x", 0},
        OwnerCase{"StoppedPauseKilled", SHELL, "\"$ZARVO\" /P msg", "tzk", 0},
        OwnerCase{"TimedPauseInBackgroundEnds", SHELL,
                  "\"$ZARVO\" msg /P:2 & wait $!; echo rc=$?", "o", 0}),
    [](const ::testing::TestParamInfo<OwnerCase>& info) {
      return std::string(info.param.pszName);
    });

// A failed /N delete (the log is a folder) is reported on a line of its
// own, also after a count and cancel text that left the cursor mid-line.
TEST(Pty, FailedNewLogReportAfterCancelStartsItsOwnLine) {
  e2e::TempDir dir;
  ChildOptions options = Args({"/LO", "/N", "/P:9", "hi"});
  options.aEnv = {"ZARVO_LOG=" + dir.Path()};
  PtyChild child(options);
  ASSERT_TRUE(child.WaitTaken());
  child.Send("\x1b");
  ASSERT_TRUE(child.WaitOutput(CANCEL)) << child.Output();
  child.Send("k");
  ASSERT_TRUE(child.WaitExit());
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_TRUE(IsCountEndedEarly(
      child.Output(), "", 9,
      Erase(1) + CANCEL + "\nZarvo was unable to write to the log file.\n"))
      << child.Output();
}

}  // namespace
