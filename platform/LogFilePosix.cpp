// The log file on POSIX systems.
//
// The log is shared, and none of those who share it need to know of us:
//   other zarvo runs, here or on other machines (NFS): they take the same
//     locks, so their entries and ours never mix;
//   programs that lock the whole file to rotate, trim or copy it: flock(1)
//     and most daemons (flock), lockf and fcntl users (a record lock over
//     the whole file). Both kinds meet one of our locks, so they wait for
//     an entry to be whole, and our runs wait for them, within a bound that
//     the caller keeps; a lock held by the program that runs zarvo
//     (flock LOG script) is not waited for, as that program waits for us;
//   writers that take no lock (>>, tee): O_APPEND places every one of our
//     write requests after theirs, never over them;
//   rotators that rename the file and start a new one: an entry goes only
//     to the file that the log's name names once the locks are held;
//   readers (tail -f, a pager, a FIFO's reader): they see an entry appear a
//     write request at a time; a FIFO's reader that is missing or stops
//     reading is waited for within the bound.
// What each step promises:
//   open    O_APPEND, a missing file created 0666 less the umask; nothing
//           about the file changes, and a device or FIFO is written as is.
//   lock    both locks or neither, tried once and never waited on.
//   check   the path still names the open file (device and inode).
//   begin   for a disk file, the signals that would end the process wait
//           until close; /N empties the file in place (name, links, mode,
//           owner and group stay).
//   write   each request lands at the end of the file as it is then.
//   close   a failed entry is cut back only when this run wrote part of it,
//           still holds the locks, and finds the file exactly as long as
//           before plus those bytes; then the locks go with the descriptor
//           and held-off signals arrive, ending the run as they would have.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "LogFile.h"
#include "WritesPosix.h"
#include "ZString.h"

namespace {

// Writers of one log take turns by the record lock of one byte far beyond
// any end a file reaches (the same byte as on Windows): a tool that locks
// the whole file takes turns with them, a reader that locks what it reads
// is not held up.
const off_t LOCK_OFFSET = std::numeric_limits<off_t>::max() / 2 + 1;

// File systems whose flock Linux carries out as a record lock over the
// whole file, owned by the open file (statfs magic numbers).
const std::uint32_t NFS_MAGIC = 0x6969;
const std::uint32_t SMB_MAGIC = 0x517B;
const std::uint32_t CIFS_MAGIC = 0xFF534D42;
const std::uint32_t SMB2_MAGIC = 0xFE534D42;

// The signal mask found when the entry began, put back when it ends.
sigset_t g_tFoundMask;
bool g_bHolding = false;

struct flock RecordLock(short nType) {
  struct flock tLock;
  std::memset(&tLock, 0, sizeof tLock);
  tLock.l_type = nType;
  tLock.l_whence = SEEK_SET;
  tLock.l_start = LOCK_OFFSET;
  tLock.l_len = 1;
  return tLock;
}

// On a local file system flock and record locks never meet, so both are
// taken: one for flock(1) and daemons, one for lockf users. On NFS and SMB
// the system's flock already is a whole-file record lock, which meets the
// record locks of flock(1) users on other machines; it would also conflict
// with our own record lock, as its owner is the open file and not this
// process. There the record lock alone is taken.
bool TakesFlock(int nFile) {
  struct statfs tSystem;
  if (fstatfs(nFile, &tSystem) != 0) return true;
  std::uint32_t nType = std::uint32_t(tSystem.f_type);
  return nType != NFS_MAGIC && nType != SMB_MAGIC && nType != CIFS_MAGIC &&
         nType != SMB2_MAGIC;
}

// What one try for one of the two locks found.
enum { TRY_TAKEN = 0, TRY_BUSY = 1, TRY_NONE = 2 };

int TryFlock(int nFile) {
  if (flock(nFile, LOCK_EX | LOCK_NB) == 0) return TRY_TAKEN;
  // Any other error: flock does not work on this file system.
  return errno == EWOULDBLOCK ? TRY_BUSY : TRY_NONE;
}

// A mount without a lock manager (NFS with nolock) refuses record locks
// with an error of its own: then there is none to take.
int TryRecordLock(int nFile) {
  struct flock tLock = RecordLock(F_WRLCK);
  if (fcntl(nFile, F_SETLK, &tLock) == 0) return TRY_TAKEN;
  return errno == EACCES || errno == EAGAIN ? TRY_BUSY : TRY_NONE;
}

// Reads the number in base nBase at *ppText, up to pEnd, and moves past it.
std::uint64_t ReadNumber(const char** ppText, const char* pEnd, int nBase) {
  std::uint64_t nValue = 0;
  for (const char*& p = *ppText; p < pEnd; ++p) {
    int nDigit = *p >= '0' && *p <= '9'   ? *p - '0'
                 : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
                                          : nBase;
    if (nDigit >= nBase) break;
    nValue = nValue * std::uint64_t(nBase) + std::uint64_t(nDigit);
  }
  return nValue;
}

// Moves *ppText past the blanks, then past the field that follows them;
// the field's start.
const char* NextField(const char** ppText, const char* pEnd) {
  const char*& p = *ppText;
  while (p < pEnd && *p == ' ') ++p;
  const char* pField = p;
  while (p < pEnd && *p != ' ') ++p;
  return pField;
}

// The parent of process nPid (0: this one) from /proc/PID/stat, whose
// fields follow the command name in parentheses, which may hold anything:
// "PID (NAME) STATE PPID ...". 0 when it cannot be read.
long ParentOf(long nPid) {
  CString strPath = nPid == 0 ? CString("/proc/self/stat")
                              : "/proc/" + CString(nPid) + "/stat";
  char achStat[512];
  int nFile = open(strPath.GetString(), O_RDONLY | O_CLOEXEC);
  if (nFile < 0) return 0;
  ssize_t nRead = read(nFile, achStat, sizeof achStat);
  close(nFile);
  const char* pEnd = achStat + (nRead > 0 ? nRead : 0);
  const char* pText = pEnd;
  for (const char* p = achStat; p < pEnd; ++p)
    if (*p == ')') pText = p + 1;
  NextField(&pText, pEnd);  // the state
  const char* pParent = NextField(&pText, pEnd);
  return long(ReadNumber(&pParent, pEnd, 10));
}

// The processes that this run descends from, up to init.
const int MAX_CALLERS = 64;
struct SCallers {
  long anPids[MAX_CALLERS];
  int nCount = 0;

