// POSIX side of the platform: the controlling terminal as the keyboard, the
// real-time clock, standard output and error, the environment and
// append-only log files.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "OutputStreams.h"
#include "Platform.h"
#include "ZString.h"

namespace {

// How long an Escape byte waits for the rest of a key sequence: a terminal
// sends a whole sequence at once, a person cannot type two keys this fast.
const int SEQUENCE_MILLIS = 50;
const int KEY_ESCAPE = 27;
// The second code a PC console gives Ctrl+@, whose byte here is 0, the
// prefix code itself.
const int CODE_CTRL_AT = 3;

// How the terminal is held: keys read one at a time without echo, or, while
// a countdown runs, only the echo turned off.
enum { MODE_KEYS = 1, MODE_QUIET = 2 };

// The terminal as it was found, given back on every way out. g_bHeld (our
// settings are on the terminal now) is read by the signal handlers.
int g_nTty = -1;
bool g_bTtyGone = false;
int g_nMode = MODE_KEYS;
struct termios g_tSaved;
struct termios g_tApplied;  // as the terminal reports them once applied
volatile sig_atomic_t g_bHeld = 0;

// A byte read while telling keys apart that belongs to the next key, and the
// second code of a special key that is still to be delivered.
int g_nAheadByte = -1;
int g_nPendingCode = -1;

const int g_anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
const int SIGNAL_COUNT = int(sizeof g_anSignals / sizeof g_anSignals[0]);
struct sigaction g_aOldActions[SIGNAL_COUNT];
bool g_abHandled[SIGNAL_COUNT];

void ApplyMode() {
  struct termios tMode = g_tSaved;
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
}

bool IsForeground() { return tcgetpgrp(g_nTty) == getpgrp(); }

bool SameSettings(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The settings this process changed go back even from a background job:
// SIGTTOU, which would stop it first, is held off meanwhile. Settings that
// another program of the same job (a pager reading the output) has made
// since are that program's, and stay.
void RestoreTerminal() {
  if (!g_bHeld) return;
  struct termios tNow;
  if (tcgetattr(g_nTty, &tNow) == 0 && !SameSettings(tNow, g_tApplied)) return;
  sigset_t tTtou;
  sigset_t tOld;
  sigemptyset(&tTtou);
  sigaddset(&tTtou, SIGTTOU);
  sigprocmask(SIG_BLOCK, &tTtou, &tOld);
  tcsetattr(g_nTty, TCSANOW, &g_tSaved);
  sigprocmask(SIG_SETMASK, &tOld, nullptr);
}

struct sigaction HandlerAction(void (*pHandler)(int)) {
  struct sigaction tAction;
  std::memset(&tAction, 0, sizeof tAction);
  tAction.sa_handler = pHandler;
  // A write to the terminal held up by Ctrl+S goes on after Ctrl+Z and fg
  // instead of failing and leaving standard output in an error state.
  tAction.sa_flags = SA_RESTART;
  // One handler at a time: none of them runs inside another.
  sigemptyset(&tAction.sa_mask);
  for (int nSignal : g_anSignals) sigaddset(&tAction.sa_mask, nSignal);
  return tAction;
}

// Ctrl+C, Ctrl+\, termination, hang-up: give the terminal back, then end by
// the same signal so that the caller sees it.
void OnEndSignal(int nSignal) {
  RestoreTerminal();
  signal(nSignal, SIG_DFL);
  raise(nSignal);  // blocked in here: delivered when the handler returns
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
  struct sigaction tAction = HandlerAction(OnStopSignal);
  sigaction(nSignal, &tAction, nullptr);
  // A countdown resumed in the background ("bg") leaves the terminal to
  // the foreground job; a key wait takes it back, as job control allows.
  if (g_bHeld && (g_nMode == MODE_KEYS || IsForeground()))
    ApplyMode();
  else
    g_bHeld = 0;
  errno = nErrno;
}

// A signal the caller chose to ignore (nohup, a background job) stays
// ignored; every other one restores the terminal first.
void InstallHandlers() {
  for (int i = 0; i < SIGNAL_COUNT; ++i) {
    struct sigaction tOld;
    sigaction(g_anSignals[i], nullptr, &tOld);
    g_abHandled[i] =
        (tOld.sa_flags & SA_SIGINFO) != 0 || tOld.sa_handler != SIG_IGN;
    if (!g_abHandled[i]) continue;
    struct sigaction tAction =
        HandlerAction(g_anSignals[i] == SIGTSTP ? OnStopSignal : OnEndSignal);
    sigaction(g_anSignals[i], &tAction, &g_aOldActions[i]);
  }
}

void RemoveHandlers() {
  for (int i = 0; i < SIGNAL_COUNT; ++i)
    if (g_abHandled[i]) sigaction(g_anSignals[i], &g_aOldActions[i], nullptr);
}

void RestoreAtExit() { PlatformKeyboardClose(); }

// Waits up to nMillis for the terminal to have a byte (or to hang up).
bool TtyReadable(int nMillis) {
  if (g_nTty < 0) return false;
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

// Takes the terminal in one of the two modes. A countdown in a background
// job leaves it alone: changing it would stop the job.
bool TakeTerminal(int nMode) {
  if (g_nTty >= 0) return true;
  if (g_bTtyGone) return false;
  int nTty = OpenTerminal();
  if (nTty < 0) return false;
  g_nTty = nTty;
  if (tcgetattr(nTty, &g_tSaved) != 0 ||
      (nMode == MODE_QUIET && !IsForeground())) {
    close(nTty);
    g_nTty = -1;
    return false;
  }
  static bool s_bAtExit = false;
  if (!s_bAtExit) s_bAtExit = std::atexit(RestoreAtExit) == 0;
  g_nMode = nMode;
  InstallHandlers();
  g_bHeld = 1;
  ApplyMode();
  return true;
}

}  // namespace

// ----------------------------------------------------------------- keyboard

bool PlatformKeyboardOpen() { return TakeTerminal(MODE_KEYS); }

bool PlatformEchoOff() { return TakeTerminal(MODE_QUIET); }

void PlatformKeyboardClose() {
  if (g_nTty < 0) return;
  RestoreTerminal();
  g_bHeld = 0;
  RemoveHandlers();
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
  return TtyReadable(nMillis);
}

// ------------------------------------------------ standard output and error

namespace {

// A reader that closes its end early, or a file size limit (ulimit -f),
// must not end the run: with the signals ignored, the write fails with
// EPIPE or EFBIG instead, which is reported, and the run goes on.
void IgnoreWriteSignals() {
  static bool s_bIgnored = false;
  if (!s_bIgnored) {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
  }
  s_bIgnored = true;
}

// Drops the first nWritten bytes from the pieces.
void Advance(struct iovec* aPieces, std::size_t nWritten) {
  for (struct iovec* p = aPieces; nWritten > 0; ++p) {
    std::size_t nStep = nWritten < p->iov_len ? nWritten : p->iov_len;
    p->iov_base = static_cast<char*>(p->iov_base) + nStep;
    p->iov_len -= nStep;
    nWritten -= nStep;
  }
}

// Writes the pieces with one writev, then goes on with the rest after a
// short write or an interruption until all is written or the descriptor
// refuses more. A descriptor that another program made non-blocking is
// waited on, not given up. 0, or the error number.
int WriteGathered(int nFd, struct iovec* aPieces, int nPieces) {
  while (nPieces > 0) {
    if (aPieces->iov_len == 0) {
      ++aPieces;
      --nPieces;
      continue;
    }
    ssize_t nWritten = writev(nFd, aPieces, nPieces);
    if (nWritten > 0) {
      Advance(aPieces, std::size_t(nWritten));
    } else if (nWritten == 0) {
      return EIO;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      struct pollfd tPoll = {nFd, POLLOUT, 0};
      poll(&tPoll, 1, -1);
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace

int PlatformWritePieces(int nStream, const SOutPiece* aPieces, int nPieces) {
  IgnoreWriteSignals();
  struct iovec aVectors[4];
  int nVectors = 0;
  for (int i = 0; i < nPieces && nVectors < 4; ++i)
    aVectors[nVectors++] = {const_cast<char*>(aPieces[i].pData),
                            aPieces[i].nLength};
  int nError =
      WriteGathered(nStream == STREAM_STDERR ? 2 : 1, aVectors, nVectors);
  return nError == EPIPE ? 0 : nError;
}

CString PlatformErrorText(int nError) { return CString(std::strerror(nError)); }

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

void PlatformLogPath(CString&) {}

namespace {

// Writers of one log take turns by the lock of one byte far beyond any end
// a file reaches (the same byte as on Windows): a tool that locks the whole
// file takes turns with them, a reader that locks what it reads is not
// held up.
const off_t LOCK_OFFSET = std::numeric_limits<off_t>::max() / 2 + 1;

// Waits in the kernel until the log is ours; Ctrl+C still ends the run. A
// file system that cannot lock (no lock manager) gets the entry unlocked.
int LockLog(SLogFile& log) {
  struct flock tLock;
  std::memset(&tLock, 0, sizeof tLock);
  tLock.l_type = F_WRLCK;
  tLock.l_whence = SEEK_SET;
  tLock.l_start = LOCK_OFFSET;
  tLock.l_len = 1;
  while (fcntl(int(log.nHandle), F_SETLKW, &tLock) != 0) {
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) return 0;
    if (errno != EINTR) return errno;
  }
  log.bLocked = true;
  return 0;
}

// Locks a regular file and empties it under /N. A device or a FIFO is
// neither locked nor emptied: it is written to as it is.
int PrepareLog(SLogFile& log, bool bEmpty) {
  int nFile = int(log.nHandle);
  struct stat tInfo;
  if (fstat(nFile, &tInfo) != 0) return errno;
  log.bDisk = S_ISREG(tInfo.st_mode);
  if (!log.bDisk) return 0;
  int nError = LockLog(log);
  if (nError == 0 && bEmpty && ftruncate(nFile, 0) != 0) nError = errno;
  if (nError == 0 && fstat(nFile, &tInfo) != 0) nError = errno;
  log.nStart = std::uint64_t(tInfo.st_size);
  return nError;
}

// Cuts the entry off again while the file ends with it, never what another
// writer appended since. False when the entry stays.
bool TakeBackEntry(const SLogFile& log) {
  struct stat tInfo;
  return log.bDisk && fstat(int(log.nHandle), &tInfo) == 0 &&
         std::uint64_t(tInfo.st_size) == log.nStart + log.nWritten &&
         ftruncate(int(log.nHandle), off_t(log.nStart)) == 0;
}

}  // namespace

// O_APPEND places each write at the end of the file as one step, so
// writers that take no lock (>>, tee) never overwrite an entry.
int PlatformLogOpen(const char* pszPath, bool bEmpty, SLogFile& log) {
  IgnoreWriteSignals();
  log = SLogFile();
  int nFile =
      open(pszPath, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
  if (nFile < 0) return errno;
  log.nHandle = nFile;
  int nError = PrepareLog(log, bEmpty);
  if (nError != 0) close(nFile);
  return nError;
}

int PlatformLogWrite(SLogFile& log, const SLogPiece* aPieces, int nPieces) {
  const int MAX_VECTORS = 16;
  struct iovec aVectors[MAX_VECTORS];
  int nError = 0;
  for (int i = 0; i < nPieces && nError == 0; i += MAX_VECTORS) {
    int nVectors = nPieces - i < MAX_VECTORS ? nPieces - i : MAX_VECTORS;
    std::size_t nTotal = 0;
    for (int k = 0; k < nVectors; ++k) {
      aVectors[k] = {const_cast<char*>(aPieces[i + k].pData),
                     aPieces[i + k].nLength};
      nTotal += aPieces[i + k].nLength;
    }
    nError = WriteGathered(int(log.nHandle), aVectors, nVectors);
    // What is left in the vectors did not reach the file.
    for (int k = 0; k < nVectors; ++k) nTotal -= aVectors[k].iov_len;
    log.nWritten += nTotal;
  }
  return nError;
}

// Closing the descriptor releases the lock.
int PlatformLogClose(SLogFile& log, bool bTakeBack) {
  if (bTakeBack) TakeBackEntry(log);
  // A file system that writes late (NFS) may tell of a lost entry only here.
  return close(int(log.nHandle)) != 0 && errno != EINTR ? errno : 0;
}
