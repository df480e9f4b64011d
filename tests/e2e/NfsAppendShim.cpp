// Preloaded into zarvo by the log tests: appends to a regular file as an
// NFS client makes them (size lookup, short pause, write at that offset),
// so that writers overwrite each other unless a lock keeps them apart.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>

extern "C" ssize_t writev(int nFd, const struct iovec* aPieces, int nPieces) {
  static auto s_pfnWritev =
      reinterpret_cast<decltype(&writev)>(dlsym(RTLD_NEXT, "writev"));
  int nFlags = fcntl(nFd, F_GETFL);
  struct stat tInfo;
  if (nFlags < 0 || (nFlags & O_APPEND) == 0 || fstat(nFd, &tInfo) != 0 ||
      !S_ISREG(tInfo.st_mode))
    return s_pfnWritev(nFd, aPieces, nPieces);
  struct timespec tPause = {0, 1000000};
  nanosleep(&tPause, nullptr);
  fcntl(nFd, F_SETFL, nFlags & ~O_APPEND);
  ssize_t nWritten = pwritev(nFd, aPieces, nPieces, tInfo.st_size);
  fcntl(nFd, F_SETFL, nFlags);
  return nWritten;
}
