// The command-line parser: the option definitions, the matching of an
// argument vector against them, the queries of what matched and the first
// error, and the program name taken from argv[0].
#include "CmdLine.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

CString g_strProgramName;

namespace {

const char* const LIST_SEPARATOR = ",";

// Byte-wise equality, as operator== on the strings, without a library call:
// the table and its queries compare short names many times.
bool SameText(const char* pszA, const char* pszB) {
  while (*pszA != '\0' && *pszA == *pszB) {
    ++pszA;
    ++pszB;
  }
  return *pszA == *pszB;
}

// Stores a list as given, without copying its text; the no-list literal
// leaves it without entries, and "" is a list of one empty entry.
void StoreList(CString& strField, CString&& strList) {
  if (strList.GetString()[0] == '%' && strList == CMD_EMPTY_LIST) return;
  if (strList.IsEmpty())
    strField.AddToken(strList, LIST_SEPARATOR);
  else
    strField = std::move(strList);
}

bool EndsWithBlank(const CString& strName) { return strName.EndsWith(" "); }

char UpperAscii(char ch) { return ch >= 'a' && ch <= 'z' ? char(ch - 32) : ch; }

// Whether a list holds no entry at all.
bool NoEntries(const CString& strList) {
  return strList.IsEmpty() && !strList.HasEmptyItem();
}

}  // namespace

// ------------------------------------------------------------- CCmdOption

CCmdOption::CCmdOption()
    : m_pPrev(nullptr),
      m_pNext(nullptr),
      m_bPresent(false),
      m_bRequired(false),
      m_bAllowEmpty(false),
      m_nKind(0) {}

CCmdOption::CCmdOption(CString&& strName, CString&& strLabel, int nKind,
                       bool bRequired, bool bAllowEmpty)
    : m_pPrev(nullptr),
      m_pNext(nullptr),
      m_strName(std::move(strName)),
      m_strLabel(std::move(strLabel)),
      m_bPresent(false),
      m_bRequired(bRequired),
      m_bAllowEmpty(bAllowEmpty),
      m_nKind(nKind) {}

const CString& CCmdOption::Identity() const {
  return m_strLabel.IsEmpty() ? m_strName : m_strLabel;
}

// ------------------------------------------------------ set-up, tear-down

CCmdLine::CCmdLine()
    : m_pFirst(nullptr),
      m_bCaseSensitive(false),
      m_bError(false),
      m_nErrorCode(0),
      m_nErrorOccurrence(0),
      m_nCmdLineLength(0),
      m_strSeparator(LIST_SEPARATOR),
      m_nRoomUsed(0) {}

CCmdLine::~CCmdLine() {
  // The definitions in the room are the first ones of the list.
  CCmdOption* pOption = m_pFirst;
  for (int n = 0; pOption != nullptr; ++n) {
    CCmdOption* pNext = pOption->m_pNext;
    pOption->~CCmdOption();
    if (n >= m_nRoomUsed) std::free(pOption);
    pOption = pNext;
  }
}

bool CCmdLine::AddOption(CString strName, CString strLabel, int nKind,
                         CString strRequires, CString strConflicts,
                         bool bRequired, bool bAllowEmpty) {
  return Append(strName, strLabel, nKind, strRequires, strConflicts, bRequired,
                bAllowEmpty);
}

bool CCmdLine::AddOption(CString strName, int nKind, CString strRequires,
                         CString strConflicts, bool bRequired,
                         bool bAllowEmpty) {
  CString strLabel;
  return Append(strName, strLabel, nKind, strRequires, strConflicts, bRequired,
                bAllowEmpty);
}

// Both forms of AddOption: the definition takes over the texts of the
// strings it is given, which are the caller's copies.
bool CCmdLine::Append(CString& strName, CString& strLabel, int nKind,
                      CString& strRequires, CString& strConflicts,
                      bool bRequired, bool bAllowEmpty) {
  // Past the room, the C library's heap, not the C++ runtime's allocator: a
  // failure is a result here, never an exception.
  void* pMemory = m_nRoomUsed < OPTION_ROOM
                      ? m_abRoom + m_nRoomUsed++ * sizeof(CCmdOption)
                      : std::malloc(sizeof(CCmdOption));
  if (pMemory == nullptr) return false;
  CCmdOption* pOption = new (pMemory) CCmdOption(
      std::move(strName), std::move(strLabel), nKind, bRequired, bAllowEmpty);
  StoreList(pOption->m_strRequires, std::move(strRequires));
  StoreList(pOption->m_strConflicts, std::move(strConflicts));
  // The first definition's back link designates the last one.
  if (m_pFirst == nullptr) {
    m_pFirst = pOption;
  } else {
    CCmdOption* pLast = m_pFirst->m_pPrev;
    pLast->m_pNext = pOption;
    pOption->m_pPrev = pLast;
  }
  m_pFirst->m_pPrev = pOption;
  return true;
}

