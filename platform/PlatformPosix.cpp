// POSIX side of the platform: the controlling terminal as the keyboard, the
// real-time clock, the environment and append-only log files.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ostream>
#include <streambuf>

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

// The terminal as it was found, given back on every way out. g_bRaw is read
// by the signal handlers.
int g_nTty = -1;
bool g_bTtyGone = false;
struct termios g_tSaved;
volatile sig_atomic_t g_bRaw = 0;

// A byte read while telling keys apart that belongs to the next key, and the
// second code of a special key that is still to be delivered.
int g_nAheadByte = -1;
int g_nPendingCode = -1;

const int g_anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
const int SIGNAL_COUNT = int(sizeof g_anSignals / sizeof g_anSignals[0]);
struct sigaction g_aOldActions[SIGNAL_COUNT];
bool g_abHandled[SIGNAL_COUNT];

void SetRawMode() {
  struct termios tRaw = g_tSaved;
  // Signals stay on: Ctrl+C, Ctrl+\ and Ctrl+Z keep working.
  tRaw.c_lflag &= tcflag_t(~(ICANON | ECHO));
  tRaw.c_cc[VMIN] = 1;
  tRaw.c_cc[VTIME] = 0;
  tcsetattr(g_nTty, TCSANOW, &tRaw);
}

void RestoreTerminal() {
  if (g_bRaw) tcsetattr(g_nTty, TCSANOW, &g_tSaved);
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
  if (g_bRaw) SetRawMode();
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

}  // namespace

// ----------------------------------------------------------------- keyboard

bool PlatformKeyboardOpen() {
  if (g_nTty >= 0) return true;
  if (g_bTtyGone) return false;
  // Non-blocking: a read never hangs on a byte that poll saw and another
  // process took first.
  int nTty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (nTty < 0) return false;
  if (tcgetattr(nTty, &g_tSaved) != 0) {
    close(nTty);
    return false;
  }
  static bool s_bAtExit = false;
  if (!s_bAtExit) s_bAtExit = std::atexit(RestoreAtExit) == 0;
  g_nTty = nTty;
  InstallHandlers();
  g_bRaw = 1;
  SetRawMode();
  return true;
}

void PlatformKeyboardClose() {
  if (g_nTty < 0) return;
  RestoreTerminal();
  g_bRaw = 0;
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

// ---------------------------------------------------------- standard output

namespace {

// Collects text and hands it to file descriptor 1 with plain write calls at
// each flush; a text larger than the buffer goes out directly. Using this
// instead of std::cout keeps the eight standard C++ streams and stdio's
// buffer out of every start.
class CStdoutBuf : public std::streambuf {
 public:
  CStdoutBuf() { setp(m_abBuffer, m_abBuffer + sizeof m_abBuffer); }
  ~CStdoutBuf() override { Drain(); }

 protected:
  int sync() override { return Drain() ? 0 : -1; }

  int_type overflow(int_type nChar) override {
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(nChar, traits_type::eof()))
      return traits_type::not_eof(nChar);
    *pptr() = traits_type::to_char_type(nChar);
    pbump(1);
    return nChar;
  }

  std::streamsize xsputn(const char* pData, std::streamsize nCount) override {
    if (nCount <= epptr() - pptr()) {
      std::memcpy(pptr(), pData, std::size_t(nCount));
      pbump(int(nCount));
      return nCount;
    }
    if (!Drain()) return 0;
    if (nCount < epptr() - pptr()) return xsputn(pData, nCount);
    return WriteAll(pData, std::size_t(nCount)) ? nCount : 0;
  }

 private:
  // Writes what was collected; false when the output refuses it.
  bool Drain() {
    std::size_t nPending = std::size_t(pptr() - pbase());
    setp(m_abBuffer, m_abBuffer + sizeof m_abBuffer);
    return WriteAll(m_abBuffer, nPending);
  }

  static bool WriteAll(const char* pData, std::size_t nLength) {
    while (nLength > 0) {
      ssize_t nWritten = write(1, pData, nLength);
      if (nWritten < 0 && errno == EINTR) continue;
      if (nWritten <= 0) return false;
      pData += nWritten;
      nLength -= std::size_t(nWritten);
    }
    return true;
  }

  char m_abBuffer[4096];
};

}  // namespace

// Built on first use, so nothing of it runs before main.
std::ostream& PlatformStdout() {
  static CStdoutBuf s_buffer;
  static std::ostream s_out(&s_buffer);
  return s_out;
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
                        std::size_t nLength, const char* pTail,
                        std::size_t nTail) {
  int nFile = open(pszPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (nFile < 0) return false;
  // One gathered write puts body and tail at the end together (O_APPEND);
  // a short write goes on with the rest until the entry is complete or the
  // file refuses more.
  struct iovec aPieces[2] = {{const_cast<char*>(pData), nLength},
                             {const_cast<char*>(pTail), nTail}};
  struct iovec* pNext = aPieces;
  int nPieces = 2;
  bool bOk = true;
  while (bOk && nPieces > 0) {
    if (pNext->iov_len == 0) {
      ++pNext;
      --nPieces;
      continue;
    }
    ssize_t nWritten = writev(nFile, pNext, nPieces);
    if (nWritten < 0 && errno == EINTR) continue;
    bOk = nWritten > 0;
    // Take what was written off the pieces; emptied ones are dropped above.
    std::size_t nLeft = bOk ? std::size_t(nWritten) : 0;
    for (struct iovec* p = pNext; nLeft > 0; ++p) {
      std::size_t nStep = nLeft < p->iov_len ? nLeft : p->iov_len;
      p->iov_base = static_cast<char*>(p->iov_base) + nStep;
      p->iov_len -= nStep;
      nLeft -= nStep;
    }
  }
  close(nFile);
  return bOk;
}
