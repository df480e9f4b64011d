// Appends the message of one run to the file named by ZARVO_LOG.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "Clock.h"
#include "EchoApp.h"
#include "Environment.h"
#include "LogFile.h"

namespace {

// Room on the stack for the stored text of one write request, and the
// pieces it takes.
const std::size_t BUFFER_BYTES = 65536;
const int MAX_PIECES = 8;
// An entry stored in at most this many bytes goes to the file in one write
// request, so that a writer that takes no lock cannot land inside it.
const std::size_t WHOLE_BYTES = 1 << 20;
// In a longer entry, a stretch of the message without line feeds at least
// this long goes to the file straight from the message, uncopied.
const std::size_t DIRECT_BYTES = 4096;
// The longest rest between two tries of a wait for the log.
const int LONGEST_REST_MILLIS = 64;

// Growing rests between the tries of one wait, up to a deadline on the
// steady clock: from 1 ms, so that a short wait ends soon after the other
// side is done, to LONGEST_REST_MILLIS, so that a long one costs no CPU worth
// measuring.
class CRests {
 public:
  explicit CRests(long long nDeadline) : m_nDeadline(nDeadline), m_nPause(1) {}

  // Sleeps the next rest; false, without sleeping, once the deadline has
  // passed.
  bool Rest() {
    long long nLeft = m_nDeadline - PlatformSteadyMillis();
    if (nLeft <= 0) return false;
    PlatformSleep(nLeft < m_nPause ? int(nLeft) : m_nPause);
    if (m_nPause < LONGEST_REST_MILLIS) m_nPause *= 2;
    return true;
  }

 private:
  long long m_nDeadline;
  int m_nPause;
};

// Writes an entry in requests of bounded size while the message is read
// once: every line feed is stored as carriage return + line feed on the
// way, so no second copy of the message is ever built.
class CEntryWriter {
 public:
  // pBuffer holds nCapacity bytes; stretches of nDirect bytes or more are
  // not copied into it.
  CEntryWriter(SLogFile& log, char* pBuffer, std::size_t nCapacity,
               std::size_t nDirect)
      : m_log(log),
        m_pBuffer(pBuffer),
        m_nCapacity(nCapacity),
        m_nDirect(nDirect),
        m_nFill(0),
        m_nPieces(0),
        m_nError(0) {}

  // Adds a stretch of the message, copied or not.
  void Take(const char* pData, std::size_t nLength);
  void Copy(const char* pData, std::size_t nLength);
  // Hands what is gathered to the file; the first error, or 0.
  int Flush();
  bool Failed() const { return m_nError != 0; }

 private:
  void Add(const char* pData, std::size_t nLength);

