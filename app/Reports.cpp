// The banner, the usage screen and the error reports.
#include "CmdLine.h"
#include "EchoApp.h"
#include "Output.h"

void CEchoApp::ShowBanner() {
  WriteLine("");
  WriteLine("Echo and log tool " + m_strProgramName + " version " +
            m_strVersion);
  WriteLine("");
  WriteLine("Free software under the MIT License. No warranty.");
  WriteLine("");
  WriteLine("Zarvo Tool");
  WriteLine("");
}

void CEchoApp::ShowUsage() {
  static const char* const s_apszOptions[] = {
      "message\tMessage to display to the screen and log file.",
      "/F\t\tFormats the message using the following variables:",
      "\t\t\tVariable\tDefinition",
      "\t\t\t%d or %nd\tSystem date where n indicates the\n"
      "\t\t\t\t\tformat type.",
      "\t\t\t\t\t0 =\tSun 12/31/2006 (Default)",
      "\t\t\t\t\t1 =\tSunday, December 31, 2006",
      "\t\t\t\t\t2 =\tSun, Dec 31, 2006",
      "\t\t\t\t\t3 =\tDec 31, 2006",
      "\t\t\t\t\t4 =\t12-31-2006",
      "\t\t\t\t\t5 =\t12/31/2006",
      "\t\t\t\t\t6 =\t2006-12-31",
      "\t\t\t\t\t7 =\t2006-Dec-31",
      "\t\t\t\t\t8 =\t2006-December-31",
      "\t\t\t\t\t9 =\t20061231",
      nullptr,
      "\t\t\t%t or %nt\tSystem time where n indicates the\n"
      "\t\t\t\t\tformat type.",
      "\t\t\t\t\t0 =\t16:12:13 (Default)",
      "\t\t\t\t\t1 =\t04:12:13 PM",
      nullptr,
      "\t\t\t\\a\t\tAlert (bell)",
      "\t\t\t\\b\t\tBackscape",
      "\t\t\t\\f\t\tFormfeed",
      "\t\t\t\\n\t\tNewline",
      "\t\t\t\\r\t\tCarriage return",
      "\t\t\t\\t\t\tHorizontal tab",
      nullptr,
      "/R:n\tRepeat the message n times.",
      "/E:n\tSets the system errorlevel to n.",
      "/P\t\tPauses until a key is pressed.",
      "/P:n\tPauses until a key is pressed or when the specified",
      "\t\ttime elapses.  Press <ESC> to cancel the countdown.",
      "/T:n\tInitiates a timer for n seconds.",
      "/SC\tSuppresses the output of the countdown timer.",
      "/SN\tSuppresses the newline character.",
      "/N\t\tCreate a new, blank log file even if it exists already.",
      "/LO\tWrite the message to the log file only.",
      "/DO\tWrite the message to the display only.",
      "/?\t\tDisplay this help message.",
  };
  ShowBanner();
  CString strIndent(' ', 5);
  CString strContinue(' ', unsigned(m_strProgramName.GetLength()) + 10);

  WriteLine("Usage...");
  WriteLine(strIndent + m_strProgramName +
            " [message] [/F] [/R:n] [/E:n] [/P] [/P:n] [/T:n] [/SC] [/SN]");
  WriteLine(strIndent + strContinue + " [/N] [/LO] [/DO] [/?]");
  WriteLine("");
  WriteLine("Where...");
  // A null entry stands for a blank line between the groups.
  for (const char* pszLine : s_apszOptions)
    WriteLine(pszLine != nullptr ? strIndent + pszLine : CString());
  WriteLine("");
  WriteLine("");
  WriteLine(
      "To enable logging, set the ZARVO_LOG environment variable to the fully");
  WriteLine("qualified path and name of a log file.");
  WriteLine("");
}

void CEchoApp::ShowError(int nStatus) {
  if (nStatus == STATUS_PROGRAM) {
    WriteLine("Program Error.");
  } else if (nStatus == STATUS_LOG_FAILED) {
    WriteLine("Zarvo was unable to write to the log file.");
  } else if (nStatus == STATUS_TOO_LONG) {
    WriteLine("");
    WriteLine(
        "Error:  The number of characters entered on the command line is >= " +
        CString(CMDLINE_LIMIT) + ".");
    WriteLine("        This program is limited to " +
              CString(CMDLINE_LIMIT - 1) + " characters on the command line.");
    WriteLine("");
  }
}

