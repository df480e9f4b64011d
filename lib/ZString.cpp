// The string class: its storage (inline for short texts, the heap beyond),
// its edits, searches, numbers and lists of tokens, and the buffer it lends
// to the C library.
#include "ZString.h"

#include <cstdlib>
#include <cstring>

#include "ErrorReporter.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// The largest text the class holds: lengths and positions are 32-bit.
const std::uint64_t MAX_TEXT_LENGTH = 0x7FFFFFFFu;

bool IsLower(char ch) { return ch >= 'a' && ch <= 'z'; }
bool IsUpper(char ch) { return ch >= 'A' && ch <= 'Z'; }
char ToUpperAscii(char ch) { return IsLower(ch) ? char(ch - 'a' + 'A') : ch; }
char ToLowerAscii(char ch) { return IsUpper(ch) ? char(ch - 'A' + 'a') : ch; }

// The decimal number at the start of a text as strtol reads it (white
// space skipped, an optional sign, the digits up to the first other byte),
// clamped to the 32-bit range, so that no text overflows.
long ToInt32(const char* pszText) {
  const char* p = pszText;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool bNegative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const std::int64_t nBeyond = std::int64_t(INT32_MAX) + 2;
  std::int64_t nValue = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (nValue < nBeyond) nValue = nValue * 10 + (*p - '0');
  if (bNegative) nValue = -nValue;
  if (nValue > INT32_MAX) return INT32_MAX;
  if (nValue < INT32_MIN) return INT32_MIN;
  return long(nValue);
}

// The decimal text of a number: a minus sign for a negative one, then the
// digits without leading zeros. pszOut has room for 21 bytes.
void FormatDecimal(char* pszOut, std::uint64_t nMagnitude, bool bNegative) {
  char szDigits[20];
  int nDigits = 0;
  do {
    szDigits[nDigits++] = char('0' + nMagnitude % 10);
    nMagnitude /= 10;
  } while (nMagnitude != 0);
  if (bNegative) *pszOut++ = '-';
  while (nDigits > 0) *pszOut++ = szDigits[--nDigits];
  *pszOut = '\0';
}

// The magnitude of a signed number, without overflow at its minimum.
std::uint64_t Magnitude(std::int64_t nValue) {
  return nValue < 0 ? 0 - std::uint64_t(nValue) : std::uint64_t(nValue);
}

// A text this large is filled once from end to end (/R:, the log entry).
const std::uint64_t LARGE_TEXT_LENGTH = std::uint64_t(4) << 20;

// Asks Linux to back a large new buffer with transparent huge pages before
// it is first touched: one fault per 2 MiB instead of one per 4 KiB makes
// filling a /R: text of 100 MB several times faster. Only whole 2 MiB blocks
// inside the buffer are advised; the advice is a hint and may be refused.
void AdviseLargeBuffer(void* pBuffer, std::uint64_t nSize) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const std::uintptr_t nHuge = std::uintptr_t(2) << 20;
  std::uintptr_t nStart = reinterpret_cast<std::uintptr_t>(pBuffer);
  std::uintptr_t nFirst = (nStart + nHuge - 1) & ~(nHuge - 1);
  std::uintptr_t nLast = (nStart + std::uintptr_t(nSize)) & ~(nHuge - 1);
  if (nLast > nFirst)
    madvise(reinterpret_cast<void*>(nFirst), nLast - nFirst, MADV_HUGEPAGE);
#else
  (void)pBuffer;
  (void)nSize;
#endif
}

}  // namespace

// ---------------------------------------------------------------- storage

char* CString::AllocText(std::uint64_t nLength) {
  void* pBuffer = nullptr;
  if (nLength <= MAX_TEXT_LENGTH)
    pBuffer = std::malloc(std::size_t(nLength) + 1);
  if (pBuffer == nullptr) {
    CErrorReporter reporter;
    reporter.ReportError(SEVERITY_FATAL, ERR_MEMORY_ALLOCATION,
                         "CString::CreateCharString");
    std::exit(1);  // not reached: a fatal report ends the process
  }
  if (nLength >= LARGE_TEXT_LENGTH) AdviseLargeBuffer(pBuffer, nLength + 1);
  char* pszBuffer = static_cast<char*>(pBuffer);
  pszBuffer[0] = '\0';
  return pszBuffer;
}

