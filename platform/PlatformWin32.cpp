// Windows side of the platform: the arguments, the clocks, standard output
// and error, and the process environment. The console's keyboard and the
// log file have sources of their own (TerminalWin32.cpp, LogFileWin32.cpp).
//
// Text is UTF-8 inside the tool. It comes in through the system's UTF-16
// interfaces (arguments, environment, file names) and goes out to a console
// through its UTF-16 interface, so that every character shows whatever the
// console's code page; a pipe or a file gets UTF-8 bytes, and the log the
// same bytes as on any other system.
//
// Every line feed written to standard output or error reaches the console,
// a pipe or a redirected file as CR LF, as with the system's own commands
// and as the log stores it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "Clock.h"
#include "Environment.h"
#include "Output.h"
#include "OutputStreams.h"
#include "Platform.h"
#include "TextWin32.h"
#include "ZString.h"

namespace {

// Filetime ticks (100 ns) per second, and the seconds from 1601 to 1970.
const std::uint64_t TICKS_PER_SECOND = 10000000u;
const std::uint64_t EPOCH_DIFFERENCE = 11644473600u;

std::uint64_t FileTimeNow() {
  FILETIME tFile;
  GetSystemTimeAsFileTime(&tFile);
  return (std::uint64_t(tFile.dwHighDateTime) << 32) | tFile.dwLowDateTime;
}

DWORD WriteAllBytes(HANDLE hFile, const char* pData, std::size_t nLength) {
  return WriteAll(pData, nLength,
                  [hFile](const char* pChunk, DWORD dwChunk, DWORD* pdwDone) {
                    return WriteFile(hFile, pChunk, dwChunk, pdwDone,
                                     nullptr) != FALSE;
                  });
}

}  // namespace

std::string Utf8FromWide(const wchar_t* pszWide, std::size_t nLength) {
  std::string strText;
  strText.reserve(nLength);
  for (std::size_t i = 0; i < nLength; ++i) {
    std::uint32_t nCode = std::uint16_t(pszWide[i]);
    if (nCode >= 0xD800 && nCode <= 0xDFFF) {
      std::uint32_t nLow = i + 1 < nLength ? std::uint16_t(pszWide[i + 1]) : 0;
      bool bPair = nCode <= 0xDBFF && nLow >= 0xDC00 && nLow <= 0xDFFF;
      nCode =
          bPair ? 0x10000 + ((nCode - 0xD800) << 10) + (nLow - 0xDC00) : 0xFFFD;
      if (bPair) ++i;
    }
    if (nCode < 0x80) {
      strText += char(nCode);
    } else if (nCode < 0x800) {
      strText += char(0xC0 | (nCode >> 6));
      strText += char(0x80 | (nCode & 0x3F));
    } else if (nCode < 0x10000) {
      strText += char(0xE0 | (nCode >> 12));
      strText += char(0x80 | ((nCode >> 6) & 0x3F));
      strText += char(0x80 | (nCode & 0x3F));
    } else {
      strText += char(0xF0 | (nCode >> 18));
      strText += char(0x80 | ((nCode >> 12) & 0x3F));
      strText += char(0x80 | ((nCode >> 6) & 0x3F));
      strText += char(0x80 | (nCode & 0x3F));
    }
  }
  return strText;
}

std::wstring WideFromUtf8(const char* pData, std::size_t nLength) {
  std::wstring strWide;
  while (nLength > 0) {
    int nChunk = nLength > 0x10000000u ? 0x10000000 : int(nLength);
    // A chunk never ends inside a character (of at most four bytes).
    for (int k = 0; k < 3 && std::size_t(nChunk) < nLength &&
                    (pData[nChunk] & 0xC0) == 0x80;
         ++k)
      --nChunk;
    int nWide = MultiByteToWideChar(CP_UTF8, 0, pData, nChunk, nullptr, 0);
    std::size_t nAt = strWide.size();
    strWide.resize(nAt + std::size_t(nWide));
    MultiByteToWideChar(CP_UTF8, 0, pData, nChunk, &strWide[nAt], nWide);
    pData += nChunk;
    nLength -= std::size_t(nChunk);
  }
  return strWide;
}

std::wstring ExtendedPath(const std::wstring& strPath) {
  const std::size_t CLASSIC_LIMIT = 259;
  auto IsSlash = [&strPath](std::size_t n) {
    return n < strPath.size() && (strPath[n] == L'\\' || strPath[n] == L'/');
  };
  if (IsSlash(0) && IsSlash(1) && IsSlash(3) &&
      (strPath[2] == L'?' || strPath[2] == L'.'))
    return strPath;
  DWORD dwSize = GetFullPathNameW(strPath.c_str(), 0, nullptr, nullptr);
  if (dwSize == 0) return strPath;
  std::wstring strFull(dwSize, L'\0');
  strFull.resize(
      GetFullPathNameW(strPath.c_str(), dwSize, &strFull[0], nullptr));
  if (strFull.size() <= CLASSIC_LIMIT) return strPath;
  if (strFull.compare(0, 2, L"\\\\") == 0)
    return L"\\\\?\\UNC" + strFull.substr(1);
  return L"\\\\?\\" + strFull;
}

