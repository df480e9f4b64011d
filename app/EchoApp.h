// The application object: every setting the command line can give, and the
// steps of one run.
#ifndef ZARVO_APP_ECHOAPP_H
#define ZARVO_APP_ECHOAPP_H

#include "ZString.h"

// Statuses of the command-line stage.
enum {
  STATUS_OK = 0,
  STATUS_SYNTAX = 1,
  STATUS_PROGRAM = 2,
  STATUS_LOG_FAILED = 3,  // /N emptied nothing: it could not, or others held it
  STATUS_LOG_LOST = 4,    // the entry is not in the log; m_nLogError says why
  STATUS_TOO_LONG = 6,
  STATUS_HELP = 7
};

// A counted command line of this length or more is refused.
const int CMDLINE_LIMIT = 8189;

// How long an entry waits for the log's locks, which others may hold.
const int LOG_WAIT_SECONDS = 10;

class CEchoApp {
 public:
  CEchoApp();
  ~CEchoApp();

  int Run(int argc, const char* const* argv);
  int ProcessCommandLine(int argc, const char* const* argv);
  int ParseCommandLine(int argc, const char* const* argv, int& nErrorCode,
                       CString& strErrorName, CString& strErrorOther);

  void ShowBanner();
  void ShowUsage();
  void ShowError(int nStatus);
  void ShowSyntaxError(int nErrorCode, CString strName, CString strOther);
  void ShowFailure(const CString& strWhat, int nError);
  int CheckDisplay(int nExitCode, bool bDefaultCode);

  void FormatMessageText();
  CString GetDateText(int nType);
  CString GetTimeText(int nType);

  int WriteLog();
  void ShowLogReports();

  void RunTimer();
  void WaitForKey();

  bool m_bMessage;
  bool m_bFormat;
  bool m_bRepeat;
  bool m_bLogOnly;
  bool m_bDisplayOnly;
  bool m_bNewLog;
  bool m_bPause;
  bool m_bNoCountdown;
  bool m_bNoNewline;
  int m_nCmdLength;
  CString m_strProgramName;
  CString m_strVersion;
  CString m_strMessage;
  CString m_strErrorLevel;
  CString m_strRepeat;
  CString m_strLogFile;
  CString m_strTimer;
  int m_nLogError;      // the system's error number of a lost entry
  bool m_bLogUnlocked;  // others held the log's locks too long

 private:
  CEchoApp(const CEchoApp&);
  CEchoApp& operator=(const CEchoApp&);
};

// Writes one report line: its text, one line feed, and a flush.
void WriteLine(const CString& strLine);

#endif
