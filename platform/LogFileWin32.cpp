// The log file on Windows.
//
// The log is shared, and none of those who share it need to know of us:
//   other zarvo runs, here or on other machines (an SMB share): they lock
//     the same byte, which Windows file servers and Samba honour for every
//     client, so their entries and ours never mix;
//   programs that lock the whole file: a lock over every byte (LockFileEx
//     from offset 0 for MAXDWORD:MAXDWORD bytes) meets our byte, so they
//     and our runs take turns; the common lock of the first 4 GiB does
//     not, and Windows refuses our write into its range, which then waits
//     for it. Both waits end at a bound that the caller keeps; an entry
//     refused past it is reported;
//   programs that open the log without sharing it for a moment (scanners,
//     backup agents, editors): the open waits for them within the bound;
//   a user granted the right to append and no more: the append-only handle
//     can take no lock, so such entries take no turns and are never cut;
//   writers that take no lock (cmd's >>): the append-only handle places
//     every one of our write requests after theirs, never over them;
//   rotators that rename or delete the file (FILE_SHARE_DELETE lets them
//     while we hold it): an entry goes only to the file that the log's name
//     names once the lock is held;
//   log readers serving a named pipe, and devices (CON, NUL, COM1): written
//     to as they are, never locked, emptied or cut; a pipe whose instances
//     are all busy, or that has none between two, is waited for within the
//     caller's bound, and a console (CON, CONOUT$) gets characters, as the
//     display does, not bytes that it would read in its code page.
// What each step promises:
//   open    append-only for a disk file, a missing one created; nothing
//           about the file changes; a read-only file is refused.
//   lock    the lock byte, tried once and never waited on.
//   check   the path still names the open file (volume serial number and
//           file ID, of 128 bits where the system gives one).
//   begin   for a disk file, Ctrl+C, Ctrl+Break and the console's close
//           wait until close; /N empties the file in place (name, hard
//           links, attributes and security stay).
//   write   each request lands at the end of the file as it is then.
//   close   a failed entry is cut back only when this run wrote part of it,
//           still holds the lock, and finds the file exactly as long as
//           before plus those bytes; then the lock goes, and held-off
//           console events end the run as they would have.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>

#include "Clock.h"
#include "LogFile.h"
#include "TextWin32.h"
#include "ZString.h"

