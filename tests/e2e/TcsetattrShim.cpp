// Preloaded into zarvo by the pseudo-terminal tests: right after the
// tcsetattr that turns echo off (the terminal taken) or on again (given
// back), it raises the signal named by SHIM_AFTER_TAKE or SHIM_AFTER_GIVE,
// once, so that the signal meets the moment between a change and its note.
#include <dlfcn.h>
#include <signal.h>
#include <termios.h>

#include <cstdlib>

extern "C" int tcsetattr(int nFd, int nWhen, const struct termios* pSettings) {
  using Real = int (*)(int, int, const struct termios*);
  static Real s_pReal = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
  static bool s_abRaised[2] = {false, false};
  int nResult = s_pReal(nFd, nWhen, pSettings);
  int nGive = (pSettings->c_lflag & ECHO) != 0 ? 1 : 0;
  const char* pszSignal =
      std::getenv(nGive != 0 ? "SHIM_AFTER_GIVE" : "SHIM_AFTER_TAKE");
  if (pszSignal != nullptr && !s_abRaised[nGive]) {
    s_abRaised[nGive] = true;
    raise(std::atoi(pszSignal));
  }
  return nResult;
}
