// Appends the message of one run to the file named by ZARVO_LOG.
#include <cstdint>
#include <cstring>

#include "EchoApp.h"
#include "Platform.h"

namespace {

// The entry as stored: every line feed becomes carriage return + line feed,
// every other byte is kept. Built in one buffer of its final size.
CString BuildEntry(const CString& strMessage, bool bLineEnd) {
  const char* pszText = strMessage.GetString();
  std::uint64_t nLength = std::uint64_t(strMessage.GetLength());
  std::uint64_t nStored = nLength + (bLineEnd ? 2 : 0);
  for (const char* p = std::strchr(pszText, '\n'); p != nullptr;
       p = std::strchr(p + 1, '\n'))
    ++nStored;
  CString strEntry;
  // An entry that would reach 2^31 bytes meets the heap limit in GetBuffer.
  char* pszOut = strEntry.GetBuffer(nStored > 0xFFFFFFFFu ? 0xFFFFFFFFu
                                                          : unsigned(nStored));
  for (const char* p = pszText; *p != '\0'; ++p) {
    if (*p == '\n') *pszOut++ = '\r';
    *pszOut++ = *p;
  }
  if (bLineEnd) {
    *pszOut++ = '\r';
    *pszOut++ = '\n';
  }
  *pszOut = '\0';
  return strEntry;
}

}  // namespace

int CEchoApp::WriteLog() {
  PlatformGetEnv("ZARVO_LOG", m_strLogFile);
  if (m_strLogFile.IsEmpty()) return 0;
  CString strEntry = BuildEntry(m_strMessage, !m_bNoNewline);
  // A missing file is already as new as it gets; any other failed delete
  // keeps the old log and writes nothing.
  if (m_bNewLog &&
      PlatformDeleteFile(m_strLogFile.GetString()) == DELETE_FAILED)
    return STATUS_LOG_FAILED;
  PlatformAppendFile(m_strLogFile.GetString(), strEntry.GetString(),
                     std::size_t(strEntry.GetLength()));
  return 0;
}
