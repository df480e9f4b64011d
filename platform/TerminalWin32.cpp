// The console's keyboard on Windows: key events from its input buffer.
//
// The console belongs to cmd.exe and the batch file as much as to this run,
// so its modes are never changed: input records come raw whatever the line
// and echo modes are, and Ctrl+C keeps ending the process as the console's
// processed input makes it do. The state:
//   UNTOUCHED  CONIN$ is not open; nothing is read.
//   HELD       CONIN$ is open while a key wait (/P, /P:n) runs; events are
//              taken one at a time, up to the key that the wait reads, and
//              every later one stays in the buffer for the next reader.
//   STOPPED    never here: Windows has no job control, and nothing needs
//              giving back when the process ends, whatever ends it.
// Only the main flow changes it (there are no signal handlers). A countdown
// (/T:n) reads nothing and changes nothing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "Clock.h"
#include "Keyboard.h"

namespace {

const int PREFIX_SPECIAL = 0;     // function keys and the keypad
const int PREFIX_EXTENDED = 224;  // the grey keys beside the keypad
const unsigned char KEY_ESCAPE = 27;

// How long a wake-up that found no input rests before waiting again, so
// that a handle which stays signalled can never make the wait spin.
const DWORD IDLE_REST_MILLIS = 10;

// The console input buffer, opened as CONIN$ so that a redirected standard
// input does not stand in for the keyboard.
HANDLE g_hConsole = INVALID_HANDLE_VALUE;

// Whether somebody can type on the console: 1, 0, or -1 before it is asked.
int g_nAttended = -1;

// Key codes already taken from the console but not yet delivered: the
// second code of a special key, and the repeats of a held key.
const int QUEUE_SIZE = 64;
int g_anQueue[QUEUE_SIZE];
int g_nQueueStart = 0;
int g_nQueueCount = 0;

// Queues the codes of one key press whole, or not at all when a key held
// down has repeated past the room left.
bool Enqueue(const int* pnCodes, int nCount) {
  if (g_nQueueCount + nCount > QUEUE_SIZE) return false;
  for (int i = 0; i < nCount; ++i) {
    g_anQueue[(g_nQueueStart + g_nQueueCount) % QUEUE_SIZE] = pnCodes[i];
    ++g_nQueueCount;
  }
  return true;
}

int Dequeue() {
  int nCode = g_anQueue[g_nQueueStart];
  g_nQueueStart = (g_nQueueStart + 1) % QUEUE_SIZE;
  --g_nQueueCount;
  return nCode;
}

// Shift, Ctrl, Alt, the Windows keys and the locks give no key of their own.
bool IsModifier(WORD wKey) {
  switch (wKey) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN: return true;
    default: return false;
  }
}

// The second code of a key without a character: its scan code, with the
// function keys shifted by their modifiers the way the console runtime
// numbers them (F1 59, Shift+F1 84, Ctrl+F1 94, Alt+F1 104, F11 133...).
int SecondCode(WORD wScan, DWORD dwState) {
  int nVariant = 0;
  if (dwState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED))
    nVariant = 3;
  else if (dwState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED))
    nVariant = 2;
  else if (dwState & SHIFT_PRESSED)
    nVariant = 1;
  static const int s_anFOffset[] = {0, 25, 35, 45};
  if (wScan >= 59 && wScan <= 68) return wScan + s_anFOffset[nVariant];
  if (wScan == 87 || wScan == 88) return 133 + (wScan - 87) + 2 * nVariant;
  return wScan;
}

