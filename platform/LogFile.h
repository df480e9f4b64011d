// The log file, which other writers, readers, rotators and lockers share
// (LogFilePosix.cpp, LogFileWin32.cpp). One entry goes to it as: open, take
// the locks, check that the path still names the file, begin, write,
// close. Each step is tried once here; how long to wait for others is the
// log writer's to decide (app/LogWriter.cpp).
#ifndef ZARVO_PLATFORM_LOGFILE_H
#define ZARVO_PLATFORM_LOGFILE_H

#include <cstdint>

#include "Platform.h"

class CString;

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
// until PlatformLogClose, empties it with bEmpty, and notes its length (a
// device or a pipe, never cut back, is not held for). 0, or the system's
// error number.
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
