// What the tool needs of the operating system. One source per system
// implements it; unit tests link a scripted stand-in instead.
#ifndef ZARVO_PLATFORM_PLATFORM_H
#define ZARVO_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <ctime>

class CString;

// A run of bytes that one write request hands over together with others.
struct SOutPiece {
  const char* pData;
  std::size_t nLength;
};

// ------------------------------------------------------------ process start

// Windows only: the arguments that the runtime parsed from the UTF-16
// command line, as UTF-8 texts that last as long as the process.
const char* const* PlatformUtf8Arguments(int argc, const wchar_t* const* argv);

// ----------------------------------------------------------------- keyboard
// The console's own keyboard, never standard input (TerminalPosix.cpp,
// TerminalWin32.cpp). Special keys arrive as the prefix code 0 followed by a
// second code on the next read; a Windows console gives its grey cursor and
// editing keys the prefix 224 instead.

// Settles whether anybody can type on the console keyboard, before the
// prompt of a key wait is shown: where asking takes a moment, keys typed
// in answer to the prompt then meet a wait that is ready for them. Nothing
// is taken or changed.
void PlatformKeyboardPrepare();

// Takes the console keyboard for reading keys without echo. False when the
// process has no console keyboard that anybody can type on, or when it runs
// in the background; then no key is ever waiting. With bMayStop a
// background job first stops, as a reader of the terminal does, until it is
// brought to the foreground.
bool PlatformKeyboardOpen(bool bMayStop);

// Stops the terminal echoing what is typed, and changes nothing else: keys
// stay unread for whatever reads the terminal next. False when the terminal
// is not this run's alone to silence (no terminal, a background job, or
// standard input or output elsewhere).
bool PlatformEchoOff();

// Gives the console back exactly as it was before PlatformKeyboardOpen or
// PlatformEchoOff.
void PlatformKeyboardClose();

// Whether a key is waiting; never blocks.
bool PlatformKeyWaiting();

// The next key code; call only when a key is waiting.
int PlatformReadKey();

// Sleeps until a key is waiting or nMillis have passed; true for a key.
// Without a console keyboard it simply sleeps.
bool PlatformWaitForKey(int nMillis);

// -------------------------------------------------------------------- clock

// Current calendar time in whole seconds.
std::time_t PlatformNow();

// Milliseconds on a steady clock, which only moves forward, at the pace of
// real time, whatever happens to the calendar clock (set, stepped, frozen).
long long PlatformSteadyMillis();

// Sleeps for nMillis without reading the keyboard.
void PlatformSleep(int nMillis);

// Local broken-down time of tTime, in the system's time zone (on POSIX as
// TZ names it, on Windows as its own settings give it); false when it
// cannot be converted.
bool PlatformLocalTime(std::time_t tTime, std::tm* pTm);

// ---------------------------------------------------------- standard output

// Hands nLength bytes of pData, then nTail bytes of pTail, to standard
// output at once, in one write request, so that a line shared with other
// writers arrives whole. Where the system takes several pieces in one
// request, neither text is copied.
void PlatformWriteStdout(const char* pData, std::size_t nLength,
                         const char* pTail = "", std::size_t nTail = 0);

// The first error that writing standard output met, as the system's error
// number, or 0. Nothing more is written after it. A reader that closed the
// pipe is no error: what it no longer wants is dropped.
int PlatformStdoutError();

// Whether the output so far leaves the cursor mid-line: something was
// written, and its last character is not a line feed.
bool PlatformStdoutMidLine();

// ----------------------------------------------------------- standard error

// Writes strLine and a line end to standard error in one write request;
// a failure is not reported anywhere.
void PlatformWriteStderr(const CString& strLine);

// Whether standard error shows where standard output does (one terminal,
// file or pipe), so that a report there would continue the display's line.
bool PlatformStderrJoinsStdout();

// The system's own text for one of its error numbers, without a line end.
CString PlatformErrorText(int nError);

// A path as a report names it: on Windows in double quotes when it begins
// or ends with a blank, which would not show otherwise; elsewhere as it is.
CString PlatformReportPath(const CString& strPath);

