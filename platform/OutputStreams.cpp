// Standard output as the tool uses it, the same on every system: each text
// goes out in one write request with the pieces that belong to it, and the
// module keeps a note of where the cursor stands and the first error, for
// the report at the end of the run. Nothing of the C++ streams is used, so
// a run constructs no locale and no stream object.
#include "OutputStreams.h"

#include "Output.h"
#include "ZString.h"

namespace {

// Plain data, set up before the program starts without any code running.
struct SStdoutState {
  int nError;
  bool bMidLine;
};
SStdoutState g_tStdout = {0, false};

void Note(const char* pData, std::size_t nLength) {
  if (nLength > 0) g_tStdout.bMidLine = pData[nLength - 1] != '\n';
}

}  // namespace

// After the first error nothing more goes out: what the output holds is
// then a beginning of what the run meant to show.
void PlatformWriteStdout(const char* pData, std::size_t nLength,
                         const char* pTail, std::size_t nTail) {
  Note(pData, nLength);
  Note(pTail, nTail);
  if (nLength + nTail == 0 || g_tStdout.nError != 0) return;
  SOutPiece aPieces[2] = {{pData, nLength}, {pTail, nTail}};
  g_tStdout.nError = PlatformWritePieces(STREAM_STDOUT, aPieces, 2);
}

int PlatformStdoutError() { return g_tStdout.nError; }

bool PlatformStdoutMidLine() { return g_tStdout.bMidLine; }

void PlatformWriteStderr(const CString& strLine) {
  SOutPiece aPieces[2] = {
      {strLine.GetString(), std::size_t(strLine.GetLength())}, {"\n", 1}};
  PlatformWritePieces(STREAM_STDERR, aPieces, 2);
}