std::wstring WidePath(const char* pszPath) {
  return ExtendedPath(WideFromUtf8(pszPath, std::strlen(pszPath)));
}

// -------------------------------------------------------------------- clock

std::time_t PlatformNow() {
  return std::time_t(FileTimeNow() / TICKS_PER_SECOND - EPOCH_DIFFERENCE);
}

// The performance counter: steady, untouched by changes of the system time,
// and read from the clock itself. (The tick count of GetTickCount64 is a
// copy refreshed now and then, under Wine only when its server wakes, so a
// sleep until the next second would often wake short of it.)
long long PlatformSteadyMillis() {
  LARGE_INTEGER tFrequency;
  LARGE_INTEGER tCount;
  QueryPerformanceFrequency(&tFrequency);
  QueryPerformanceCounter(&tCount);
  long long nPerSecond = tFrequency.QuadPart;
  return tCount.QuadPart / nPerSecond * 1000 +
         tCount.QuadPart % nPerSecond * 1000 / nPerSecond;
}

void PlatformSleep(int nMillis) { Sleep(nMillis > 0 ? DWORD(nMillis) : 0); }

// The time zone is the system's, as "time /t" shows it, whatever TZ holds:
// the C runtime would read TZ in a format of its own and fall back to UTC
// for a name such as Asia/Tokyo that other shells pass on. Daylight saving
// is left unknown (-1): no format of the tool shows it.
bool PlatformLocalTime(std::time_t tTime, std::tm* pTm) {
  long long nSeconds = static_cast<long long>(tTime) + EPOCH_DIFFERENCE;
  if (nSeconds < 0) return false;
  std::uint64_t nTicks = std::uint64_t(nSeconds) * TICKS_PER_SECOND;
  FILETIME tFile = {DWORD(nTicks), DWORD(nTicks >> 32)};
  SYSTEMTIME tUtc;
  SYSTEMTIME tLocal;
  if (!FileTimeToSystemTime(&tFile, &tUtc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &tUtc, &tLocal))
    return false;
  static const int s_anDaysBefore[] = {0,   31,  59,  90,  120, 151,
                                       181, 212, 243, 273, 304, 334};
  int nYear = tLocal.wYear;
  bool bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
  *pTm = std::tm();
  pTm->tm_year = nYear - 1900;
  pTm->tm_mon = tLocal.wMonth - 1;
  pTm->tm_mday = tLocal.wDay;
  pTm->tm_hour = tLocal.wHour;
  pTm->tm_min = tLocal.wMinute;
  pTm->tm_sec = tLocal.wSecond;
  pTm->tm_wday = tLocal.wDayOfWeek;
  pTm->tm_yday = s_anDaysBefore[pTm->tm_mon] + tLocal.wDay - 1 +
                 (bLeap && tLocal.wMonth > 2 ? 1 : 0);
  pTm->tm_isdst = -1;
  return true;
}

// ------------------------------------------------ standard output and error

