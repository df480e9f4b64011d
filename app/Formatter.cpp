// The /F formatter: backslash escapes and the date and time variables.
#include <climits>
#include <clocale>
#include <ctime>

#include "EchoApp.h"
#include "Platform.h"

namespace {

// Holds the place of one protected character ("\\", later "%%").
const char* const SENTINEL = "Z$a$r$v$o";
const char* const ESCAPE_LIST = "\\a,\\b,\\f,\\n,\\r,\\t";
const char ESCAPE_CODES[] = {'\a', '\b', '\f', '\n', '\r', '\t'};

const int DATE_AREA_SIZE = 256;
const int TIME_AREA_SIZE = 12;
const int NO_TYPE = -1;

const char* DateFormat(int nType) {
  static const char* const s_apszFormats[] = {
      "%a %m/%d/%Y", "%A, %B %d, %Y", "%a, %b %d, %Y", "%b %d, %Y", "%m-%d-%Y",
      "%m/%d/%Y",    "%Y-%m-%d",      "%Y-%b-%d",      "%Y-%B-%d",  "%Y%m%d"};
  return nType >= 0 && nType <= 9 ? s_apszFormats[nType] : nullptr;
}

const char* TimeFormat(int nType) {
  if (nType == 0) return "%H:%M:%S";
  if (nType == 1) return "%I:%M:%S %p";
  return nullptr;
}

// The current local time through strftime into an area of nSize bytes;
// "" for no format or a clock that cannot be read.
CString FormatNow(const char* pszFormat, int nSize) {
  CString strText;
  std::tm tmNow;
  if (pszFormat == nullptr || !PlatformLocalTime(PlatformNow(), &tmNow))
    return strText;
  char* pszArea = strText.GetBuffer(unsigned(nSize - 1));
  if (std::strftime(pszArea, std::size_t(nSize), pszFormat, &tmNow) == 0)
    pszArea[0] = '\0';
  strText.ReleaseBuffer();
  return strText;
}

// The type number of a token "%<digits>d": no digits give 0, a run too long
// for a 32-bit number gives no type at all. The bound is tested before each
// step, so no width of long is assumed and nothing overflows.
int TokenType(const CString& strToken) {
  int nType = 0;
  for (int i = 1; i < strToken.GetLength() - 1; ++i) {
    int nDigit = strToken.GetAt(unsigned(i)) - '0';
    if (nType > (INT_MAX - nDigit) / 10) return NO_TYPE;
    nType = nType * 10 + nDigit;
  }
  return nType;
}

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

}  // namespace

CString CEchoApp::GetDateText(int nType) {
  return FormatNow(DateFormat(nType), DATE_AREA_SIZE);
}

// Day and month names come from the time category of the locale; "en_US"
// or, where it is missing, the "C" locale gives the English ones.
CString CEchoApp::GetTimeText(int nType) {
  std::setlocale(LC_TIME, "en_US");
  return FormatNow(TimeFormat(nType), TIME_AREA_SIZE);
}

void CEchoApp::FormatMessageText() {
  m_strMessage.Replace("\\\\", SENTINEL);
  CString strEscapes(ESCAPE_LIST);
  int nEscapes = strEscapes.GetTokenCount(",");
  for (int n = 0; n < nEscapes; ++n)
    m_strMessage.Replace(strEscapes.GetToken(n, ","),
                         CString(ESCAPE_CODES[n], 1));
  m_strMessage.Replace(SENTINEL, "\\");

  m_strMessage.Replace("%%", SENTINEL);
  // The variable scan. A token is replaced everywhere at once, and the scan
  // goes on right after the text just inserted.
  CString strToken;
  bool bInToken = false;
  int i = 0;
  while (i < m_strMessage.GetLength()) {
    char ch = m_strMessage.GetAt(unsigned(i));
    ++i;
    if (ch == '%') {
      strToken = "%";
      bInToken = true;
      continue;
    }
    if (!bInToken) continue;
    strToken += ch;
    if (IsDigit(ch)) continue;
    bInToken = false;
    if (ch != 'd' && ch != 't') continue;
    int nType = TokenType(strToken);
    CString strText = ch == 'd' ? GetDateText(nType) : GetTimeText(nType);
    if (strText.IsEmpty()) continue;
    int nStart = i - strToken.GetLength();
    m_strMessage.Replace(strToken, strText);
    i = nStart + strText.GetLength();
  }
  m_strMessage.Replace(SENTINEL, "%");
}
