// The log file on POSIX systems.
//
// The log is shared, and none of those who share it need to know of us:
//   other zarvo runs, here or on other machines (NFS): they take the same
//     locks, so their entries and ours never mix;
//   programs that lock the whole file to rotate, trim or copy it: flock(1)
//     and most daemons (flock), lockf and fcntl users (a record lock over
//     the whole file). Both kinds meet one of our locks, so they wait for
//     an entry to be whole, and our runs wait for them, within a bound that
//     the caller keeps;
//   writers that take no lock (>>, tee): O_APPEND places every one of our
//     write requests after theirs, never over them;
//   rotators that rename the file and start a new one: an entry goes only
//     to the file that the log's name names once the locks are held;
//   readers (tail -f, a pager): they see an entry appear a write request
//     at a time.
// What each step promises:
//   open    O_APPEND, a missing file created 0666 less the umask; nothing
//           about the file changes, and a device or FIFO is written as is.
//   lock    both locks or neither, tried once and never waited on.
//   check   the path still names the open file (device and inode).
//   begin   the signals that would end the process wait until close; /N
//           empties the file in place (name, links, mode, owner and group
//           stay).
//   write   each request lands at the end of the file as it is then.
//   close   a failed entry is cut back only when this run wrote part of it,
//           still holds the locks, and finds the file exactly as long as
//           before plus those bytes; then the locks go with the descriptor
//           and held-off signals arrive, ending the run as they would have.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "Platform.h"
#include "SharedPosix.h"
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

int PlatformLogOpen(const char* pszPath, int, SLogFile& log) {
  PosixIgnoreWriteSignals();
  log = SLogFile();
  int nFile =
      open(pszPath, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
  if (nFile < 0) return errno;
  struct stat tInfo;
  if (fstat(nFile, &tInfo) != 0) {
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

// A device or a FIFO is written to as it is, unlocked.
int PlatformLogLock(SLogFile& log) {
  if (!log.bDisk) return LOG_LOCK_NONE;
  int nFile = int(log.nHandle);
  bool bFlock = TakesFlock(nFile);
  if (bFlock && flock(nFile, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return LOG_LOCK_BUSY;
    bFlock = false;  // not on this file system: the record lock alone
  }
  struct flock tLock = RecordLock(F_WRLCK);
  if (fcntl(nFile, F_SETLK, &tLock) == 0 ||
      (errno != EACCES && errno != EAGAIN && bFlock)) {
    log.bLocked = true;
    return LOG_LOCK_TAKEN;
  }
  bool bBusy = errno == EACCES || errno == EAGAIN;
  if (bFlock) flock(nFile, LOCK_UN);
  // No lock manager (an NFS mount without one): written unlocked.
  return bBusy ? LOG_LOCK_BUSY : LOG_LOCK_NONE;
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

int PlatformLogBegin(SLogFile& log, bool bEmpty) {
  HoldOffSignals();
  if (!log.bDisk) return 0;
  int nFile = int(log.nHandle);
  if (bEmpty && ftruncate(nFile, 0) != 0) return errno;
  struct stat tInfo;
  if (fstat(nFile, &tInfo) != 0) return errno;
  log.nStart = std::uint64_t(tInfo.st_size);
  return 0;
}

int PlatformLogWrite(SLogFile& log, const SOutPiece* aPieces, int nPieces) {
  return PosixWritePieces(int(log.nHandle), aPieces, nPieces, &log.nWritten);
}

// Closing the descriptor releases both locks.
int PlatformLogClose(SLogFile& log, bool bTakeBack) {
  if (bTakeBack) TakeBackEntry(log);
  // A file system that writes late (NFS) may tell of a lost entry only here.
  int nError = close(int(log.nHandle)) != 0 && errno != EINTR ? errno : 0;
  LetSignalsIn();
  return nError;
}
