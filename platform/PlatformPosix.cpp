// POSIX side of the platform: the clocks, standard output and error, the
// environment and append-only log files. The terminal has a source of its
// own (TerminalPosix.cpp).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "OutputStreams.h"
#include "Platform.h"
#include "ZString.h"

// ------------------------------------------------ standard output and error

namespace {

// A reader that closes its end early must not end the run: with the signal
// ignored, a write to it fails with EPIPE instead, and the run goes on.
void IgnoreBrokenPipe() {
  static bool s_bIgnored = false;
  if (!s_bIgnored) signal(SIGPIPE, SIG_IGN);
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
  IgnoreBrokenPipe();
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

int PlatformAppendFile(const char* pszPath, const char* pData,
                       std::size_t nLength, const char* pTail,
                       std::size_t nTail) {
  IgnoreBrokenPipe();
  int nFile = open(pszPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (nFile < 0) return errno;
  // One gathered write puts body and tail at the end together (O_APPEND).
  struct iovec aPieces[2] = {{const_cast<char*>(pData), nLength},
                             {const_cast<char*>(pTail), nTail}};
  int nError = WriteGathered(nFile, aPieces, 2);
  // A file system that writes late (NFS) may tell of a lost entry only here.
  if (close(nFile) != 0 && nError == 0 && errno != EINTR) nError = errno;
  return nError;
}
