#include "FakePlatform.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Platform.h"
#include "ZString.h"

namespace {

struct TimedKey {
  long nAt;
  int nCode;
};
struct ClockJump {
  long nAt;
  long nSeconds;
};
struct ReadDelay {
  long nAt;
  long nDelay;
};

std::time_t g_tStart = fake::DEFAULT_START;
long g_nNowMillis = 0;  // since the start
bool g_bKeyboard = true;
long g_nKeyboardGoneAt = -1;  // -1: never
bool g_bOpen = false;
int g_nOpenCount = 0;
std::vector<TimedKey> g_aKeys;
std::vector<ClockJump> g_aJumps;
std::vector<ReadDelay> g_aReadDelays;
std::map<std::string, std::string> g_mapEnv;
std::map<std::string, std::string> g_mapFiles;
int g_nOpenError = 0;
int g_nAppendError = 0;
int g_nAppendCalls = 0;
int g_nOpenCalls = 0;
int g_nClearableError = 0;
long g_nWritesRefusedUntil = 0;
bool g_bNameMoves = false;
bool g_bStderrJoins = true;
std::string g_strOpenLog;  // the name the open log has now; "" when closed
std::size_t g_nLogStart = 0;
long g_nIdlePolls = 0;
bool g_bEchoOff = false;
int g_nEchoOffCount = 0;

// Everything the tool writes to standard output and error, at once.
std::string g_strStdout;
std::string g_strStderr;

// A wait that never lets the fake clock move is a busy loop: stop the test.
void CountIdlePoll() {
  if (++g_nIdlePolls > 100000) {
    std::fprintf(stderr,
                 "fake platform: polled 100000 times without sleeping\n");
    std::abort();
  }
}

void Advance(long nMillis) {
  g_nIdlePolls = 0;
  g_nNowMillis += nMillis;
  if (g_nNowMillis > 24L * 3600 * 1000) {
    std::fprintf(stderr, "fake platform: a wait ran for a whole day\n");
    std::abort();
  }
}

bool KeyboardThere() {
  return g_bKeyboard &&
         (g_nKeyboardGoneAt < 0 || g_nNowMillis < g_nKeyboardGoneAt);
}

bool KeyDue() {
  return KeyboardThere() && !g_aKeys.empty() &&
         g_aKeys.front().nAt <= g_nNowMillis;
}

}  // namespace

namespace fake {

void Reset(std::time_t tStart, int nStartMillis) {
  g_tStart = tStart;
  g_nNowMillis = nStartMillis;
  g_bKeyboard = true;
  g_nKeyboardGoneAt = -1;
  g_bOpen = false;
  g_nOpenCount = 0;
  g_aKeys.clear();
  g_aJumps.clear();
  g_aReadDelays.clear();
  g_mapEnv.clear();
  g_mapFiles.clear();
  g_nOpenError = 0;
  g_nAppendError = 0;
  g_nAppendCalls = 0;
  g_nOpenCalls = 0;
  g_nClearableError = 0;
  g_nWritesRefusedUntil = 0;
  g_bNameMoves = false;
  g_bStderrJoins = true;
  g_strOpenLog.clear();
  g_nIdlePolls = 0;
  g_bEchoOff = false;
  g_nEchoOffCount = 0;
  g_strStdout.clear();
  g_strStderr.clear();
}

StdoutCapture::StdoutCapture() : m_nStart(g_strStdout.size()) {}

std::string StdoutCapture::Text() const { return g_strStdout.substr(m_nStart); }

void AddKey(long nAtMillis, int nCode) {
  g_aKeys.push_back({nAtMillis, nCode});
}
void AddClockJump(long nAtMillis, long nSeconds) {
  g_aJumps.push_back({nAtMillis, nSeconds});
}
void SetKeyboard(bool bPresent) { g_bKeyboard = bPresent; }
void LoseKeyboardAt(long nAtMillis) { g_nKeyboardGoneAt = nAtMillis; }
void AddClockReadDelay(long nAtMillis, long nDelayMillis) {
  g_aReadDelays.push_back({nAtMillis, nDelayMillis});
}
long ElapsedMillis() { return g_nNowMillis; }
int KeysLeft() { return int(g_aKeys.size()); }
bool KeyboardIsOpen() { return g_bOpen; }
int KeyboardOpenCount() { return g_nOpenCount; }
int EchoOffCount() { return g_nEchoOffCount; }
bool EchoIsOff() { return g_bEchoOff; }
std::string Stderr() { return g_strStderr; }
void SetEnv(const std::string& strName, const std::string& strValue) {
  g_mapEnv[strName] = strValue;
}
int& OpenError() { return g_nOpenError; }
int& AppendError() { return g_nAppendError; }
std::map<std::string, std::string>& Files() { return g_mapFiles; }
int AppendCalls() { return g_nAppendCalls; }
int OpenCalls() { return g_nOpenCalls; }
int& ClearableError() { return g_nClearableError; }
long& WritesRefusedUntil() { return g_nWritesRefusedUntil; }
bool& NameMoves() { return g_bNameMoves; }
bool& StderrJoinsStdout() { return g_bStderrJoins; }

}  // namespace fake

void PlatformKeyboardPrepare() {}

bool PlatformKeyboardOpen(bool) {
  if (!KeyboardThere()) {
    g_bOpen = false;  // a keyboard that went away is closed
    return false;
  }
  if (!g_bOpen) ++g_nOpenCount;
  g_bOpen = true;
  return true;
}

