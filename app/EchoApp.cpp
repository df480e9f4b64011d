// The driver: option table, command-line stage, run sequence, process entry.
#include "EchoApp.h"

#include <cstddef>

#include "CmdLine.h"
#include "Keyboard.h"
#include "Output.h"
#include "Platform.h"

CEchoApp::CEchoApp()
    : m_bMessage(false),
      m_bFormat(false),
      m_bRepeat(false),
      m_bLogOnly(false),
      m_bDisplayOnly(false),
      m_bNewLog(false),
      m_bPause(false),
      m_bNoCountdown(false),
      m_bNoNewline(false),
      m_nCmdLength(0),
      m_strVersion("1.0"),
      m_nLogError(0),
      m_bLogUnlocked(false) {}

CEchoApp::~CEchoApp() {}

void WriteLine(const CString& strLine) {
  PlatformWriteStdout(strLine.GetString(), std::size_t(strLine.GetLength()),
                      "\n", 1);
}

namespace {

// The option table, in the order that decides which error is found first.
void RegisterOptions(CCmdLine& cmd) {
  const CString none(CMD_EMPTY_LIST);
  // Lists of names joined by ",".
  const CString strPauseGroup("/P,/P:,/T:");
  const CString strTimers("/P:,/T:");

  cmd.AddOption("", "message", CMDOPT_PARAM, none, none, false, true);
  cmd.AddOption("/F", CMDOPT_SWITCH, "message", none, false, true);
  cmd.AddOption("/R:", CMDOPT_NUMBER, none, none, false, true);
  cmd.AddOption("/E:", CMDOPT_NUMBER, none, none, false, true);
  cmd.AddOption("/IE", CMDOPT_SWITCH, none, none, false, true);
  cmd.AddOption("/P", CMDOPT_SWITCH, none, strPauseGroup, false, true);
  cmd.AddOption("/P:", CMDOPT_NUMBER, none, strPauseGroup, false, true);
  cmd.AddOption("/T:", CMDOPT_NUMBER, none, strPauseGroup, false, true);
  cmd.AddOption("/SC", CMDOPT_SWITCH, strTimers, none, false, true);
  cmd.AddOption("/SN", CMDOPT_SWITCH, none, none, false, true);
  cmd.AddOption("/N", CMDOPT_SWITCH, none, none, false, true);
  cmd.AddOption("/LO", CMDOPT_SWITCH, none, "/DO", false, true);
  cmd.AddOption("/DO", CMDOPT_SWITCH, none, "/LO", false, true);
  cmd.AddOption("/?", CMDOPT_SWITCH, none, none, false, true);
}

// Hands back an error that the driver raises itself.
int InvalidValue(const char* pszOption, int& nErrorCode, CString& strErrorName,
                 CString& strErrorOther) {
  nErrorCode = CMDERR_INVALID;
  strErrorName = pszOption;
  strErrorOther.Empty();
  return STATUS_SYNTAX;
}

}  // namespace

int CEchoApp::ParseCommandLine(int argc, const char* const* argv,
                               int& nErrorCode, CString& strErrorName,
                               CString& strErrorOther) {
  // The banner shows the name with its first two characters upper case.
  m_strProgramName = GetProgramName(argc > 0 ? argv[0] : nullptr);
  m_strProgramName.MakeLower();
  m_strProgramName.MakeUpperAt(0);
  m_strProgramName.MakeUpperAt(1);

  CCmdLine cmd;
  RegisterOptions(cmd);
  int nResult = cmd.Parse(argc, argv, false, true);
  if (nResult == 2) return STATUS_PROGRAM;
  // A recognised "/?" wins over any syntax error.
  if (cmd.IsPresent("/?", 1)) return STATUS_HELP;
  if (nResult == 1) {
    int nOccurrence = 0;
    cmd.GetError(nErrorCode, strErrorName, strErrorOther, nOccurrence);
    return STATUS_SYNTAX;
  }

  m_bMessage = cmd.GetValue("message", m_strMessage, 1);
  m_bFormat = cmd.IsPresent("/F", 1);
  m_bRepeat = cmd.GetValue("/R:", m_strRepeat, 1);
  cmd.GetValue("/E:", m_strErrorLevel, 1);
  m_bPause = cmd.IsPresent("/P", 1);
  if (cmd.GetValue("/P:", m_strTimer, 1)) m_bPause = true;
  if (m_strTimer.IsEmpty()) cmd.GetValue("/T:", m_strTimer, 1);
  if (!m_strTimer.IsEmpty() && m_strTimer.ToInt() < 1)
    return InvalidValue(m_bPause ? "/P:" : "/T:", nErrorCode, strErrorName,
                        strErrorOther);
  m_bNoCountdown = cmd.IsPresent("/SC", 1);
  m_bNoNewline = cmd.IsPresent("/SN", 1);
  m_bNewLog = cmd.IsPresent("/N", 1);
  m_bLogOnly = cmd.IsPresent("/LO", 1);
  m_bDisplayOnly = cmd.IsPresent("/DO", 1);
  m_nCmdLength = cmd.GetCmdLineLength();
  if (m_bRepeat && m_strRepeat.ToInt() < 1)
    return InvalidValue("/R:", nErrorCode, strErrorName, strErrorOther);
  if (m_nCmdLength >= CMDLINE_LIMIT) return STATUS_TOO_LONG;
  return STATUS_OK;
}