  SCallers() {
    for (long nPid = ParentOf(0); nPid > 1 && nCount < MAX_CALLERS;
         nPid = ParentOf(nPid))
      anPids[nCount++] = nPid;
  }
  bool Has(long nPid) const {
    for (int i = 0; i < nCount; ++i)
      if (anPids[i] == nPid) return true;
    return false;
  }
};

// What the system's table of locks shows of those that keep ours out.
struct SHolders {
  bool bFlockSeen = false;   // a flock on the log
  bool bRecordSeen = false;  // a record lock over our byte
  bool bOther = false;       // one of them held by anyone but a caller
};

// Takes one line of /proc/locks into holders, for the kinds that were
// busy: "1: FLOCK  ADVISORY  WRITE 1234 fe:00:5678 0 EOF", where "->"
// after the number marks a lock that is only waited for, and the holder of
// an open file's record lock (OFDLCK) shows as -1.
void NoteLockLine(const char* pText, const char* pEnd, const SLogFile& log,
                  bool bFlockBusy, bool bRecordBusy, const SCallers& callers,
                  SHolders& holders) {
  NextField(&pText, pEnd);
  const char* pKind = NextField(&pText, pEnd);
  if (pEnd - pKind < 7 || *pKind == '-') return;
  bool bFlock = std::memcmp(pKind, "FLOCK ", 6) == 0;
  bool bRecord = std::memcmp(pKind, "POSIX ", 6) == 0 ||
                 std::memcmp(pKind, "OFDLCK ", 7) == 0;
  NextField(&pText, pEnd);  // ADVISORY
  NextField(&pText, pEnd);  // READ or WRITE
  const char* pPid = NextField(&pText, pEnd);
  long nPid = *pPid == '-' ? -1 : long(ReadNumber(&pPid, pEnd, 10));
  const char* pId = NextField(&pText, pEnd);
  unsigned nMajor = unsigned(ReadNumber(&pId, pEnd, 16));
  pId += pId < pEnd;
  unsigned nMinor = unsigned(ReadNumber(&pId, pEnd, 16));
  pId += pId < pEnd;
  std::uint64_t nInode = ReadNumber(&pId, pEnd, 10);
  const char* pStart = NextField(&pText, pEnd);
  std::uint64_t nStart = ReadNumber(&pStart, pEnd, 10);
  const char* pLast = NextField(&pText, pEnd);
  std::uint64_t nLast =
      *pLast == 'E' ? ~std::uint64_t(0) : ReadNumber(&pLast, pEnd, 10);
  bool bOurByte = std::uint64_t(LOCK_OFFSET) >= nStart &&
                  std::uint64_t(LOCK_OFFSET) <= nLast;
  bool bKeepsOut =
      (bFlock && bFlockBusy) || (bRecord && bRecordBusy && bOurByte);
  if (!bKeepsOut || nMajor != major(log.nVolume) ||
      nMinor != minor(log.nVolume) || nInode != log.nIndex)
    return;
  holders.bFlockSeen = holders.bFlockSeen || bFlock;
  holders.bRecordSeen = holders.bRecordSeen || bRecord;
  holders.bOther = holders.bOther || !callers.Has(nPid);
}

// Whether every lock that keeps ours out is held by a process that this
// run descends from, as the system's table of locks tells; nobody's lock
// is touched to find out. A holder that the table does not show (in
// another namespace) counts as someone else.
bool HeldByCaller(const SLogFile& log, bool bFlockBusy, bool bRecordBusy) {
  int nFile = open("/proc/locks", O_RDONLY | O_CLOEXEC);
  if (nFile < 0) return false;
  SCallers callers;
  SHolders holders;
  char achBuffer[2048];
  std::size_t nFill = 0;
  ssize_t nRead;
  while ((nRead = read(nFile, achBuffer + nFill, sizeof achBuffer - nFill)) >
         0) {
    const char* pText = achBuffer;
    const char* pEnd = achBuffer + nFill + std::size_t(nRead);
    while (const void* pFound =
               std::memchr(pText, '\n', std::size_t(pEnd - pText))) {
      const char* pLineEnd = static_cast<const char*>(pFound);
      NoteLockLine(pText, pLineEnd, log, bFlockBusy, bRecordBusy, callers,
                   holders);
      pText = pLineEnd + 1;
    }
    // The start of a line that the next read ends; a line that fills the
    // whole buffer is no line of the table and is dropped.
    nFill = pText == achBuffer ? 0 : std::size_t(pEnd - pText);
    for (std::size_t i = 0; i < nFill; ++i) achBuffer[i] = pText[i];
  }
  close(nFile);
  return !holders.bOther && (!bFlockBusy || holders.bFlockSeen) &&
         (!bRecordBusy || holders.bRecordSeen);
}

// From here to LetSignalsIn, a signal that would end the process, or stop
// it from the terminal (Ctrl+Z), waits, so that it cannot cut an entry in
// half: every one of them but those raised by a fault of the process itself,
// which cannot wait, and SIGKILL and SIGSTOP, which cannot be held off.
// The real-time signals follow the classic ones; the C library refuses to
// add the first two, which it keeps for itself.
void HoldOffSignals() {
  static const int s_anSignals[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM,
                                    SIGALRM,   SIGUSR1, SIGUSR2, SIGVTALRM,
                                    SIGPROF,   SIGXCPU, SIGIO,   SIGPWR,
                                    SIGSTKFLT, SIGTSTP, SIGTTIN, SIGTTOU};
  sigset_t tHeld;
  sigemptyset(&tHeld);
  for (int nSignal : s_anSignals) sigaddset(&tHeld, nSignal);
  for (int nSignal = SIGSYS + 1; nSignal < NSIG; ++nSignal)
    sigaddset(&tHeld, nSignal);
  g_bHolding = sigprocmask(SIG_BLOCK, &tHeld, &g_tFoundMask) == 0;
}

// A signal that came meanwhile is delivered as sigprocmask returns.
void LetSignalsIn() {
  if (g_bHolding) sigprocmask(SIG_SETMASK, &g_tFoundMask, nullptr);
  g_bHolding = false;
}

// Cuts the entry off again while the file is exactly what it was plus the
// bytes this run wrote; a writer that took no lock and appended meanwhile
// keeps its line. False when nothing was cut.
bool TakeBackEntry(const SLogFile& log) {
  struct stat tInfo;
  return log.bDisk && log.bLocked && log.nWritten > 0 &&
         fstat(int(log.nHandle), &tInfo) == 0 &&
         std::uint64_t(tInfo.st_size) == log.nStart + log.nWritten &&
         ftruncate(int(log.nHandle), off_t(log.nStart)) == 0;
}

}  // namespace