char* CString::CreateCharString(unsigned nCount) { return AllocText(nCount); }

char* CString::DuplicateCharString() const {
  std::size_t nLength = RawLength();
  char* pszCopy = AllocText(nLength);
  std::memcpy(pszCopy, Text(), nLength + 1);
  return pszCopy;
}

// Replaces the text by an exact copy of nLength bytes at pszText: in the
// string's own inline buffer when it fits, else in a new heap buffer. The
// copy is made before the old buffer is freed, so pszText may point into it.
void CString::StoreText(const char* pszText, std::size_t nLength) {
  if (nLength < INLINE_SIZE) {
    // A text that lies in the inline buffer itself is its own suffix: a
    // forward copy, byte by byte, never overwrites what it has yet to read.
    std::uintptr_t nAt = reinterpret_cast<std::uintptr_t>(pszText);
    std::uintptr_t nInline = reinterpret_cast<std::uintptr_t>(m_szInline);
    if (nAt - nInline < INLINE_SIZE) {
      for (std::size_t i = 0; i < nLength; ++i) m_szInline[i] = pszText[i];
    } else if (nLength > 0) {
      std::memcpy(m_szInline, pszText, nLength);
    }
    m_szInline[nLength] = '\0';
    FreeText();
    m_pszData = m_szInline;
    return;
  }
  char* pszNew = AllocText(nLength);
  std::memcpy(pszNew, pszText, nLength);
  pszNew[nLength] = '\0';
  FreeText();
  m_pszData = pszNew;
}

void CString::SetEmpty() {
  FreeText();
  m_pszData = m_szInline;
  m_szInline[0] = '\0';
  m_bEmptyItem = 0;
}

// The part of TakeText for a text on the heap: the buffer changes hands.
void CString::TakeHeapText(CString& other) {
  if (other.IsLocked()) {
    *this = other.Text();
    return;
  }
  FreeText();
  m_pszData = other.m_pszData;
  if (m_pszData[0] == '\0') m_bEmptyItem = 0;  // as assigning ""
  other.m_pszData = other.m_szInline;
  other.SetEmpty();
}

// Stores a computed text: the empty one clears the empty-item mark.
void CString::AssignText(const char* pszText, std::size_t nLength) {
  if (nLength == 0)
    SetEmpty();
  else
    StoreText(pszText, nLength);
}

namespace {

// An auxiliary string lives in memory from the C library's heap, like every
// buffer of the class, so that no part of the C++ runtime's allocator (and
// its exceptions) is needed.
void DestroyAux(CString*& pAux) {
  if (pAux == nullptr) return;
  pAux->~CString();
  std::free(pAux);
  pAux = nullptr;
}

}  // namespace

void CString::FreeAux() {
  DestroyAux(m_pAux1);
  DestroyAux(m_pAux2);
  DestroyAux(m_pAux3);
  m_bReserved = 0;
}

// ---------------------------------------------------------- construction

// A short text is measured and copied in one pass.
CString::CString(const char* pszText) : CString() {
  if (pszText == nullptr) return;
  for (std::size_t i = 0; i < INLINE_SIZE; ++i) {
    m_szInline[i] = pszText[i];
    if (pszText[i] == '\0') return;
  }
  m_szInline[0] = '\0';
  StoreText(pszText, std::strlen(pszText));
}

// The part of the copy for a text on the heap.
void CString::CopyHeapText(const CString& other) { *this = other.Text(); }

CString::CString(char ch, unsigned nCount) : CString() {
  if (nCount == 1) *this = ch;
  if (nCount >= 2) AssignRepeated(CString(ch, 1), nCount);
}

CString::CString(int nValue) : CString() {
  FormatDecimal(m_szInline, Magnitude(nValue), nValue < 0);
}

CString::CString(unsigned int nValue) : CString() {
  FormatDecimal(m_szInline, nValue, false);
}