  SLogFile& m_log;
  char* m_pBuffer;
  std::size_t m_nCapacity;
  std::size_t m_nDirect;
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

void CEntryWriter::Take(const char* pData, std::size_t nLength) {
  if (nLength >= m_nDirect)
    Add(pData, nLength);
  else
    Copy(pData, nLength);
}

void CEntryWriter::Copy(const char* pData, std::size_t nLength) {
  while (nLength > 0) {
    if (m_nFill == m_nCapacity) Flush();
    std::size_t nStep = m_nCapacity - m_nFill;
    if (nStep > nLength) nStep = nLength;
    char* pAt = m_pBuffer + m_nFill;
    std::memcpy(pAt, pData, nStep);
    m_nFill += nStep;
    Add(pAt, nStep);
    pData += nStep;
    nLength -= nStep;
  }
}

// A first request that another program's lock refused, before any byte of
// the entry went out, waits for that program's turn to end.
int CEntryWriter::Flush() {
  CRests rests(m_log.nDeadline);
  while (m_nError == 0 && m_nPieces > 0) {
    m_nError = PlatformLogWrite(m_log, m_aPieces, m_nPieces);
    if (m_nError == 0 || m_log.nWritten > 0 ||
        !PlatformLogWriteMayClear(m_nError) || !rests.Rest())
      break;
    m_nError = 0;
  }
  m_nFill = 0;
  m_nPieces = 0;
  return m_nError;
}

// The bytes the entry takes in the file, or WHOLE_BYTES + 1 for any
// length beyond WHOLE_BYTES.
std::size_t StoredLength(const CString& strMessage, bool bNoNewline) {
  std::size_t nLength = std::size_t(strMessage.GetLength());
  if (nLength > WHOLE_BYTES) return WHOLE_BYTES + 1;
  const char* pText = strMessage.GetString();
  const char* pEnd = pText + nLength;
  std::size_t nStored = nLength + (bNoNewline ? 0 : 2);
  while (const void* pFound =
             std::memchr(pText, '\n', std::size_t(pEnd - pText))) {
    ++nStored;
    pText = static_cast<const char*>(pFound) + 1;
  }
  return nStored;
}

// Hands the entry to the writer: the message with every line feed as
// CR LF, then the line end unless /SN. 0, or the error of the write that
// failed.
int StoreEntry(CEntryWriter& writer, const CString& strMessage,
               bool bNoNewline) {
  const char* pText = strMessage.GetString();
  const char* pEnd = pText + strMessage.GetLength();
  while (pText < pEnd && !writer.Failed()) {
    const void* pFound = std::memchr(pText, '\n', std::size_t(pEnd - pText));
    const char* pLineFeed = pFound ? static_cast<const char*>(pFound) : pEnd;
    writer.Take(pText, std::size_t(pLineFeed - pText));
    if (pLineFeed == pEnd) break;
    writer.Copy("\r\n", 2);
    pText = pLineFeed + 1;
  }
  if (!bNoNewline) writer.Copy("\r\n", 2);
  return writer.Flush();
}

// An entry of up to WHOLE_BYTES is built whole, on the stack when it fits
// there, and leaves in one request. A longer one, or one whose room cannot
// be had, goes in requests of bounded size, its long lines uncopied, so
// that logging never takes much more memory than the message itself.
int WriteEntry(SLogFile& log, const CString& strMessage, bool bNoNewline) {
  char abBuffer[BUFFER_BYTES];
  std::size_t nStored = StoredLength(strMessage, bNoNewline);
  char* pWhole = nStored > BUFFER_BYTES && nStored <= WHOLE_BYTES
                     ? static_cast<char*>(std::malloc(nStored))
                     : nullptr;
  std::size_t nCapacity = pWhole != nullptr ? nStored : BUFFER_BYTES;
  // Built whole, nothing goes uncopied.
  bool bWhole = nStored <= nCapacity;
  CEntryWriter writer(log, pWhole != nullptr ? pWhole : abBuffer, nCapacity,
                      bWhole ? nCapacity + 1 : DIRECT_BYTES);
  int nError = StoreEntry(writer, strMessage, bNoNewline);
  std::free(pWhole);
  return nError;
}

// Opens the log, trying again while the error is one that others clear in
// a moment (a busy target; after a rotation, the new file not there yet).
int OpenWhenClear(const char* pszPath, bool bMoved, long long nDeadline,
                  SLogFile& log) {
  CRests rests(nDeadline);
  for (;;) {
    int nError = PlatformLogOpen(pszPath, nDeadline, log);
    if (nError == 0 || !PlatformLogOpenMayClear(pszPath, nError, bMoved) ||
        !rests.Rest())
      return nError;
  }
}

// Tries for the log's locks until they are ours or the deadline has
// passed; LOG_LOCK_BUSY then.
int WaitForLocks(SLogFile& log) {
  CRests rests(log.nDeadline);
  int nLock = PlatformLogLock(log);
  while (nLock == LOG_LOCK_BUSY && rests.Rest()) nLock = PlatformLogLock(log);
  return nLock;
}

// Opens the log and takes its locks, all within LOG_WAIT_SECONDS. A file
// that lost the log's name meanwhile (a rotator renamed or removed it) is
// let go, and after a rest the file that the name now gives is opened
// instead; a name that still moves at the deadline loses the entry. Locks
// still held by others at the deadline are done without (*pbUnlocked).
// 0, or the system's error number: then nothing is open.
int OpenLog(const char* pszPath, SLogFile& log, bool* pbUnlocked) {
  long long nDeadline = PlatformSteadyMillis() + LOG_WAIT_SECONDS * 1000;
  CRests rests(nDeadline);
  for (bool bMoved = false;; bMoved = true) {
    int nError = OpenWhenClear(pszPath, bMoved, nDeadline, log);
    if (nError != 0) return nError;
    int nLock = WaitForLocks(log);
    nError = PlatformLogCheckName(pszPath, log);
    if (nError == 0) {
      *pbUnlocked = nLock == LOG_LOCK_BUSY;
      return 0;
    }
    PlatformLogClose(log, false);
    if (!rests.Rest()) return nError;
  }
}

}  // namespace

int CEchoApp::WriteLog() {
  m_nLogError = 0;
  m_bLogUnlocked = false;
  PlatformGetEnv("ZARVO_LOG", m_strLogFile);
  PlatformLogPath(m_strLogFile);
  if (m_strLogFile.IsEmpty()) return 0;
  SLogFile log;
  int nError = OpenLog(m_strLogFile.GetString(), log, &m_bLogUnlocked);
  // Emptying a log that another program still holds would take its lines
  // from under it (a rotator copying them away): /N then empties nothing.
  if (nError == 0 && m_bLogUnlocked && m_bNewLog) {
    PlatformLogClose(log, false);
    return STATUS_LOG_FAILED;
  }
  bool bBegun = false;
  if (nError == 0) {
    nError = PlatformLogBegin(log, m_bNewLog);
    bBegun = nError == 0;
    // An entry that fails part way is taken back whole: no fragment stays
    // for the next entry to continue.
    if (bBegun) nError = WriteEntry(log, m_strMessage, m_bNoNewline);
    int nClose = PlatformLogClose(log, bBegun && nError != 0);
    if (nError == 0) nError = nClose;
  }
  // /N that can neither empty nor create the file leaves the old log as it
  // was and writes nothing.
  if (nError != 0 && m_bNewLog && !bBegun) return STATUS_LOG_FAILED;
  m_nLogError = nError;
  return nError == 0 ? 0 : STATUS_LOG_LOST;
}
