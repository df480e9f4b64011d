// The last-resort report: a fixed text for the code, composed in a buffer
// of its own (no heap, which may be what ran out), written to standard
// error, and then the end of the process or a question whether to go on.
#include "ErrorReporter.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum { REPORT_AREA_SIZE = 512 };

// Fixed lines that stand before the location, by code; null for codes
// that the reporter does not know.
const char* LeadText(int nCode) {
  switch (nCode) {
    case ERR_GENERAL_SYSTEM: return "General System Error\n\n";
    case ERR_GENERAL_PROGRAM: return "General Program Error\n\n";
    case ERR_MESSAGE_ONLY: return "";
    case ERR_MEMORY_ALLOCATION:
      return "Memory Allocation Error\n\n"
             "Not enough memory is available for this application.\n\n"
             "Please close some programs to free up memory and try running\n"
             "this application again.\n\n";
    case ERR_FILE_OPEN: return "File Open Error\n\nUnable to open file...\n\n";
    case ERR_FILE_READ:
      return "File Read Error\n\nUnable to read from file...\n\n";
    case ERR_FILE_WRITE:
      return "File Write Error\n\nUnable to write to file...\n\n";
    case ERR_FILE_CLOSE:
      return "File Close Error\n\nUnable to close file...\n\n";
    case ERR_PARSE: return "Parse Error\n\nUnable to parse data file...\n\n";
    case ERR_TCPIP: return "TCP/IP Error\n\n";
    default: return nullptr;
  }
}

const char PARSE_CLOSING[] =
    "The data file may not be in the correct format "
    "or it may be corrupt.\n\n";

// Appends at most nMax bytes of pszText to the area at *pnUsed, stopping one
// byte short of its end so that the terminator always fits.
void AppendCut(char* pszOut, unsigned nSize, unsigned* pnUsed,
               const char* pszText, unsigned nMax = UINT_MAX) {
  while (*pszText != '\0' && nMax-- > 0 && *pnUsed + 1 < nSize)
    pszOut[(*pnUsed)++] = *pszText++;
  pszOut[*pnUsed] = '\0';
}

}  // namespace

void CErrorReporter::ComposeReport(int nCode, const char* pszLocation,
                                   char* pszOut, unsigned nSize) {
  if (nSize == 0) return;
  unsigned nUsed = 0;
  pszOut[0] = '\0';
  AppendCut(pszOut, nSize, &nUsed, "\n");
  const char* pszLead = LeadText(nCode);
  if (pszLead == nullptr) return;
  AppendCut(pszOut, nSize, &nUsed, pszLead);
  if (nCode != ERR_PARSE) {
    AppendCut(pszOut, nSize, &nUsed, pszLocation != nullptr ? pszLocation : "");
    return;
  }
  // A parse report puts the location between its lines and its advice; a
  // long location is cut so that the advice after it still fits.
  if (pszLocation != nullptr && pszLocation[0] != '\0') {
    unsigned nTail = unsigned(std::strlen(PARSE_CLOSING)) + 2;
    unsigned nRoom = nUsed + nTail + 1 < nSize ? nSize - 1 - nUsed - nTail : 0;
    AppendCut(pszOut, nSize, &nUsed, pszLocation, nRoom);
    AppendCut(pszOut, nSize, &nUsed, "\n\n");
  }
  AppendCut(pszOut, nSize, &nUsed, PARSE_CLOSING);
}

void CErrorReporter::ReportError(int nSeverity, int nCode,
                                 const char* pszLocation) {
  char szText[REPORT_AREA_SIZE];
  ComposeReport(nCode, pszLocation, szText, sizeof szText);
  // What the program wrote to any stream comes before the report.
  std::fflush(nullptr);
  std::fprintf(stderr, "\n%s\n", szText);
  std::fflush(stderr);
  if (nSeverity == SEVERITY_FATAL) std::exit(1);
  if (nSeverity != SEVERITY_ASK) return;

  std::fprintf(stderr, "\nContinue anyway? ");
  std::fflush(stderr);
  // Two answers are read, each skipping white space, before anything is
  // decided, so that a "no" leaves none of them for the next reader. Only
  // the first counts; input that ends before it counts as no.
  char cFirst = 0;
  char cSecond = 0;
  int nAnswers = std::scanf(" %c %c", &cFirst, &cSecond);
  if (nAnswers < 1 || (cFirst != 'y' && cFirst != 'Y')) std::exit(1);
}
