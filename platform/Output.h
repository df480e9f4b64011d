// Standard output and standard error as the tool writes them: each text in
// one write request, the first error kept for the end of the run
// (OutputStreams.cpp on the system call of PlatformPosix.cpp or
// PlatformWin32.cpp), and the texts of the reports.
#ifndef ZARVO_PLATFORM_OUTPUT_H
#define ZARVO_PLATFORM_OUTPUT_H

#include <cstddef>

class CString;

// Hands nLength bytes of pData, then nTail bytes of pTail, to standard
// output at once, in one write request, so that a line shared with other
// writers arrives whole. Where the system takes several pieces in one
// request, neither text is copied.
void PlatformWriteStdout(const char* pData, std::size_t nLength,
                         const char* pTail = "", std::size_t nTail = 0);

// The first error that writing standard output met, as the system's error
// number, or 0. Nothing more is written after it. A reader that closed the
// pipe is no error: what it no longer wants is dropped.
int PlatformStdoutError();

// Whether the output so far leaves the cursor mid-line: something was
// written, and its last character is not a line feed.
bool PlatformStdoutMidLine();

// Writes strLine and a line end to standard error in one write request;
// a failure is not reported anywhere.
void PlatformWriteStderr(const CString& strLine);

// Whether standard error shows where standard output does (one terminal,
// file or pipe), so that a report there would continue the display's line.
bool PlatformStderrJoinsStdout();

// The system's own text for one of its error numbers, without a line end.
CString PlatformErrorText(int nError);

// A path as a report names it: on Windows in double quotes when it begins
// or ends with a blank, which would not show otherwise; elsewhere as it is.
CString PlatformReportPath(const CString& strPath);

#endif
