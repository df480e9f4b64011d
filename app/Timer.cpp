// The waits: the countdown timer of /P:n and /T:n, and the key wait of /P
// (one source for both, though named for the timer).
// Both sleep in the operating system until a key arrives or the steady
// clock's second changes; neither spins, and a calendar clock that is set,
// stepped or frozen meanwhile changes nothing.
#include <cstddef>

#include "Clock.h"
#include "EchoApp.h"
#include "Keyboard.h"
#include "Output.h"

namespace {

const int KEY_ESCAPE = 27;
// How long one sleep lasts while only a key can end the wait.
const int KEY_WAIT_MILLIS = 60000;

void WriteText(const CString& strText) {
  PlatformWriteStdout(strText.GetString(), std::size_t(strText.GetLength()));
}

// Blanks a count of nWidth characters and leaves the cursor where it began.
void WriteErase(int nWidth) {
  unsigned nCount = unsigned(nWidth);
  WriteText(CString('\b', nCount) + CString(' ', nCount) +
            CString('\b', nCount));
}

int Width(int nCount) { return CString(nCount).GetLength(); }

// One key press. A special key's prefix 0 is followed by its second code;
// 0 comes back only when the prefix arrived alone.
int ReadKeyCode() {
  int nKey = PlatformReadKey();
  if (nKey == 0 && PlatformKeyWaiting()) nKey = PlatformReadKey();
  return nKey;
}

}  // namespace

void CEchoApp::RunTimer() {
  int nCount = m_strTimer.ToInt();
  int nWidth = Width(nCount);
  bool bCounting = true;
  // /T:n never reads the keyboard: keys typed meanwhile stay unread for
  // whatever reads the terminal next, and without echo they stay out of
  // the count on the screen. In the background /P:n counts down without
  // the keyboard too.
  bool bKeyboard = m_bPause && PlatformKeyboardOpen(false);
  bool bQuiet = !m_bPause && PlatformEchoOff();
  if (!m_bNoCountdown) WriteText(CString(nCount));
  long long nLast = PlatformSteadyMillis() / 1000;

  while (nCount != 0) {
    if (bKeyboard && PlatformKeyWaiting()) {
      int nKey = ReadKeyCode();
      if (nKey != 0 && nKey != KEY_ESCAPE) break;
      if (nKey == KEY_ESCAPE) {
        if (!bCounting) break;
        if (!m_bNoCountdown) WriteErase(nWidth);
        WriteText(" <ESC> pressed, timer canceled.");
        bCounting = false;
        continue;
      }
    }
    if (!bCounting) {
      // Only a key ends this wait, so a keyboard that is gone ends it too.
      if (!PlatformKeyboardOpen(false)) break;
      PlatformWaitForKey(KEY_WAIT_MILLIS);
      continue;
    }
    // The count falls once whenever the clock's whole second has moved on;
    // one reading gives both the second and the time to the next one.
    long long nNow = PlatformSteadyMillis();
    int nMillis = int(1000 - nNow % 1000);
    if (nNow / 1000 > nLast) {
      if (!m_bNoCountdown) WriteErase(nWidth);
      --nCount;
      nWidth = Width(nCount);
      if (!m_bNoCountdown) WriteText(CString(nCount));
    }
    nLast = nNow / 1000;
    if (nCount == 0) break;
    if (bKeyboard)
      PlatformWaitForKey(nMillis);
    else
      PlatformSleep(nMillis);
  }
  // After Escape the count is already gone.
  if (bCounting && !m_bNoCountdown) WriteErase(nWidth);
  if (bKeyboard || bQuiet) PlatformKeyboardClose();
}

void CEchoApp::WaitForKey() {
  // With no console keyboard nobody can press a key: return at once. In
  // the background the wait stops until it is in the foreground.
  if (!PlatformKeyboardOpen(true)) return;
  for (;;) {
    while (!PlatformKeyWaiting()) {
      if (!PlatformKeyboardOpen(true)) break;
      PlatformWaitForKey(KEY_WAIT_MILLIS);
    }
    if (!PlatformKeyWaiting() || ReadKeyCode() != 0) break;
  }
  PlatformKeyboardClose();
}