CString::CString(long nValue) : CString() {
  FormatDecimal(m_szInline, Magnitude(nValue), nValue < 0);
}

// ------------------------------------------------------ assignment, append

CString& CString::operator=(char ch) {
  if (IsLocked()) return *this;
  StoreText(&ch, ch == '\0' ? 0 : 1);
  return *this;
}

CString& CString::operator=(const char* pszText) {
  if (IsLocked()) return *this;
  if (pszText == nullptr || pszText[0] == '\0')
    SetEmpty();
  else
    StoreText(pszText, std::strlen(pszText));
  return *this;
}

// Assigning a string to itself stores its own text again (the text is
// copied before the old buffer goes), so an empty self-assignment clears
// the empty-item mark like every other assignment of "".
CString& CString::operator=(const CString& other) {
  return *this = other.Text();
}

void CString::Empty() {
  if (!IsLocked()) SetEmpty();
}

CString& CString::operator+=(const char* pszText) {
  if (IsLocked() || pszText == nullptr || pszText[0] == '\0') return *this;
  if (IsEmpty()) return *this = pszText;
  std::size_t nOld = RawLength();
  std::size_t nAdd = std::strlen(pszText);
  if (IsInline() && nOld + nAdd < INLINE_SIZE) {
    // pszText may be our own text, which ends where the new part begins.
    std::memcpy(m_szInline + nOld, pszText, nAdd);
    m_szInline[nOld + nAdd] = '\0';
    return *this;
  }
  char* pszNew = AllocText(std::uint64_t(nOld) + nAdd);
  std::memcpy(pszNew, m_pszData, nOld);
  std::memcpy(pszNew + nOld, pszText, nAdd);
  pszNew[nOld + nAdd] = '\0';
  FreeText();
  m_pszData = pszNew;
  return *this;
}

CString& CString::operator+=(char ch) {
  const char szOne[2] = {ch, '\0'};
  return *this += szOne;
}

CString& CString::operator+=(const CString& other) {
  return *this += other.Text();
}

CString operator+(const CString& a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}

CString operator+(const CString& a, const char* b) {
  CString result(a);
  result += b;
  return result;
}

CString operator+(const char* a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}

// ------------------------------------------------------ comparison, access

char CString::GetAt(unsigned nPos) const {
  return nPos < RawLength() ? Text()[nPos] : '\0';
}

int CString::ToInt() const { return IsLocked() ? 0 : int(ToInt32(Text())); }

long CString::ToLong() const { return IsLocked() ? 0 : ToInt32(Text()); }

// ---------------------------------------------------------- buffer lending

char* CString::GetBuffer(unsigned nCount) {
  if (nCount == 0) {
    if (IsLocked())
      m_nLockLength = 0;
    else
      SetEmpty();
    return m_pszData;
  }
  std::size_t nKeep = RawLength();
  if (nKeep > nCount) nKeep = nCount;
  char* pszNew = AllocText(nCount);
  std::memcpy(pszNew, Text(), nKeep);
  pszNew[nKeep] = '\0';
  // The last byte ends the text whatever the borrower writes before it, so
  // the string stays readable (copied, compared, measured) during the loan.
  pszNew[nCount] = '\0';
  FreeText();
  m_pszData = pszNew;
  m_nLockLength = nCount;
  return m_pszData;
}

bool CString::ReleaseBuffer() {
  // A borrower that forgot the terminator still leaves a bounded text.
  if (IsLocked()) m_pszData[m_nLockLength] = '\0';
  std::size_t nLength = RawLength();
  if (nLength != 0)
    StoreText(m_pszData, nLength);
  else if (!IsLocked())
    SetEmpty();
  FreeAux();
  m_nLockLength = 0;
  return true;
}

// ---------------------------------------------------------- case changes

CString CString::MakeUpper() {
  if (IsLocked()) return CString();
  for (char* p = m_pszData; *p != '\0'; ++p) *p = ToUpperAscii(*p);
  return *this;
}

CString CString::MakeLower() {
  if (IsLocked()) return CString();
  for (char* p = m_pszData; *p != '\0'; ++p) *p = ToLowerAscii(*p);
  return *this;
}

