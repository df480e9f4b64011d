// The owned, NUL-terminated 8-bit string that holds every text of the tool.
// (ZString.h, as String.h would be <string.h> on a file system that ignores
// case.)
#ifndef ZARVO_LIB_ZSTRING_H
#define ZARVO_LIB_ZSTRING_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iosfwd>

class CString {
 public:
  CString()
      : m_pszData(m_szInline),
        m_nLockLength(0),
        m_bReserved(0),
        m_bEmptyItem(0),
        m_pAux1(nullptr),
        m_pAux2(nullptr),
        m_pAux3(nullptr) {
    m_szInline[0] = '\0';
  }
  CString(const char* pszText);  // NOLINT: implicit by design
  CString(const CString& other) : CString() {
    if (other.IsInline())
      std::memcpy(m_szInline, other.m_szInline, INLINE_SIZE);
    else
      CopyHeapText(other);
  }
  // A move leaves the source "" (unless its buffer is lent out: then its
  // text is copied and the source stays as it is).
  CString(CString&& other) noexcept : CString() { TakeText(other); }
  CString(char ch, unsigned nCount);
  explicit CString(int nValue);
  explicit CString(unsigned int nValue);
  explicit CString(long nValue);
  ~CString() {
    if ((reinterpret_cast<std::uintptr_t>(m_pAux1) |
         reinterpret_cast<std::uintptr_t>(m_pAux2) |
         reinterpret_cast<std::uintptr_t>(m_pAux3)) != 0)
      FreeAux();
    FreeText();
  }

  // Assignment and append; a locked string is left unchanged.
  CString& operator=(char ch);
  CString& operator=(const char* pszText);
  CString& operator=(const CString& other);
  // As the copy, without copying: other is left "".
  CString& operator=(CString&& other) noexcept {
    if (IsLocked()) return *this;
    if (this == &other) return *this = other.Text();
    TakeText(other);
    return *this;
  }
  void Empty();
  CString& operator+=(const char* pszText);
  CString& operator+=(char ch);
  CString& operator+=(const CString& other);

  // Lengths first, then the bytes: the same answer as strcmp, from the two
  // functions that every run binds anyway.
  bool operator==(const CString& other) const {
    return SameBytes(other.Text());
  }
  bool operator==(const char* pszText) const {
    return pszText != nullptr && SameBytes(pszText);
  }
  bool operator!=(const CString& other) const { return !(*this == other); }
  bool operator!=(const char* pszText) const { return !(*this == pszText); }

  int GetLength() const { return int(RawLength()); }
  bool IsEmpty() const { return Text()[0] == '\0'; }
  char GetAt(unsigned nPos) const;
  const char* GetString() const { return Text(); }

  int ToInt() const;
  long ToLong() const;

  // Lends a writable buffer of nCount + 1 bytes whose last byte is a NUL;
  // ReleaseBuffer refits it.
  char* GetBuffer(unsigned nCount);
  bool ReleaseBuffer();

  CString MakeUpper();
  CString MakeLower();
  CString MakeUpperAt(unsigned nPos);

  int Find(CString sub) const;
  int FindOccurrence(CString sub, unsigned nOccurrence) const;
  int FindLast(CString sub) const;
  bool Contains(CString sub) const;
  bool StartsWith(CString sub) const;
  bool EndsWith(CString sub) const;
  int Count(CString sub) const;

  CString Left(int nCount) const;
  CString Mid(int nStart, unsigned nCount) const;
  CString Right(unsigned nCount) const;

  bool Replace(CString search, CString replacement);
  const char* AssignRepeated(CString src, unsigned nCount);
  const char* Repeat(unsigned nCount);
  const char* TrimLeft(CString set);
  const char* TrimRight(CString set);
  const char* Trim(CString set);

  // Delimited list: items joined by a separator text.
  void AddToken(CString item, CString separator);
  int GetTokenCount(CString separator) const;
  CString GetToken(int nIndex, CString separator) const;

  // State queries for callers and tests.
  bool IsLocked() const { return m_nLockLength != 0; }
  bool HasEmptyItem() const { return m_bEmptyItem != 0; }

  // Every buffer of the class comes from here: nCount + 1 bytes, the first
  // one the terminator. An exhausted heap, or a text that would reach 2^31
  // bytes, ends the process with the memory-allocation report.
  static char* CreateCharString(unsigned nCount);

 private:
  static char* AllocText(std::uint64_t nLength);
  char* DuplicateCharString() const;
  // Never null: a text is in the inline buffer or on the heap.
  const char* Text() const { return m_pszData; }
  std::size_t RawLength() const { return std::strlen(Text()); }
  bool SameBytes(const char* pszOther) const {
    std::size_t nLength = RawLength();
    return std::strlen(pszOther) == nLength &&
           std::memcmp(Text(), pszOther, nLength) == 0;
  }
  void StoreText(const char* pszText, std::size_t nLength);
  void AssignText(const char* pszText, std::size_t nLength);
  void SetEmpty();
  // Takes over other's text and leaves other "". A buffer that other has
  // lent out stays with it; its text is copied instead.
  void TakeText(CString& other) {
    if (!other.IsInline()) return TakeHeapText(other);
    std::memcpy(m_szInline, other.m_szInline, INLINE_SIZE);
    FreeText();
    m_pszData = m_szInline;
    if (m_szInline[0] == '\0') m_bEmptyItem = 0;  // as assigning ""
    other.m_szInline[0] = '\0';
    other.m_bEmptyItem = 0;
  }
  void TakeHeapText(CString& other);
  void CopyHeapText(const CString& other);
  bool IsInline() const { return m_pszData == m_szInline; }
  void FreeText() {
    if (!IsInline()) std::free(m_pszData);
  }
  void FreeAux();

  char* m_pszData;
  std::uint32_t m_nLockLength;
  std::uint8_t m_bReserved;
  std::uint8_t m_bEmptyItem;
  CString* m_pAux1;
  CString* m_pAux2;
  CString* m_pAux3;
  // A short text (below INLINE_SIZE bytes with its terminator, the empty
  // one among them) is kept here instead of on the heap; m_pszData then
  // points to it.
  enum { INLINE_SIZE = 64 };
  char m_szInline[INLINE_SIZE];
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
std::ostream& operator<<(std::ostream& out, const CString& s);

#endif
