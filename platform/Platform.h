// What every service of the operating system shares, and the process
// start. Each service has a header of its own, with a source per system
// behind it (the unit tests link a scripted stand-in instead):
//   Keyboard.h     the console keyboard of the waits    Terminal*.cpp
//   Clock.h        calendar time, steady clock, sleep   Platform*.cpp
//   Output.h       standard output and error            OutputStreams.cpp,
//                                                       Platform*.cpp
//   Environment.h  environment variables                Platform*.cpp
//   LogFile.h      the log file                         LogFile*.cpp
// where * is Posix or Win32.
#ifndef ZARVO_PLATFORM_PLATFORM_H
#define ZARVO_PLATFORM_PLATFORM_H

#include <cstddef>

// A run of bytes that one write request hands over together with others.
struct SOutPiece {
  const char* pData;
  std::size_t nLength;
};

// Windows only: the arguments that the runtime parsed from the UTF-16
// command line, as UTF-8 texts that last as long as the process
// (PlatformWin32.cpp).
const char* const* PlatformUtf8Arguments(int argc, const wchar_t* const* argv);

#endif
