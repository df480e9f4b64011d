// Drives CString through random sequences of operations on two strings and
// checks every result against a plain std::string model of the same text,
// lock state and empty-item mark. Counts and buffer sizes stay small, so
// no input reaches the memory-allocation report (which ends the process).
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ExpectedText.h"
#include "ZString.h"

namespace {

// Model texts stop growing here; repeats and appends beyond it are skipped.
const std::size_t MAX_MODEL_TEXT = 1 << 16;
const unsigned MAX_REPEAT = 16;
const unsigned MAX_LEND = 300;

struct Model {
  std::string strText;
  bool bLocked = false;
  bool bEmptyItem = false;
};

[[noreturn]] void Fail(const char* pszWhat, int nOp) {
  std::fprintf(stderr, "CString model mismatch: %s (operation %d)\n", pszWhat,
               nOp);
  std::abort();
}

void Check(bool bOk, const char* pszWhat, int nOp) {
  if (!bOk) Fail(pszWhat, nOp);
}

// The text a const char* argument carries: up to its first NUL.
std::string Cut(const std::string& str) { return std::string(str.c_str()); }

int ModelFind(const std::string& strText, const std::string& strSub) {
  if (strText.empty() || strSub.empty()) return -1;
  std::size_t nPos = strText.find(strSub);
  return nPos == std::string::npos ? -1 : int(nPos);
}

// n >= 1: the n-th occurrence counting overlaps; n = 0: the last one.
int ModelFindOccurrence(const std::string& strText, const std::string& strSub,
                        unsigned n) {
  if (strText.empty() || strSub.empty()) return -1;
  int nLast = -1;
  unsigned nSeen = 0;
  for (std::size_t p = strText.find(strSub); p != std::string::npos;
       p = strText.find(strSub, p + 1)) {
    ++nSeen;
    nLast = int(p);
    if (n >= 1 && nSeen == n) return nLast;
  }
  return n == 0 ? nLast : -1;
}

int ModelCount(const std::string& strText, const std::string& strSub) {
  if (strText.empty() || strSub.empty()) return 0;
  int nCount = 0;
  for (std::size_t p = strText.find(strSub); p != std::string::npos;
       p = strText.find(strSub, p + strSub.size()))
    ++nCount;
  return nCount;
}

bool InSet(char ch, const std::string& strSet) {
  return strSet.find(ch) != std::string::npos;
}

// The trims store their result by assignment: "" clears the mark.
void ModelTrimLeft(Model& m, const std::string& strSet) {
  if (m.bLocked) return;
  std::size_t n = 0;
  while (n < m.strText.size() && InSet(m.strText[n], strSet)) ++n;
  m.strText.erase(0, n);
  if (m.strText.empty()) m.bEmptyItem = false;
}

void ModelTrimRight(Model& m, const std::string& strSet) {
  if (m.bLocked) return;
  std::size_t n = m.strText.size();
  while (n > 0 && InSet(m.strText[n - 1], strSet)) --n;
  m.strText.resize(n);
  if (m.strText.empty()) m.bEmptyItem = false;
}

std::string Trimmed(const std::string& strText, const std::string& strSet) {
  Model m;
  m.strText = strText;
  ModelTrimLeft(m, strSet);
  ModelTrimRight(m, strSet);
  return m.strText;
}

std::string ModelGetToken(const std::string& strText, int nIndex,
                          const std::string& strSep) {
  if (strSep.empty()) return "";
  std::string strWork = Trimmed(strText, " \t\n");
  if (strWork.empty()) return "";
  if (nIndex == 0) {
    int p = ModelFind(strWork, strSep);
    return p < 0 ? strWork : strWork.substr(0, std::size_t(p));
  }
  unsigned nNth = nIndex > 0 ? unsigned(nIndex) : 0;
  int p = ModelFindOccurrence(strWork, strSep, nNth);
  if (p < 0) return "";
  std::string strRest = strWork.substr(std::size_t(p) + strSep.size());
  int q = ModelFind(strRest, strSep);
  return q < 0 ? strRest : strRest.substr(0, std::size_t(q));
}

int ModelTokenCount(const Model& m, const std::string& strSep) {
  if (m.bEmptyItem) return 1;
  if (m.strText.empty() || strSep.empty()) return 0;
  return ModelCount(m.strText, strSep) + 1;
}

long ModelToLong(const Model& m) {
  if (m.bLocked) return 0;
  long long nValue = std::strtoll(m.strText.c_str(), nullptr, 10);
  if (nValue > INT32_MAX) return INT32_MAX;
  if (nValue < INT32_MIN) return INT32_MIN;
  return long(nValue);
}

std::string AsciiUpper(std::string str) {
  for (char& ch : str)
    if (ch >= 'a' && ch <= 'z') ch = char(ch - 'a' + 'A');
  return str;
}

std::string AsciiLower(std::string str) {
  for (char& ch : str)
    if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
  return str;
}

// Assignment of a text: "" clears the mark, any other text keeps it.
void ModelAssign(Model& m, const std::string& strText) {
  if (m.bLocked) return;
  m.strText = strText;
  if (strText.empty()) m.bEmptyItem = false;
}

void ModelAppend(Model& m, const std::string& strText) {
  if (!m.bLocked) m.strText += strText;
}

// An argument text: often a piece of one of the strings, so that searches
// hit, otherwise random bytes (a NUL ends the text as it would in C).
std::string Argument(FuzzedDataProvider& data, const Model* aModel) {
  if (data.ConsumeBool()) {
    const std::string& strFrom = aModel[data.ConsumeBool() ? 1 : 0].strText;
    std::size_t nStart =
        data.ConsumeIntegralInRange<std::size_t>(0, strFrom.size());
    std::size_t nLength = data.ConsumeIntegralInRange<std::size_t>(0, 8);
    return strFrom.substr(nStart, nLength);
  }
  return Cut(data.ConsumeRandomLengthString(32));
}

// Compares the whole observable state of s with its model.
void CheckState(const CString& s, const Model& m, int nOp) {
  Check(s.GetString() != nullptr, "GetString is null", nOp);
  Check(m.strText == s.GetString(), "text", nOp);
  Check(s.GetLength() == int(m.strText.size()), "GetLength", nOp);
  Check(s.IsEmpty() == m.strText.empty(), "IsEmpty", nOp);
  Check(s.IsLocked() == m.bLocked, "lock state", nOp);
  Check(s.HasEmptyItem() == m.bEmptyItem, "empty-item mark", nOp);
}

// The operations that read a string and build new ones.
void ReadingOperation(int nOp, FuzzedDataProvider& data, const CString& s,
                      const Model& m, const Model* aModel) {
  const std::string& t = m.strText;
  switch (nOp) {
    case 0: {
      std::string strSub = Argument(data, aModel);
      CString sub(strSub.c_str());
      int nFind = s.Find(sub);
      Check(nFind == ModelFind(t, strSub), "Find", nOp);
      Check(s.Contains(sub) == (nFind >= 0), "Contains", nOp);
      int nCount = s.Count(sub);
      Check(nCount == ModelCount(t, strSub), "Count", nOp);
      Check((nCount > 0) == (nFind >= 0), "Count against Find", nOp);
      unsigned n = data.ConsumeIntegralInRange<unsigned>(0, 6);
      Check(s.FindOccurrence(sub, n) == ModelFindOccurrence(t, strSub, n),
            "FindOccurrence", nOp);
      Check(s.FindLast(sub) == ModelFindOccurrence(t, strSub, 0), "FindLast",
            nOp);
      bool bFits = !strSub.empty() && t.size() >= strSub.size();
      Check(s.StartsWith(sub) ==
                (bFits && t.compare(0, strSub.size(), strSub) == 0),
            "StartsWith", nOp);
      Check(s.EndsWith(sub) == (bFits && t.compare(t.size() - strSub.size(),
                                                   strSub.size(), strSub) == 0),
            "EndsWith", nOp);
      break;
    }
    case 1: {
      int nLength = int(t.size());
      int n = data.ConsumeIntegralInRange<int>(-3, nLength + 3);
      std::string strLeft = n == 0 ? ""
                            : (n < 0 || n >= nLength)
                                ? t
                                : t.substr(0, std::size_t(n));
      Check(s.Left(n) == strLeft.c_str(), "Left", nOp);
      unsigned nRight =
          data.ConsumeIntegralInRange<unsigned>(0, unsigned(nLength) + 3);
      std::string strRight =
          nRight >= unsigned(nLength) ? t : t.substr(t.size() - nRight);
      if (nRight == 0) strRight.clear();
      Check(s.Right(nRight) == strRight.c_str(), "Right", nOp);
      int nStart = data.ConsumeIntegralInRange<int>(-3, nLength + 3);
      unsigned nCount =
          data.ConsumeIntegralInRange<unsigned>(0, unsigned(nLength) + 3);
      std::string strMid;
      if (nStart < nLength) {
        std::size_t nFrom = std::size_t(nStart < 0 ? 0 : nStart);
        strMid = nCount == 0 ? t.substr(nFrom) : t.substr(nFrom, nCount);
      }
      Check(s.Mid(nStart, nCount) == strMid.c_str(), "Mid", nOp);
      break;
    }
    case 2: {
      unsigned nPos =
          data.ConsumeIntegralInRange<unsigned>(0, unsigned(t.size()) + 2);
      if (data.ConsumeBool()) nPos = data.ConsumeIntegral<unsigned>();
      Check(s.GetAt(nPos) == (nPos < t.size() ? t[nPos] : '\0'), "GetAt", nOp);
      Check(s.ToInt() == int(ModelToLong(m)), "ToInt", nOp);
      Check(s.ToLong() == ModelToLong(m), "ToLong", nOp);
      break;
    }
    case 3: {
      std::string strSep = Argument(data, aModel);
      CString sep(strSep.c_str());
      Check(s.GetTokenCount(sep) == ModelTokenCount(m, strSep), "GetTokenCount",
            nOp);
      int nIndex = data.ConsumeIntegralInRange<int>(-2, 8);
      Check(s.GetToken(nIndex, sep) == ModelGetToken(t, nIndex, strSep).c_str(),
            "GetToken", nOp);
      break;
    }
    case 4: {
      std::string strOther = Argument(data, aModel);
      CString other(strOther.c_str());
      Check((s == other) == (t == strOther), "== CString", nOp);
      Check((s != other) == (t != strOther), "!= CString", nOp);
      Check((s == strOther.c_str()) == (t == strOther), "== text", nOp);
      Check(!(s == static_cast<const char*>(nullptr)), "== null", nOp);
      Check(s != static_cast<const char*>(nullptr), "!= null", nOp);
      Check((s + other) == (t + strOther).c_str(), "CString + CString", nOp);
      Check((s + strOther.c_str()) == (t + strOther).c_str(), "CString + text",
            nOp);
      Check((strOther.c_str() + s) == (strOther + t).c_str(), "text + CString",
            nOp);
      Check((s + static_cast<const char*>(nullptr)) == t.c_str(),
            "CString + null", nOp);
      // A copy carries the text only.
      CString copy(s);
      Check(copy == t.c_str() && !copy.IsLocked() && !copy.HasEmptyItem(),
            "copy", nOp);
      break;
    }
    default: {
      // Number texts are canonical and convert back to the same value.
      int nValue = data.ConsumeIntegral<int>();
      Check(CString(nValue) == std::to_string(nValue).c_str(), "CString(int)",
            nOp);
      Check(CString(long(nValue)).ToLong() == nValue, "CString(long)", nOp);
      unsigned nUnsigned = data.ConsumeIntegral<unsigned>();
      Check(CString(nUnsigned) == std::to_string(nUnsigned).c_str(),
            "CString(unsigned)", nOp);
      char ch = data.ConsumeIntegral<char>();
      unsigned nCount = data.ConsumeIntegralInRange<unsigned>(0, MAX_REPEAT);
      std::string strRun = ch == '\0' ? "" : std::string(nCount, ch);
      Check(CString(ch, nCount) == strRun.c_str(), "CString(char, count)", nOp);
      break;
    }
  }
}

// The operations that change the string; the model follows each one.
void EditingOperation(int nOp, FuzzedDataProvider& data, CString* aStr,
                      Model* aModel, int k) {
  CString& s = aStr[k];
  Model& m = aModel[k];
  int j = data.ConsumeBool() ? 1 - k : k;
  switch (nOp) {
    case 10: {
      std::string strText = Cut(data.ConsumeRandomLengthString(64));
      s = strText.c_str();
      ModelAssign(m, strText);
      break;
    }
    case 11:
      s = static_cast<const char*>(nullptr);
      ModelAssign(m, "");
      break;
    case 12: {
      char ch = data.ConsumeIntegral<char>();
      s = ch;
      if (!m.bLocked) m.strText = ch == '\0' ? "" : std::string(1, ch);
      break;
    }
    case 13: {
      std::string strOther = aModel[j].strText;
      s = aStr[j];
      ModelAssign(m, strOther);
      break;
    }
    case 14:
      s.Empty();
      ModelAssign(m, "");
      break;
    case 15: {
      if (m.strText.size() + aModel[j].strText.size() > MAX_MODEL_TEXT) break;
      std::string strOther = aModel[j].strText;
      if (data.ConsumeBool())
        s += aStr[j];
      else
        s += aStr[j].GetString();
      ModelAppend(m, strOther);
      break;
    }
    case 16: {
      std::string strText = Cut(data.ConsumeRandomLengthString(16));
      if (m.strText.size() > MAX_MODEL_TEXT) break;
      if (data.ConsumeBool() || strText.empty()) {
        char ch = strText.empty() ? '\0' : strText[0];
        s += ch;
        ModelAppend(m, ch == '\0' ? "" : std::string(1, ch));
      } else {
        s += strText.c_str();
        ModelAppend(m, strText);
      }
      break;
    }
    case 17: {
      // Assigning a suffix of the string's own buffer.
      std::size_t nSkip =
          data.ConsumeIntegralInRange<std::size_t>(0, m.strText.size());
      std::string strSuffix = m.strText.substr(nSkip);
      s = s.GetString() + nSkip;
      ModelAssign(m, strSuffix);
      break;
    }
    case 18: {
      unsigned nCount = data.ConsumeIntegralInRange<unsigned>(0, MAX_LEND);
      char* pszBuffer = s.GetBuffer(nCount);
      Check(pszBuffer != nullptr, "GetBuffer null", nOp);
      if (nCount == 0) {
        if (m.bLocked)
          m.bLocked = false;
        else
          ModelAssign(m, "");
        Check(std::strlen(pszBuffer) == m.strText.size(), "GetBuffer(0)", nOp);
        break;
      }
      m.strText = m.strText.substr(0, nCount);
      m.bLocked = true;
      Check(m.strText == pszBuffer, "GetBuffer keeps the text", nOp);
      if (data.ConsumeBool()) {
        // The borrower writes up to nCount bytes and a terminator.
        std::string strWrite = data.ConsumeRandomLengthString(nCount);
        std::memcpy(pszBuffer, strWrite.data(), strWrite.size());
        pszBuffer[strWrite.size()] = '\0';
        m.strText = Cut(strWrite);
      }
      break;
    }
    case 19:
      Check(s.ReleaseBuffer(), "ReleaseBuffer result", nOp);
      if (m.strText.empty() && !m.bLocked) m.bEmptyItem = false;
      m.bLocked = false;
      break;
    case 20: {
      int nKind = data.ConsumeIntegralInRange<int>(0, 2);
      unsigned nPos = data.ConsumeIntegralInRange<unsigned>(
          0, unsigned(m.strText.size()) + 1);
      CString result = nKind == 0   ? s.MakeUpper()
                       : nKind == 1 ? s.MakeLower()
                                    : s.MakeUpperAt(nPos);
      if (m.bLocked || (nKind == 2 && nPos >= m.strText.size())) {
        Check(result.IsEmpty(), "case change result", nOp);
        break;
      }
      if (nKind == 0) m.strText = AsciiUpper(m.strText);
      if (nKind == 1) m.strText = AsciiLower(m.strText);
      if (nKind == 2)
        m.strText[nPos] = AsciiUpper(m.strText.substr(nPos, 1))[0];
      Check(result == m.strText.c_str(), "case change copy", nOp);
      break;
    }
    case 21: {
      std::string strSearch = Argument(data, aModel);
      std::string strInsert = Argument(data, aModel);
      std::string strOld = m.strText;
      int nMatches = s.Count(strSearch.c_str());
      std::string strNew =
          strSearch.empty()
              ? strOld
              : expected::ReplaceAll(strOld, strSearch, strInsert);
      if (strNew.size() > MAX_MODEL_TEXT) break;
      bool bResult = s.Replace(strSearch.c_str(), strInsert.c_str());
      bool bApplies = !m.bLocked && !strSearch.empty();
      Check(bResult == bApplies, "Replace result", nOp);
      if (!bApplies) break;
      ModelAssign(m, strNew);
      Check(strNew.size() == strOld.size() +
                                 std::size_t(nMatches) * strInsert.size() -
                                 std::size_t(nMatches) * strSearch.size(),
            "Replace length against Count", nOp);
      break;
    }
    case 22: {
      unsigned nCount = data.ConsumeIntegralInRange<unsigned>(0, MAX_REPEAT);
      const std::string strUnit =
          data.ConsumeBool() ? aModel[j].strText : m.strText;
      if (strUnit.size() * nCount > MAX_MODEL_TEXT) break;
      std::string strRun;
      for (unsigned n = 0; n < nCount; ++n) strRun += strUnit;
      const char* pszResult = strUnit == m.strText && data.ConsumeBool()
                                  ? s.Repeat(nCount)
                                  : s.AssignRepeated(strUnit.c_str(), nCount);
      ModelAssign(m, strRun);
      Check(m.strText == pszResult, "repeat result", nOp);
      break;
    }
    case 23: {
      std::string strSet = Argument(data, aModel);
      int nKind = data.ConsumeIntegralInRange<int>(0, 2);
      const char* pszResult = nKind == 0   ? s.TrimLeft(strSet.c_str())
                              : nKind == 1 ? s.TrimRight(strSet.c_str())
                                           : s.Trim(strSet.c_str());
      if (nKind != 1) ModelTrimLeft(m, strSet);
      if (nKind != 0) ModelTrimRight(m, strSet);
      Check(m.strText == pszResult, "trim result", nOp);
      break;
    }
    default: {
      // AddToken, as the list operations define it.
      std::string strItem = Argument(data, aModel);
      std::string strSep = data.ConsumeBool() ? "," : Argument(data, aModel);
      if (m.strText.size() > MAX_MODEL_TEXT) break;
      s.AddToken(strItem.c_str(), strSep.c_str());
      if (m.bLocked) break;
      if (m.bEmptyItem || !m.strText.empty()) m.strText += strSep;
      if (m.bEmptyItem)
        m.bEmptyItem = false;
      else if (m.strText.empty() && strItem.empty())
        m.bEmptyItem = true;
      m.strText += strItem;
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData,
                                      std::size_t nSize) {
  FuzzedDataProvider data(pData, nSize);
  CString aStr[2];
  Model aModel[2];
  while (data.remaining_bytes() > 0) {
    int k = data.ConsumeBool() ? 1 : 0;
    int nOp = data.ConsumeIntegralInRange<int>(0, 24);
    if (nOp < 10)
      ReadingOperation(nOp, data, aStr[k], aModel[k], aModel);
    else
      EditingOperation(nOp, data, aStr, aModel, k);
    CheckState(aStr[0], aModel[0], nOp);
    CheckState(aStr[1], aModel[1], nOp);
  }
  return 0;
}
