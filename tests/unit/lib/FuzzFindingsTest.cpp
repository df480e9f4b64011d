// Regression tests for what the fuzz targets found in the string class;
// each input that found a fault is also kept in fuzz/corpus/.
#include <gtest/gtest.h>

#include "ZString.h"

namespace {

// An empty list item leaves the text "" and sets the mark; assigning the
// string to itself stores "" again, which clears the mark as every other
// assignment of "" does, so the list then holds no item.
TEST(FuzzFindings, EmptySelfAssignmentClearsTheEmptyItemMark) {
  CString strList;
  strList.AddToken("", ",");
  ASSERT_TRUE(strList.HasEmptyItem());
  ASSERT_EQ(strList.GetTokenCount(","), 1);
  const CString& strSame = strList;
  strList = strSame;
  EXPECT_FALSE(strList.HasEmptyItem());
  EXPECT_EQ(strList.GetTokenCount(","), 0);
  EXPECT_STREQ(strList.GetString(), "");
}

// A non-empty self-assignment keeps both the text and the mark.
TEST(FuzzFindings, SelfAssignmentKeepsText) {
  CString strList;
  strList.AddToken("", ",");
  strList = "abc";  // a non-empty assignment keeps the mark
  const CString& strSame = strList;
  strList = strSame;
  EXPECT_STREQ(strList.GetString(), "abc");
  EXPECT_TRUE(strList.HasEmptyItem());
}

// Self-assignment of a locked string changes nothing.
TEST(FuzzFindings, LockedSelfAssignmentChangesNothing) {
  CString str("");
  str.AddToken("", ",");
  char* pszBuffer = str.GetBuffer(4);
  pszBuffer[0] = 'x';
  pszBuffer[1] = '\0';
  const CString& strSame = str;
  str = strSame;
  EXPECT_STREQ(str.GetString(), "x");
  EXPECT_TRUE(str.IsLocked());
  EXPECT_TRUE(str.HasEmptyItem());
  str.ReleaseBuffer();
  EXPECT_STREQ(str.GetString(), "x");
}

}  // namespace
