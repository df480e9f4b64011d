// What the tool needs of the operating system. One source per system
// implements it; unit tests link a scripted stand-in instead.
#ifndef ZARVO_PLATFORM_PLATFORM_H
#define ZARVO_PLATFORM_PLATFORM_H

#include <cstddef>
#include <ctime>

class CString;

// ------------------------------------------------------------ process start

// Windows only: the arguments that the runtime parsed from the UTF-16
// command line, as UTF-8 texts that last as long as the process.
const char* const* PlatformUtf8Arguments(int argc, const wchar_t* const* argv);

// ----------------------------------------------------------------- keyboard
// The console's own keyboard, never standard input. Special keys arrive as
// the prefix code 0 followed by a second code on the next read; a Windows
// console gives its grey cursor and editing keys the prefix 224 instead.

// Takes the console keyboard for reading keys without echo. False when the
// process has no console keyboard; then no key is ever waiting.
bool PlatformKeyboardOpen();

// Stops the terminal echoing what is typed, and changes nothing else: keys
// stay unread for whatever reads the terminal next. False when there is no
// terminal of this process's own (none at all, or a background job).
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

// Milliseconds until the clock's whole second next changes (1 to 1000).
int PlatformMillisToNextSecond();

// Sleeps for nMillis without reading the keyboard.
void PlatformSleep(int nMillis);

// Local broken-down time of tTime; false when it cannot be converted.
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

// The system's own text for one of its error numbers, without a line end.
CString PlatformErrorText(int nError);

// ---------------------------------------------------- environment and files

// The value of an environment variable; false (and "") when it is not set.
bool PlatformGetEnv(const char* pszName, CString& strValue);

enum { DELETE_OK = 0, DELETE_MISSING = 1, DELETE_FAILED = 2 };

// Deletes a file: DELETE_OK, DELETE_MISSING when there was none, or
// DELETE_FAILED for every other reason.
int PlatformDeleteFile(const char* pszPath);

// Appends nLength bytes, then nTail bytes of pTail, to the file at pszPath,
// creating it when missing and sharing it with other writers, in one write
// request placed at the end of the file. 0 when every byte is in the file,
// else the system's error number of the open, write or close that failed.
int PlatformAppendFile(const char* pszPath, const char* pData,
                       std::size_t nLength, const char* pTail = "",
                       std::size_t nTail = 0);

#endif