namespace {

// The pieces as one text, every line feed preceded by a carriage return.
std::string JoinWithCrLf(const SOutPiece* aPieces, int nPieces) {
  std::string strText;
  std::size_t nSize = 0;
  for (int i = 0; i < nPieces; ++i) nSize += aPieces[i].nLength;
  strText.reserve(nSize + nSize / 8);
  for (int i = 0; i < nPieces; ++i)
    for (std::size_t n = 0; n < aPieces[i].nLength; ++n) {
      if (aPieces[i].pData[n] == '\n') strText += '\r';
      strText += aPieces[i].pData[n];
    }
  return strText;
}

// A reader that has closed its end of the pipe, is closing it, or is no
// longer connected (how a pipe whose reader left may also report it).
bool IsClosedPipe(DWORD dwError) {
  return dwError == ERROR_BROKEN_PIPE || dwError == ERROR_NO_DATA ||
         dwError == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

// The display and a console that is the log both write through here.
DWORD WriteConsoleText(HANDLE hConsole, const std::string& strText) {
  std::wstring strWide = WideFromUtf8(strText.data(), strText.size());
  return WriteAll(
      strWide.data(), strWide.size(),
      [hConsole](const wchar_t* pChunk, DWORD dwChunk, DWORD* pdwDone) {
        return WriteConsoleW(hConsole, pChunk, dwChunk, pdwDone, nullptr) !=
               FALSE;
      });
}

// The pieces are joined into the one buffer that one write call takes. A
// process started with no standard handle at all (detached, or by a GUI
// program or a service) has nowhere to show the text: that is no failure,
// as a handle that exists and refuses it is.
int PlatformWritePieces(int nStream, const SOutPiece* aPieces, int nPieces) {
  HANDLE hOut = GetStdHandle(nStream == STREAM_STDERR ? STD_ERROR_HANDLE
                                                      : STD_OUTPUT_HANDLE);
  if (hOut == nullptr || hOut == INVALID_HANDLE_VALUE) return 0;
  std::string strText = JoinWithCrLf(aPieces, nPieces);
  DWORD dwMode = 0;
  DWORD dwError = GetConsoleMode(hOut, &dwMode)
                      ? WriteConsoleText(hOut, strText)
                      : WriteAllBytes(hOut, strText.data(), strText.size());
  return IsClosedPipe(dwError) ? 0 : int(dwError);
}

// One console, one disk file, or two pipes, which may be one: a line feed
// too many on standard error changes nothing on standard output.
bool PlatformStderrJoinsStdout() {
  HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE hErr = GetStdHandle(STD_ERROR_HANDLE);
  if (hOut == nullptr || hOut == INVALID_HANDLE_VALUE || hErr == nullptr ||
      hErr == INVALID_HANDLE_VALUE)
    return false;
  DWORD dwMode = 0;
  if (GetConsoleMode(hOut, &dwMode) && GetConsoleMode(hErr, &dwMode))
    return true;
  DWORD dwType = GetFileType(hOut);
  if (dwType != GetFileType(hErr)) return false;
  if (dwType == FILE_TYPE_PIPE) return true;
  BY_HANDLE_FILE_INFORMATION tOut, tErr;
  return dwType == FILE_TYPE_DISK && GetFileInformationByHandle(hOut, &tOut) &&
         GetFileInformationByHandle(hErr, &tErr) &&
         tOut.dwVolumeSerialNumber == tErr.dwVolumeSerialNumber &&
         tOut.nFileIndexHigh == tErr.nFileIndexHigh &&
         tOut.nFileIndexLow == tErr.nFileIndexLow;
}

// The system's message, without the line end it comes with.
CString PlatformErrorText(int nError) {
  wchar_t* pszText = nullptr;
  DWORD dwLength = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, DWORD(nError), 0, reinterpret_cast<wchar_t*>(&pszText), 0,
      nullptr);
  while (dwLength > 0 &&
         (pszText[dwLength - 1] == L'\n' || pszText[dwLength - 1] == L'\r' ||
          pszText[dwLength - 1] == L' '))
    --dwLength;
  CString strText = dwLength > 0
                        ? CString(Utf8FromWide(pszText, dwLength).c_str())
                        : CString("error ") + CString(nError);
  LocalFree(pszText);
  return strText;
}

// No Windows file name holds a double quote, so quotes mark the ends of a
// path unmistakably where a blank would not show.
CString PlatformReportPath(const CString& strPath) {
  CString strBare(strPath);
  strBare.Trim(" \t");
  if (strBare.GetLength() == strPath.GetLength()) return strPath;
  return "\"" + strPath + "\"";
}

// ------------------------------------------------------------ process start

const char* const* PlatformUtf8Arguments(int argc, const wchar_t* const* argv) {
  static std::vector<std::string> s_aTexts;
  static std::vector<const char*> s_aArgv;
  for (int i = 0; i < argc; ++i)
    s_aTexts.push_back(Utf8FromWide(argv[i], std::wcslen(argv[i])));
  for (const std::string& strText : s_aTexts)
    s_aArgv.push_back(strText.c_str());
  s_aArgv.push_back(nullptr);
  return s_aArgv.data();
}

// -------------------------------------------------------------- environment

// An empty variable and a missing one both read as length 0; only the
// error code tells them apart.
bool PlatformGetEnv(const char* pszName, CString& strValue) {
  std::wstring strName = WideFromUtf8(pszName, std::strlen(pszName));
  std::vector<wchar_t> achValue(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD nLength = GetEnvironmentVariableW(strName.c_str(), achValue.data(),
                                            DWORD(achValue.size()));
    if (nLength == 0) {
      strValue = "";
      return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    }
    // A value that did not fit comes back as the size it needs.
    if (nLength < achValue.size()) {
      strValue = Utf8FromWide(achValue.data(), nLength).c_str();
      return true;
    }
    achValue.resize(nLength);
  }
}
