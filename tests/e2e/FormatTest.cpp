// zarvo /F as a user runs it, at a fixed clock given by Debian's faketime
// library (package faketime), which the run preloads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Harness.h"

namespace {

// The preloadable faketime library: the usual multiarch places first, then
// wherever the package put it.
std::string FakeTimeLibrary() {
  for (const char* pszPath :
       {"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
        "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1",
        "/usr/lib/faketime/libfaketime.so.1"})
    if (e2e::FileExists(pszPath)) return pszPath;
  std::string strFound;
  if (FILE* pList = popen("dpkg -L libfaketime 2>/dev/null", "r")) {
    char szLine[4096];
    const std::string strName = "/libfaketime.so.1";
    while (std::fgets(szLine, sizeof szLine, pList) != nullptr) {
      std::string strLine(szLine);
      while (!strLine.empty() && strLine.back() == '\n') strLine.pop_back();
      if (strLine.size() > strName.size() &&
          strLine.compare(strLine.size() - strName.size(), strName.size(),
                          strName) == 0)
        strFound = strLine;
    }
    pclose(pList);
  }
  return strFound;
}

// "2006-12-31 16:12:13" stops the clock there; "@2006-12-31 16:12:13 i1.0"
// starts it there and moves it one second on every read.
std::vector<std::string> FakeTimeEnv(const std::string& strLibrary,
                                     const std::string& strFakeTime) {
  return {"LD_PRELOAD=" + strLibrary, "FAKETIME=" + strFakeTime, "TZ=UTC",
          "FAKETIME_DONT_FAKE_MONOTONIC=1",
          // A sanitizer build would refuse a library loaded before its own.
          "ASAN_OPTIONS=verify_asan_link_order=0"};
}

const char* const FROZEN = "2006-12-31 16:12:13";
const char* const TICKING = "@2006-12-31 16:12:13 i1.0";

class FormatE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strLibrary = FakeTimeLibrary();
    if (m_strLibrary.empty())
      GTEST_SKIP() << "libfaketime.so.1 is not installed (package faketime)";
  }

  e2e::RunResult RunAt(const std::string& strFakeTime,
                       const std::vector<std::string>& aArgs,
                       const std::vector<std::string>& aMoreEnv = {}) {
    e2e::RunOptions options;
    options.aArgs = aArgs;
    options.aEnv = FakeTimeEnv(m_strLibrary, strFakeTime);
    options.aEnv.insert(options.aEnv.end(), aMoreEnv.begin(), aMoreEnv.end());
    return e2e::Run(options);
  }

  std::string m_strLibrary;
};

TEST_F(FormatE2E, LongDateAndTwelveHourTime) {
  e2e::RunResult result = RunAt(FROZEN, {"/F", "%1d %1t"});
  EXPECT_EQ(result.strOut, "Sunday, December 31, 2006 04:12:13 PM\n");
  EXPECT_EQ(result.nExitCode, 0);
}

TEST_F(FormatE2E, IsoDateAndEightDigitDate) {
  EXPECT_EQ(RunAt(FROZEN, {"/F", "%6d"}).strOut, "2006-12-31\n");
  EXPECT_EQ(RunAt(FROZEN, {"/f", "%9d-%t"}).strOut, "20061231-16:12:13\n");
}

TEST_F(FormatE2E, WithoutFormatTheMessageStaysAsTyped) {
  EXPECT_EQ(RunAt(FROZEN, {"%d \\n %%"}).strOut, "%d \\n %%\n");
}

// A German locale in a folder of its own, built from the system's locale
// sources; the environment then names it through LOCPATH.
class GermanLocaleFolder {
 public:
  GermanLocaleFolder() {
    std::string strCommand = "localedef -i de_DE -f ISO-8859-1 '" +
                             m_folder.File("de_DE.ISO-8859-1") +
                             "' >/dev/null 2>&1";
    m_bMade = std::system(strCommand.c_str()) == 0;
  }
  bool Made() const { return m_bMade; }
  std::vector<std::string> Env() const {
    const std::string strName = "de_DE.ISO-8859-1";
    return {"LOCPATH=" + m_folder.Path(), "LC_ALL=" + strName,
            "LC_TIME=" + strName, "LANG=" + strName};
  }

 private:
  e2e::TempDir m_folder;
  bool m_bMade = false;
};

TEST_F(FormatE2E, EnglishNamesUnderAGermanLocaleEnvironment) {
  GermanLocaleFolder locale;
  if (!locale.Made())
    GTEST_SKIP() << "cannot build a German locale (package locales)";
  // The same environment makes a program that adopts it speak German.
  e2e::RunOptions control;
  control.strExecutable = "/bin/date";
  control.aArgs = {"+%A %B"};
  control.aEnv = FakeTimeEnv(m_strLibrary, FROZEN);
  for (const std::string& strVar : locale.Env()) control.aEnv.push_back(strVar);
  ASSERT_EQ(e2e::Run(control).strOut, "Sonntag Dezember\n");

  e2e::RunResult result = RunAt(FROZEN, {"/F", "%1d %1t %8d"}, locale.Env());
  EXPECT_EQ(result.strOut,
            "Sunday, December 31, 2006 04:12:13 PM 2006-December-31\n");
  EXPECT_EQ(result.nExitCode, 0);
}

// The clock moves a second on every read here. Every variable of a message
// shows one reading, so a date and a time taken at the last second of a day
// name one instant; the copies of /R: show the one formatted time.
TEST_F(FormatE2E, OneClockReadingPerMessage) {
  EXPECT_EQ(RunAt("@2026-12-08 23:59:59 i1.0", {"/F", "%9d %t %1t %0t"}).strOut,
            "20261208 23:59:59 11:59:59 PM 23:59:59\n");
  EXPECT_EQ(RunAt(TICKING, {"/R:2", "/F", "%t"}).strOut, "16:12:1316:12:13\n");
}

// One token text is read from the clock once and fills every place it occurs.
TEST_F(FormatE2E, EveryCopyOfATokenGetsOneTime) {
  std::string strOut = RunAt(TICKING, {"/F", "%t %t %t"}).strOut;
  ASSERT_EQ(strOut.size(), 27u) << strOut;
  EXPECT_EQ(strOut.substr(9, 8), strOut.substr(0, 8));
  EXPECT_EQ(strOut.substr(18, 8), strOut.substr(0, 8));
}

TEST(FormatLogE2E, EscapedLineEndsReachTheLogAsCrLf) {
  e2e::TempDir folder;
  e2e::RunOptions options;
  options.aArgs = {"/F", "a\\r\\nb"};
  options.aEnv = {"ZARVO_LOG=" + folder.File("zarvo.log")};
  e2e::RunResult result = e2e::Run(options);
  EXPECT_EQ(result.strOut, "a\r\nb\n");
  EXPECT_EQ(e2e::ReadFile(folder.File("zarvo.log")),
            std::string("\x61\x0D\x0D\x0A\x62\x0D\x0A"));
  EXPECT_EQ(result.nExitCode, 0);
}

}  // namespace
