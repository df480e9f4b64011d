// Runs the built zarvo binary as a user would and captures what it does.
#ifndef ZARVO_TESTS_HARNESS_H
#define ZARVO_TESTS_HARNESS_H

#include <string>
#include <vector>

namespace e2e {

struct RunOptions {
  std::string strArgv0;              // "" means the binary's own path
  std::vector<std::string> aArgs;    // the arguments after argv[0]
  std::vector<std::string> aEnv;     // "NAME=value"; nothing is inherited
  std::string strCwd;                // "" means the test's own
  std::string strStdin;              // fed to standard input, then EOF
  bool bNewSession = true;           // setsid(): no controlling terminal
  std::string strExecutable;         // "" means the zarvo under test
  long long nAddressSpaceLimit = 0;  // RLIMIT_AS in bytes; 0 means none
  bool bCloseStdout = false;         // start with standard output closed
  std::string strStdoutFile;         // standard output appends to this file
  long long nStdoutLimit = -1;       // stop reading after this many bytes
  bool bDefaultSigpipe = false;      // SIGPIPE not ignored, as from a shell
  long long nFileSizeLimit = 0;      // RLIMIT_FSIZE in bytes; 0 means none
  bool bUnprivileged = false;        // as root: run as the user nobody
  int nDeadlineSeconds = 120;        // then the run is killed (SIGKILL)
};

struct RunResult {
  std::string strOut;
  std::string strErr;
  int nExitCode = -1;  // -1 when ended by a signal
  int nSignal = 0;     // the signal that ended it, or 0
};

// Runs with the given options; standard output and error are captured.
RunResult Run(const RunOptions& options);

// Shorthand: zarvo with these arguments and an empty environment.
RunResult RunArgs(const std::vector<std::string>& aArgs);

// The path of the zarvo binary under test.
std::string BinaryPath();

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return m_strPath; }
  std::string File(const std::string& strName) const;

 private:
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string m_strPath;
};

// Whole-file helpers; ReadFile gives "" and sets *pbExists for a missing file.
std::string ReadFile(const std::string& strPath, bool* pbExists = nullptr);
void WriteFile(const std::string& strPath, const std::string& strData);
bool FileExists(const std::string& strPath);

// The bytes of an expected-output file kept in tests/e2e/expected/.
std::string ExpectedFile(const std::string& strName);

}  // namespace e2e

#endif