void PlatformLogPath(CString&) {}

// Non-blocking, so that a FIFO without a reader refuses at once (ENXIO),
// to be tried again within the deadline, instead of holding the run in
// open. A file whose lease another program holds refuses too while the
// lease breaks; it is opened again blocking, to wait for the break as any
// appender does. Everything but a FIFO is then written blocking, as it
// always was.
int PlatformLogOpen(const char* pszPath, long long nDeadline, SLogFile& log) {
  PosixIgnoreWriteSignals();
  log = SLogFile();
  log.nDeadline = nDeadline;
  const int nFlags = O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_CLOEXEC;
  int nFile = open(pszPath, nFlags | O_NONBLOCK, 0666);
  if (nFile < 0 && errno == EWOULDBLOCK) nFile = open(pszPath, nFlags, 0666);
  if (nFile < 0) return errno;
  struct stat tInfo;
  if (fstat(nFile, &tInfo) != 0 ||
      (!S_ISFIFO(tInfo.st_mode) && fcntl(nFile, F_SETFL, O_APPEND) != 0)) {
    int nError = errno;
    close(nFile);
    return nError;
  }
  log.nHandle = nFile;
  log.bDisk = S_ISREG(tInfo.st_mode);
  log.nVolume = std::uint64_t(tInfo.st_dev);
  log.nIndex = std::uint64_t(tInfo.st_ino);
  return 0;
}