bool PlatformEchoOff() {
  if (!KeyboardThere()) return false;
  ++g_nEchoOffCount;
  g_bEchoOff = true;
  return true;
}

void PlatformKeyboardClose() {
  g_bOpen = false;
  g_bEchoOff = false;
}

bool PlatformKeyWaiting() {
  CountIdlePoll();
  return KeyDue();
}

int PlatformReadKey() {
  if (!KeyDue()) return 0;
  int nCode = g_aKeys.front().nCode;
  g_aKeys.erase(g_aKeys.begin());
  return nCode;
}

bool PlatformWaitForKey(int nMillis) {
  if (KeyDue()) return true;
  long nUntil = g_nNowMillis + nMillis;
  if (KeyboardThere() && !g_aKeys.empty() && g_aKeys.front().nAt <= nUntil) {
    Advance(g_aKeys.front().nAt - g_nNowMillis);
    return true;
  }
  Advance(nMillis);
  return false;
}

std::time_t PlatformNow() { return g_tStart + g_nNowMillis / 1000; }

// The steady clock runs in step with the calendar clock; jumps and slow
// readings are the steady clock's alone.
long long PlatformSteadyMillis() {
  CountIdlePoll();
  long long nJump = 0;
  for (const ClockJump& jump : g_aJumps)
    if (jump.nAt <= g_nNowMillis) nJump += jump.nSeconds * 1000LL;
  long long nNow = g_tStart * 1000LL + g_nNowMillis + nJump;
  for (ReadDelay& delay : g_aReadDelays) {
    if (delay.nAt < 0 || delay.nAt > g_nNowMillis) continue;
    delay.nAt = -1;  // used up
    Advance(delay.nDelay);
  }
  return nNow;
}

void PlatformSleep(int nMillis) { Advance(nMillis); }

// std::gmtime rather than gmtime_r, which Windows lacks; the tests run on
// one thread.
bool PlatformLocalTime(std::time_t tTime, std::tm* pTm) {
  const std::tm* pUtc = std::gmtime(&tTime);
  if (pUtc == nullptr) return false;
  *pTm = *pUtc;
  return true;
}

void PlatformWriteStdout(const char* pData, std::size_t nLength,
                         const char* pTail, std::size_t nTail) {
  g_strStdout.append(pData, nLength).append(pTail, nTail);
}

// The fake's standard output never fails.
int PlatformStdoutError() { return 0; }

bool PlatformStderrJoinsStdout() { return g_bStderrJoins; }

bool PlatformStdoutMidLine() {
  return !g_strStdout.empty() && g_strStdout.back() != '\n';
}

void PlatformWriteStderr(const CString& strLine) {
  g_strStderr += strLine.GetString();
  g_strStderr += '\n';
}

CString PlatformErrorText(int nError) {
  return CString("system error ") + CString(nError);
}

bool PlatformGetEnv(const char* pszName, CString& strValue) {
  auto it = g_mapEnv.find(pszName);
  strValue = it == g_mapEnv.end() ? "" : it->second.c_str();
  return it != g_mapEnv.end();
}

void PlatformLogPath(CString&) {}

CString PlatformReportPath(const CString& strPath) { return strPath; }

int PlatformLogOpen(const char* pszPath, long long nDeadline, SLogFile& log) {
  log = SLogFile();
  log.nDeadline = nDeadline;
  ++g_nOpenCalls;
  if (g_nOpenError != 0) return g_nOpenError;
  g_strOpenLog = pszPath;
  g_mapFiles[g_strOpenLog];
  log.bDisk = true;
  return 0;
}

int PlatformLogLock(SLogFile& log) {
  log.bLocked = true;
  return LOG_LOCK_TAKEN;
}

// What a failed name check answers: any error number will do.
const int NAME_MOVED = 116;

// Errors that the fake's other side clears: those named, and none else.
bool PlatformLogOpenMayClear(const char*, int nError, bool) {
  return nError == g_nClearableError;
}

bool PlatformLogWriteMayClear(int nError) {
  return nError == g_nClearableError;
}

int PlatformLogCheckName(const char*, const SLogFile&) {
  return g_bNameMoves ? NAME_MOVED : 0;
}

int PlatformLogBegin(SLogFile&, bool bEmpty) {
  if (bEmpty) g_mapFiles[g_strOpenLog].clear();
  g_nLogStart = g_mapFiles[g_strOpenLog].size();
  return 0;
}

int PlatformLogWrite(SLogFile& log, const SOutPiece* aPieces, int nPieces) {
  ++g_nAppendCalls;
  if (g_nNowMillis < g_nWritesRefusedUntil) return g_nClearableError;
  for (int i = 0; i < nPieces; ++i) {
    g_mapFiles[g_strOpenLog].append(aPieces[i].pData, aPieces[i].nLength);
    log.nWritten += aPieces[i].nLength;
  }
  return g_nAppendError;
}

int PlatformLogClose(SLogFile& log, bool bTakeBack) {
  std::string& strFile = g_mapFiles[g_strOpenLog];
  if (bTakeBack && log.bLocked && log.nWritten > 0 &&
      strFile.size() == g_nLogStart + log.nWritten)
    strFile.resize(g_nLogStart);
  g_strOpenLog.clear();
  return 0;
}
