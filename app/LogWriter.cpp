// Appends the message of one run to the file named by ZARVO_LOG.
#include <cstddef>
#include <cstring>

#include "EchoApp.h"
#include "Platform.h"

namespace {

// Room for the stored text of one write request, and the pieces it takes.
const std::size_t BUFFER_BYTES = 65536;
const int MAX_PIECES = 8;
// A stretch of the message without line feeds at least this long goes to
// the file straight from the message, uncopied.
const std::size_t DIRECT_BYTES = 4096;

// Writes an entry in requests of bounded size while the message is read
// once: every line feed is stored as carriage return + line feed on the
// way, so no second copy of the message is ever built.
class CEntryWriter {
 public:
  explicit CEntryWriter(SLogFile& log)
      : m_log(log), m_nFill(0), m_nPieces(0), m_nError(0) {}

  void Copy(const char* pData, std::size_t nLength);
  void Direct(const char* pData, std::size_t nLength);
  // Hands what is gathered to the file; the first error, or 0.
  int Flush();
  bool Failed() const { return m_nError != 0; }

 private:
  void Add(const char* pData, std::size_t nLength);

  SLogFile& m_log;
  char m_abBuffer[BUFFER_BYTES];
  std::size_t m_nFill;
  SOutPiece m_aPieces[MAX_PIECES];
  int m_nPieces;
  int m_nError;
};

// A piece that continues the last one in the buffer extends it.
void CEntryWriter::Add(const char* pData, std::size_t nLength) {
  SOutPiece* pLast = m_nPieces > 0 ? &m_aPieces[m_nPieces - 1] : nullptr;
  if (pLast != nullptr && pLast->pData + pLast->nLength == pData) {
    pLast->nLength += nLength;
    return;
  }
  m_aPieces[m_nPieces++] = {pData, nLength};
  if (m_nPieces == MAX_PIECES) Flush();
}

void CEntryWriter::Copy(const char* pData, std::size_t nLength) {
  while (nLength > 0) {
    if (m_nFill == BUFFER_BYTES) Flush();
    std::size_t nStep = BUFFER_BYTES - m_nFill;
    if (nStep > nLength) nStep = nLength;
    char* pAt = m_abBuffer + m_nFill;
    std::memcpy(pAt, pData, nStep);
    m_nFill += nStep;
    Add(pAt, nStep);
    pData += nStep;
    nLength -= nStep;
  }
}

void CEntryWriter::Direct(const char* pData, std::size_t nLength) {
  Add(pData, nLength);
}

int CEntryWriter::Flush() {
  if (m_nError == 0 && m_nPieces > 0)
    m_nError = PlatformLogWrite(m_log, m_aPieces, m_nPieces);
  m_nFill = 0;
  m_nPieces = 0;
  return m_nError;
}

// The entry as stored: the message with every line feed as CR LF, then the
// line end unless /SN. 0, or the error of the write that failed.
int WriteEntry(SLogFile& log, const CString& strMessage, bool bNoNewline) {
  CEntryWriter writer(log);
  const char* pText = strMessage.GetString();
  const char* pEnd = pText + strMessage.GetLength();
  while (pText < pEnd && !writer.Failed()) {
    const void* pFound = std::memchr(pText, '\n', std::size_t(pEnd - pText));
    const char* pLineFeed = pFound ? static_cast<const char*>(pFound) : pEnd;
    std::size_t nRun = std::size_t(pLineFeed - pText);
    if (nRun >= DIRECT_BYTES)
      writer.Direct(pText, nRun);
    else
      writer.Copy(pText, nRun);
    if (pLineFeed == pEnd) break;
    writer.Copy("\r\n", 2);
    pText = pLineFeed + 1;
  }
  if (!bNoNewline) writer.Copy("\r\n", 2);
  return writer.Flush();
}

}  // namespace

int CEchoApp::WriteLog() {
  m_nLogError = 0;
  PlatformGetEnv("ZARVO_LOG", m_strLogFile);
  PlatformLogPath(m_strLogFile);
  if (m_strLogFile.IsEmpty()) return 0;
  SLogFile log;
  int nError = PlatformLogOpen(m_strLogFile.GetString(), m_bNewLog, log);
  // /N that can neither empty nor create the file leaves the old log as it
  // was and writes nothing.
  if (nError != 0 && m_bNewLog) return STATUS_LOG_FAILED;
  if (nError == 0) {
    // An entry that fails part way is taken back whole: no fragment stays
    // for the next entry to continue.
    nError = WriteEntry(log, m_strMessage, m_bNoNewline);
    int nClose = PlatformLogClose(log, nError != 0);
    if (nError == 0) nError = nClose;
  }
  m_nLogError = nError;
  return nError == 0 ? 0 : STATUS_LOG_LOST;
}
