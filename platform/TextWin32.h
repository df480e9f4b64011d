// Text on Windows, as every Windows source of the platform needs it: the
// tool's UTF-8 and the system's UTF-16, file paths, console text, and
// writes handed over whole (PlatformWin32.cpp).
#ifndef ZARVO_PLATFORM_TEXTWIN32_H
#define ZARVO_PLATFORM_TEXTWIN32_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <string>

// UTF-16 from the system as UTF-8. A surrogate without its partner, which
// the system lets through, becomes U+FFFD.
std::string Utf8FromWide(const wchar_t* pszWide, std::size_t nLength);

// UTF-8 as UTF-16 for the system; a byte that begins no valid sequence
// becomes U+FFFD.
std::wstring WideFromUtf8(const char* pData, std::size_t nLength);

// A path of the file functions: UTF-16, and in its \\?\ form (absolute,
// backslashes only) once the full path is longer than the classic limit of
// 259 characters, which the system then does not apply, whatever its long
// path setting. A path given in a \\?\ or \\.\ form stays as it is.
std::wstring ExtendedPath(const std::wstring& strPath);

// A UTF-8 path as the file functions take it.
std::wstring WidePath(const char* pszPath);

// Writes UTF-8 text to a console through its UTF-16 interface, which shows
// every character whatever the console's code page; 0, or the system's
// error code.
DWORD WriteConsoleText(HANDLE hConsole, const std::string& strText);

// Hands all nLength units to fnWrite in as few calls as the system takes
// (each call takes up to a chunk and tells how many units it wrote); 0, or
// the system's error code.
template <typename TUnit, typename TWrite>
DWORD WriteAll(const TUnit* pData, std::size_t nLength, TWrite fnWrite) {
  while (nLength > 0) {
    DWORD dwChunk = nLength > 0x10000000u ? 0x10000000u : DWORD(nLength);
    DWORD dwWritten = 0;
    if (!fnWrite(pData, dwChunk, &dwWritten)) return GetLastError();
    if (dwWritten == 0) return ERROR_WRITE_FAULT;
    pData += dwWritten;
    nLength -= dwWritten;
  }
  return ERROR_SUCCESS;
}

#endif