int CEchoApp::ProcessCommandLine(int argc, const char* const* argv) {
  int nErrorCode = 0;
  CString strErrorName;
  CString strErrorOther;
  int nStatus =
      ParseCommandLine(argc, argv, nErrorCode, strErrorName, strErrorOther);
  if (nStatus == STATUS_OK) return nStatus;
  ShowUsage();
  if (nErrorCode != 0)
    ShowSyntaxError(nErrorCode, strErrorName, strErrorOther);
  else
    ShowError(nStatus);
  return nStatus;
}

int CEchoApp::Run(int argc, const char* const* argv) {
  int nStatus = ProcessCommandLine(argc, argv);
  if (nStatus != STATUS_OK)
    return CheckDisplay(nStatus == STATUS_HELP ? 0 : nStatus,
                        nStatus == STATUS_HELP);

  bool bDisplayed = false;
  int nLogStatus = 0;
  bool bWait = !m_strTimer.IsEmpty() || m_bPause;
  // Whether anybody can press a key is settled before the message shows,
  // so that keys typed in answer to it meet a wait that is ready for them.
  if (m_bPause) PlatformKeyboardPrepare();
  // Skipped only when no message was given and /E: carries a value.
  if (m_bMessage || m_strErrorLevel.IsEmpty()) {
    if (m_bFormat) FormatMessageText();
    if (m_bRepeat) m_strMessage.Repeat(unsigned(m_strRepeat.ToInt()));
    if (!m_bLogOnly) {
      // With no wait to come, the line feed leaves with the message in one
      // write: jobs that share the output never split each other's lines.
      bool bLineNow = !bWait && !m_bNoNewline;
      PlatformWriteStdout(m_strMessage.GetString(),
                          std::size_t(m_strMessage.GetLength()),
                          bLineNow ? "\n" : "", bLineNow ? 1 : 0);
      bDisplayed = true;
    }
    if (!m_bDisplayOnly) nLogStatus = WriteLog();
  }

  // The line feed still owed to the message comes after the wait, so that
  // the wait takes place on the message's line.
  bool bLineOwed = bDisplayed && !m_bNoNewline && bWait;
  // A lost or unlocked entry is told at once, on standard error alone.
  if (nLogStatus == STATUS_LOG_LOST || m_bLogUnlocked) ShowLogReports();

  if (!m_strTimer.IsEmpty())
    RunTimer();
  else if (m_bPause)
    WaitForKey();

  if (bLineOwed) PlatformWriteStdout("\n", 1);
  // A failed /N delete is reported on a line of its own, last of all.
  if (nLogStatus == STATUS_LOG_FAILED) {
    if (PlatformStdoutMidLine()) WriteLine("");
    ShowError(STATUS_LOG_FAILED);
  }
  return CheckDisplay(m_strErrorLevel.IsEmpty() ? 0 : m_strErrorLevel.ToInt(),
                      m_strErrorLevel.IsEmpty());
}

// A display that failed is reported once, at the end of the run; a run
// that chose no exit code then ends with 1, so that the caller learns it.
int CEchoApp::CheckDisplay(int nExitCode, bool bDefaultCode) {
  int nError = PlatformStdoutError();
  if (nError == 0) return nExitCode;
  ShowFailure("cannot write to standard output", nError);
  return bDefaultCode ? 1 : nExitCode;
}

#ifndef ZARVO_NO_ENTRY
#ifdef _WIN32
// Windows hands the arguments over as UTF-16; the tool works on UTF-8.
int wmain(int argc, wchar_t** argv) {
  CEchoApp app;
  return app.Run(argc, PlatformUtf8Arguments(argc, argv));
}
#else
int main(int argc, char** argv) {
  CEchoApp app;
  return app.Run(argc, argv);
}
#endif
#endif
