// Feeds random argument vectors to the application: the input is split into
// arguments at its NUL bytes (the first piece is argv[0]). Each vector goes
// through ParseCommandLine on the real option table, whose results must be
// consistent, and then through a whole Run on the scripted platform with
// standard output captured, whose display and log entry are checked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "EchoApp.h"
#include "ExpectedText.h"
#include "FakePlatform.h"

namespace {

// Runs that would build a larger message or wait longer are only parsed:
// a huge /R: ends in the memory-allocation report by design.
const int MAX_REPEAT = 64;
const int MAX_TIMER_SECONDS = 30;
const int MAX_ARGS = 64;

[[noreturn]] void Fail(const char* pszWhat) {
  std::fprintf(stderr, "command-line fuzz: %s\n", pszWhat);
  std::abort();
}

void Check(bool bOk, const char* pszWhat) {
  if (!bOk) Fail(pszWhat);
}

using expected::LogEntry;

// The consistency that every parse result must have.
int CheckParse(const std::vector<const char*>& aArgv, CEchoApp& app) {
  int nCode = 0;
  CString strName, strOther;
  int nStatus = app.ParseCommandLine(int(aArgv.size()) - 1, aArgv.data(), nCode,
                                     strName, strOther);
  Check(nStatus == STATUS_OK || nStatus == STATUS_SYNTAX ||
            nStatus == STATUS_TOO_LONG || nStatus == STATUS_HELP,
        "unexpected status");
  Check((nStatus == STATUS_SYNTAX) == (nCode >= 1 && nCode <= 6),
        "error code without syntax status");
  if (nStatus != STATUS_OK) return nStatus;
  Check(app.m_nCmdLength < CMDLINE_LIMIT, "accepted a line over the limit");
  Check(app.m_nCmdLength >= app.m_strProgramName.GetLength(),
        "count below the program name");
  Check(app.m_strTimer.IsEmpty() || app.m_strTimer.ToInt() >= 1,
        "accepted a timer below 1");
  Check(!app.m_bRepeat || app.m_strRepeat.ToInt() >= 1,
        "accepted a repeat below 1");
  Check(!(app.m_bLogOnly && app.m_bDisplayOnly), "accepted /LO with /DO");
  Check(!app.m_bFormat || app.m_bMessage, "accepted /F without a message");
  return nStatus;
}

bool RunIsBounded(const CEchoApp& app) {
  if (app.m_bRepeat && app.m_strRepeat.ToInt() > MAX_REPEAT) return false;
  return app.m_strTimer.ToInt() <= MAX_TIMER_SECONDS;
}

// A whole run: exit code, display and log entry.
void CheckRun(const std::vector<const char*>& aArgv, int nStatus,
              const CEchoApp& parsed) {
  fake::Reset();
  fake::SetEnv("ZARVO_LOG", "zarvo.log");
  fake::AddKey(1500, 'x');  // ends any key wait
  CEchoApp app;
  int nExit;
  std::string strOut;
  {
    fake::StdoutCapture capture;
    nExit = app.Run(int(aArgv.size()) - 1, aArgv.data());
    strOut = capture.Text();
  }
  if (nStatus != STATUS_OK) {
    Check(nExit == (nStatus == STATUS_HELP ? 0 : nStatus), "exit code");
    Check(strOut.find("Usage...") != std::string::npos, "no usage screen");
    Check(fake::Files().empty(), "a refused line was logged");
    return;
  }
  Check(nExit == (parsed.m_strErrorLevel.IsEmpty()
                      ? 0
                      : parsed.m_strErrorLevel.ToInt()),
        "exit code of a run");
  bool bBlock = app.m_bMessage || app.m_strErrorLevel.IsEmpty();
  std::string strMessage = app.m_strMessage.GetString();
  if (bBlock && !app.m_bDisplayOnly) {
    auto it = fake::Files().find("zarvo.log");
    Check(it != fake::Files().end(), "message not logged");
    Check(it->second == LogEntry(strMessage, !app.m_bNoNewline), "log entry");
  } else {
    Check(fake::Files().empty(), "logged without a message block");
  }
  // Countdowns write their own bytes; without one the display is exact.
  if (!app.m_strTimer.IsEmpty()) return;
  std::string strDisplay;
  if (bBlock && !app.m_bLogOnly)
    strDisplay = strMessage + (app.m_bNoNewline ? "" : "\n");
  Check(strOut == strDisplay, "display");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData,
                                      std::size_t nSize) {
  std::string strInput(reinterpret_cast<const char*>(pData), nSize);
  std::vector<std::string> aArgs;
  std::size_t nAt = 0;
  while (aArgs.size() < MAX_ARGS) {
    std::size_t nEnd = strInput.find('\0', nAt);
    aArgs.push_back(strInput.substr(nAt, nEnd - nAt));
    if (nEnd == std::string::npos) break;
    nAt = nEnd + 1;
  }
  std::vector<const char*> aArgv;
  for (const std::string& strArg : aArgs) aArgv.push_back(strArg.c_str());
  aArgv.push_back(nullptr);  // argv[argc], as the process receives it

  fake::Reset();
  CEchoApp parsed;
  int nStatus = CheckParse(aArgv, parsed);
  if (nStatus != STATUS_OK || RunIsBounded(parsed))
    CheckRun(aArgv, nStatus, parsed);
  return 0;
}