// Turns one key-down event into its codes: a character, or a prefix and a
// second code. Alt with a character key counts as a special key.
void TranslateKey(const KEY_EVENT_RECORD& tKey) {
  if (!tKey.bKeyDown || IsModifier(tKey.wVirtualKeyCode)) return;
  // A record that names no key at all (a terminal sequence the console
  // did not know) is no key press.
  if (tKey.wVirtualKeyCode == 0 && tKey.wVirtualScanCode == 0 &&
      tKey.uChar.AsciiChar == 0)
    return;
  unsigned char chKey = static_cast<unsigned char>(tKey.uChar.AsciiChar);
  // Some consoles (Wine's among them) give Escape without its character.
  if (tKey.wVirtualKeyCode == VK_ESCAPE) chKey = KEY_ESCAPE;
  DWORD dwState = tKey.dwControlKeyState;
  bool bAltOnly = (dwState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0 &&
                  (dwState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) == 0;
  int anCodes[2] = {chKey, 0};
  int nCount = 1;
  if (chKey == 0 || bAltOnly) {
    anCodes[0] = (dwState & ENHANCED_KEY) ? PREFIX_EXTENDED : PREFIX_SPECIAL;
    anCodes[1] = SecondCode(tKey.wVirtualScanCode, dwState);
    nCount = 2;
  }
  int nRepeat = tKey.wRepeatCount < 1 ? 1 : tKey.wRepeatCount;
  for (int i = 0; i < nRepeat && Enqueue(anCodes, nCount); ++i) {
  }
}

// Takes console events up to and including the next key press and queues
// its codes; the events after it stay in the buffer for the next reader, as
// with cmd's pause. What comes before it and gives no key (a release, a
// modifier, focus, mouse, menu or resize) is taken and dropped, so that the
// handle stops being signalled. False when no key press is there; *pbTook
// tells whether any event was taken.
bool TakeNextKey(bool* pbTook) {
  *pbTook = false;
  INPUT_RECORD tRecord;
  DWORD nCount = 0;
  while (g_hConsole != INVALID_HANDLE_VALUE &&
         PeekConsoleInputA(g_hConsole, &tRecord, 1, &nCount) && nCount == 1) {
    if (!ReadConsoleInputA(g_hConsole, &tRecord, 1, &nCount) || nCount != 1)
      return false;
    *pbTook = true;
    if (tRecord.EventType != KEY_EVENT) continue;
    TranslateKey(tRecord.Event.KeyEvent);
    if (g_nQueueCount > 0) return true;
  }
  return false;
}

// Whether the process's window station is the one a user sees. Services,
// and scheduled tasks that run whether a user is logged on or not, get one
// that is not. The function lives in USER32, which is loaded only here, so
// that no other run pays for it. A station that cannot be asked counts as
// seen: a wait is never cut short on a guess.
bool StationVisible() {
  typedef HWINSTA(WINAPI * TGetStation)();
  typedef BOOL(WINAPI * TGetInformation)(HANDLE, int, PVOID, DWORD, LPDWORD);
  HMODULE hUser = LoadLibraryW(L"user32.dll");
  if (hUser == nullptr) return true;
  auto fnGetStation =
      reinterpret_cast<TGetStation>(reinterpret_cast<void (*)()>(
          GetProcAddress(hUser, "GetProcessWindowStation")));
  auto fnGetInformation =
      reinterpret_cast<TGetInformation>(reinterpret_cast<void (*)()>(
          GetProcAddress(hUser, "GetUserObjectInformationW")));
  USEROBJECTFLAGS tFlags = {};
  DWORD dwNeeded = 0;
  HWINSTA hStation = fnGetStation != nullptr ? fnGetStation() : nullptr;
  bool bVisible = hStation == nullptr || fnGetInformation == nullptr ||
                  !fnGetInformation(hStation, UOI_FLAGS, &tFlags, sizeof tFlags,
                                    &dwNeeded) ||
                  (tFlags.dwFlags & WSF_VISIBLE) != 0;
  FreeLibrary(hUser);
  return bVisible;
}

// A console that somebody can type into: it has a window (a console window,
// or the one that Windows Terminal and other ConPTY hosts such as SSH give
// it) on a window station that a user sees. A console made with
// CREATE_NO_WINDOW has no window, and nobody could ever press a key there.
bool ConsoleAttended() {
  return GetConsoleWindow() != nullptr && StationVisible();
}

}  // namespace

// ----------------------------------------------------------------- keyboard

// Asked once: a console host may take a moment to answer (Wine's starts
// its desktop then), and the answer does not change.
void PlatformKeyboardPrepare() {
  if (g_nAttended < 0) g_nAttended = ConsoleAttended() ? 1 : 0;
}

// A console that nobody can type into is no keyboard: the waits then go as
// with no console at all.
bool PlatformKeyboardOpen(bool) {
  if (g_hConsole != INVALID_HANDLE_VALUE) return true;
  PlatformKeyboardPrepare();
  if (g_nAttended == 0) return false;
  HANDLE hConsole = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  if (hConsole == INVALID_HANDLE_VALUE) return false;
  DWORD dwMode = 0;
  if (!GetConsoleMode(hConsole, &dwMode)) {
    CloseHandle(hConsole);
    return false;
  }
  g_hConsole = hConsole;
  return true;
}

// Nothing reads the console's input while a countdown runs, so nothing
// typed meanwhile is echoed: there is nothing to silence.
bool PlatformEchoOff() { return false; }

void PlatformKeyboardClose() {
  if (g_hConsole == INVALID_HANDLE_VALUE) return;
  CloseHandle(g_hConsole);
  g_hConsole = INVALID_HANDLE_VALUE;
  g_nQueueStart = g_nQueueCount = 0;
}

bool PlatformKeyWaiting() {
  bool bTook = false;
  return g_nQueueCount > 0 || TakeNextKey(&bTook);
}

int PlatformReadKey() { return PlatformKeyWaiting() ? Dequeue() : 0; }

bool PlatformWaitForKey(int nMillis) {
  if (PlatformKeyWaiting()) return true;
  if (nMillis < 0) nMillis = 0;
  if (g_hConsole == INVALID_HANDLE_VALUE) {
    PlatformSleep(nMillis);
    return false;
  }
  ULONGLONG nDeadline = GetTickCount64() + ULONGLONG(nMillis);
  for (;;) {
    ULONGLONG nNow = GetTickCount64();
    if (nNow >= nDeadline) return false;
    DWORD dwLeft = DWORD(nDeadline - nNow);
    DWORD dwResult = WaitForSingleObject(g_hConsole, dwLeft);
    if (dwResult == WAIT_TIMEOUT) return false;
    if (dwResult != WAIT_OBJECT_0) {  // the handle broke: sleep it out
      Sleep(dwLeft);
      return false;
    }
    bool bTook = false;
    if (TakeNextKey(&bTook)) return true;
    if (!bTook) Sleep(dwLeft < IDLE_REST_MILLIS ? dwLeft : IDLE_REST_MILLIS);
  }
}
