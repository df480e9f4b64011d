// POSIX side of the platform: the clocks, standard output and error, and
// the environment. The terminal and the log file have sources of their own
// (TerminalPosix.cpp, LogFilePosix.cpp).
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Clock.h"
#include "Environment.h"
#include "Output.h"
#include "OutputStreams.h"
#include "WritesPosix.h"
#include "ZString.h"

// ------------------------------------------------ standard output and error

namespace {

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
// refuses more. A non-blocking descriptor that has no room is waited on,
// until nDeadline (steady milliseconds; -1: for as long as it takes), then
// given up with EAGAIN. 0, or the error number.
int WriteGathered(int nFd, struct iovec* aPieces, int nPieces,
                  long long nDeadline) {
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
      long long nLeft = nDeadline < 0 ? -1 : nDeadline - PlatformSteadyMillis();
      if (nDeadline >= 0 && nLeft <= 0) return EAGAIN;
      struct pollfd tPoll = {nFd, POLLOUT, 0};
      poll(&tPoll, 1, int(nLeft));
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace

void PosixIgnoreWriteSignals() {
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

// Up to 16 pieces go in one gathered request.
int PosixWritePieces(int nFd, const SOutPiece* aPieces, int nPieces,
                     std::uint64_t* pnWritten, long long nDeadline) {
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
    nError = WriteGathered(nFd, aVectors, nVectors, nDeadline);
    // What is left in the vectors did not reach the descriptor.
    for (int k = 0; k < nVectors; ++k) nTotal -= aVectors[k].iov_len;
    *pnWritten += nTotal;
  }
  return nError;
}

int PlatformWritePieces(int nStream, const SOutPiece* aPieces, int nPieces) {
  PosixIgnoreWriteSignals();
  std::uint64_t nWritten = 0;
  int nError = PosixWritePieces(nStream == STREAM_STDERR ? 2 : 1, aPieces,
                                nPieces, &nWritten, -1);
  return nError == EPIPE ? 0 : nError;
}

// The same file, pipe or terminal: one inode, or one terminal device
// reached through two names (/dev/tty and /dev/pts/N).
bool PlatformStderrJoinsStdout() {
  struct stat tOut, tErr;
  if (fstat(1, &tOut) != 0 || fstat(2, &tErr) != 0) return false;
  bool bSameNode = tOut.st_dev == tErr.st_dev && tOut.st_ino == tErr.st_ino;
  bool bSameTerminal = S_ISCHR(tOut.st_mode) && S_ISCHR(tErr.st_mode) &&
                       tOut.st_rdev == tErr.st_rdev;
  return bSameNode || bSameTerminal;
}

CString PlatformErrorText(int nError) { return CString(std::strerror(nError)); }

// A file name may begin or end with a blank here; the report shows it as
// it is.
CString PlatformReportPath(const CString& strPath) { return strPath; }

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

// -------------------------------------------------------------- environment

bool PlatformGetEnv(const char* pszName, CString& strValue) {
  const char* pszValue = std::getenv(pszName);
  strValue = pszValue;
  return pszValue != nullptr;
}