CString CString::MakeUpperAt(unsigned nPos) {
  if (IsLocked() || nPos >= RawLength()) return CString();
  m_pszData[nPos] = ToUpperAscii(m_pszData[nPos]);
  return *this;
}

// ------------------------------------------------------------------ search

int CString::Find(CString sub) const {
  if (IsEmpty() || sub.IsEmpty()) return -1;
  const char* pszHit = std::strstr(Text(), sub.Text());
  return pszHit != nullptr ? int(pszHit - Text()) : -1;
}

// Overlapping occurrences count: the search resumes one byte after a match.
int CString::FindOccurrence(CString sub, unsigned nOccurrence) const {
  if (IsEmpty() || sub.IsEmpty()) return -1;
  unsigned nFound = 0;
  int nPos = -1;
  const char* pszHit = std::strstr(Text(), sub.Text());
  while (pszHit != nullptr) {
    ++nFound;
    nPos = int(pszHit - Text());
    if (nOccurrence >= 1 && nFound >= nOccurrence) break;
    pszHit = std::strstr(pszHit + 1, sub.Text());
  }
  if (nOccurrence >= 1 && nFound != nOccurrence) return -1;
  return nPos;
}

int CString::FindLast(CString sub) const { return FindOccurrence(sub, 0); }

bool CString::Contains(CString sub) const { return Find(sub) >= 0; }

bool CString::StartsWith(CString sub) const {
  std::size_t nSub = sub.RawLength();
  if (nSub == 0 || RawLength() < nSub) return false;
  return std::memcmp(Text(), sub.Text(), nSub) == 0;
}

bool CString::EndsWith(CString sub) const {
  std::size_t nSub = sub.RawLength();
  std::size_t nLength = RawLength();
  if (nSub == 0 || nLength < nSub) return false;
  return std::memcmp(Text() + nLength - nSub, sub.Text(), nSub) == 0;
}

// Matches do not overlap: the scan resumes after each match.
int CString::Count(CString sub) const {
  if (IsEmpty() || sub.IsEmpty()) return 0;
  std::size_t nSub = sub.RawLength();
  int nCount = 0;
  for (const char* p = std::strstr(Text(), sub.Text()); p != nullptr;
       p = std::strstr(p + nSub, sub.Text()))
    ++nCount;
  return nCount;
}

// ----------------------------------------------------------------- slicing

CString CString::Left(int nCount) const {
  int nLength = GetLength();
  if (nCount == 0 || nLength == 0) return CString();
  if (nCount < 0 || nCount >= nLength) return *this;
  CString result;
  result.StoreText(Text(), std::size_t(nCount));
  return result;
}

CString CString::Mid(int nStart, unsigned nCount) const {
  int nLength = GetLength();
  if (nStart >= nLength) return CString();
  if (nStart < 0) nStart = 0;
  unsigned nRest = unsigned(nLength - nStart);
  if (nCount == 0 || nCount > nRest) nCount = nRest;
  CString result;
  result.StoreText(Text() + nStart, nCount);
  return result;
}

CString CString::Right(unsigned nCount) const {
  unsigned nLength = unsigned(GetLength());
  if (nCount == 0) return CString();
  if (nCount >= nLength) return *this;
  return CString(Text() + (nLength - nCount));
}

// ----------------------------------------------------------------- editing

// Every match is found in the old text only, so the inserted text is never
// searched again. The result is sized first and built in one buffer.
bool CString::Replace(CString search, CString replacement) {
  if (IsLocked() || search.IsEmpty()) return false;
  int nMatches = Count(search);
  if (nMatches == 0) {
    if (IsEmpty()) SetEmpty();  // an empty result still clears the mark
    return true;
  }
  std::size_t nSearch = search.RawLength();
  std::size_t nInsert = replacement.RawLength();
  std::uint64_t nNew = std::uint64_t(RawLength()) -
                       std::uint64_t(nMatches) * nSearch +
                       std::uint64_t(nMatches) * nInsert;
  char* pszNew = AllocText(nNew);
  char* pszOut = pszNew;
  const char* pszRest = Text();
  for (const char* pszHit = std::strstr(pszRest, search.Text());
       pszHit != nullptr; pszHit = std::strstr(pszRest, search.Text())) {
    std::memcpy(pszOut, pszRest, std::size_t(pszHit - pszRest));
    pszOut += pszHit - pszRest;
    std::memcpy(pszOut, replacement.Text(), nInsert);
    pszOut += nInsert;
    pszRest = pszHit + nSearch;
  }
  std::memcpy(pszOut, pszRest, std::strlen(pszRest) + 1);
  FreeText();
  m_pszData = pszNew;
  if (nNew == 0) SetEmpty();
  return true;
}

