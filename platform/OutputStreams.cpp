// Standard output as the tool uses it, the same on every system: a buffer
// that goes out in one write request per flush, a note of where the cursor
// stands, and the first error, kept for the report at the end of the run.
#include "OutputStreams.h"

#include <cstring>
#include <ostream>
#include <streambuf>

#include "Platform.h"
#include "ZString.h"

namespace {

class CStdoutBuf : public std::streambuf {
 public:
  CStdoutBuf() : m_nError(0), m_bMidLine(false) { Reset(); }
  ~CStdoutBuf() override { Drain(); }

  // What is held, then two more pieces, in one write request.
  void WriteThrough(const char* pData, std::size_t nLength, const char* pTail,
                    std::size_t nTail) {
    Note(pData, nLength);
    Note(pTail, nTail);
    SOutPiece aPieces[3] = {
        {m_abBuffer, Pending()}, {pData, nLength}, {pTail, nTail}};
    Reset();
    Send(aPieces, 3);
  }

  int Error() const { return m_nError; }
  bool MidLine() const { return m_bMidLine; }

 protected:
  int sync() override {
    Drain();
    return 0;
  }

  int_type overflow(int_type nChar) override {
    Drain();
    if (traits_type::eq_int_type(nChar, traits_type::eof()))
      return traits_type::not_eof(nChar);
    char cChar = traits_type::to_char_type(nChar);
    Note(&cChar, 1);
    *pptr() = cChar;
    pbump(1);
    return nChar;
  }

  // A text larger than the room left goes out directly, never split, so
  // that a line is one write request and a character is never cut in two.
  std::streamsize xsputn(const char* pData, std::streamsize nCount) override {
    std::size_t nLength = std::size_t(nCount);
    if (nLength > Room()) Drain();
    if (nLength > Room()) {
      WriteThrough(pData, nLength, "", 0);
      return nCount;
    }
    Note(pData, nLength);
    std::memcpy(pptr(), pData, nLength);
    pbump(int(nLength));
    return nCount;
  }

 private:
  std::size_t Pending() const { return std::size_t(pptr() - pbase()); }
  std::size_t Room() const { return std::size_t(epptr() - pptr()); }
  void Reset() { setp(m_abBuffer, m_abBuffer + sizeof m_abBuffer); }

  void Note(const char* pData, std::size_t nLength) {
    if (nLength > 0) m_bMidLine = pData[nLength - 1] != '\n';
  }

  void Drain() {
    SOutPiece tPiece = {m_abBuffer, Pending()};
    Reset();
    Send(&tPiece, 1);
  }

  // After the first error nothing more goes out: what the output holds is
  // then a beginning of what the run meant to show.
  void Send(const SOutPiece* aPieces, int nPieces) {
    std::size_t nTotal = 0;
    for (int i = 0; i < nPieces; ++i) nTotal += aPieces[i].nLength;
    if (nTotal == 0 || m_nError != 0) return;
    m_nError = PlatformWritePieces(STREAM_STDOUT, aPieces, nPieces);
  }

  int m_nError;
  bool m_bMidLine;
  char m_abBuffer[4096];
};

// Built on first use, so nothing of it runs before main.
CStdoutBuf& StdoutBuffer() {
  static CStdoutBuf s_buffer;
  return s_buffer;
}

}  // namespace

std::ostream& PlatformStdout() {
  static std::ostream s_out(&StdoutBuffer());
  return s_out;
}

void PlatformWriteStdout(const char* pData, std::size_t nLength,
                         const char* pTail, std::size_t nTail) {
  StdoutBuffer().WriteThrough(pData, nLength, pTail, nTail);
}

int PlatformStdoutError() { return StdoutBuffer().Error(); }

bool PlatformStdoutMidLine() { return StdoutBuffer().MidLine(); }

void PlatformWriteStderr(const CString& strLine) {
  SOutPiece aPieces[2] = {
      {strLine.GetString(), std::size_t(strLine.GetLength())}, {"\n", 1}};
  PlatformWritePieces(STREAM_STDERR, aPieces, 2);
}
