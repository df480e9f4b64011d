// CString: construction, conversion, search, slicing, editing, lists, the
// locked state, and the memory-allocation report of an oversized text.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ZString.h"

namespace {

// The exact report that an exhausted heap leaves on standard error, as an
// anchored regular expression (only "." needs escaping in it).
const char kMemoryReportRegex[] =
    "^\n\nMemory Allocation Error\n\n"
    "Not enough memory is available for this application\\.\n\n"
    "Please close some programs to free up memory and try running\n"
    "this application again\\.\n\n"
    "CString::CreateCharString\n$";

// Leaves str as a list that holds one empty item: text "" and the mark set.
// (A copy carries text only, so the mark cannot come back by value.)
void MakeEmptyItemList(CString& str) {
  str.Empty();
  str.AddToken("", ",");
}

// ------------------------------------------------------------ construction

TEST(CStringConstruction, EmptyIsNeverNull) {
  CString strDefault;
  CString strNull(static_cast<const char*>(nullptr));
  CString strBlank("");
  for (const CString* p : {&strDefault, &strNull, &strBlank}) {
    ASSERT_NE(p->GetString(), nullptr);
    EXPECT_STREQ(p->GetString(), "");
    EXPECT_EQ(p->GetLength(), 0);
    EXPECT_TRUE(p->IsEmpty());
    EXPECT_FALSE(p->IsLocked());
    EXPECT_FALSE(p->HasEmptyItem());
  }
}

TEST(CStringConstruction, CopiesOwnTheirText) {
  char szSource[] = "abc";
  CString strCopy(szSource);
  szSource[0] = 'x';
  EXPECT_STREQ(strCopy.GetString(), "abc");
  CString strSecond(strCopy);
  strCopy = "changed";
  EXPECT_STREQ(strSecond.GetString(), "abc");

  CString strList;
  MakeEmptyItemList(strList);
  CString strListCopy(strList);  // copies carry the text only
  EXPECT_FALSE(strListCopy.HasEmptyItem());
}

// A move hands the text over, short or long, and leaves the source "",
// unmarked and usable; a lent buffer stays with its borrower's string.
TEST(CStringConstruction, MoveLeavesTheSourceEmpty) {
  for (const char* pszText : {"short", "a text too long to be kept inline"}) {
    CString strSource(pszText);
    MakeEmptyItemList(strSource);
    strSource = pszText;  // keeps the mark
    CString strTarget(std::move(strSource));
    CString strAssigned;
    strAssigned = std::move(strTarget);
    for (const CString* p : {&strSource, &strTarget}) {
      EXPECT_STREQ(p->GetString(), "");
      EXPECT_FALSE(p->HasEmptyItem());
    }
    EXPECT_STREQ(strAssigned.GetString(), pszText);
    EXPECT_FALSE(strAssigned.HasEmptyItem());  // copies carry the text only
    strSource += "again";
    EXPECT_STREQ(strSource.GetString(), "again");
  }
  CString strLent("lent");
  strLent.GetBuffer(8);
  CString strCopy(std::move(strLent));
  EXPECT_STREQ(strCopy.GetString(), "lent");
  EXPECT_TRUE(strLent.IsLocked());
  EXPECT_STREQ(strLent.GetString(), "lent");
}

TEST(CStringConstruction, RepeatedCharacter) {
  EXPECT_STREQ(CString('x', 0).GetString(), "");
  EXPECT_STREQ(CString('x', 1).GetString(), "x");
  EXPECT_STREQ(CString('x', 3).GetString(), "xxx");
  EXPECT_STREQ(CString('\0', 1).GetString(), "");
  EXPECT_STREQ(CString('\0', 5).GetString(), "");
  EXPECT_EQ(CString('-', 1000).GetLength(), 1000);
}

TEST(CStringConstruction, DecimalTextOfNumbers) {
  EXPECT_STREQ(CString(0).GetString(), "0");
  EXPECT_STREQ(CString(-5).GetString(), "-5");
  EXPECT_STREQ(CString(42).GetString(), "42");
  EXPECT_STREQ(CString(INT_MAX).GetString(), "2147483647");
  EXPECT_STREQ(CString(INT_MIN).GetString(), "-2147483648");
  EXPECT_STREQ(CString(0u).GetString(), "0");
  EXPECT_STREQ(CString(4294967295u).GetString(), "4294967295");
  EXPECT_STREQ(CString(0L).GetString(), "0");
  EXPECT_STREQ(CString(-2147483647L - 1).GetString(), "-2147483648");
  EXPECT_STREQ(CString(2147483647L).GetString(), "2147483647");
}

// ------------------------------------------------------------- conversion

struct NumberCase {
  const char* pszText;
  int nExpected;
};

class CStringToNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(CStringToNumber, ToIntAndToLongAgree) {
  const NumberCase& c = GetParam();
  CString str(c.pszText);
  EXPECT_EQ(str.ToInt(), c.nExpected);
  EXPECT_EQ(str.ToLong(), long(c.nExpected));
}

// Texts outside the 32-bit range clamp to its ends instead of overflowing.
INSTANTIATE_TEST_SUITE_P(
    Texts, CStringToNumber,
    ::testing::Values(
        NumberCase{"12", 12}, NumberCase{"12abc", 12}, NumberCase{"abc", 0},
        NumberCase{" -7", -7}, NumberCase{"\t+8", 8}, NumberCase{"", 0},
        NumberCase{"-", 0}, NumberCase{"0x1F", 0},
        NumberCase{"2147483647", INT_MAX}, NumberCase{"-2147483648", INT_MIN},
        NumberCase{"2147483648", INT_MAX}, NumberCase{"-2147483649", INT_MIN},
        NumberCase{"99999999999999999999999", INT_MAX},
        NumberCase{"-99999999999999999999999", INT_MIN}));

TEST(CStringConversion, LockedStringReadsAsZero) {
  CString str("12");
  str.GetBuffer(8);
  EXPECT_EQ(str.ToInt(), 0);
  EXPECT_EQ(str.ToLong(), 0);
  str.ReleaseBuffer();
  EXPECT_EQ(str.ToInt(), 12);
}

// ------------------------------------------------------ comparison, access

TEST(CStringCompare, NullPointerEqualsNothing) {
  const char* pszNull = nullptr;
  EXPECT_FALSE(CString("abc") == pszNull);
  EXPECT_TRUE(CString("abc") != pszNull);
  EXPECT_FALSE(CString() == pszNull);
  EXPECT_TRUE(CString() != pszNull);
  EXPECT_TRUE(CString("") == "");
  EXPECT_TRUE(CString("abc") == "abc");
  EXPECT_FALSE(CString("abc") == "abd");
  EXPECT_TRUE(CString("abc") == CString("abc"));
  EXPECT_TRUE(CString("abc") != CString("ab"));
  EXPECT_FALSE(CString("abc") != CString("abc"));
}

TEST(CStringAccess, GetAtBeyondTheEndIsZero) {
  CString str("abc");
  EXPECT_EQ(str.GetAt(0), 'a');
  EXPECT_EQ(str.GetAt(2), 'c');
  EXPECT_EQ(str.GetAt(3), '\0');
  EXPECT_EQ(str.GetAt(unsigned(-1)), '\0');
  EXPECT_EQ(CString().GetAt(0), '\0');
}

TEST(CStringAccess, StreamsTextWithoutNewline) {
  std::ostringstream out;
  out << CString("ab") << CString() << CString("c");
  EXPECT_EQ(out.str(), "abc");
}

// ------------------------------------------------------ assignment, append

TEST(CStringAssign, TextsAndCharacters) {
  CString str("old");
  str = "new";
  EXPECT_STREQ(str.GetString(), "new");
  str = 'z';
  EXPECT_STREQ(str.GetString(), "z");
  str = '\0';
  EXPECT_STREQ(str.GetString(), "");
  str = "again";
  str = static_cast<const char*>(nullptr);
  EXPECT_STREQ(str.GetString(), "");
  str = CString("copy");
  EXPECT_STREQ(str.GetString(), "copy");
  str.Empty();
  EXPECT_TRUE(str.IsEmpty());
}

TEST(CStringAssign, EmptyItemMarkKeptOrCleared) {
  CString str;
  MakeEmptyItemList(str);
  ASSERT_TRUE(str.HasEmptyItem());
  str = 'a';  // a character keeps the mark
  EXPECT_TRUE(str.HasEmptyItem());
  str = "text";  // so does a non-empty text
  EXPECT_TRUE(str.HasEmptyItem());
  str += "more";
  EXPECT_TRUE(str.HasEmptyItem());
  str = "";
  EXPECT_FALSE(str.HasEmptyItem());

  MakeEmptyItemList(str);
  str = static_cast<const char*>(nullptr);
  EXPECT_FALSE(str.HasEmptyItem());
  MakeEmptyItemList(str);
  str.Empty();
  EXPECT_FALSE(str.HasEmptyItem());
}

TEST(CStringAppend, TextsCharactersAndNulls) {
  CString str;
  str += "ab";
  str += 'c';
  str += '\0';
  str += static_cast<const char*>(nullptr);
  str += "";
  str += CString("de");
  EXPECT_STREQ(str.GetString(), "abcde");
}

TEST(CStringAppend, ConcatenationLeavesOperandsAlone) {
  CString a("ab");
  CString b("cd");
  EXPECT_STREQ((a + b).GetString(), "abcd");
  EXPECT_STREQ((a + "x").GetString(), "abx");
  EXPECT_STREQ((a + static_cast<const char*>(nullptr)).GetString(), "ab");
  EXPECT_STREQ(("x" + b).GetString(), "xcd");
  EXPECT_STREQ((static_cast<const char*>(nullptr) + b).GetString(), "cd");
  EXPECT_STREQ(a.GetString(), "ab");
  EXPECT_STREQ(b.GetString(), "cd");
}

TEST(CStringSelf, AppendToItselfDoubles) {
  CString str("abc");
  str += str.GetString();
  EXPECT_STREQ(str.GetString(), "abcabc");
  str += str;
  EXPECT_STREQ(str.GetString(), "abcabcabcabc");
}

TEST(CStringSelf, AssignSuffixOfItself) {
  CString str("abcdef");
  str = str.GetString() + 1;
  EXPECT_STREQ(str.GetString(), "bcdef");
  str = str.GetString() + 3;
  EXPECT_STREQ(str.GetString(), "ef");
  const CString& strSame = str;  // self-assignment through an alias
  str = strSame;
  EXPECT_STREQ(str.GetString(), "ef");
}

// -------------------------------------------------------------- the lock

TEST(CStringLock, LockedStringRefusesEveryChange) {
  CString str("Keep Me");
  char* pszBuffer = str.GetBuffer(256);
  ASSERT_NE(pszBuffer, nullptr);
  EXPECT_TRUE(str.IsLocked());
  EXPECT_STREQ(pszBuffer, "Keep Me");

  str = "other";
  str = 'x';
  str = CString("other");
  str += "tail";
  str += 'x';
  str.Empty();
  EXPECT_FALSE(str.Replace("Keep", "Lose"));
  str.Repeat(3);
  str.AssignRepeated("zz", 2);
  str.TrimLeft("K");
  str.TrimRight("e");
  str.Trim("Ke");
  str.AddToken("item", ",");
  EXPECT_STREQ(str.MakeUpper().GetString(), "");
  EXPECT_STREQ(str.MakeLower().GetString(), "");
  EXPECT_STREQ(str.MakeUpperAt(1).GetString(), "");
  EXPECT_STREQ(str.GetString(), "Keep Me");
  EXPECT_EQ(str.GetString(), pszBuffer);  // not reallocated either
  EXPECT_EQ(str.GetLength(), 7);
  EXPECT_TRUE(str.ReleaseBuffer());
  EXPECT_FALSE(str.IsLocked());
  str = "free";
  EXPECT_STREQ(str.GetString(), "free");
}

TEST(CStringLock, BorrowerWritesAndReleaseRefits) {
  CString str("format");
  char* pszBuffer = str.GetBuffer(64);
  std::snprintf(pszBuffer, 65, "%s-%d", "written", 7);
  EXPECT_EQ(str.GetLength(), 9);  // still measured up to the NUL
  EXPECT_TRUE(str.ReleaseBuffer());
  EXPECT_FALSE(str.IsLocked());
  EXPECT_STREQ(str.GetString(), "written-7");
}

// A borrower that fills all nCount bytes leaves a text of nCount bytes:
// copies, moves, comparisons and lengths stop at the loan's last byte.
TEST(CStringLock, FullLoanStaysTerminated) {
  const std::string strFull(100, 'x');
  CString str("text");
  std::memset(str.GetBuffer(100), 'x', 100);
  EXPECT_EQ(str.GetLength(), 100);
  EXPECT_TRUE(str == strFull.c_str());
  CString strMoved(std::move(str));
  EXPECT_STREQ(strMoved.GetString(), strFull.c_str());
  str.ReleaseBuffer();
  EXPECT_STREQ(str.GetString(), strFull.c_str());
}

TEST(CStringLock, GetBufferCutsTheTextToItsSize) {
  CString str("abcdef");
  EXPECT_STREQ(str.GetBuffer(3), "abc");
  EXPECT_TRUE(str.IsLocked());
  str.ReleaseBuffer();
  EXPECT_STREQ(str.GetString(), "abc");

  CString strEmpty;
  char* pszBuffer = strEmpty.GetBuffer(4);
  EXPECT_STREQ(pszBuffer, "");
  std::memcpy(pszBuffer, "wxyz", 5);
  strEmpty.ReleaseBuffer();
  EXPECT_STREQ(strEmpty.GetString(), "wxyz");
}

TEST(CStringLock, GetBufferZeroUnlocksOrEmpties) {
  CString str("text");
  char* pszBuffer = str.GetBuffer(10);
  EXPECT_EQ(str.GetBuffer(0), pszBuffer);  // unlocks, keeps the text
  EXPECT_FALSE(str.IsLocked());
  EXPECT_STREQ(str.GetString(), "text");

  CString strList;
  MakeEmptyItemList(strList);
  EXPECT_STREQ(strList.GetBuffer(0), "");
  EXPECT_FALSE(strList.IsLocked());
  EXPECT_FALSE(strList.HasEmptyItem());
  str = "more";
  EXPECT_STREQ(str.GetBuffer(0), "");
  EXPECT_TRUE(str.IsEmpty());
}

TEST(CStringLock, ReleaseOfAnEmptyLoan) {
  // Unlocked and empty: a fresh "" that also drops the empty-item mark.
  CString strList;
  MakeEmptyItemList(strList);
  EXPECT_TRUE(strList.ReleaseBuffer());
  EXPECT_FALSE(strList.HasEmptyItem());

  // Locked and left empty by the borrower: unlocked, still "".
  CString str("abc");
  str.GetBuffer(5)[0] = '\0';
  EXPECT_TRUE(str.ReleaseBuffer());
  EXPECT_FALSE(str.IsLocked());
  EXPECT_STREQ(str.GetString(), "");
}

TEST(CStringLock, CopiesOfALockedStringAreUnlocked) {
  CString str("abc");
  str.GetBuffer(10);
  CString strCopy(str);
  EXPECT_FALSE(strCopy.IsLocked());
  strCopy += "d";
  EXPECT_STREQ(strCopy.GetString(), "abcd");
  str.ReleaseBuffer();
}

TEST(CStringLock, RelockingResizesTheLoan) {
  CString str("abcdef");
  str.GetBuffer(10);
  EXPECT_STREQ(str.GetBuffer(2), "ab");
  EXPECT_TRUE(str.IsLocked());
  str.ReleaseBuffer();
  EXPECT_STREQ(str.GetString(), "ab");
}

// ----------------------------------------------------------- case changes

TEST(CStringCase, OnlyAsciiLettersChange) {
  CString str("My.EXE");
  EXPECT_STREQ(str.MakeLower().GetString(), "my.exe");
  EXPECT_STREQ(str.GetString(), "my.exe");
  EXPECT_STREQ(str.MakeUpperAt(0).GetString(), "My.exe");
  EXPECT_STREQ(str.MakeUpperAt(10).GetString(), "");
  EXPECT_STREQ(str.GetString(), "My.exe");
  EXPECT_STREQ(str.MakeUpper().GetString(), "MY.EXE");

  CString strHigh("a\xE9z\xC4[`{@");
  strHigh.MakeUpper();
  EXPECT_STREQ(strHigh.GetString(), "A\xE9Z\xC4[`{@");
  strHigh.MakeLower();
  EXPECT_STREQ(strHigh.GetString(), "a\xE9z\xC4[`{@");
}

// ------------------------------------------------------------------ search

struct SearchCase {
  const char* pszText;
  const char* pszSub;
  int nFind;
  int nLast;
  int nCount;
};

class CStringSearchTable : public ::testing::TestWithParam<SearchCase> {};

TEST_P(CStringSearchTable, FindFindLastCountContains) {
  const SearchCase& c = GetParam();
  CString str(c.pszText);
  EXPECT_EQ(str.Find(c.pszSub), c.nFind);
  EXPECT_EQ(str.FindLast(c.pszSub), c.nLast);
  EXPECT_EQ(str.FindOccurrence(c.pszSub, 0), c.nLast);
  EXPECT_EQ(str.FindOccurrence(c.pszSub, 1), c.nFind);
  EXPECT_EQ(str.Count(c.pszSub), c.nCount);
  EXPECT_EQ(str.Contains(c.pszSub), c.nFind >= 0);
}

INSTANTIATE_TEST_SUITE_P(Texts, CStringSearchTable,
                         ::testing::Values(SearchCase{"a,b,c", ",", 1, 3, 2},
                                           SearchCase{"aaaa", "aa", 0, 2, 2},
                                           SearchCase{"aaaaa", "aa", 0, 3, 2},
                                           SearchCase{"abcabc", "bc", 1, 4, 2},
                                           SearchCase{"abc", "abc", 0, 0, 1},
                                           SearchCase{"abc", "abcd", -1, -1, 0},
                                           SearchCase{"abc", "x", -1, -1, 0},
                                           SearchCase{"abc", "", -1, -1, 0},
                                           SearchCase{"", "a", -1, -1, 0},
                                           SearchCase{"", "", -1, -1, 0}));

TEST(CStringSearch, NthOccurrenceCountsOverlaps) {
  CString str("a,b,c");
  EXPECT_EQ(str.FindOccurrence(",", 2), 3);
  EXPECT_EQ(str.FindOccurrence(",", 3), -1);
  CString strRun("aaaa");
  EXPECT_EQ(strRun.FindOccurrence("aa", 2), 1);
  EXPECT_EQ(strRun.FindOccurrence("aa", 3), 2);
  EXPECT_EQ(strRun.FindOccurrence("aa", 4), -1);
}

struct EdgeCase {
  const char* pszText;
  const char* pszSub;
  bool bStarts;
  bool bEnds;
};

class CStringEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(CStringEdges, StartsWithEndsWith) {
  const EdgeCase& c = GetParam();
  EXPECT_EQ(CString(c.pszText).StartsWith(c.pszSub), c.bStarts);
  EXPECT_EQ(CString(c.pszText).EndsWith(c.pszSub), c.bEnds);
}

INSTANTIATE_TEST_SUITE_P(Texts, CStringEdges,
                         ::testing::Values(EdgeCase{"abc", "ab", true, false},
                                           EdgeCase{"abc", "bc", false, true},
                                           EdgeCase{"abc", "abc", true, true},
                                           EdgeCase{"abc", "abcd", false,
                                                    false},
                                           EdgeCase{"abc", "", false, false},
                                           EdgeCase{"", "", false, false},
                                           EdgeCase{"", "a", false, false},
                                           EdgeCase{"aXa", "a", true, true}));

// ----------------------------------------------------------------- slicing

TEST(CStringSlice, Left) {
  CString str("abcd");
  EXPECT_STREQ(str.Left(0).GetString(), "");
  EXPECT_STREQ(str.Left(1).GetString(), "a");
  EXPECT_STREQ(str.Left(3).GetString(), "abc");
  EXPECT_STREQ(str.Left(4).GetString(), "abcd");
  EXPECT_STREQ(str.Left(99).GetString(), "abcd");
  EXPECT_STREQ(str.Left(-1).GetString(), "abcd");
  EXPECT_STREQ(CString().Left(-1).GetString(), "");
  EXPECT_STREQ(str.GetString(), "abcd");
}

TEST(CStringSlice, Mid) {
  CString str("abcd");
  EXPECT_STREQ(str.Mid(1, 0).GetString(), "bcd");
  EXPECT_STREQ(str.Mid(1, 2).GetString(), "bc");
  EXPECT_STREQ(str.Mid(2, 99).GetString(), "cd");
  EXPECT_STREQ(str.Mid(-3, 2).GetString(), "ab");
  EXPECT_STREQ(str.Mid(INT_MIN, 0).GetString(), "abcd");
  EXPECT_STREQ(str.Mid(3, 1).GetString(), "d");
  EXPECT_STREQ(str.Mid(4, 1).GetString(), "");
  EXPECT_STREQ(str.Mid(INT_MAX, 1).GetString(), "");
  EXPECT_STREQ(CString().Mid(0, 0).GetString(), "");
}

TEST(CStringSlice, Right) {
  CString str("abcd");
  EXPECT_STREQ(str.Right(2).GetString(), "cd");
  EXPECT_STREQ(str.Right(0).GetString(), "");
  EXPECT_STREQ(str.Right(4).GetString(), "abcd");
  EXPECT_STREQ(str.Right(9).GetString(), "abcd");
  EXPECT_STREQ(str.Right(unsigned(-1)).GetString(), "abcd");
  EXPECT_STREQ(CString().Right(3).GetString(), "");
}

// ----------------------------------------------------------------- replace

struct ReplaceCase {
  const char* pszText;
  const char* pszSearch;
  const char* pszReplacement;
  bool bResult;
  const char* pszExpected;
};

class CStringReplaceTable : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(CStringReplaceTable, ResultAndText) {
  const ReplaceCase& c = GetParam();
  CString str(c.pszText);
  EXPECT_EQ(str.Replace(c.pszSearch, c.pszReplacement), c.bResult);
  EXPECT_STREQ(str.GetString(), c.pszExpected);
}

// Inserted text is never searched again, so growing replacements end.
INSTANTIATE_TEST_SUITE_P(
    Texts, CStringReplaceTable,
    ::testing::Values(ReplaceCase{"abc", "b", "", true, "ac"},
                      ReplaceCase{"abc", "x", "y", true, "abc"},
                      ReplaceCase{"abc", "", "y", false, "abc"},
                      ReplaceCase{"aaa", "a", "aa", true, "aaaaaa"},
                      ReplaceCase{"aaaa", "aa", "b", true, "bb"},
                      ReplaceCase{"aaa", "aa", "a", true, "aa"},
                      ReplaceCase{"ab", "ab", "xabx", true, "xabx"},
                      ReplaceCase{"a.b.c", ".", "::", true, "a::b::c"},
                      ReplaceCase{"xx", "x", "", true, ""},
                      ReplaceCase{"%d and %d", "%d", "12", true, "12 and 12"},
                      ReplaceCase{"", "x", "y", true, ""}));

TEST(CStringReplace, EmptyResultClearsEmptyItemMark) {
  CString str;
  MakeEmptyItemList(str);
  str = "xx";
  ASSERT_TRUE(str.HasEmptyItem());
  EXPECT_TRUE(str.Replace("x", ""));
  EXPECT_FALSE(str.HasEmptyItem());

  // Nothing to replace in an empty text: the result is still "".
  CString strList;
  MakeEmptyItemList(strList);
  EXPECT_TRUE(strList.Replace("x", "y"));
  EXPECT_FALSE(strList.HasEmptyItem());
}

TEST(CStringReplace, NonEmptyResultKeepsEmptyItemMark) {
  CString str;
  MakeEmptyItemList(str);
  str = "ab";
  EXPECT_TRUE(str.Replace("a", "c"));
  EXPECT_STREQ(str.GetString(), "cb");
  EXPECT_TRUE(str.HasEmptyItem());
}

// ------------------------------------------------------------ repetition

TEST(CStringRepeat, Counts) {
  CString str("ab");
  EXPECT_STREQ(str.Repeat(1), "ab");
  EXPECT_STREQ(str.Repeat(3), "ababab");
  EXPECT_STREQ(str.Repeat(0), "");
  EXPECT_STREQ(str.Repeat(5), "");

  CString strLong("xyz");
  strLong.Repeat(1001);
  ASSERT_EQ(strLong.GetLength(), 3003);
  EXPECT_EQ(strLong.Count("xyz"), 1001);
  EXPECT_TRUE(strLong.EndsWith("xyzxyz"));
}

TEST(CStringRepeat, AssignRepeated) {
  CString str("old");
  EXPECT_STREQ(str.AssignRepeated("-=", 3), "-=-=-=");
  EXPECT_STREQ(str.AssignRepeated("", 7), "");
  str = "self";
  EXPECT_STREQ(str.AssignRepeated(str, 2), "selfself");

  CString strList;
  MakeEmptyItemList(strList);
  strList.AssignRepeated("a", 0);
  EXPECT_FALSE(strList.HasEmptyItem());
  MakeEmptyItemList(strList);
  strList.Repeat(4);
  EXPECT_FALSE(strList.HasEmptyItem());
}

// ------------------------------------------------------------------- trims

struct TrimCase {
  const char* pszText;
  const char* pszSet;
  const char* pszLeft;
  const char* pszRight;
  const char* pszBoth;
};

class CStringTrimTable : public ::testing::TestWithParam<TrimCase> {};

TEST_P(CStringTrimTable, LeftRightBoth) {
  const TrimCase& c = GetParam();
  CString strLeft(c.pszText), strRight(c.pszText), strBoth(c.pszText);
  EXPECT_STREQ(strLeft.TrimLeft(c.pszSet), c.pszLeft);
  EXPECT_STREQ(strRight.TrimRight(c.pszSet), c.pszRight);
  EXPECT_STREQ(strBoth.Trim(c.pszSet), c.pszBoth);
  EXPECT_STREQ(strBoth.GetString(), c.pszBoth);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CStringTrimTable,
    ::testing::Values(TrimCase{" \t ab c \n", " \t\n", "ab c \n", " \t ab c",
                               "ab c"},
                      TrimCase{"xxx", "x", "", "", ""},
                      TrimCase{"abc", "", "abc", "abc", "abc"},
                      TrimCase{"", " ", "", "", ""},
                      TrimCase{"xyaxy", "yx", "axy", "xya", "a"},
                      TrimCase{"\r\nline\r\n", " \t\n", "\r\nline\r\n",
                               "\r\nline\r", "\r\nline\r"}));

TEST(CStringTrim, EmptyResultClearsEmptyItemMark) {
  for (int nWhich = 0; nWhich < 3; ++nWhich) {
    CString str;
    MakeEmptyItemList(str);
    str = "xxx";
    ASSERT_TRUE(str.HasEmptyItem());
    if (nWhich == 0) str.TrimLeft("x");
    if (nWhich == 1) str.TrimRight("x");
    if (nWhich == 2) str.Trim("x");
    EXPECT_TRUE(str.IsEmpty());
    EXPECT_FALSE(str.HasEmptyItem()) << "trim " << nWhich;
  }
}

TEST(CStringTrim, TrimOfAnEmptyListClearsEmptyItemMark) {
  // The trimmed text is "", stored by assignment, even with nothing to cut.
  CString str;
  MakeEmptyItemList(str);
  str.TrimLeft(" ");
  EXPECT_FALSE(str.HasEmptyItem());
  MakeEmptyItemList(str);
  str.TrimRight("");
  EXPECT_FALSE(str.HasEmptyItem());
}

TEST(CStringTrim, NonEmptyResultKeepsEmptyItemMark) {
  CString str;
  MakeEmptyItemList(str);
  str = "  a  ";
  str.Trim(" ");
  EXPECT_STREQ(str.GetString(), "a");
  EXPECT_TRUE(str.HasEmptyItem());
}

// ------------------------------------------------------------------- lists

TEST(CStringList, AddTokenAndEmptyItems) {
  struct Case {
    std::vector<const char*> aItems;
    const char* pszText;
    int nCount;
    bool bEmptyItem;
  };
  const Case aCases[] = {
      {{"a", "b"}, "a,b", 2, false},
      {{"a"}, "a", 1, false},
      {{""}, "", 1, true},
      {{"", ""}, ",", 2, false},
      {{"", "b"}, ",b", 2, false},
      {{"a", ""}, "a,", 2, false},
      {{"", "", ""}, ",,", 3, false},
      {{}, "", 0, false},
  };
  for (const Case& c : aCases) {
    CString list;
    for (const char* pszItem : c.aItems) list.AddToken(pszItem, ",");
    SCOPED_TRACE(c.pszText);
    EXPECT_STREQ(list.GetString(), c.pszText);
    EXPECT_EQ(list.GetTokenCount(","), c.nCount);
    EXPECT_EQ(list.HasEmptyItem(), c.bEmptyItem);
  }
}

TEST(CStringList, LongerSeparators) {
  CString list;
  list.AddToken("one", "::");
  list.AddToken("two", "::");
  list.AddToken("", "::");
  EXPECT_STREQ(list.GetString(), "one::two::");
  EXPECT_EQ(list.GetTokenCount("::"), 3);
  EXPECT_STREQ(list.GetToken(1, "::").GetString(), "two");
  EXPECT_STREQ(list.GetToken(2, "::").GetString(), "");
}

struct TokenCase {
  const char* pszList;
  int nIndex;
  const char* pszItem;
};

class CStringToken : public ::testing::TestWithParam<TokenCase> {};

TEST_P(CStringToken, GetToken) {
  const TokenCase& c = GetParam();
  EXPECT_STREQ(CString(c.pszList).GetToken(c.nIndex, ",").GetString(),
               c.pszItem);
}

// Only the ends of the whole list are trimmed; items keep their blanks.
INSTANTIATE_TEST_SUITE_P(
    Lists, CStringToken,
    ::testing::Values(TokenCase{"a,b,c", 0, "a"}, TokenCase{"a,b,c", 1, "b"},
                      TokenCase{"a,b,c", 2, "c"}, TokenCase{"a,b,c", 3, ""},
                      TokenCase{"a,b,c", -1, "c"}, TokenCase{"a,b,c", -7, "c"},
                      TokenCase{"abc", 0, "abc"}, TokenCase{"abc", 1, ""},
                      TokenCase{"abc", -1, ""}, TokenCase{"a, b", 1, " b"},
                      TokenCase{" \ta,b \n", 0, "a"},
                      TokenCase{" \ta,b \n", 1, "b"},
                      TokenCase{"a,b\r", 1, "b\r"}, TokenCase{",b", 0, ""},
                      TokenCase{",b", 1, "b"}, TokenCase{"a,", 1, ""},
                      TokenCase{"", 0, ""}, TokenCase{"   ", 0, ""}));

TEST(CStringList, EmptySeparatorHasNoItems) {
  CString list("a,b");
  EXPECT_EQ(list.GetTokenCount(""), 0);
  EXPECT_STREQ(list.GetToken(0, "").GetString(), "");
  EXPECT_STREQ(list.GetToken(1, "").GetString(), "");
  EXPECT_EQ(CString().GetTokenCount(","), 0);
}

TEST(CStringList, LockedListKeepsItsText) {
  CString list("a");
  list.GetBuffer(4);
  list.AddToken("b", ",");
  EXPECT_STREQ(list.GetString(), "a");
  list.ReleaseBuffer();
  list.AddToken("b", ",");
  EXPECT_STREQ(list.GetString(), "a,b");
}

// ------------------------------------------- exhausted heap (child process)

using CStringDeathTest = ::testing::Test;

TEST_F(CStringDeathTest, RepeatPastTheLimitPrintsMemoryReport) {
  EXPECT_EXIT(CString("ab").Repeat(0x7FFFFFFFu), ::testing::ExitedWithCode(1),
              kMemoryReportRegex);
}

TEST_F(CStringDeathTest, SizeThatWouldWrapToZeroIsRefused) {
  // 2 * 2^31 and 4 * 2^30 are 2^32, which a 32-bit size would wrap to 0.
  EXPECT_EXIT(CString("ab").Repeat(0x80000000u), ::testing::ExitedWithCode(1),
              kMemoryReportRegex);
  EXPECT_EXIT(CString("abcd").AssignRepeated("abcd", 0x40000000u),
              ::testing::ExitedWithCode(1), kMemoryReportRegex);
}

TEST_F(CStringDeathTest, OneByteTooManyIsRefused) {
  EXPECT_EXIT(CString("a").Repeat(0x80000000u), ::testing::ExitedWithCode(1),
              kMemoryReportRegex);
  EXPECT_EXIT(CString('x', 0x80000000u), ::testing::ExitedWithCode(1),
              kMemoryReportRegex);
}

TEST_F(CStringDeathTest, HugeBufferLoanPrintsMemoryReport) {
  EXPECT_EXIT(CString("abc").GetBuffer(0x80000000u),
              ::testing::ExitedWithCode(1), kMemoryReportRegex);
  EXPECT_EXIT(CString::CreateCharString(0xFFFFFFFFu),
              ::testing::ExitedWithCode(1), kMemoryReportRegex);
}

TEST_F(CStringDeathTest, NegativeCountArrivesAsHugeCount) {
  EXPECT_EXIT(CString("abc").Repeat(unsigned(-1)), ::testing::ExitedWithCode(1),
              kMemoryReportRegex);
}

}  // namespace