// ---------------------------------------------------------------- matching

// Compares an argument with a definition's name, both upper-cased when the
// parse is not case-sensitive; a name that ends with a blank is compared
// with the argument and one blank appended, so that the typed "/X" meets
// the name "/X ". A switch must equal the name; the other kinds must begin
// with it, and an empty name begins nothing. One pass, nothing copied.
bool CCmdLine::NameMatches(const CCmdOption* pOption,
                           const char* pszArg) const {
  const char* pszName = pOption->m_strName.GetString();
  bool bSwitch = pOption->m_nKind == CMDOPT_SWITCH;
  if (*pszName == '\0') return bSwitch && *pszArg == '\0';
  // The blank appended to the argument can only meet the name's last byte.
  bool bBlankUsed = false;
  for (const char* p = pszName; *p != '\0'; ++p) {
    char chArg = *pszArg;
    if (chArg != '\0') {
      ++pszArg;
    } else if (p[0] == ' ' && p[1] == '\0') {
      chArg = ' ';
      bBlankUsed = true;
    } else {
      return false;  // the argument is shorter than the name
    }
    char chName = *p;
    if (!m_bCaseSensitive) {
      chArg = UpperAscii(chArg);
      chName = UpperAscii(chName);
    }
    if (chArg != chName) return false;
  }
  if (!bSwitch) return true;
  // A switch: nothing of the argument, nor its appended blank, is left over.
  bool bBlankName = pszName[std::strlen(pszName) - 1] == ' ';
  return *pszArg == '\0' && bBlankUsed == bBlankName;
}

// Whether an argument introduces this (not yet present) definition.
bool CCmdLine::Matches(const CCmdOption* pOption, const char* pszArg) const {
  if (pOption->m_nKind != CMDOPT_SWITCH && pOption->m_strName.IsEmpty())
    return !IsOptionText(pszArg);
  return NameMatches(pOption, pszArg);
}

bool CCmdLine::IsOption(CString strText) const {
  return IsOptionText(strText.GetString());
}

bool CCmdLine::IsOptionText(const char* pszText) const {
  if (pszText == nullptr) pszText = "";
  for (const CCmdOption* p = m_pFirst; p != nullptr; p = p->m_pNext) {
    if (p->m_bPresent) continue;
    if (p->m_nKind >= CMDOPT_SWITCH && p->m_nKind <= CMDOPT_PARAM &&
        NameMatches(p, pszText))
      return true;
  }
  return false;
}

namespace {

// A text's length as the command line counts it: in UTF-16 units on
// Windows, where the arguments arrive as UTF-16 and are held as UTF-8, so
// that a Greek message has the same limit as an English one; in bytes
// elsewhere.
int CountedLength(const CString& strText) {
#ifdef _WIN32
  int nUnits = 0;
  for (const char* p = strText.GetString(); *p != '\0'; ++p) {
    unsigned char bByte = static_cast<unsigned char>(*p);
    if ((bByte & 0xC0) != 0x80) nUnits += bByte >= 0xF0 ? 2 : 1;
  }
  return nUnits;
#else
  return strText.GetLength();
#endif
}

}  // namespace

int CCmdLine::Parse(int argc, const char* const* argv, bool bCaseSensitive,
                    bool bValidate) {
  CString strProgram =
      GetProgramName(argc > 0 && argv != nullptr ? argv[0] : nullptr);
  m_nCmdLineLength = CountedLength(strProgram);
  m_bCaseSensitive = bCaseSensitive;

  int i = 1;
  while (i < argc) {
    const char* pszArg = argv[i] != nullptr ? argv[i] : "";
    bool bMatched = false;
    for (CCmdOption* p = m_pFirst; p != nullptr && !bMatched; p = p->m_pNext) {
      if (p->m_bPresent) continue;
      if (p->m_nKind < CMDOPT_SWITCH || p->m_nKind > CMDOPT_PARAM) return 2;
      if (!Matches(p, pszArg)) continue;
      p->m_bPresent = true;
      bMatched = true;
      if (p->m_nKind == CMDOPT_SWITCH)
        ++i;
      else
        CollectValue(p, argc, argv, i);
    }
    if (!bMatched) {
      m_bError = true;
      m_nErrorCode = CMDERR_INVALID;
      m_nErrorOccurrence = 0;
      m_strErrorName = pszArg;
      m_strErrorOther.Empty();
      return 1;
    }
  }
  if (!bValidate) return 0;
  return Validate() ? 1 : 0;
}

