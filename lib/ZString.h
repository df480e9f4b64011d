// The owned, NUL-terminated 8-bit string that holds every text of the tool.
#ifndef ZARVO_LIB_ZSTRING_H
#define ZARVO_LIB_ZSTRING_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>

class CString {
 public:
  CString();
  CString(const char* pszText);  // NOLINT: implicit by design
  CString(const CString& other);
  CString(char ch, unsigned nCount);
  explicit CString(int nValue);
  explicit CString(unsigned int nValue);
  explicit CString(long nValue);
  ~CString();

  // Assignment and append; a locked string is left unchanged.
  CString& operator=(char ch);
  CString& operator=(const char* pszText);
  CString& operator=(const CString& other);
  void Empty();
  CString& operator+=(const char* pszText);
  CString& operator+=(char ch);
  CString& operator+=(const CString& other);

  bool operator==(const CString& other) const;
  bool operator==(const char* pszText) const;
  bool operator!=(const CString& other) const;
  bool operator!=(const char* pszText) const;

  int GetLength() const;
  bool IsEmpty() const;
  char GetAt(unsigned nPos) const;
  const char* GetString() const;

  int ToInt() const;
  long ToLong() const;

  // Lends a writable buffer of nCount + 1 bytes; ReleaseBuffer refits it.
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
  const char* Text() const;
  std::size_t RawLength() const;
  void StoreText(const char* pszText, std::size_t nLength);
  void AssignText(const char* pszText, std::size_t nLength);
  void SetEmpty();
  void FreeAux();

  char* m_pszData;
  std::uint32_t m_nLockLength;
  std::uint8_t m_bReserved;
  std::uint8_t m_bEmptyItem;
  CString* m_pAux1;
  CString* m_pAux2;
  CString* m_pAux3;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
std::ostream& operator<<(std::ostream& out, const CString& s);

#endif
