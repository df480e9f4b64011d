// The /F formatter: backslash escapes and the date and time variables.
#include <climits>
#include <cstddef>
#include <ctime>

#include "Clock.h"
#include "EchoApp.h"

namespace {

// Holds the place of one protected character ("\\", later "%%").
const char* const SENTINEL = "Z$a$r$v$o";
// The escapes, expanded in this order, and the control character of each.
const char* const ESCAPES[] = {"\\a", "\\b", "\\f", "\\n", "\\r", "\\t"};
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

// One reading of the clock as local time, taken when first asked for.
class CClockReading {
 public:
  CClockReading() : m_bRead(false), m_bValid(false), m_tmLocal() {}

  // The local time of the reading; null when the clock cannot be read.
  const std::tm* Get() {
    if (!m_bRead) m_bValid = PlatformLocalTime(PlatformNow(), &m_tmLocal);
    m_bRead = true;
    return m_bValid ? &m_tmLocal : nullptr;
  }

 private:
  bool m_bRead;
  bool m_bValid;
  std::tm m_tmLocal;
};

// A local time through strftime into an area of nSize bytes; "" for no
// format or no time. Day and month names are those of the "C" locale, the
// one every process starts in: English, whatever the environment names,
// and without loading any locale file.
CString FormatTime(const char* pszFormat, int nSize, const std::tm* pTime) {
  if (pszFormat == nullptr || pTime == nullptr) return CString();
  char szArea[DATE_AREA_SIZE];
  if (std::strftime(szArea, std::size_t(nSize), pszFormat, pTime) == 0)
    szArea[0] = '\0';
  return CString(szArea);
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
  CClockReading reading;
  return FormatTime(DateFormat(nType), DATE_AREA_SIZE, reading.Get());
}

CString CEchoApp::GetTimeText(int nType) {
  CClockReading reading;
  return FormatTime(TimeFormat(nType), TIME_AREA_SIZE, reading.Get());
}

void CEchoApp::FormatMessageText() {
  m_strMessage.Replace("\\\\", SENTINEL);
  for (int n = 0; n < int(sizeof ESCAPE_CODES); ++n)
    m_strMessage.Replace(ESCAPES[n], CString(ESCAPE_CODES[n], 1));
  m_strMessage.Replace(SENTINEL, "\\");

  m_strMessage.Replace("%%", SENTINEL);
  // The variable scan. A token is replaced everywhere at once, and the scan
  // goes on right after the text just inserted. Every variable of the
  // message shows the one clock reading taken at the first of them, so a
  // date and a time never straddle a change of day.
  CClockReading reading;
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
    const std::tm* pNow = reading.Get();
    CString strText = ch == 'd'
                          ? FormatTime(DateFormat(nType), DATE_AREA_SIZE, pNow)
                          : FormatTime(TimeFormat(nType), TIME_AREA_SIZE, pNow);
    if (strText.IsEmpty()) continue;
    int nStart = i - strToken.GetLength();
    m_strMessage.Replace(strToken, strText);
    i = nStart + strText.GetLength();
  }
  m_strMessage.Replace(SENTINEL, "%");
}
