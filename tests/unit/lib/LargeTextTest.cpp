// Texts past the large-buffer threshold (4 MiB), where the buffer is
// advised for huge pages before it is filled: every byte must still be the
// one that a small text would hold.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ZString.h"

namespace {

const unsigned MIB = 1u << 20;

// Index of the first byte of strText that breaks the repetition of strUnit,
// or -1 when every byte is the unit's byte at that place.
long FirstMismatch(const CString& strText, const std::string& strUnit) {
  const char* pszText = strText.GetString();
  std::size_t nLength = std::size_t(strText.GetLength());
  for (std::size_t i = 0; i < nLength; ++i)
    if (pszText[i] != strUnit[i % strUnit.size()]) return long(i);
  return -1;
}

struct LargeRepeatCase {
  const char* pszUnit;
  unsigned nCount;
};

class CStringLargeRepeat : public ::testing::TestWithParam<LargeRepeatCase> {};

// Units whose lengths do not divide 2 MiB, so copies straddle every page
// boundary; counts just below, at and above the threshold.
TEST_P(CStringLargeRepeat, EveryByteIsACopyOfTheUnit) {
  const LargeRepeatCase& tCase = GetParam();
  std::string strUnit(tCase.pszUnit);
  CString str(tCase.pszUnit);
  str.Repeat(tCase.nCount);
  ASSERT_EQ(std::size_t(str.GetLength()), strUnit.size() * tCase.nCount);
  EXPECT_EQ(FirstMismatch(str, strUnit), -1);
  EXPECT_EQ(str.GetString()[str.GetLength()], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    AroundTheThreshold, CStringLargeRepeat,
    ::testing::Values(LargeRepeatCase{"x", 4 * MIB - 1},
                      LargeRepeatCase{"x", 4 * MIB},
                      LargeRepeatCase{"abcdefghij", 1000003},
                      LargeRepeatCase{"0123456", 2 * MIB + 5}));

// A buffer lent out at a large size is written end to end by the caller
// and keeps its bytes once released.
TEST(CStringLargeBuffer, GetBufferKeepsEveryByte) {
  const unsigned nSize = 6 * MIB + 3;
  CString str;
  char* pszArea = str.GetBuffer(nSize);
  for (unsigned i = 0; i < nSize; ++i) pszArea[i] = char('a' + i % 26);
  pszArea[nSize] = '\0';
  str.ReleaseBuffer();
  ASSERT_EQ(unsigned(str.GetLength()), nSize);
  EXPECT_EQ(FirstMismatch(str, "abcdefghijklmnopqrstuvwxyz"), -1);
  CString strCopy(str);
  EXPECT_EQ(std::memcmp(strCopy.GetString(), str.GetString(), nSize + 1), 0);
}

}  // namespace
