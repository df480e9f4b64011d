// The controlling terminal as the keyboard of the waits, on POSIX.
//
// The terminal is shared with the shell, pagers, scripts and the other jobs
// of the session. Its settings change only while a wait needs them, only
// when they are ours to change, and what was found goes back on every way
// out. The state, g_nState:
//   UNTOUCHED  the settings are their owner's; nothing to give back.
//   HELD       our settings are on the terminal: g_tFound holds the ones
//              found, g_tApplied ours as the terminal reports them.
//   STOPPED    the found settings are back while the job is stopped or runs
//              in the background; taken again in the foreground.
// Who changes it:
//   the main flow: UNTOUCHED to HELD (take), STOPPED to HELD (take again),
//     anything to UNTOUCHED (give back), always with every handled signal
//     blocked, so that a handler never sees settings and state disagree;
//   the stop handler (Ctrl+Z, SIGTTIN, SIGTTOU): HELD to STOPPED before it
//     stops, STOPPED to HELD when it resumes in the foreground;
//   the end handlers (every signal whose default action ends the process):
//     give back what is HELD, then end by the same signal.
// The rules: the terminal is taken only by its foreground process group; a
// countdown (/T:n) takes it only when standard input and output are that
// terminal as well. Nothing is applied from the background, and settings
// that another program made meanwhile are that program's and stay. A key
// wait without a time started or resumed in the background stops until it
// is brought to the foreground, as any reader of the terminal does; every
// other wait goes on there without the keyboard.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Clock.h"
#include "Keyboard.h"