namespace {

// Writers of one log take turns by the lock of one byte far beyond any end
// a file reaches (the same byte as on POSIX systems); SMB servers honour it
// for every client.
const DWORD LOG_LOCK_OFFSET_HIGH = 0x40000000;

HANDLE LogHandle(const SLogFile& log) {
  return reinterpret_cast<HANDLE>(log.nHandle);
}

// Other jobs may read and append meanwhile, and a rotator may rename or
// delete the file.
HANDLE OpenShared(const std::wstring& strPath, DWORD dwAccess,
                  DWORD dwDisposition, DWORD dwFlags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(strPath.c_str(), dwAccess,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, dwDisposition, dwFlags, nullptr);
}

// \\.\pipe\NAME or \\SERVER\pipe\NAME: each open takes one of the
// server's instances, so a pipe gets one open only.
bool IsPipePath(const std::wstring& strPath) {
  std::wstring strLower = strPath;
  for (wchar_t& ch : strLower) ch = ch == L'/' ? L'\\' : towlower(ch);
  std::size_t nHost = strLower.find(L'\\', 2);
  return strLower.compare(0, 2, L"\\\\") == 0 && nHost != std::wstring::npos &&
         strLower.compare(nHost, 6, L"\\pipe\\") == 0;
}

// The open's steps each try one way to open the log's name: the handle in
// *phLog (INVALID_HANDLE_VALUE when the step found nothing it may write),
// and the error that says why not, or ERROR_SUCCESS.

// A disk file opens for appending only, so that the system puts each write
// at the end of the file as one step and writers that take no lock never
// overwrite an entry; the right to read comes too where granted, as a lock
// needs it. A name that opens as anything else is let go for the next step.
DWORD OpenAppending(const std::wstring& strPath, HANDLE* phLog) {
  HANDLE hFile =
      OpenShared(strPath, FILE_APPEND_DATA | FILE_READ_DATA, OPEN_ALWAYS);
  if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
    hFile = OpenShared(strPath, FILE_APPEND_DATA, OPEN_ALWAYS);
  DWORD dwError =
      hFile == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (hFile != INVALID_HANDLE_VALUE && GetFileType(hFile) != FILE_TYPE_DISK) {
    CloseHandle(hFile);
    hFile = INVALID_HANDLE_VALUE;
  }
  *phLog = hFile;
  return dwError;
}

// Anything else (a named pipe, CON, NUL, a serial port) opens with the
// right to write, as cmd's >> opens it. A disk file that refused the
// append-only open is not written otherwise.
DWORD OpenWriting(const std::wstring& strPath, HANDLE* phLog) {
  HANDLE hDevice = OpenShared(strPath, GENERIC_WRITE, OPEN_EXISTING);
  DWORD dwError =
      hDevice == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (hDevice != INVALID_HANDLE_VALUE &&
      GetFileType(hDevice) == FILE_TYPE_DISK) {
    CloseHandle(hDevice);
    hDevice = INVALID_HANDLE_VALUE;
    dwError = ERROR_ACCESS_DENIED;
  }
  *phLog = hDevice;
  return dwError;
}

// A file first, then a device; a pipe's name goes to the device step alone.
// Where neither opened, the file's error says why: the device step would
// only add that the name is no device.
DWORD OpenTarget(const std::wstring& strPath, HANDLE* phLog) {
  *phLog = INVALID_HANDLE_VALUE;
  DWORD dwFile =
      IsPipePath(strPath) ? ERROR_SUCCESS : OpenAppending(strPath, phLog);
  DWORD dwError = *phLog == INVALID_HANDLE_VALUE ? OpenWriting(strPath, phLog)
                                                 : ERROR_SUCCESS;
  if (*phLog == INVALID_HANDLE_VALUE && dwFile != ERROR_SUCCESS)
    dwError = dwFile;
  return dwError;
}

// The bytes of a character that a write request split, until its rest
// comes with the next one; a console takes whole characters only. Plain
// data, so that no run pays for it at start.
char g_achConsoleTail[4];
std::size_t g_nConsoleTail = 0;

// The length of the text without a last character that is not yet whole.
std::size_t WholeLength(const std::string& strText) {
  std::size_t nLead = strText.size();
  for (int k = 0; k < 3 && nLead > 0 && (strText[nLead - 1] & 0xC0) == 0x80;
       ++k)
    --nLead;
  if (nLead == 0) return strText.size();
  unsigned char bLead = static_cast<unsigned char>(strText[nLead - 1]);
  std::size_t nNeeded = bLead >= 0xF0 ? 4 : bLead >= 0xE0 ? 3 : 2;
  bool bShort = bLead >= 0xC0 && strText.size() - (nLead - 1) < nNeeded;
  return bShort ? nLead - 1 : strText.size();
}

// Hands the pieces to a console as characters, a split one kept back.
DWORD WriteLogConsole(const SLogFile& log, const SOutPiece* aPieces,
                      int nPieces) {
  std::string strText(g_achConsoleTail, g_nConsoleTail);
  for (int i = 0; i < nPieces; ++i)
    strText.append(aPieces[i].pData, aPieces[i].nLength);
  std::size_t nWhole = WholeLength(strText);
  g_nConsoleTail = strText.size() - nWhole;  // at most 3 bytes
  std::memcpy(g_achConsoleTail, strText.data() + nWhole, g_nConsoleTail);
  strText.resize(nWhole);
  return WriteConsoleText(LogHandle(log), strText);
}

// Notes which file hFile holds in the identity fields of log: the 128-bit
// file ID and 64-bit volume serial number where the system gives them (a
// 64-bit index need not be unique on ReFS), else the 64-bit index and the
// 32-bit serial number. False when neither can be had.
bool NoteIdentity(HANDLE hFile, SLogFile& log) {
  FILE_ID_INFO tId;
  if (GetFileInformationByHandleEx(hFile, FileIdInfo, &tId, sizeof tId)) {
    log.nVolume = tId.VolumeSerialNumber;
    std::memcpy(&log.nIndex, tId.FileId.Identifier, 8);
    std::memcpy(&log.nIndexHi, tId.FileId.Identifier + 8, 8);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION tInfo;
  if (!GetFileInformationByHandle(hFile, &tInfo)) return false;
  log.nVolume = tInfo.dwVolumeSerialNumber;
  log.nIndex =
      (std::uint64_t(tInfo.nFileIndexHigh) << 32) | tInfo.nFileIndexLow;
  log.nIndexHi = 0;
  return true;
}

// Notes which file the handle holds. A read-only file is never written:
// Windows refuses it the append-only open already, and Wine run by root,
// which would not, is refused here.
DWORD NoteFile(SLogFile& log) {
  log.bDisk = GetFileType(LogHandle(log)) == FILE_TYPE_DISK;
  // A console takes a write of nothing through its own interface. (It would
  // tell its mode only to a handle with the right to read, which CON cannot
  // be opened with for writing.)
  DWORD dwNone = 0;
  log.bConsole =
      !log.bDisk && WriteConsoleW(LogHandle(log), L"", 0, &dwNone, nullptr);
  BY_HANDLE_FILE_INFORMATION tInfo;
  if (!log.bDisk || !GetFileInformationByHandle(LogHandle(log), &tInfo))
    return ERROR_SUCCESS;
  if ((tInfo.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
    return ERROR_ACCESS_DENIED;
  NoteIdentity(LogHandle(log), log);
  return ERROR_SUCCESS;
}

// Sets the log's length through a second handle of the same file that may
// write anywhere in it, as the append-only one may not.
DWORD CutLog(const SLogFile& log, std::uint64_t nLength) {
  HANDLE hWrite =
      ReOpenFile(LogHandle(log), FILE_WRITE_DATA,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (hWrite == INVALID_HANDLE_VALUE) return GetLastError();
  FILE_END_OF_FILE_INFO tEnd;
  tEnd.EndOfFile.QuadPart = LONGLONG(nLength);
  DWORD dwError =
      SetFileInformationByHandle(hWrite, FileEndOfFileInfo, &tEnd, sizeof tEnd)
          ? ERROR_SUCCESS
          : GetLastError();
  CloseHandle(hWrite);
  return dwError;
}

std::uint64_t LogLength(const SLogFile& log) {
  LARGE_INTEGER tSize;
  return GetFileSizeEx(LogHandle(log), &tSize) ? std::uint64_t(tSize.QuadPart)
                                               : 0;
}

// Hands one buffer to WriteFile, going on after a short write.
DWORD WriteLogBytes(SLogFile& log, const char* pData, std::size_t nLength) {
  return WriteAll(pData, nLength,
                  [&log](const char* pChunk, DWORD dwChunk, DWORD* pdwDone) {
                    BOOL bDone = WriteFile(LogHandle(log), pChunk, dwChunk,
                                           pdwDone, nullptr);
                    log.nWritten += *pdwDone;
                    return bDone != FALSE;
                  });
}

// From the entry's beginning to its close the main thread holds this lock,
// and a console control handler that comes meanwhile waits for it.
SRWLOCK g_tEntryLock = SRWLOCK_INIT;
bool g_bHolding = false;

// Runs on a thread that the system starts for Ctrl+C, Ctrl+Break or the
// console's close: waits until the entry is whole or cut back, then passes
// the event on, to the system's own handler at last, which ends the
// process as it would have (STATUS_CONTROL_C_EXIT). A closing console's
// processes end a few seconds after the event whatever their handlers do:
// only an entry that takes longer to write may still be cut there.
BOOL WINAPI WaitForEntry(DWORD) {
  AcquireSRWLockShared(&g_tEntryLock);
  ReleaseSRWLockShared(&g_tEntryLock);
  return FALSE;
}

// Takes the lock, then adds the handler; where no handler can be added,
// nothing is held off.
void HoldOffConsoleEvents() {
  if (g_bHolding) return;
  AcquireSRWLockExclusive(&g_tEntryLock);
  g_bHolding = SetConsoleCtrlHandler(WaitForEntry, TRUE) != FALSE;
  if (!g_bHolding) ReleaseSRWLockExclusive(&g_tEntryLock);
}

// The waiting handlers go on before the handler is removed: the system
// may keep its list of handlers to itself while they run.
void LetConsoleEventsIn() {
  if (!g_bHolding) return;
  g_bHolding = false;
  ReleaseSRWLockExclusive(&g_tEntryLock);
  SetConsoleCtrlHandler(WaitForEntry, FALSE);
}

// What a refused try for the lock byte found: another program's turn, or
// no lock to be had.
int LockRefused(DWORD dwError) {
  bool bBusy = dwError == ERROR_LOCK_VIOLATION || dwError == ERROR_IO_PENDING;
  return bBusy ? LOG_LOCK_BUSY : LOG_LOCK_NONE;
}

}  // namespace

// No Windows file name holds a double quote, and cmd users quote a path
// with blanks in whole or in part: "C:\My Logs"\a.log. Nor is any name
// blanks only: a value such as that of "set ZARVO_LOG= " means no log.
void PlatformLogPath(CString& strPath) {
  strPath.Replace("\"", "");
  CString strBare(strPath);
  strBare.Trim(" \t");
  if (strBare.IsEmpty()) strPath.Empty();
}

int PlatformLogOpen(const char* pszPath, long long nDeadline, SLogFile& log) {
  log = SLogFile();
  log.nDeadline = nDeadline;
  HANDLE hLog = INVALID_HANDLE_VALUE;
  DWORD dwError = OpenTarget(WidePath(pszPath), &hLog);
  if (dwError == ERROR_SUCCESS) {
    log.nHandle = reinterpret_cast<std::intptr_t>(hLog);
    dwError = NoteFile(log);
    if (dwError != ERROR_SUCCESS) CloseHandle(hLog);
  }
  return int(dwError);
}

// Scanners, backup agents, indexers and editors open a file without
// sharing it, or lock it, for a moment. A pipe server has all its instances
// busy with other writers, or none between the client it let go and the
// next instance it creates. After a rotation the new file may not be there
// yet, or the old one still be on its way out (deleted while others held
// it: every open is refused until the last of them lets go).
bool PlatformLogOpenMayClear(const char* pszPath, int nError, bool bMoved) {
  DWORD dwError = DWORD(nError);
  if (IsPipePath(WidePath(pszPath)))
    return dwError == ERROR_PIPE_BUSY || dwError == ERROR_FILE_NOT_FOUND;
  bool bBusy =
      dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
  bool bRotating = dwError == ERROR_FILE_NOT_FOUND ||
                   dwError == ERROR_PATH_NOT_FOUND ||
                   dwError == ERROR_ACCESS_DENIED;
  return bBusy || (bMoved && bRotating);
}

// A program that locked the file the common way, from offset 0 for the
// first 4 GiB, never meets the lock byte; Windows refuses a write into its
// range until it lets go.
bool PlatformLogWriteMayClear(int nError) {
  return DWORD(nError) == ERROR_LOCK_VIOLATION;
}

// A file system that cannot lock, or a handle without the right to read
// or write anywhere (the append-only one that a user granted no more than
// appending gets, which LockFileEx refuses ERROR_ACCESS_DENIED), gets the
// entry unlocked and silently: it takes no turns, and cannot be cut back.
int PlatformLogLock(SLogFile& log) {
  if (!log.bDisk) return LOG_LOCK_NONE;
  OVERLAPPED tAt = {};
  tAt.OffsetHigh = LOG_LOCK_OFFSET_HIGH;
  if (LockFileEx(LogHandle(log),
                 LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &tAt)) {
    log.bLocked = true;
    return LOG_LOCK_TAKEN;
  }
  return LockRefused(GetLastError());
}

// The name is opened again without any access, which no sharing mode of
// another program refuses, to ask which file it names now.
int PlatformLogCheckName(const char* pszPath, const SLogFile& log) {
  if (!log.bDisk) return 0;
  HANDLE hName = OpenShared(WidePath(pszPath), 0, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS);
  SLogFile name = SLogFile();
  bool bSame = hName != INVALID_HANDLE_VALUE && NoteIdentity(hName, name) &&
               name.nVolume == log.nVolume && name.nIndex == log.nIndex &&
               name.nIndexHi == log.nIndexHi;
  if (hName != INVALID_HANDLE_VALUE) CloseHandle(hName);
  return bSame ? 0 : int(ERROR_FILE_INVALID);
}

// A device or a pipe is never cut back: Ctrl+C ends the run there at once,
// as it ends echo.
int PlatformLogBegin(SLogFile& log, bool bEmpty) {
  if (!log.bDisk) return 0;
  HoldOffConsoleEvents();
  DWORD dwError = bEmpty ? CutLog(log, 0) : ERROR_SUCCESS;
  log.nStart = LogLength(log);
  return int(dwError);
}

// The system takes no gathered write, and a writer that locks nothing (>>)
// may append between two WriteFile calls: pieces of a usual size are
// joined first, so such an entry still lands in one request. Larger ones
// go one piece at a time, to keep the memory a huge entry needs bounded.
int PlatformLogWrite(SLogFile& log, const SOutPiece* aPieces, int nPieces) {
  if (log.bConsole) return int(WriteLogConsole(log, aPieces, nPieces));
  const std::size_t JOIN_LIMIT = 256 * 1024;
  std::size_t nTotal = 0;
  for (int i = 0; i < nPieces; ++i) nTotal += aPieces[i].nLength;
  char* pJoined = nPieces > 1 && nTotal <= JOIN_LIMIT
                      ? static_cast<char*>(std::malloc(nTotal))
                      : nullptr;
  if (pJoined != nullptr) {
    std::size_t nAt = 0;
    for (int i = 0; i < nPieces; ++i) {
      std::memcpy(pJoined + nAt, aPieces[i].pData, aPieces[i].nLength);
      nAt += aPieces[i].nLength;
    }
    DWORD dwError = WriteLogBytes(log, pJoined, nTotal);
    std::free(pJoined);
    return int(dwError);
  }
  DWORD dwError = ERROR_SUCCESS;
  for (int i = 0; i < nPieces && dwError == ERROR_SUCCESS; ++i)
    dwError = WriteLogBytes(log, aPieces[i].pData, aPieces[i].nLength);
  return int(dwError);
}

// What a console was still owed of a split character shows as U+FFFD.
int PlatformLogClose(SLogFile& log, bool bTakeBack) {
  if (log.bConsole && g_nConsoleTail > 0)
    WriteConsoleText(LogHandle(log),
                     std::string(g_achConsoleTail, g_nConsoleTail));
  g_nConsoleTail = 0;
  if (bTakeBack && log.bDisk && log.bLocked && log.nWritten > 0 &&
      LogLength(log) == log.nStart + log.nWritten)
    CutLog(log, log.nStart);
  OVERLAPPED tAt = {};
  tAt.OffsetHigh = LOG_LOCK_OFFSET_HIGH;
  if (log.bLocked) UnlockFileEx(LogHandle(log), 0, 1, 0, &tAt);
  DWORD dwError = CloseHandle(LogHandle(log)) ? ERROR_SUCCESS : GetLastError();
  LetConsoleEventsIn();
  return int(dwError);
}
