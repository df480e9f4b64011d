#include "CmdLine.h"

#include <cstdlib>
#include <new>

CString g_strProgramName;

namespace {

const char* const LIST_SEPARATOR = ",";

// Stores a list as given; the no-list literal leaves it without entries.
void StoreList(CString& strField, const CString& strList) {
  if (strList != CMD_EMPTY_LIST) strField.AddToken(strList, LIST_SEPARATOR);
}

bool EndsWithBlank(const CString& strName) { return strName.EndsWith(" "); }

}  // namespace

// ------------------------------------------------------------- CCmdOption

CCmdOption::CCmdOption()
    : m_pPrev(nullptr),
      m_pNext(nullptr),
      m_bPresent(false),
      m_bRequired(false),
      m_bAllowEmpty(false),
      m_nKind(0) {}

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
      m_strSeparator(LIST_SEPARATOR) {}

CCmdLine::~CCmdLine() {
  CCmdOption* pOption = m_pFirst;
  while (pOption != nullptr) {
    CCmdOption* pNext = pOption->m_pNext;
    pOption->~CCmdOption();
    std::free(pOption);
    pOption = pNext;
  }
}

bool CCmdLine::AddOption(CString strName, CString strLabel, int nKind,
                         CString strRequires, CString strConflicts,
                         bool bRequired, bool bAllowEmpty) {
  // The C library's heap, not the C++ runtime's allocator: a failure is a
  // result here, never an exception.
  void* pMemory = std::malloc(sizeof(CCmdOption));
  if (pMemory == nullptr) return false;
  CCmdOption* pOption = new (pMemory) CCmdOption;
  pOption->m_strName = strName;
  pOption->m_strLabel = strLabel;
  pOption->m_nKind = nKind;
  StoreList(pOption->m_strRequires, strRequires);
  StoreList(pOption->m_strConflicts, strConflicts);
  pOption->m_bRequired = bRequired;
  pOption->m_bAllowEmpty = bAllowEmpty;
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

bool CCmdLine::AddOption(CString strName, int nKind, CString strRequires,
                         CString strConflicts, bool bRequired,
                         bool bAllowEmpty) {
  return AddOption(strName, CString(), nKind, strRequires, strConflicts,
                   bRequired, bAllowEmpty);
}

// ---------------------------------------------------------------- matching

CString CCmdLine::WorkingName(const CCmdOption* pOption) const {
  CString strName(pOption->m_strName);
  if (!m_bCaseSensitive) strName.MakeUpper();
  return strName;
}

// A name that ends with a blank is compared against the argument with one
// blank appended, so that the typed "/X" meets the name "/X ".
CString CCmdLine::Candidate(const CString& strArg,
                            const CCmdOption* pOption) const {
  CString strCandidate(strArg);
  if (!m_bCaseSensitive) strCandidate.MakeUpper();
  if (EndsWithBlank(pOption->m_strName)) strCandidate += ' ';
  return strCandidate;
}

// Whether an argument introduces this (not yet present) definition.
bool CCmdLine::Matches(const CCmdOption* pOption, const CString& strArg) const {
  CString strCandidate = Candidate(strArg, pOption);
  CString strName = WorkingName(pOption);
  if (pOption->m_nKind == CMDOPT_SWITCH) return strCandidate == strName;
  if (strName.IsEmpty()) return !IsOption(strCandidate);
  return strCandidate.StartsWith(strName);
}

bool CCmdLine::IsOption(CString strText) const {
  for (const CCmdOption* p = m_pFirst; p != nullptr; p = p->m_pNext) {
    if (p->m_bPresent) continue;
    CString strCandidate = Candidate(strText, p);
    CString strName = WorkingName(p);
    if (p->m_nKind == CMDOPT_SWITCH && strCandidate == strName) return true;
    if (p->m_nKind >= CMDOPT_NUMBER && p->m_nKind <= CMDOPT_PARAM &&
        strCandidate.StartsWith(strName))
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
    CString strArg(argv[i]);
    bool bMatched = false;
    for (CCmdOption* p = m_pFirst; p != nullptr && !bMatched; p = p->m_pNext) {
      if (p->m_bPresent) continue;
      if (p->m_nKind < CMDOPT_SWITCH || p->m_nKind > CMDOPT_PARAM) return 2;
      if (!Matches(p, strArg)) continue;
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
      m_strErrorName = strArg;
      m_strErrorOther.Empty();
      return 1;
    }
  }
  if (!bValidate) return 0;
  return Validate() ? 1 : 0;
}

void CCmdLine::CollectValue(CCmdOption* pOption, int argc,
                            const char* const* argv, int& i) {
  CString strName = WorkingName(pOption);
  pOption->m_strValue = CString(argv[i]).Mid(strName.GetLength(), 0);
  ++i;
  if (i >= argc) return;
  if (EndsWithBlank(strName) && !IsOption(argv[i])) {
    pOption->m_strValue += argv[i];
    ++i;
  }
  if (pOption->m_nKind != CMDOPT_TEXT_RUN) return;
  while (i < argc && !IsOption(argv[i])) {
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
  int nSeen = 0;
  for (const CCmdOption* p = m_pFirst; p != nullptr; p = p->m_pNext) {
    bool bKey = p->m_strName == strKey ||
                (!p->m_strLabel.IsEmpty() && p->m_strLabel == strKey);
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

// Last directory separator of either kind, or -1.
int LastSeparator(const CString& strPath) {
  int nBack = strPath.FindLast("\\");
  int nSlash = strPath.FindLast("/");
  return nBack > nSlash ? nBack : nSlash;
}

}  // namespace

bool SplitPath(CString strPath, CString& strDrive, CString& strDir,
               CString& strFname, CString& strExt) {
  strDrive.Empty();
  strDir.Empty();
  strFname.Empty();
  strExt.Empty();
  CString strWork(strPath);
  strWork.Trim(" \t\n");

  int nDrive = strWork.Find(":");
  if (nDrive < 0 && strWork.StartsWith("\\\\"))
    nDrive = strWork.FindOccurrence("\\", 4);
  if (nDrive >= 0) {
    strDrive = strWork.Left(nDrive + 1);
    strWork = strWork.Mid(nDrive + 1, 0);
  }

  int nDir = LastSeparator(strWork);
  if (nDir >= 0) {
    strDir = strWork.Left(nDir + 1);
    strWork = strWork.Mid(nDir + 1, 0);
  }

  // An extension is split off only when the last dot leaves at most three
  // characters after it.
  int nDot = strWork.FindLast(".");
  if (nDot >= 0 && nDot >= strWork.GetLength() - 4) {
    strFname = strWork.Left(nDot);
    strExt = strWork.Mid(nDot, 0);
  } else {
    strFname = strWork;
  }
  return true;
}

CString GetProgramName(CString strPath) {
  CString strDrive, strDir, strExt;
  SplitPath(strPath, strDrive, strDir, g_strProgramName, strExt);
  return g_strProgramName;
}
