// A scripted stand-in for the platform, linked into the unit tests instead
// of the real one: a clock that moves only when the code under test sleeps,
// keys that arrive at chosen moments, an in-memory environment and files.
#ifndef ZARVO_TESTS_FAKEPLATFORM_H
#define ZARVO_TESTS_FAKEPLATFORM_H

#include <cstddef>
#include <ctime>
#include <map>
#include <string>

namespace fake {

// Everything the tool hands to its standard output while the object lives.
class StdoutCapture {
 public:
  StdoutCapture();
  std::string Text() const;

 private:
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::size_t m_nStart;
};

// Sunday 31 December 2006, 16:12:13; the fake local time is this in UTC.
const std::time_t DEFAULT_START = 1167581533;

// Back to a fresh state: clock at nStartSeconds + nStartMillis, keyboard
// present, no keys, no jumps, empty environment and files.
void Reset(std::time_t tStart = DEFAULT_START, int nStartMillis = 0);

// A key code that becomes readable nAtMillis after the start.
void AddKey(long nAtMillis, int nCode);

// The steady clock's reading jumps by nSeconds once nAtMillis have passed.
void AddClockJump(long nAtMillis, long nSeconds);

void SetKeyboard(bool bPresent);

// From nAtMillis on the keyboard is gone, as a terminal that hung up: no key
// is waiting any more and opening it fails.
void LoseKeyboardAt(long nAtMillis);

// The first steady clock reading at or after nAtMillis lasts nDelayMillis:
// it gives the time it began, and the clock moves on meanwhile.
void AddClockReadDelay(long nAtMillis, long nDelayMillis);

// Milliseconds that have passed since the start.
long ElapsedMillis();

// Keys still unread, and whether the keyboard is open now.
int KeysLeft();
bool KeyboardIsOpen();
int KeyboardOpenCount();

// How often the terminal's echo was turned off; whether it is off now.
int EchoOffCount();
bool EchoIsOff();

// Everything written to standard error since the reset.
std::string Stderr();

// Environment and files.
void SetEnv(const std::string& strName, const std::string& strValue);
int& OpenError();    // every open of a log fails with this error number
int& AppendError();  // every write fails with this error number, once written
std::map<std::string, std::string>& Files();
int AppendCalls();  // write requests
int OpenCalls();    // opens of the log, failed ones too
// The one error that the other side of an open or a write clears in a
// moment; 0: none.
int& ClearableError();
// Until this many milliseconds after the start, every write request is
// refused with ClearableError before any byte goes out, as another
// program's lock over the file refuses it; 0 (at first): none is.
long& WritesRefusedUntil();
// Whether the log's name names another file at every check: a rotator
// that renames it over and over.
bool& NameMoves();
// Whether standard error shows where standard output does (at first it
// does, as on a terminal).
bool& StderrJoinsStdout();

}  // namespace fake

#endif