namespace {

// How long an Escape byte waits for the rest of a key sequence: a terminal
// sends a whole sequence at once, a person cannot type two keys this fast.
const int SEQUENCE_MILLIS = 50;
const int KEY_ESCAPE = 27;
// The second code a PC console gives Ctrl+@, whose byte here is 0, the
// prefix code itself.
const int CODE_CTRL_AT = 3;

enum { UNTOUCHED = 0, HELD = 1, STOPPED = 2 };

// How the terminal is held: keys read one at a time without echo, or, while
// a countdown runs, only the echo turned off.
enum { MODE_KEYS = 1, MODE_QUIET = 2 };

// What a handler of ours does with a signal.
enum { ACTION_NONE = 0, ACTION_END = 1, ACTION_STOP = 2 };

int g_nTty = -1;
bool g_bTtyGone = false;
int g_nMode = MODE_KEYS;
bool g_bMayStop = false;
struct termios g_tFound;
struct termios g_tApplied;
volatile sig_atomic_t g_nState = UNTOUCHED;

// Every signal that has a handler of ours while the terminal is taken, and
// the actions they replaced (a signal the caller ignores keeps SIG_IGN).
sigset_t g_tHandled;
struct sigaction g_atOldActions[NSIG];
bool g_abInstalled[NSIG];

// A byte read while telling keys apart that belongs to the next key, and the
// second code of a special key that is still to be delivered.
int g_nAheadByte = -1;
int g_nPendingCode = -1;

// Every signal whose default action ends the process ends it here too,
// once the terminal is given back: the real-time ones among them, and any
// a system adds. SIGPIPE and SIGXFSZ stay with the output code, which
// ignores them; KILL and STOP cannot be caught, and the rest end nothing.
int SignalAction(int nSignal) {
  switch (nSignal) {
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU: return ACTION_STOP;
    case SIGKILL:
    case SIGSTOP:
    case SIGPIPE:
    case SIGXFSZ:
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
#ifdef SIGINFO
    case SIGINFO:
#endif
      return ACTION_NONE;
    default: return ACTION_END;
  }
}

// Holds off every handled signal until RestoreSignals with the mask given.
void BlockSignals(sigset_t* pOld) { sigprocmask(SIG_BLOCK, &g_tHandled, pOld); }

void RestoreSignals(const sigset_t* pOld) {
  sigprocmask(SIG_SETMASK, pOld, nullptr);
}

bool IsForeground() { return tcgetpgrp(g_nTty) == getpgrp(); }

// Whether nFd is this process's controlling terminal, the one open as
// g_nTty: only that terminal belongs to this session.
bool IsOurTerminal(int nFd) {
  pid_t nSession = tcgetsid(nFd);
  return nSession != -1 && nSession == tcgetsid(g_nTty);
}

bool SameSettings(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Notes the settings found and puts ours on. Only in the foreground, with
// the handled signals blocked (SIGTTOU among them, so even a change of the
// foreground job just now cannot stop the process here).
void Apply() {
  if (tcgetattr(g_nTty, &g_tFound) != 0) return;
  struct termios tMode = g_tFound;
  if (g_nMode == MODE_QUIET) {
    tMode.c_lflag &= tcflag_t(~ECHO);
  } else {
    // Signals stay on: Ctrl+C, Ctrl+\ and Ctrl+Z keep working.
    tMode.c_lflag &= tcflag_t(~(ICANON | ECHO));
    tMode.c_cc[VMIN] = 1;
    tMode.c_cc[VTIME] = 0;
  }
  tcsetattr(g_nTty, TCSANOW, &tMode);
  tcgetattr(g_nTty, &g_tApplied);
  g_nState = HELD;
}

// Puts the found settings back, unless another program of the session (a
// pager reading the output) has made its own since: those stay. Works from
// the background too, as SIGTTOU is blocked wherever this runs.
void GiveBack() {
  if (g_nState != HELD) return;
  struct termios tNow;
  if (tcgetattr(g_nTty, &tNow) != 0 || SameSettings(tNow, g_tApplied))
    tcsetattr(g_nTty, TCSANOW, &g_tFound);
}

// Takes the terminal again after a stop, when in the foreground.
void TakeAgain() {
  if (g_nState == STOPPED && IsForeground()) Apply();
}

struct sigaction HandlerAction(void (*pHandler)(int)) {
  struct sigaction tAction;
  std::memset(&tAction, 0, sizeof tAction);
  tAction.sa_handler = pHandler;
  // A write to the terminal held up by Ctrl+S goes on after Ctrl+Z and fg
  // instead of failing and leaving standard output in an error state.
  tAction.sa_flags = SA_RESTART;
  // One handler at a time, never between a change and its note.
  tAction.sa_mask = g_tHandled;
  return tAction;
}

void SetDefault(int nSignal) {
  struct sigaction tAction = HandlerAction(SIG_DFL);
  sigaction(nSignal, &tAction, nullptr);
}

// Gives the terminal back, then ends by the same signal so that the caller
// sees it.
void OnEndSignal(int nSignal) {
  GiveBack();
  SetDefault(nSignal);
  raise(nSignal);  // blocked in here: delivered when the handler returns
}

// Ctrl+Z and the stops of a background job: the terminal goes back while
// stopped and is taken again on resuming in the foreground. Resumed in the
// background it stays given back, and the signals blocked in here (SIGTERM,
// SIGHUP, SIGINT...) arrive as soon as this returns.
void OnStopSignal(int nSignal) {
  int nErrno = errno;
  if (g_nState == HELD) {
    GiveBack();
    g_nState = STOPPED;
  }
  SetDefault(nSignal);
  sigset_t tSet;
  sigemptyset(&tSet);
  sigaddset(&tSet, nSignal);
  sigprocmask(SIG_UNBLOCK, &tSet, nullptr);
  raise(nSignal);  // stops here until SIGCONT
  sigprocmask(SIG_BLOCK, &tSet, nullptr);
  struct sigaction tAction = HandlerAction(OnStopSignal);
  sigaction(nSignal, &tAction, nullptr);
  TakeAgain();
  errno = nErrno;
}

void InstallHandlers() {
  for (int nSignal = 1; nSignal < NSIG; ++nSignal) {
    int nAction = SignalAction(nSignal);
    g_abInstalled[nSignal] = false;
    struct sigaction tOld;
    if (nAction == ACTION_NONE || sigaction(nSignal, nullptr, &tOld) != 0)
      continue;
    // A signal the caller chose to ignore (nohup, a background job) stays
    // ignored.
    if ((tOld.sa_flags & SA_SIGINFO) == 0 && tOld.sa_handler == SIG_IGN)
      continue;
    struct sigaction tAction =
        HandlerAction(nAction == ACTION_STOP ? OnStopSignal : OnEndSignal);
    g_abInstalled[nSignal] =
        sigaction(nSignal, &tAction, &g_atOldActions[nSignal]) == 0;
  }
}

void RemoveHandlers() {
  for (int nSignal = 1; nSignal < NSIG; ++nSignal)
    if (g_abInstalled[nSignal])
      sigaction(nSignal, &g_atOldActions[nSignal], nullptr);
}

void RestoreAtExit() { PlatformKeyboardClose(); }

// The controlling terminal, or -1. Non-blocking: a read never hangs on a
// byte that poll saw and another process took first. Kept above the three
// standard descriptors, so that with standard output closed the terminal
// never takes its place.
int OpenTerminal() {
  int nTty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (nTty < 0 || nTty > 2) return nTty;
  int nHigh = fcntl(nTty, F_DUPFD_CLOEXEC, 3);
  close(nTty);
  return nHigh;
}

// Whether the terminal is this run's to take. A key wait without a time in
// the background first stops, as any reader of the terminal does, until it
// is brought to the foreground: tcdrain changes nothing, but the system
// stops a background job that calls it (it ends at once where the job
// cannot be stopped).
bool MayTake(int nMode, bool bMayStop) {
  if (nMode == MODE_QUIET && !(IsOurTerminal(0) && IsOurTerminal(1)))
    return false;
  if (!IsForeground() && bMayStop) tcdrain(g_nTty);
  return IsForeground();
}

// Takes the terminal in one of the two modes, when it is ours to take.
bool TakeTerminal(int nMode, bool bMayStop) {
  if (g_nTty >= 0) return true;
  if (g_bTtyGone) return false;
  g_nTty = OpenTerminal();
  struct termios tProbe;
  if (g_nTty < 0 || tcgetattr(g_nTty, &tProbe) != 0 ||
      !MayTake(nMode, bMayStop)) {
    if (g_nTty >= 0) close(g_nTty);
    g_nTty = -1;
    return false;
  }
  static bool s_bAtExit = false;
  if (!s_bAtExit) s_bAtExit = std::atexit(RestoreAtExit) == 0;
  sigemptyset(&g_tHandled);
  for (int nSignal = 1; nSignal < NSIG; ++nSignal)
    if (SignalAction(nSignal) != ACTION_NONE) sigaddset(&g_tHandled, nSignal);
  g_nMode = nMode;
  g_bMayStop = bMayStop;
  InstallHandlers();
  sigset_t tOld;
  BlockSignals(&tOld);
  Apply();
  RestoreSignals(&tOld);
  return true;
}

// In the main flow: the terminal is held now, taken again if need be.
bool Held() {
  if (g_nState == STOPPED) {
    sigset_t tOld;
    BlockSignals(&tOld);
    TakeAgain();
    RestoreSignals(&tOld);
  }
  return g_nState == HELD;
}

// Waits up to nMillis for the terminal to have a byte (or to hang up), or
// for a signal.
bool TtyReadable(int nMillis) {
  if (g_nTty < 0 || !Held()) return false;
  struct pollfd tPoll = {g_nTty, POLLIN, 0};
  return poll(&tPoll, 1, nMillis) > 0;
}

// The terminal is gone (hung up, closed): from now on there is no keyboard.
void DropTerminal() {
  PlatformKeyboardClose();
  g_bTtyGone = true;
}

// Next byte from the terminal, waiting at most nMillis; -1 when none came.
// One byte at a time: keys typed after the one that ends a wait stay in the
// terminal for whatever reads it next.
int NextByte(int nMillis) {
  if (g_nAheadByte >= 0) {
    int nByte = g_nAheadByte;
    g_nAheadByte = -1;
    return nByte;
  }
  if (!TtyReadable(nMillis)) return -1;
  unsigned char bByte = 0;
  ssize_t nRead;
  do {
    nRead = read(g_nTty, &bByte, 1);
  } while (nRead < 0 && errno == EINTR);
  if (nRead == 1) return bByte;
  if (nRead < 0 && errno == EAGAIN) return -1;  // another reader took it
  DropTerminal();
  return -1;
}

// The rest of a key that arrives as several bytes: the continuation bytes
// of one UTF-8 character belong to the key press of its first byte.
void SkipContinuation(int nLead) {
  int nMore = nLead >= 0xF0 ? 3 : nLead >= 0xE0 ? 2 : 1;
  while (nMore-- > 0) {
    int nByte = NextByte(SEQUENCE_MILLIS);
    if (nByte < 0) return;
    if ((nByte & 0xC0) != 0x80) {
      g_nAheadByte = nByte;
      return;
    }
  }
}

// Second codes of "ESC [ n ~" keys, by n, as a PC console numbers them.
int TildeCode(int nNumber) {
  static const int anCodes[] = {0,  71, 82, 83, 79, 73,  81, 71, 79,
                                0,  0,  59, 60, 61, 62,  63, 0,  64,
                                65, 66, 67, 68, 0,  133, 134};
  const int nCount = int(sizeof anCodes / sizeof anCodes[0]);
  int nCode = nNumber < nCount ? anCodes[nNumber] : 0;
  return nCode != 0 ? nCode : '~';
}

// The second code of a key sequence, by its final byte: arrows, editing and
// function keys get the codes a PC console gives them. Never 0 or Escape.
int SecondCode(int nFinal, int nNumber) {
  switch (nFinal) {
    case 'A': return 72;  // up
    case 'B': return 80;  // down
    case 'C': return 77;  // right
    case 'D': return 75;  // left
    case 'H': return 71;  // home
    case 'F': return 79;  // end
    case 'P': return 59;  // F1
    case 'Q': return 60;  // F2
    case 'R': return 61;  // F3
    case 'S': return 62;  // F4
    case '~': return TildeCode(nNumber);
    default: return nFinal;
  }
}

// Reads the rest of "ESC [ ..." or "ESC O x" and returns its second code.
int ReadSequence(int nIntroducer) {
  int nNumber = 0;
  bool bFirstNumber = true;
  int nByte = NextByte(SEQUENCE_MILLIS);
  if (nIntroducer == '[' && nByte == '[') {
    // The Linux console's F1 to F5: "ESC [ [ A" to "ESC [ [ E".
    nByte = NextByte(SEQUENCE_MILLIS);
    if (nByte >= 'A' && nByte <= 'E') return 59 + (nByte - 'A');
    if (nByte >= 0) g_nAheadByte = nByte;
    return '[';
  }
  if (nIntroducer == '[') {
    // Parameters and intermediates run until a final byte 0x40 to 0x7E; the
    // first number names the key, the ones after ';' its modifiers.
    while (nByte >= 0x20 && nByte < 0x40) {
      if (nByte == ';') bFirstNumber = false;
      if (bFirstNumber && nByte >= '0' && nByte <= '9' && nNumber < 1000)
        nNumber = nNumber * 10 + (nByte - '0');
      nByte = NextByte(SEQUENCE_MILLIS);
    }
  }
  if (nByte >= 0x40 && nByte <= 0x7E) return SecondCode(nByte, nNumber);
  // Cut short: what came instead begins the next key.
  if (nByte >= 0) g_nAheadByte = nByte;
  return nIntroducer;
}

// Delivers the prefix 0 now and nCode on the next read.
int SpecialKey(int nCode) {
  g_nPendingCode = nCode;
  return 0;
}

// Sleeps up to nMillis; a signal ends the sleep early.
void Nap(int nMillis) { poll(nullptr, 0, nMillis); }

}  // namespace

// ----------------------------------------------------------------- keyboard

// A terminal is asked when it is taken, which answers at once.
void PlatformKeyboardPrepare() {}

bool PlatformKeyboardOpen(bool bMayStop) {
  return TakeTerminal(MODE_KEYS, bMayStop);
}

bool PlatformEchoOff() { return TakeTerminal(MODE_QUIET, false); }

void PlatformKeyboardClose() {
  if (g_nTty < 0) return;
  sigset_t tOld;
  BlockSignals(&tOld);
  GiveBack();
  g_nState = UNTOUCHED;
  RemoveHandlers();
  RestoreSignals(&tOld);
  close(g_nTty);
  g_nTty = -1;
  g_nAheadByte = -1;
  g_nPendingCode = -1;
}

bool PlatformKeyWaiting() {
  return g_nPendingCode >= 0 || g_nAheadByte >= 0 || TtyReadable(0);
}

int PlatformReadKey() {
  if (g_nPendingCode >= 0) {
    int nCode = g_nPendingCode;
    g_nPendingCode = -1;
    return nCode;
  }
  int nByte = NextByte(0);
  if (nByte < 0) return 0;  // nothing after all: a prefix with no second code
  if (nByte == 0) return SpecialKey(CODE_CTRL_AT);
  if (nByte >= 0xC0) SkipContinuation(nByte);
  if (nByte != KEY_ESCAPE) return nByte;
  // A lone Escape has no further byte within SEQUENCE_MILLIS.
  int nNext = NextByte(SEQUENCE_MILLIS);
  if (nNext < 0) return KEY_ESCAPE;
  if (nNext == KEY_ESCAPE) {
    // Escape pressed twice in quick succession: two keys.
    g_nAheadByte = nNext;
    return KEY_ESCAPE;
  }
  if (nNext == '[' || nNext == 'O') return SpecialKey(ReadSequence(nNext));
  // Escape and one more byte: a key pressed with Alt (Meta).
  return SpecialKey(nNext != 0 ? nNext : CODE_CTRL_AT);
}

bool PlatformWaitForKey(int nMillis) {
  if (PlatformKeyWaiting()) return true;
  if (g_nTty < 0) {
    PlatformSleep(nMillis);
    return false;
  }
  if (g_nState == HELD) return TtyReadable(nMillis);
  // Given back and running in the background: a key wait without a time
  // stops here until it is in the foreground; others go on without keys.
  if (g_bMayStop) tcdrain(g_nTty);
  if (Held()) return PlatformKeyWaiting();
  Nap(nMillis);
  return false;
}
