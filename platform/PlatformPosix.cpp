// POSIX side of the platform: the controlling terminal as the keyboard, the
// real-time clock, the environment and append-only log files.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Platform.h"
#include "ZString.h"

namespace {

// How long an Escape byte waits for the rest of a key sequence.
const int SEQUENCE_MILLIS = 50;
const int KEY_ESCAPE = 27;

// The terminal as it was found, given back on every way out.
int g_nTty = -1;
bool g_bTtyGone = false;
struct termios g_tSaved;
bool g_bRaw = false;

// Bytes read ahead while telling a lone Escape from a sequence, and the
// second code of a special key that is still to be delivered.
unsigned char g_abAhead[32];
int g_nAheadStart = 0;
int g_nAheadEnd = 0;
int g_nPendingCode = -1;

const int g_anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
struct sigaction g_aOldActions[sizeof g_anSignals / sizeof g_anSignals[0]];

void SetRawMode() {
  struct termios tRaw = g_tSaved;
  tRaw.c_lflag &= tcflag_t(~(ICANON | ECHO));
  tRaw.c_cc[VMIN] = 1;
  tRaw.c_cc[VTIME] = 0;
  tcsetattr(g_nTty, TCSANOW, &tRaw);
}

void RestoreTerminal() {
  if (g_bRaw) tcsetattr(g_nTty, TCSANOW, &g_tSaved);
}

// Ctrl+C, termination, hang-up: give the terminal back, then end by the same
// signal so that the caller sees it.
void OnEndSignal(int nSignal) {
  int nErrno = errno;
  RestoreTerminal();
  signal(nSignal, SIG_DFL);
  raise(nSignal);  // delivered when the handler returns
  errno = nErrno;
}

// Ctrl+Z: give the terminal back while stopped, take it again on resume.
void OnStopSignal(int nSignal) {
  int nErrno = errno;
  RestoreTerminal();
  signal(nSignal, SIG_DFL);
  sigset_t tSet;
  sigemptyset(&tSet);
  sigaddset(&tSet, nSignal);
  sigprocmask(SIG_UNBLOCK, &tSet, nullptr);
  raise(nSignal);  // stops here until SIGCONT
  struct sigaction tAction;
  std::memset(&tAction, 0, sizeof tAction);
  tAction.sa_handler = OnStopSignal;
  sigaction(nSignal, &tAction, nullptr);
  if (g_bRaw) SetRawMode();
  errno = nErrno;
}

void InstallHandlers() {
  for (std::size_t i = 0; i < sizeof g_anSignals / sizeof g_anSignals[0]; ++i) {
    struct sigaction tAction;
    std::memset(&tAction, 0, sizeof tAction);
    tAction.sa_handler =
        g_anSignals[i] == SIGTSTP ? OnStopSignal : OnEndSignal;
    sigaction(g_anSignals[i], &tAction, &g_aOldActions[i]);
  }
}

void RemoveHandlers() {
  for (std::size_t i = 0; i < sizeof g_anSignals / sizeof g_anSignals[0]; ++i)
    sigaction(g_anSignals[i], &g_aOldActions[i], nullptr);
}

void RestoreAtExit() { PlatformKeyboardClose(); }

// Waits up to nMillis for the terminal to have a byte; false on timeout.
bool TtyReadable(int nMillis) {
  if (g_nTty < 0) return false;
  struct pollfd tPoll = {g_nTty, POLLIN, 0};
  int nReady = poll(&tPoll, 1, nMillis);
  return nReady > 0;
}

// The terminal is gone (hung up, closed): from now on there is no keyboard.
void DropTerminal() {
  PlatformKeyboardClose();
  g_bTtyGone = true;
}

// Next byte from the terminal, waiting at most nMillis; -1 when none came.
int NextByte(int nMillis) {
  if (g_nAheadStart < g_nAheadEnd) return g_abAhead[g_nAheadStart++];
  if (!TtyReadable(nMillis)) return -1;
  ssize_t nRead;
  do {
    nRead = read(g_nTty, g_abAhead, sizeof g_abAhead);
  } while (nRead < 0 && errno == EINTR);
  if (nRead <= 0) {
    DropTerminal();
    return -1;
  }
  g_nAheadStart = 1;
  g_nAheadEnd = int(nRead);
  return g_abAhead[0];
}

// Puts one byte back in front of the read-ahead.
void UnreadByte() { --g_nAheadStart; }

// The second code of a key sequence, by its final byte: arrows and the
// editing keys get the codes a PC console gives them.
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
    case '~': return nNumber > 0 && nNumber < 256 ? nNumber + 100 : 126;
    default: return nFinal;
  }
}

