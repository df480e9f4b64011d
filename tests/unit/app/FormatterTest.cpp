// The /F formatter at the fake clock's fixed local time, Sunday 31 December
// 2006 16:12:13: escapes, protected pairs and the date and time variables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <string>

#include "EchoApp.h"
#include "FakePlatform.h"

namespace {

const char* const SENTINEL = "Z$a$r$v$o";

std::string Format(const std::string& strMessage) {
  CEchoApp app;
  app.m_strMessage = strMessage.c_str();
  app.FormatMessageText();
  return app.m_strMessage.GetString();
}

struct FormatCase {
  std::string strBefore;
  std::string strAfter;
};

// Control characters shown as C escapes, so a failing row reads clearly.
std::string Visible(const std::string& strText) {
  std::string strOut;
  for (char ch : strText) {
    switch (ch) {
      case '\a': strOut += "<BEL>"; break;
      case '\b': strOut += "<BS>"; break;
      case '\f': strOut += "<FF>"; break;
      case '\n': strOut += "<LF>"; break;
      case '\r': strOut += "<CR>"; break;
      case '\t': strOut += "<TAB>"; break;
      default: strOut += ch;
    }
  }
  return strOut;
}

void PrintTo(const FormatCase& c, std::ostream* pOut) {
  *pOut << '"' << Visible(c.strBefore) << "\" -> \"" << Visible(c.strAfter)
        << '"';
}

class FormatTable : public ::testing::TestWithParam<FormatCase> {
 protected:
  void SetUp() override { fake::Reset(); }
};

TEST_P(FormatTable, BeforeAndAfter) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(Visible(Format(c.strBefore)), Visible(c.strAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, FormatTable,
    ::testing::Values(FormatCase{"", ""}, FormatCase{R"(a\nb)", "a\nb"},
                      FormatCase{R"(\a\b\f\n\r\t)", "\a\b\f\n\r\t"},
                      FormatCase{R"(\A\B\F\N\R\T)", R"(\A\B\F\N\R\T)"},
                      FormatCase{R"(C:\\new)", R"(C:\new)"},
                      FormatCase{R"(C:\new)", "C:\new"},
                      FormatCase{R"(\\\n)", "\\\n"},  // three backslashes and n
                      FormatCase{R"(\\\\n)", R"(\\n)"},  // two pairs stay two
                      FormatCase{R"(\x)", R"(\x)"},
                      FormatCase{R"(\N)", R"(\N)"},
                      FormatCase{R"(end\)", R"(end\)"},
                      FormatCase{SENTINEL, "\\"},
                      FormatCase{std::string(SENTINEL) + "%%", "\\%"}));

INSTANTIATE_TEST_SUITE_P(
    PercentSigns, FormatTable,
    ::testing::Values(FormatCase{"100%% done", "100% done"},
                      FormatCase{"%%d", "%d"},
                      FormatCase{"%%%d", "%Sun 12/31/2006"},
                      FormatCase{"%%%%", "%%"}, FormatCase{"a%%b%%c", "a%b%c"},
                      FormatCase{"50%", "50%"}, FormatCase{"%", "%"},
                      FormatCase{"%5", "%5"}, FormatCase{"%x", "%x"},
                      FormatCase{"%D", "%D"}, FormatCase{"%T", "%T"},
                      FormatCase{"%1D", "%1D"}, FormatCase{"%-1d", "%-1d"},
                      FormatCase{"%+1d", "%+1d"}, FormatCase{"% d", "% d"},
                      FormatCase{R"(\\%d)", R"(\Sun 12/31/2006)"}));

INSTANTIATE_TEST_SUITE_P(
    DateTypes, FormatTable,
    ::testing::Values(
        FormatCase{"%d", "Sun 12/31/2006"}, FormatCase{"%0d", "Sun 12/31/2006"},
        FormatCase{"%1d", "Sunday, December 31, 2006"},
        FormatCase{"%2d", "Sun, Dec 31, 2006"},
        FormatCase{"%3d", "Dec 31, 2006"}, FormatCase{"%4d", "12-31-2006"},
        FormatCase{"%5d", "12/31/2006"}, FormatCase{"%6d", "2006-12-31"},
        FormatCase{"%7d", "2006-Dec-31"}, FormatCase{"%8d", "2006-December-31"},
        FormatCase{"%9d", "20061231"}, FormatCase{"%09d", "20061231"},
        FormatCase{"%10d", "%10d"}));

INSTANTIATE_TEST_SUITE_P(TimeTypes, FormatTable,
                         ::testing::Values(FormatCase{"%t", "16:12:13"},
                                           FormatCase{"%0t", "16:12:13"},
                                           FormatCase{"%1t", "04:12:13 PM"},
                                           FormatCase{"%2t", "%2t"},
                                           FormatCase{"%10t", "%10t"}));

// Type numbers too large for 32 bits name no type; a wrapping conversion
// would turn 2^32 into type 0 and 2^32 + 1 into type 1.
INSTANTIATE_TEST_SUITE_P(
    LongTypeNumbers, FormatTable,
    ::testing::Values(
        FormatCase{"%99999999999d", "%99999999999d"},
        FormatCase{"%2147483647d", "%2147483647d"},
        FormatCase{"%2147483648d", "%2147483648d"},
        FormatCase{"%4294967296d", "%4294967296d"},
        FormatCase{"%4294967297t", "%4294967297t"},
        FormatCase{"%18446744073709551617d", "%18446744073709551617d"},
        FormatCase{"%00000000000000000001d", "Sunday, December 31, 2006"}));

// Where tokens meet: the scan goes on right after each inserted text.
INSTANTIATE_TEST_SUITE_P(
    Scan, FormatTable,
    ::testing::Values(
        FormatCase{"%d and %d", "Sun 12/31/2006 and Sun 12/31/2006"},
        FormatCase{"%09d%t", std::string("20061231") + "16:12:13"},
        FormatCase{"%000000000000000003d%1t", "Dec 31, 200604:12:13 PM"},
        FormatCase{
            "%d%t%1d%1t",
            "Sun 12/31/200616:12:13Sunday, December 31, 200604:12:13 PM"},
        FormatCase{"%2t%t", "%2t16:12:13"},
        FormatCase{"%0%d", "%0Sun 12/31/2006"},
        FormatCase{"%d%", "Sun 12/31/2006%"},
        FormatCase{"[%6d] %t\\n", "[2006-12-31] 16:12:13\n"}));

TEST(Formatter, TypesOutsideTheTablesGiveNoText) {
  fake::Reset();
  CEchoApp app;
  for (int nType : {-1, 10, INT_MAX, INT_MIN}) {
    EXPECT_EQ(std::string(app.GetDateText(nType).GetString()), "") << nType;
    EXPECT_EQ(std::string(app.GetTimeText(nType).GetString()), "") << nType;
  }
}

// The clock seam decides the text: another moment gives another text, and
// midnight shows as 12 in the 12-hour form.
TEST(Formatter, ReadsTheClockThroughTheSeam) {
  fake::Reset(946684805);  // Saturday 1 January 2000, 00:00:05
  EXPECT_EQ(Format("%1d %1t|%t|%7d"),
            "Saturday, January 01, 2000 12:00:05 AM|00:00:05|2000-Jan-01");
}

TEST(Formatter, GrowsALongMessageTokenByToken) {
  fake::Reset();
  std::string strBefore, strAfter;
  for (int n = 0; n < 300; ++n) {
    strBefore += "%8d|%t|%%|";
    strAfter += "2006-December-31|16:12:13|%|";
  }
  EXPECT_EQ(Format(strBefore), strAfter);
}

#ifndef _WIN32  // glibc's locales and localedef
// A German time category in a folder of its own, built from the system's
// locale sources when no installed one answers, so that a formatter that
// adopted the environment's locale would show German names.
class GermanLocale {
 public:
  GermanLocale() {
    if (std::setlocale(LC_TIME, "de_DE.UTF-8") != nullptr) {
      m_strName = "de_DE.UTF-8";
      return;
    }
    char szFolder[] = "/tmp/zarvo-locale-XXXXXX";
    if (mkdtemp(szFolder) == nullptr) return;
    m_strFolder = szFolder;
    std::string strCommand = "localedef -i de_DE -f ISO-8859-1 '" +
                             m_strFolder + "/de_DE.ISO-8859-1' >/dev/null 2>&1";
    if (std::system(strCommand.c_str()) == 0) m_strName = "de_DE.ISO-8859-1";
  }
  ~GermanLocale() {
    std::setlocale(LC_TIME, "C");
    if (!m_strFolder.empty()) {
      std::error_code error;
      std::filesystem::remove_all(m_strFolder, error);
    }
  }
  const std::string& Name() const { return m_strName; }
  const std::string& Folder() const { return m_strFolder; }

 private:
  std::string m_strName;
  std::string m_strFolder;
};

// Sets the locale variables for the test and takes them away after it.
class LocaleEnvironment {
 public:
  explicit LocaleEnvironment(const GermanLocale& locale) {
    if (!locale.Folder().empty()) setenv("LOCPATH", locale.Folder().c_str(), 1);
    for (const char* pszName : {"LC_ALL", "LC_TIME", "LANG"})
      setenv(pszName, locale.Name().c_str(), 1);
  }
  ~LocaleEnvironment() {
    for (const char* pszName : {"LOCPATH", "LC_ALL", "LC_TIME", "LANG"})
      unsetenv(pszName);
  }
};

std::string WeekdayInCurrentLocale() {
  std::tm tmSunday = {};
  tmSunday.tm_year = 106;
  tmSunday.tm_mon = 11;
  tmSunday.tm_mday = 31;
  tmSunday.tm_wday = 0;
  char szDay[64];
  return std::strftime(szDay, sizeof szDay, "%A", &tmSunday) ? szDay : "";
}

TEST(Formatter, NamesAreEnglishWhateverTheLocaleEnvironmentSays) {
  fake::Reset();
  GermanLocale locale;
  if (locale.Name().empty())
    GTEST_SKIP() << "no German locale and no locale sources (package locales)";
  LocaleEnvironment environment(locale);
  // The environment really names German: adopting it shows "Sonntag".
  ASSERT_NE(std::setlocale(LC_TIME, ""), nullptr);
  ASSERT_EQ(WeekdayInCurrentLocale(), "Sonntag");
  std::setlocale(LC_TIME, "C");  // the start-up state of the tool

  CEchoApp app;
  EXPECT_EQ(std::string(app.GetDateText(8).GetString()), "2006-December-31");
  EXPECT_EQ(Format("%1d %1t %2d"),
            "Sunday, December 31, 2006 04:12:13 PM Sun, Dec 31, 2006");
  EXPECT_EQ(std::string(app.GetDateText(1).GetString()),
            "Sunday, December 31, 2006");
  EXPECT_EQ(WeekdayInCurrentLocale(), "Sunday");
}
#endif

}  // namespace
