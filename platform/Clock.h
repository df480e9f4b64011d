// The clocks: the calendar time that /F shows, and the steady clock that
// every wait is measured on (PlatformPosix.cpp, PlatformWin32.cpp).
#ifndef ZARVO_PLATFORM_CLOCK_H
#define ZARVO_PLATFORM_CLOCK_H

#include <ctime>

// Current calendar time in whole seconds.
std::time_t PlatformNow();

// Milliseconds on a steady clock, which only moves forward, at the pace of
// real time, whatever happens to the calendar clock (set, stepped, frozen).
long long PlatformSteadyMillis();

// Sleeps for nMillis without reading the keyboard.
void PlatformSleep(int nMillis);

// Local broken-down time of tTime, in the system's time zone (on POSIX as
// TZ names it, on Windows as its own settings give it); false when it
// cannot be converted.
bool PlatformLocalTime(std::time_t tTime, std::tm* pTm);

#endif
