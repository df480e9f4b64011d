// Starts a program as unattended callers do and prints "exit N", 259 for one
// that it had to end after 60 s: launcher nowindow|detached PROGRAM ARGS...
// (CREATE_NO_WINDOW; DETACHED_PROCESS with no standard handles).
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::wstring strLine;
  for (int i = 2; i < argc; ++i)
    strLine += L"\"" + std::wstring(argv[i]) + L"\" ";
  bool bDetached = std::wstring(argv[1]) == L"detached";
  STARTUPINFOW tStart = {};
  tStart.cb = sizeof tStart;
  tStart.dwFlags = bDetached ? STARTF_USESTDHANDLES : 0;
  PROCESS_INFORMATION tChild;
  if (!CreateProcessW(nullptr, &strLine[0], nullptr, nullptr, FALSE,
                      bDetached ? DETACHED_PROCESS : CREATE_NO_WINDOW, nullptr,
                      nullptr, &tStart, &tChild))
    return 2;
  DWORD dwExit = STILL_ACTIVE;
  if (WaitForSingleObject(tChild.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(tChild.hProcess, &dwExit);
  else
    TerminateProcess(tChild.hProcess, dwExit);
  std::printf("exit %lu\n", dwExit);
  return 0;
}
