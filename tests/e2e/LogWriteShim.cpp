// Preloaded into zarvo by the log tests; acts on writes to a regular file
// opened for appending, as the environment asks:
//   SHIM_NFS_APPEND=1  appends as an NFS client makes them (size lookup,
//                      short pause, write at that offset), so that writers
//                      overwrite each other unless a lock keeps them apart;
//   SHIM_SIGNAL=N      raises signal N once, just before write number
//   SHIM_AT_WRITE=K    K (from 1) to such a file: a Ctrl+C, a timeout or a
//                      stop that comes in the middle of an entry.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>

#include <cstdlib>

namespace {

int EnvNumber(const char* pszName) {
  const char* pszValue = std::getenv(pszName);
  return pszValue != nullptr ? std::atoi(pszValue) : 0;
}

ssize_t NfsAppend(int nFd, const struct iovec* aPieces, int nPieces, int nFlags,
                  off_t nSize) {
  struct timespec tPause = {0, 1000000};
  nanosleep(&tPause, nullptr);
  fcntl(nFd, F_SETFL, nFlags & ~O_APPEND);
  ssize_t nWritten = pwritev(nFd, aPieces, nPieces, nSize);
  fcntl(nFd, F_SETFL, nFlags);
  return nWritten;
}

}  // namespace

extern "C" ssize_t writev(int nFd, const struct iovec* aPieces, int nPieces) {
  static auto s_pfnWritev =
      reinterpret_cast<decltype(&writev)>(dlsym(RTLD_NEXT, "writev"));
  static int s_nWrites = 0;
  int nFlags = fcntl(nFd, F_GETFL);
  struct stat tInfo;
  if (nFlags < 0 || (nFlags & O_APPEND) == 0 || fstat(nFd, &tInfo) != 0 ||
      !S_ISREG(tInfo.st_mode))
    return s_pfnWritev(nFd, aPieces, nPieces);
  if (++s_nWrites == EnvNumber("SHIM_AT_WRITE") && EnvNumber("SHIM_SIGNAL"))
    raise(EnvNumber("SHIM_SIGNAL"));
  if (EnvNumber("SHIM_NFS_APPEND") != 0)
    return NfsAppend(nFd, aPieces, nPieces, nFlags, tInfo.st_size);
  return s_pfnWritev(nFd, aPieces, nPieces);
}