// -------------------------------------------------------------- environment

// The value of an environment variable; false (and "") when it is not set.
bool PlatformGetEnv(const char* pszName, CString& strValue);

// ----------------------------------------------------------------- log file
// The log is shared with other writers, readers, rotators and lockers
// (LogFilePosix.cpp, LogFileWin32.cpp). One entry goes to it as: open, take
// the locks (tried, never waited on here), check that the path still names
// the file, begin, write, close.

// The log's path as the file functions take it: on Windows without the
// double quotes that cmd users put around a path (no file name holds one),
// and "" (no log) for blanks only; elsewhere as it is.
void PlatformLogPath(CString& strPath);

// The log while one entry goes to it, from PlatformLogOpen to
// PlatformLogClose; the file is open, and locked, only meanwhile.
struct SLogFile {
  std::intptr_t nHandle;   // the system's descriptor or handle
  bool bDisk;              // a file on a disk, not a device or a pipe
  bool bConsole;           // a console, which takes characters, not bytes
  bool bLocked;            // other writers that lock it wait meanwhile
  std::uint64_t nVolume;   // which file it is: its device or volume,
  std::uint64_t nIndex;    // and its inode or file index there
  std::uint64_t nIndexHi;  // an index's upper half, where it has 128 bits
  std::uint64_t nStart;    // its length when the entry began
  std::uint64_t nWritten;  // the bytes of this entry that reached it
  long long nDeadline;     // steady milliseconds: no wait goes past them
};

// Opens the log at pszPath for appending, creating a missing file; no lock
// is taken and nothing is changed. A target that has no room for another
// writer yet (a named pipe whose instances are all in use) may be waited
// for until nDeadline, which the log keeps for the later steps. 0, or the
// system's error number: then nothing is open.
int PlatformLogOpen(const char* pszPath, long long nDeadline, SLogFile& log);

// Whether an open of pszPath that failed with nError may succeed when it
// is tried again a moment later: the target is busy with another program
// (a pipe without a reader yet, a file opened without sharing), or, with
// bMoved (the name's file was renamed or removed during this entry), the
// rotator's new file is not there yet. A log that was never there, or that
// no wait makes writable, is not waited for.
bool PlatformLogOpenMayClear(const char* pszPath, int nError, bool bMoved);

// Whether a write that failed with nError before any byte of the entry
// went out may succeed a moment later: another program's lock over the
// range, which the system enforces.
bool PlatformLogWriteMayClear(int nError);

// What one try for the log's locks found.
enum {
  LOG_LOCK_TAKEN = 0,  // ours until PlatformLogClose
  LOG_LOCK_BUSY = 1,   // another program holds one of them; nothing taken
  LOG_LOCK_NONE = 2    // the file or its file system cannot lock
};

// Tries once, without waiting, to take every lock that the log's other
// writers take turns by; takes all of them or none.
int PlatformLogLock(SLogFile& log);

// 0 when pszPath still names the file open as log (a device or a pipe
// always does); else the system's error number for a file that was renamed
// or removed since it was opened.
int PlatformLogCheckName(const char* pszPath, const SLogFile& log);

// Begins the entry: for a disk file, holds off the signals that would end
// the process (on Windows, Ctrl+C, Ctrl+Break and the console's close)
// until PlatformLogClose, empties it with bEmpty, and notes its
// length (a device or a pipe, never cut back, is not held for). 0, or the
// system's error number.
int PlatformLogBegin(SLogFile& log, bool bEmpty);

// Appends the pieces, in order, at the end of the log: with one gathered
// write request where the system has one, going on after a short write. A
// pipe that has no room waits for its reader until the log's deadline.
// 0, or the system's error number.
int PlatformLogWrite(SLogFile& log, const SOutPiece* aPieces, int nPieces);

// Unlocks and closes the log, then lets held-off signals in. With
// bTakeBack, the bytes that this entry wrote are cut off again, but only
// when some were written, the locks are held, and the file is exactly as
// long as it was plus them. 0, or the system's error number of the close.
int PlatformLogClose(SLogFile& log, bool bTakeBack);

#endif