// One buffer of the final size, filled by doubling what is already copied,
// so the cost is linear in the result.
const char* CString::AssignRepeated(CString src, unsigned nCount) {
  if (IsLocked()) return Text();
  std::uint64_t nUnit = src.RawLength();
  std::uint64_t nTotal = nUnit * nCount;
  if (nTotal == 0) {
    SetEmpty();
    return Text();
  }
  char* pszNew = AllocText(nTotal);
  std::memcpy(pszNew, src.Text(), std::size_t(nUnit));
  std::uint64_t nDone = nUnit;
  while (nDone < nTotal) {
    std::uint64_t nChunk = nDone < nTotal - nDone ? nDone : nTotal - nDone;
    std::memcpy(pszNew + nDone, pszNew, std::size_t(nChunk));
    nDone += nChunk;
  }
  pszNew[nTotal] = '\0';
  FreeText();
  m_pszData = pszNew;
  return Text();
}

const char* CString::Repeat(unsigned nCount) {
  return AssignRepeated(CString(*this), nCount);
}

// A trim that leaves "" stores it by assignment, which clears the empty-item
// mark even when there was nothing to cut; an empty set cuts nothing.
const char* CString::TrimLeft(CString set) {
  if (IsLocked()) return Text();
  const char* pszStart = Text();
  while (*pszStart != '\0' &&
         std::memchr(set.Text(), *pszStart, set.RawLength()) != nullptr)
    ++pszStart;
  if (pszStart != Text() || *pszStart == '\0')
    AssignText(pszStart, std::strlen(pszStart));
  return Text();
}

const char* CString::TrimRight(CString set) {
  if (IsLocked()) return Text();
  std::size_t nLength = RawLength();
  std::size_t nKeep = nLength;
  while (nKeep > 0 &&
         std::memchr(set.Text(), Text()[nKeep - 1], set.RawLength()) != nullptr)
    --nKeep;
  if (nKeep != nLength || nKeep == 0) AssignText(Text(), nKeep);
  return Text();
}

const char* CString::Trim(CString set) {
  TrimLeft(set);
  return TrimRight(set);
}

// ---------------------------------------------------------- delimited list

// An empty first item leaves the text "" but is remembered, so that the
// next item is still preceded by the separator.
void CString::AddToken(CString item, CString separator) {
  if (IsLocked()) return;
  if (m_bEmptyItem || !IsEmpty()) *this += separator;
  if (m_bEmptyItem)
    m_bEmptyItem = 0;
  else if (IsEmpty() && item.IsEmpty())
    m_bEmptyItem = 1;
  *this += item;
}

int CString::GetTokenCount(CString separator) const {
  if (m_bEmptyItem) return 1;
  if (IsEmpty() || separator.IsEmpty()) return 0;
  return Count(separator) + 1;
}

CString CString::GetToken(int nIndex, CString separator) const {
  if (separator.IsEmpty()) return CString();
  CString work(*this);
  work.Trim(" \t\n");
  if (work.IsEmpty()) return CString();
  if (nIndex == 0) {
    int nPos = work.Find(separator);
    return nPos < 0 ? work : work.Left(nPos);
  }
  unsigned nNth = nIndex > 0 ? unsigned(nIndex) : 0;
  int nPos = work.FindOccurrence(separator, nNth);
  if (nPos < 0) return CString();
  CString rest = work.Mid(nPos + separator.GetLength(), 0);
  int nNext = rest.Find(separator);
  return nNext < 0 ? rest : rest.Left(nNext);
}
