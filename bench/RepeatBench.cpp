// Cost of CString::Repeat against the length of its result. The repeat is
// built in one buffer of the final size, so the fitted complexity comes out
// as O(N) and the bytes per second stay flat from 10^3 to 10^7 bytes.
#include <benchmark/benchmark.h>

#include <cstring>

#include "ZString.h"

namespace {

// Repeats pszUnit until the result holds state.range(0) bytes.
void RepeatToLength(benchmark::State& state, const char* pszUnit) {
  const unsigned nBytes = unsigned(state.range(0));
  const unsigned nUnit = unsigned(std::strlen(pszUnit));
  const unsigned nCount = nBytes / nUnit;
  for (auto _ : state) {
    CString str(pszUnit);
    benchmark::DoNotOptimize(str.Repeat(nCount));
    benchmark::ClobberMemory();
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(int64_t(state.iterations()) * nBytes);
}

// A message of ten bytes, as /R:n repeats it.
void BM_RepeatMessage(benchmark::State& state) {
  RepeatToLength(state, "Build done");
}

// One byte per copy: the most copies for a given length.
void BM_RepeatByte(benchmark::State& state) { RepeatToLength(state, "x"); }

BENCHMARK(BM_RepeatMessage)
    ->RangeMultiplier(10)
    ->Range(1000, 10000000)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_RepeatByte)
    ->RangeMultiplier(10)
    ->Range(1000, 10000000)
    ->Complexity(benchmark::oN);

}  // namespace
