// Starts a program as unattended callers do (Task Scheduler, services, GUI
// programs) and prints "exit N", or "timeout" when it has not ended within
// 60 s (it is then ended).
//
//   launcher nowindow|detached|nohandles PROGRAM ARGS...
//
// nowindow: CREATE_NO_WINDOW, a console without a window; detached:
// DETACHED_PROCESS, no console; nohandles: NULL standard handles.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::wstring strMode = argv[1];
  STARTUPINFOW tStart = {};
  tStart.cb = sizeof tStart;
  if (strMode == L"nohandles") tStart.dwFlags = STARTF_USESTDHANDLES;
  DWORD dwFlags = strMode == L"nowindow"   ? CREATE_NO_WINDOW
                  : strMode == L"detached" ? DETACHED_PROCESS
                                           : 0;
  std::wstring strLine;
  for (int i = 2; i < argc; ++i)
    strLine += (i > 2 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  PROCESS_INFORMATION tChild;
  if (!CreateProcessW(nullptr, &strLine[0], nullptr, nullptr, FALSE, dwFlags,
                      nullptr, nullptr, &tStart, &tChild)) {
    std::printf("cannot start: %lu\n", GetLastError());
    return 2;
  }
  DWORD dwExit = 0;
  if (WaitForSingleObject(tChild.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(tChild.hProcess, 1);
    std::printf("timeout\n");
    return 1;
  }
  GetExitCodeProcess(tChild.hProcess, &dwExit);
  std::printf("exit %lu\n", dwExit);
  return 0;
}
