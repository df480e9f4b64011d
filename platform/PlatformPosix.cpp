// POSIX side of the platform: the clocks, standard output and error, the
// environment and append-only log files. The terminal has a source of its
// own (TerminalPosix.cpp).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "OutputStreams.h"
#include "Platform.h"
#include "ZString.h"

// ------------------------------------------------ standard output and error

namespace {

// A reader that closes its end early, or a file size limit (ulimit -f),
// must not end the run: with the signals ignored, the write fails with
// EPIPE or EFBIG instead, which is reported, and the run goes on.
void IgnoreWriteSignals() {
  static bool s_bIgnored = false;
  if (!s_bIgnored) {
    struct sigaction tIgnore;
    std::memset(&tIgnore, 0, sizeof tIgnore);
    tIgnore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &tIgnore, nullptr);
    sigaction(SIGXFSZ, &tIgnore, nullptr);
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

// Writes the pieces in order, up to 16 of them in one gathered request;
// *pnWritten grows by the bytes that reached the descriptor. 0, or the
// error number.
int WritePieces(int nFd, const SOutPiece* aPieces, int nPieces,
                std::uint64_t* pnWritten) {
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
    nError = WriteGathered(nFd, aVectors, nVectors);
    // What is left in the vectors did not reach the descriptor.
    for (int k = 0; k < nVectors; ++k) nTotal -= aVectors[k].iov_len;
    *pnWritten += nTotal;
  }
  return nError;
}

}  // namespace

int PlatformWritePieces(int nStream, const SOutPiece* aPieces, int nPieces) {
  IgnoreWriteSignals();
  std::uint64_t nWritten = 0;
  int nError = WritePieces(nStream == STREAM_STDERR ? 2 : 1, aPieces, nPieces,
                           &nWritten);
  return nError == EPIPE ? 0 : nError;
}

CString PlatformErrorText(int nError) { return CString(std::strerror(nError)); }

// -------------------------------------------------------------------- clock

std::time_t PlatformNow() {
  struct timespec tNow;
  clock_gettime(CLOCK_REALTIME, &tNow);
  return tNow.tv_sec;
}

// Whole milliseconds, so a sleep until the next second never ends short of
// it.
long long PlatformSteadyMillis() {
  struct timespec tNow;
  clock_gettime(CLOCK_MONOTONIC, &tNow);
  return static_cast<long long>(tNow.tv_sec) * 1000 + tNow.tv_nsec / 1000000;
}

// poll with no descriptor sleeps; a signal that ends it early is slept on.
void PlatformSleep(int nMillis) {
  long long nEnd = PlatformSteadyMillis() + nMillis;
  for (long long nLeft = nMillis; nLeft > 0;
       nLeft = nEnd - PlatformSteadyMillis())
    poll(nullptr, 0, int(nLeft));
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

int PlatformLogWrite(SLogFile& log, const SOutPiece* aPieces, int nPieces) {
  return WritePieces(int(log.nHandle), aPieces, nPieces, &log.nWritten);
}

// Closing the descriptor releases the lock.
int PlatformLogClose(SLogFile& log, bool bTakeBack) {
  if (bTakeBack) TakeBackEntry(log);
  // A file system that writes late (NFS) may tell of a lost entry only here.
  return close(int(log.nHandle)) != 0 && errno != EINTR ? errno : 0;
}
