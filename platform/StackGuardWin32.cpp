// The stack protector's two symbols for zarvo.exe. GCC's own (libssp) seed
// the canary from ADVAPI32's random source, a DLL that zarvo.exe does not
// need otherwise; these take the system's random numbers through msvcrt's
// rand_s, which the program imports anyway, and should that fail, mix the
// clock, the process and thread ids and the (randomised) addresses, as the
// Windows compilers seed theirs.
//
// The canary is set by a constructor, which the C runtime runs before
// main: no function that checks the canary is on the stack then, so none
// returns to a canary that changed under it. That constructor itself must
// not be checked.
#define _CRT_RAND_S  // stdlib.h declares rand_s
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdlib>

extern "C" {

// A fixed, non-zero value until the constructor replaces it.
std::uintptr_t __stack_chk_guard = 0x5a4172766f00e1d7u;

// A canary was overwritten: the stack cannot be trusted, so nothing that
// unwinds it runs. The process ends as a failed /GS check ends it.
[[noreturn]] void __stack_chk_fail() {
  static const char szReport[] =
      "*** stack smashing detected ***: terminated\r\n";
  DWORD dwWritten = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), szReport, sizeof szReport - 1,
            &dwWritten, nullptr);
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  std::abort();  // not reached: TerminateProcess does not return here
}
}

namespace {

// A 64-bit mix in which every input bit moves every output bit.
std::uint64_t Mix(std::uint64_t nValue) {
  nValue ^= nValue >> 33;
  nValue *= 0xff51afd7ed558ccdu;
  nValue ^= nValue >> 33;
  nValue *= 0xc4ceb9fe1a85ec53u;
  return nValue ^ (nValue >> 33);
}

__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
  LARGE_INTEGER tCounter;
  QueryPerformanceCounter(&tCounter);
  FILETIME tNow;
  GetSystemTimeAsFileTime(&tNow);
  std::uint64_t nSeed = Mix(std::uint64_t(tCounter.QuadPart));
  nSeed = Mix(nSeed ^ ((std::uint64_t(tNow.dwHighDateTime) << 32) |
                       tNow.dwLowDateTime));
  nSeed = Mix(nSeed ^ ((std::uint64_t(GetCurrentProcessId()) << 32) |
                       GetCurrentThreadId()));
  nSeed = Mix(nSeed ^ GetTickCount64());
  nSeed = Mix(nSeed ^ std::uintptr_t(&tCounter));
  nSeed = Mix(nSeed ^ std::uintptr_t(&__stack_chk_guard));
  unsigned nHigh = 0;
  unsigned nLow = 0;
  if (rand_s(&nHigh) == 0 && rand_s(&nLow) == 0)
    nSeed ^= (std::uint64_t(nHigh) << 32) | nLow;
  // A zero low byte: a string overflow cannot copy the canary through.
  __stack_chk_guard = std::uintptr_t(nSeed) & ~std::uintptr_t(0xff);
}

}  // namespace