// A FIFO that nobody has open for reading yet; after a rotation, the new
// file that is not there yet (ENOENT: its folder may be being replaced) or
// that this run may not create (EACCES, EPERM) until the rotator has.
bool PlatformLogOpenMayClear(const char* pszPath, int nError, bool bMoved) {
  if (nError == ENXIO) {
    int nName = open(pszPath, O_PATH | O_CLOEXEC);
    struct stat tName;
    bool bFifo =
        nName >= 0 && fstat(nName, &tName) == 0 && S_ISFIFO(tName.st_mode);
    if (nName >= 0) close(nName);
    return bFifo;
  }
  return bMoved && (nError == ENOENT || nError == EACCES || nError == EPERM);
}

// No lock is enforced on writes here.
bool PlatformLogWriteMayClear(int) { return false; }

// A device or a FIFO is written to as it is, unlocked. Both locks are
// tried; a lock that another program holds counts as ours when that
// program runs this one (flock LOG script), as it waits for us.
int PlatformLogLock(SLogFile& log) {
  if (!log.bDisk) return LOG_LOCK_NONE;
  int nFile = int(log.nHandle);
  int nFlock = TakesFlock(nFile) ? TryFlock(nFile) : TRY_NONE;
  int nRecord = TryRecordLock(nFile);
  bool bBusy = nFlock == TRY_BUSY || nRecord == TRY_BUSY;
  if (bBusy && !HeldByCaller(log, nFlock == TRY_BUSY, nRecord == TRY_BUSY)) {
    if (nFlock == TRY_TAKEN) flock(nFile, LOCK_UN);
    struct flock tUnlock = RecordLock(F_UNLCK);
    if (nRecord == TRY_TAKEN) fcntl(nFile, F_SETLK, &tUnlock);
    return LOG_LOCK_BUSY;
  }
  log.bLocked = bBusy || nFlock == TRY_TAKEN || nRecord == TRY_TAKEN;
  return log.bLocked ? LOG_LOCK_TAKEN : LOG_LOCK_NONE;
}

// The name is opened again, following links as the first open did, only
// to ask which file it names now.
int PlatformLogCheckName(const char* pszPath, const SLogFile& log) {
  if (!log.bDisk) return 0;
  int nName = open(pszPath, O_PATH | O_CLOEXEC);
  struct stat tName;
  bool bSame = nName >= 0 && fstat(nName, &tName) == 0 &&
               std::uint64_t(tName.st_dev) == log.nVolume &&
               std::uint64_t(tName.st_ino) == log.nIndex;
  if (nName >= 0) close(nName);
  return bSame ? 0 : ESTALE;
}

// A device or a FIFO is never cut back: a signal ends the run there at
// once, as it ends echo.
int PlatformLogBegin(SLogFile& log, bool bEmpty) {
  if (!log.bDisk) return 0;
  HoldOffSignals();
  int nFile = int(log.nHandle);
  if (bEmpty && ftruncate(nFile, 0) != 0) return errno;
  struct stat tInfo;
  if (fstat(nFile, &tInfo) != 0) return errno;
  log.nStart = std::uint64_t(tInfo.st_size);
  return 0;
}

int PlatformLogWrite(SLogFile& log, const SOutPiece* aPieces, int nPieces) {
  return PosixWritePieces(int(log.nHandle), aPieces, nPieces, &log.nWritten,
                          log.nDeadline);
}

// Closing the descriptor releases both locks.
int PlatformLogClose(SLogFile& log, bool bTakeBack) {
  if (bTakeBack) TakeBackEntry(log);
  // A file system that writes late (NFS) may tell of a lost entry only here.
  int nError = close(int(log.nHandle)) != 0 && errno != EINTR ? errno : 0;
  LetSignalsIn();
  return nError;
}