void CCmdLine::CollectValue(CCmdOption* pOption, int argc,
                            const char* const* argv, int& i) {
  // The value is what follows the name (upper-casing keeps its length).
  const CString& strName = pOption->m_strName;
  const char* pszArg = argv[i] != nullptr ? argv[i] : "";
  std::size_t nName = std::size_t(strName.GetLength());
  pOption->m_strValue = nName < std::strlen(pszArg) ? pszArg + nName : "";
  ++i;
  if (i >= argc) return;
  if (EndsWithBlank(strName) && !IsOptionText(argv[i])) {
    pOption->m_strValue += argv[i];
    ++i;
  }
  if (pOption->m_nKind != CMDOPT_TEXT_RUN) return;
  while (i < argc && !IsOptionText(argv[i])) {
    pOption->m_strValue += ' ';
    pOption->m_strValue += argv[i];
    ++i;
  }
}

// -------------------------------------------------------------- validation

// 1 plus the number of present definitions before this one with its name.
int CCmdLine::OccurrenceOf(const CCmdOption* pOption) const {
  int nOccurrence = 1;
  for (const CCmdOption* p = m_pFirst; p != pOption; p = p->m_pNext)
    if (p->m_bPresent && p->m_strName == pOption->m_strName) ++nOccurrence;
  return nOccurrence;
}

// Whether an entry "name" or "name~n" names a present definition other than
// the owner of the list. With n = 1 any present definition of that identity
// will do; with n >= 2 it must be the n-th definition of that identity.
bool CCmdLine::EntryPresent(const CCmdOption* pOwner, const CString& strEntry,
                            CString& strEntryName) const {
  int nTilde = strEntry.Find("~");
  int nWanted = 1;
  strEntryName = strEntry;
  if (nTilde >= 0) {
    strEntryName = strEntry.Left(nTilde);
    nWanted = strEntry.Mid(nTilde + 1, 0).ToInt();
  }
  int nSeen = 0;
  for (const CCmdOption* p = m_pFirst; p != nullptr; p = p->m_pNext) {
    if (p->Identity() != strEntryName) continue;
    ++nSeen;
    if (nWanted >= 2 && nSeen != nWanted) continue;
    if (p != pOwner && p->m_bPresent) return true;
    if (nWanted >= 2) return false;
  }
  return false;
}

bool CCmdLine::FindConflict(const CCmdOption* pOption) {
  const CString& strList = pOption->m_strConflicts;
  if (NoEntries(strList)) return false;
  int nCount = strList.GetTokenCount(m_strSeparator);
  for (int n = 0; n < nCount; ++n) {
    CString strEntryName;
    if (EntryPresent(pOption, strList.GetToken(n, m_strSeparator),
                     strEntryName)) {
      m_strErrorOther = strEntryName;
      return true;
    }
  }
  return false;
}

bool CCmdLine::RequiresUnmet(const CCmdOption* pOption) {
  const CString& strList = pOption->m_strRequires;
  if (NoEntries(strList)) return false;
  int nCount = strList.GetTokenCount(m_strSeparator);
  if (nCount == 0) return false;
  for (int n = 0; n < nCount; ++n) {
    CString strEntryName;
    if (EntryPresent(pOption, strList.GetToken(n, m_strSeparator),
                     strEntryName))
      return false;
  }
  m_strErrorOther = strList;
  return true;
}

void CCmdLine::RecordError(int nCode, const CCmdOption* pOption,
                           int nOccurrence) {
  m_bError = true;
  m_nErrorCode = nCode;
  m_nErrorOccurrence = nOccurrence;
  m_strErrorName = pOption->Identity();
}

// The number test accepts exactly the texts a 32-bit integer prints as.
bool CCmdLine::Validate() {
  for (const CCmdOption* p = m_pFirst; p != nullptr; p = p->m_pNext) {
    if (!p->m_bPresent) {
      if (!m_bError && p->m_bRequired) RecordError(CMDERR_REQUIRED, p, 1);
      continue;
    }
    int nOccurrence = OccurrenceOf(p);
    m_nCmdLineLength +=
        1 + CountedLength(p->m_strName) + CountedLength(p->m_strValue);
    if (m_bError) continue;
    if (p->m_strValue.IsEmpty() && !p->m_bAllowEmpty)
      RecordError(CMDERR_EMPTY, p, nOccurrence);
    else if (p->m_nKind == CMDOPT_NUMBER && !p->m_strValue.IsEmpty() &&
             p->m_strValue != CString(p->m_strValue.ToLong()))
      RecordError(CMDERR_NOT_NUMBER, p, nOccurrence);
    else if (FindConflict(p))
      RecordError(CMDERR_CONFLICT, p, nOccurrence);
    else if (RequiresUnmet(p))
      RecordError(CMDERR_REQUIRES, p, nOccurrence);
  }
  return m_bError;
}

