// Appends the message of one run to the file named by ZARVO_LOG.
#include <cstdint>
#include <cstring>

#include "EchoApp.h"
#include "Platform.h"

namespace {

// The message as stored: every line feed becomes carriage return + line
// feed, every other byte is kept. Built in one buffer of its final size.
CString TranslateLineFeeds(const CString& strMessage) {
  const char* pszText = strMessage.GetString();
  std::uint64_t nStored = std::uint64_t(strMessage.GetLength());
  for (const char* p = std::strchr(pszText, '\n'); p != nullptr;
       p = std::strchr(p + 1, '\n'))
    ++nStored;
  CString strStored;
  // A text that would reach 2^31 bytes meets the heap limit in GetBuffer.
  char* pszOut = strStored.GetBuffer(nStored > 0xFFFFFFFFu ? 0xFFFFFFFFu
                                                           : unsigned(nStored));
  for (const char* p = pszText; *p != '\0'; ++p) {
    if (*p == '\n') *pszOut++ = '\r';
    *pszOut++ = *p;
  }
  *pszOut = '\0';
  return strStored;
}

}  // namespace

int CEchoApp::WriteLog() {
  PlatformGetEnv("ZARVO_LOG", m_strLogFile);
  if (m_strLogFile.IsEmpty()) return 0;
  // A message without line feeds is stored as it is: it goes to the file
  // together with its line end, and a large /R: text is never copied.
  bool bTranslate = m_strMessage.Find("\n") >= 0;
  CString strTranslated =
      bTranslate ? TranslateLineFeeds(m_strMessage) : CString();
  const CString& strBody = bTranslate ? strTranslated : m_strMessage;
  const char* pszLineEnd = m_bNoNewline ? "" : "\r\n";
  // A missing file is already as new as it gets; any other failed delete
  // keeps the old log and writes nothing.
  if (m_bNewLog &&
      PlatformDeleteFile(m_strLogFile.GetString()) == DELETE_FAILED)
    return STATUS_LOG_FAILED;
  int nError = PlatformAppendFile(m_strLogFile.GetString(), strBody.GetString(),
                                  std::size_t(strBody.GetLength()), pszLineEnd,
                                  std::strlen(pszLineEnd));
  // A lost entry is told on standard error; the run goes on as it would.
  if (nError != 0)
    ShowFailure("cannot write to the log file " + m_strLogFile, nError);
  return 0;
}
