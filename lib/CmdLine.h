// General-purpose parser for a program's argument vector.
#ifndef ZARVO_LIB_CMDLINE_H
#define ZARVO_LIB_CMDLINE_H

#include "ZString.h"

enum {
  CMDOPT_SWITCH = 1,    // the whole argument equals the name
  CMDOPT_NUMBER = 2,    // name, then a canonical decimal integer
  CMDOPT_TEXT = 3,      // name, then any text
  CMDOPT_TEXT_RUN = 4,  // name, then text and the following free words
  CMDOPT_PARAM = 5      // name, then any text (the positional kind)
};

enum {
  CMDERR_INVALID = 1,
  CMDERR_REQUIRED = 2,
  CMDERR_EMPTY = 3,
  CMDERR_NOT_NUMBER = 4,
  CMDERR_CONFLICT = 5,
  CMDERR_REQUIRES = 6
};

// The literal that stands for "no list" where a list is expected.
#define CMD_EMPTY_LIST "%EmptyList%"

class CCmdOption {
 public:
  CCmdOption();
  // A definition that takes over the texts of its name and label.
  CCmdOption(CString&& strName, CString&& strLabel, int nKind, bool bRequired,
             bool bAllowEmpty);

  // The label when there is one, else the name: what errors and lists name.
  const CString& Identity() const;

  CCmdOption* m_pPrev;
  CCmdOption* m_pNext;
  CString m_strName;
  CString m_strLabel;
  CString m_strValue;
  CString m_strRequires;
  CString m_strConflicts;
  bool m_bPresent;
  bool m_bRequired;
  bool m_bAllowEmpty;
  int m_nKind;
};

class CCmdLine {
 public:
  CCmdLine();
  ~CCmdLine();

  bool AddOption(CString strName, CString strLabel, int nKind,
                 CString strRequires, CString strConflicts, bool bRequired,
                 bool bAllowEmpty);
  bool AddOption(CString strName, int nKind, CString strRequires,
                 CString strConflicts, bool bRequired, bool bAllowEmpty);

  // 0 success, 1 an error was recorded, 2 a definition of unknown kind.
  int Parse(int argc, const char* const* argv, bool bCaseSensitive,
            bool bValidate);

  bool GetError(int& nCode, CString& strName, CString& strOther,
                int& nOccurrence) const;
  bool GetValue(CString strKey, CString& strValue, int n) const;
  bool IsPresent(CString strKey, int n) const;
  int GetCmdLineLength() const;

  // Whether the text introduces an option that is not yet present.
  bool IsOption(CString strText) const;

 private:
  CCmdLine(const CCmdLine&);
  CCmdLine& operator=(const CCmdLine&);

  bool Append(CString& strName, CString& strLabel, int nKind,
              CString& strRequires, CString& strConflicts, bool bRequired,
              bool bAllowEmpty);
  bool NameMatches(const CCmdOption* pOption, const char* pszArg) const;
  bool Matches(const CCmdOption* pOption, const char* pszArg) const;
  bool IsOptionText(const char* pszText) const;
  void CollectValue(CCmdOption* pOption, int argc, const char* const* argv,
                    int& i);
  bool Validate();
  int OccurrenceOf(const CCmdOption* pOption) const;
  bool EntryPresent(const CCmdOption* pOwner, const CString& strEntry,
                    CString& strEntryName) const;
  bool FindConflict(const CCmdOption* pOption);
  bool RequiresUnmet(const CCmdOption* pOption);
  void RecordError(int nCode, const CCmdOption* pOption, int nOccurrence);
  const CCmdOption* Select(const CString& strKey, int n) const;

  CCmdOption* m_pFirst;
  bool m_bCaseSensitive;
  bool m_bError;
  int m_nErrorCode;
  int m_nErrorOccurrence;
  int m_nCmdLineLength;
  CString m_strSeparator;
  CString m_strErrorOther;
  CString m_strErrorName;
  // Room for the first definitions, so that a table of the usual size
  // needs no heap; the rest are allocated one by one.
  enum { OPTION_ROOM = 16 };
  alignas(CCmdOption) unsigned char m_abRoom[OPTION_ROOM * sizeof(CCmdOption)];
  int m_nRoomUsed;
};

// Splits a path into drive, directory, file name and extension. Both "\"
// and "/" separate directories.
bool SplitPath(CString strPath, CString& strDrive, CString& strDir,
               CString& strFname, CString& strExt);

// The file name of a program path without directory and extension; also
// kept in g_strProgramName.
CString GetProgramName(CString strPath);

extern CString g_strProgramName;

#endif