// ----------------------------------------------------------------- queries

bool CCmdLine::GetError(int& nCode, CString& strName, CString& strOther,
                        int& nOccurrence) const {
  nCode = m_bError ? m_nErrorCode : 0;
  strName = m_bError ? m_strErrorName : CString();
  strOther = m_bError ? m_strErrorOther : CString();
  nOccurrence = m_bError ? m_nErrorOccurrence : 0;
  return m_bError;
}

// n = 0 and n = 1 both select the first definition that answers to the key.
const CCmdOption* CCmdLine::Select(const CString& strKey, int n) const {
  const char* pszKey = strKey.GetString();
  int nSeen = 0;
  for (const CCmdOption* p = m_pFirst; p != nullptr; p = p->m_pNext) {
    bool bKey = SameText(p->m_strName.GetString(), pszKey) ||
                (!p->m_strLabel.IsEmpty() &&
                 SameText(p->m_strLabel.GetString(), pszKey));
    if (bKey && ++nSeen >= n) return p;
  }
  return nullptr;
}

bool CCmdLine::GetValue(CString strKey, CString& strValue, int n) const {
  strValue.Empty();
  const CCmdOption* pOption = Select(strKey, n);
  if (pOption == nullptr) return false;
  strValue = pOption->m_strValue;
  return pOption->m_bPresent;
}

bool CCmdLine::IsPresent(CString strKey, int n) const {
  const CCmdOption* pOption = Select(strKey, n);
  return pOption != nullptr && pOption->m_bPresent;
}

int CCmdLine::GetCmdLineLength() const { return m_nCmdLineLength; }

// ------------------------------------------------------------ program path

namespace {

bool IsPathBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n'; }

// The position of the nth ch (n >= 1) in pszText from nFrom to nTo, or -1.
int FindNth(const char* pszText, int nFrom, int nTo, char ch, int n) {
  for (int i = nFrom; i < nTo; ++i)
    if (pszText[i] == ch && --n == 0) return i;
  return -1;
}

// The position of the last of chA or chB in pszText from nFrom to nTo, or -1.
int FindLast(const char* pszText, int nFrom, int nTo, char chA, char chB) {
  for (int i = nTo - 1; i >= nFrom; --i)
    if (pszText[i] == chA || pszText[i] == chB) return i;
  return -1;
}

// The text of strPath from nFrom to nTo.
CString Part(const CString& strPath, int nFrom, int nTo) {
  return nTo > nFrom ? strPath.Mid(nFrom, unsigned(nTo - nFrom)) : CString();
}

}  // namespace

// The parts are found by position in one pass over the path, without
// working copies.
bool SplitPath(CString strPath, CString& strDrive, CString& strDir,
               CString& strFname, CString& strExt) {
  strDrive.Empty();
  strDir.Empty();
  strFname.Empty();
  strExt.Empty();
  const char* pszPath = strPath.GetString();
  int nStart = 0;
  int nEnd = strPath.GetLength();
  while (nStart < nEnd && IsPathBlank(pszPath[nStart])) ++nStart;
  while (nEnd > nStart && IsPathBlank(pszPath[nEnd - 1])) --nEnd;

  // The drive ends at the first ":", or at the fourth backslash of a path
  // that begins with two.
  int nDrive = FindNth(pszPath, nStart, nEnd, ':', 1);
  if (nDrive < 0 && nEnd - nStart >= 2 && pszPath[nStart] == '\\' &&
      pszPath[nStart + 1] == '\\')
    nDrive = FindNth(pszPath, nStart, nEnd, '\\', 4);
  if (nDrive >= 0) {
    strDrive = Part(strPath, nStart, nDrive + 1);
    nStart = nDrive + 1;
  }

  int nDir = FindLast(pszPath, nStart, nEnd, '\\', '/');
  if (nDir >= 0) {
    strDir = Part(strPath, nStart, nDir + 1);
    nStart = nDir + 1;
  }

  // An extension is split off only when the last dot leaves at most three
  // characters after it.
  int nDot = FindLast(pszPath, nStart, nEnd, '.', '.');
  if (nDot >= 0 && nDot - nStart >= nEnd - nStart - 4) {
    strFname = Part(strPath, nStart, nDot);
    strExt = Part(strPath, nDot, nEnd);
  } else {
    strFname = Part(strPath, nStart, nEnd);
  }
  return true;
}

CString GetProgramName(CString strPath) {
  CString strDrive, strDir, strExt;
  SplitPath(std::move(strPath), strDrive, strDir, g_strProgramName, strExt);
  return g_strProgramName;
}
