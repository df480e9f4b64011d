// Texts the tests expect, built the plain way with std::string: a
// replace-all, a log entry, the erase sequence of the countdown and a
// falling count.
#ifndef ZARVO_TESTS_EXPECTEDTEXT_H
#define ZARVO_TESTS_EXPECTEDTEXT_H

#include <cstddef>
#include <string>

namespace expected {

// Every occurrence of strFrom, found left to right without overlap, replaced
// by strTo; what was inserted is not searched again.
inline std::string ReplaceAll(const std::string& strText,
                              const std::string& strFrom,
                              const std::string& strTo) {
  std::string strOut;
  std::size_t nAt = 0;
  for (std::size_t p = strText.find(strFrom); p != std::string::npos;
       p = strText.find(strFrom, nAt)) {
    strOut.append(strText, nAt, p - nAt);
    strOut += strTo;
    nAt = p + strFrom.size();
  }
  return strOut.append(strText, nAt, std::string::npos);
}

// What the log receives for a message: CR before every LF, then CR LF
// unless the line end is left out.
inline std::string LogEntry(const std::string& strMessage,
                            bool bLineEnd = true) {
  std::string strEntry;
  for (char ch : strMessage) {
    if (ch == '\n') strEntry += '\r';
    strEntry += ch;
  }
  if (bLineEnd) strEntry += "\r\n";
  return strEntry;
}

// Blanks a count of nWidth characters: nWidth backspaces, blanks, backspaces.
inline std::string Erase(int nWidth) {
  std::size_t nCount = std::size_t(nWidth);
  return std::string(nCount, '\b') + std::string(nCount, ' ') +
         std::string(nCount, '\b');
}

// The count shown from nFrom with nFalls falls, each new value written after
// the erase of the one before; no erase after the last value shown.
inline std::string Count(int nFrom, int nFalls) {
  std::string strOut = std::to_string(nFrom);
  for (int n = nFrom; n > nFrom - nFalls; --n)
    strOut += Erase(int(std::to_string(n).size())) + std::to_string(n - 1);
  return strOut;
}

}  // namespace expected

#endif