namespace {

// The tail of the "requires" line: one companion, or a list of them.
CString RequiresText(CString strOther) {
  int nEntries = strOther.GetTokenCount(",");
  strOther.Replace(",", " ");
  if (nEntries < 2) return "the '" + strOther + "' parameter.";
  return "at least one of the following\nparameters:  " + strOther;
}

}  // namespace

void CEchoApp::ShowSyntaxError(int nErrorCode, CString strName,
                               CString strOther) {
  WriteLine("");
  WriteLine("Syntax Error");
  WriteLine("");
  CString strQuoted = "'" + strName + "' parameter";
  switch (nErrorCode) {
    case CMDERR_INVALID: WriteLine("The " + strQuoted + " is invalid."); break;
    case CMDERR_REQUIRED:
      WriteLine("The " + strQuoted + " is required.");
      break;
    case CMDERR_EMPTY:
      WriteLine("The value of the " + strQuoted + " must not be empty.");
      break;
    case CMDERR_NOT_NUMBER:
      WriteLine("The value of the " + strQuoted + " must be a number.");
      break;
    case CMDERR_CONFLICT:
      WriteLine("The " + strQuoted + " cannot be used with the '" + strOther +
                "' parameter.");
      break;
    case CMDERR_REQUIRES:
      WriteLine("The " + strQuoted + " requires " + RequiresText(strOther));
      break;
    default: WriteLine(""); break;
  }
}

// One line on standard error: the program's name as invoked, what failed
// and the system's reason. Standard output is left as it is.
void CEchoApp::ShowFailure(const CString& strWhat, int nError) {
  PlatformWriteStderr(g_strProgramName + ": " + strWhat + ": " +
                      PlatformErrorText(nError));
}

namespace {

void AddHex(CString& strShown, unsigned char bByte) {
  static const char s_achHex[] = "0123456789abcdef";
  const char achHex[] = {'\\', 'x', s_achHex[bByte >> 4], s_achHex[bByte & 15],
                         '\0'};
  strShown += achHex;
}

// A text as one line of a report: control characters are shown escaped
// (\n, \x1b), the C1 ones of UTF-8 too (\xc2\x9b), so that a path cannot
// break the line or recolour the screen.
CString Printable(const CString& strText) {
  CString strShown;
  for (const char* p = strText.GetString(); *p != '\0'; ++p) {
    unsigned char bByte = static_cast<unsigned char>(*p);
    unsigned char bNext = static_cast<unsigned char>(p[1]);
    if (bByte == 0xC2 && bNext >= 0x80 && bNext <= 0x9F) {
      AddHex(strShown, bByte);
      AddHex(strShown, bNext);
      ++p;
    } else if (bByte == '\n' || bByte == '\r' || bByte == '\t') {
      strShown += bByte == '\n' ? "\\n" : bByte == '\r' ? "\\r" : "\\t";
    } else if (bByte < 0x20 || bByte == 0x7F) {
      AddHex(strShown, bByte);
    } else {
      strShown += *p;
    }
  }
  return strShown;
}

}  // namespace

// Locks held past the wait, then the entry lost, as they happened, on
// lines of their own. Where standard error shows on the display, an open
// display line ends first there: standard output keeps its bytes.
void CEchoApp::ShowLogReports() {
  if (PlatformStdoutMidLine() && PlatformStderrJoinsStdout())
    PlatformWriteStderr(CString());
  CString strLog =
      "the log file " + Printable(PlatformReportPath(m_strLogFile));
  if (m_bLogUnlocked)
    PlatformWriteStderr(g_strProgramName + ": " + strLog +
                        " stayed locked for " + CString(LOG_WAIT_SECONDS) +
                        (m_bNewLog ? " s: not started afresh"
                                   : " s: written without the lock"));
  if (m_nLogError != 0) ShowFailure("cannot write to " + strLog, m_nLogError);
}
