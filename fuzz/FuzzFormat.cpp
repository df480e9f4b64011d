// Runs the /F formatter on random messages at the scripted platform's fixed
// clock and compares the result with a plain std::string rendering of the
// same six passes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "EchoApp.h"
#include "ExpectedText.h"
#include "FakePlatform.h"

namespace {

const char* const SENTINEL = "Z$a$r$v$o";

using expected::ReplaceAll;

// The clock of the scripted platform, formatted as the variables want it.
std::string Strftime(const char* pszFormat) {
  std::time_t tNow = fake::DEFAULT_START;
  std::tm tmNow;
  gmtime_r(&tNow, &tmNow);
  char szText[256];
  std::size_t nLength = std::strftime(szText, sizeof szText, pszFormat, &tmNow);
  return std::string(szText, nLength);
}

// The text of a variable token "%<digits>d" or "%<digits>t"; "" for a type
// outside the tables, which leaves the token as typed.
std::string VariableText(const std::string& strToken) {
  static const char* const s_apszDates[] = {
      "%a %m/%d/%Y", "%A, %B %d, %Y", "%a, %b %d, %Y", "%b %d, %Y", "%m-%d-%Y",
      "%m/%d/%Y",    "%Y-%m-%d",      "%Y-%b-%d",      "%Y-%B-%d",  "%Y%m%d"};
  std::string strDigits = strToken.substr(1, strToken.size() - 2);
  // Leading zeros do not change the type; a long run is no type at all.
  std::size_t nFirst = strDigits.find_first_not_of('0');
  std::string strSignificant =
      nFirst == std::string::npos ? "0" : strDigits.substr(nFirst);
  if (strSignificant.size() > 1) return "";
  int nType = strSignificant[0] - '0';
  if (strToken.back() == 'd') return Strftime(s_apszDates[nType]);
  if (nType == 0) return Strftime("%H:%M:%S");
  if (nType == 1) return Strftime("%I:%M:%S %p");
  return "";
}

std::string Reference(std::string strText) {
  strText = ReplaceAll(strText, "\\\\", SENTINEL);
  const char* const apszEscapes[] = {"\\a", "\\b", "\\f", "\\n", "\\r", "\\t"};
  const char* const apszCodes[] = {"\a", "\b", "\f", "\n", "\r", "\t"};
  for (int n = 0; n < 6; ++n)
    strText = ReplaceAll(strText, apszEscapes[n], apszCodes[n]);
  strText = ReplaceAll(strText, SENTINEL, "\\");
  strText = ReplaceAll(strText, "%%", SENTINEL);
  std::string strToken;
  bool bInToken = false;
  std::size_t i = 0;
  while (i < strText.size()) {
    char ch = strText[i++];
    if (ch == '%') {
      strToken = "%";
      bInToken = true;
      continue;
    }
    if (!bInToken) continue;
    strToken += ch;
    if (ch >= '0' && ch <= '9') continue;
    bInToken = false;
    if (ch != 'd' && ch != 't') continue;
    std::string strValue = VariableText(strToken);
    if (strValue.empty()) continue;
    // Every copy of the token is replaced; the scan resumes right after
    // the text just inserted.
    std::size_t nStart = i - strToken.size();
    strText = ReplaceAll(strText, strToken, strValue);
    i = nStart + strValue.size();
  }
  return ReplaceAll(strText, SENTINEL, "%");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData,
                                      std::size_t nSize) {
  // The message is a C text: it ends at the first NUL.
  std::string strMessage(reinterpret_cast<const char*>(pData), nSize);
  strMessage = strMessage.c_str();
  fake::Reset();
  CEchoApp app;
  app.m_strMessage = strMessage.c_str();
  app.FormatMessageText();
  std::string strExpected = Reference(strMessage);
  if (strExpected != app.m_strMessage.GetString()) {
    std::fprintf(stderr, "formatter mismatch\nexpected: [%s]\nactual:   [%s]\n",
                 strExpected.c_str(), app.m_strMessage.GetString());
    std::abort();
  }
  return 0;
}