// Reads the rest of "ESC [ ..." or "ESC O x" and returns its second code.
int ReadSequence(int nIntroducer) {
  int nNumber = 0;
  int nByte = NextByte(SEQUENCE_MILLIS);
  if (nIntroducer == '[') {
    // Parameters and intermediates run until a final byte 0x40 to 0x7E.
    while (nByte >= 0x20 && nByte < 0x40) {
      if (nByte >= '0' && nByte <= '9' && nNumber < 1000)
        nNumber = nNumber * 10 + (nByte - '0');
      nByte = NextByte(SEQUENCE_MILLIS);
    }
  }
  return nByte < 0 ? nIntroducer : SecondCode(nByte, nNumber);
}

}  // namespace

// ----------------------------------------------------------------- keyboard

bool PlatformKeyboardOpen() {
  if (g_nTty >= 0) return true;
  if (g_bTtyGone) return false;
  int nTty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (nTty < 0) return false;
  if (tcgetattr(nTty, &g_tSaved) != 0) {
    close(nTty);
    return false;
  }
  static bool s_bAtExit = false;
  if (!s_bAtExit) s_bAtExit = std::atexit(RestoreAtExit) == 0;
  g_nTty = nTty;
  InstallHandlers();
  g_bRaw = true;
  SetRawMode();
  return true;
}

void PlatformKeyboardClose() {
  if (g_nTty < 0) return;
  RestoreTerminal();
  g_bRaw = false;
  RemoveHandlers();
  close(g_nTty);
  g_nTty = -1;
  g_nAheadStart = g_nAheadEnd = 0;
  g_nPendingCode = -1;
}

bool PlatformKeyWaiting() {
  return g_nPendingCode >= 0 || g_nAheadStart < g_nAheadEnd || TtyReadable(0);
}

int PlatformReadKey() {
  if (g_nPendingCode >= 0) {
    int nCode = g_nPendingCode;
    g_nPendingCode = -1;
    return nCode;
  }
  int nByte = NextByte(0);
  if (nByte != KEY_ESCAPE) return nByte < 0 ? 0 : nByte;
  // A lone Escape has no further byte within a few tens of milliseconds.
  int nNext = NextByte(SEQUENCE_MILLIS);
  if (nNext == '[' || nNext == 'O') {
    g_nPendingCode = ReadSequence(nNext);
    return 0;
  }
  if (nNext >= 0) UnreadByte();
  return KEY_ESCAPE;
}

bool PlatformWaitForKey(int nMillis) {
  if (PlatformKeyWaiting()) return true;
  if (g_nTty < 0) {
    PlatformSleep(nMillis);
    return false;
  }
  return TtyReadable(nMillis);
}

// -------------------------------------------------------------------- clock

// time() may lag the real-time clock by a tick; both readings come from the
// same clock so that a wake-up at the second's change sees the new second.
std::time_t PlatformNow() {
  struct timespec tNow;
  clock_gettime(CLOCK_REALTIME, &tNow);
  return tNow.tv_sec;
}

int PlatformMillisToNextSecond() {
  struct timespec tNow;
  clock_gettime(CLOCK_REALTIME, &tNow);
  long nMillis = (1000000000L - tNow.tv_nsec + 999999L) / 1000000L;
  return nMillis < 1 ? 1 : int(nMillis);
}

void PlatformSleep(int nMillis) {
  struct timespec tWait = {nMillis / 1000, long(nMillis % 1000) * 1000000L};
  while (nanosleep(&tWait, &tWait) != 0 && errno == EINTR) {
  }
}

bool PlatformLocalTime(std::time_t tTime, std::tm* pTm) {
  return localtime_r(&tTime, pTm) != nullptr;
}

// ---------------------------------------------------- environment and files

bool PlatformGetEnv(const char* pszName, CString& strValue) {
  const char* pszValue = std::getenv(pszName);
  strValue = pszValue;
  return pszValue != nullptr;
}

int PlatformDeleteFile(const char* pszPath) {
  if (unlink(pszPath) == 0) return DELETE_OK;
  return errno == ENOENT ? DELETE_MISSING : DELETE_FAILED;
}

bool PlatformAppendFile(const char* pszPath, const char* pData,
                        std::size_t nLength) {
  int nFile = open(pszPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (nFile < 0) return false;
  // O_APPEND places every write at the end; a short write goes on with
  // the rest until the entry is complete or the file refuses more.
  bool bOk = true;
  while (nLength > 0 && bOk) {
    ssize_t nWritten = write(nFile, pData, nLength);
    if (nWritten < 0 && errno == EINTR) continue;
    bOk = nWritten > 0;
    if (bOk) {
      pData += nWritten;
      nLength -= std::size_t(nWritten);
    }
  }
  close(nFile);
  return bOk;
}
