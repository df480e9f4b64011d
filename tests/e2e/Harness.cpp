#include "Harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {

namespace {

std::vector<char*> CStrings(std::vector<std::string>& aText) {
  std::vector<char*> aPtr;
  for (std::string& s : aText) aPtr.push_back(&s[0]);
  aPtr.push_back(nullptr);
  return aPtr;
}

// In the child: wire the pipes and exec; never returns.
[[noreturn]] void ExecChild(const RunOptions& options, int nIn, int nOut,
                            int nErr, std::vector<std::string> aArgv,
                            std::vector<std::string> aEnv) {
  if (options.bNewSession) setsid();
  dup2(nIn, 0);
  dup2(nOut, 1);
  dup2(nErr, 2);
  if (options.bCloseStdout) close(1);
  if (!options.strStdoutFile.empty()) {
    int nFile = open(options.strStdoutFile.c_str(),
                     O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (nFile < 0 || dup2(nFile, 1) != 1) _exit(124);
  }
  if (options.bDefaultSigpipe) signal(SIGPIPE, SIG_DFL);
  if (options.nAddressSpaceLimit > 0) {
    rlimit tLimit;
    tLimit.rlim_cur = tLimit.rlim_max = rlim_t(options.nAddressSpaceLimit);
    if (setrlimit(RLIMIT_AS, &tLimit) != 0) _exit(125);
  }
  if (options.nFileSizeLimit > 0) {
    rlimit tLimit;
    tLimit.rlim_cur = tLimit.rlim_max = rlim_t(options.nFileSizeLimit);
    if (setrlimit(RLIMIT_FSIZE, &tLimit) != 0) _exit(125);
  }
  const uid_t NOBODY = 65534;
  if (options.bUnprivileged && geteuid() == 0 &&
      (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 ||
       setuid(NOBODY) != 0))
    _exit(123);
  if (!options.strCwd.empty() && chdir(options.strCwd.c_str()) != 0) _exit(126);
  std::vector<char*> argv = CStrings(aArgv);
  std::vector<char*> envp = CStrings(aEnv);
  std::string strExe =
      options.strExecutable.empty() ? BinaryPath() : options.strExecutable;
  execve(strExe.c_str(), argv.data(), envp.data());
  _exit(127);
}

// Feeds standard input and drains both outputs until the child closes them;
// standard output is closed early once nOutLimit bytes (>= 0) have come.
// A run still going after nSeconds is killed, with its process group when
// it has one of its own, so that a fault fails a test instead of hanging it.
void Pump(int nIn, const std::string& strInput, int nOut, int nErr,
          long long nOutLimit, pid_t nChild, bool bGroup, int nSeconds,
          RunResult& result) {
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
  std::size_t nFed = 0;
  if (nOutLimit == 0) {
    close(nOut);
    nOut = -1;
  }
  if (strInput.empty()) {
    close(nIn);
    nIn = -1;
  }
  while (nOut >= 0 || nErr >= 0) {
    pollfd aPoll[3] = {{nOut, POLLIN, 0}, {nErr, POLLIN, 0}, {nIn, POLLOUT, 0}};
    auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                     tEnd - std::chrono::steady_clock::now())
                     .count();
    if (nLeft <= 0) kill(bGroup ? -nChild : nChild, SIGKILL);
    if (poll(aPoll, 3, nLeft > 0 ? int(nLeft) : 1000) < 0 && errno != EINTR)
      break;
    char abBuf[65536];
    for (int k = 0; k < 2; ++k) {
      int& nFd = k == 0 ? nOut : nErr;
      if (nFd < 0 || aPoll[k].revents == 0) continue;
      ssize_t nRead = read(nFd, abBuf, sizeof abBuf);
      if (nRead > 0) {
        (k == 0 ? result.strOut : result.strErr)
            .append(abBuf, std::size_t(nRead));
        // A reader that stops early: the child's next write finds no reader.
        if (k == 0 && nOutLimit > 0 &&
            result.strOut.size() >= std::size_t(nOutLimit)) {
          close(nFd);
          nFd = -1;
        }
      } else if (nRead == 0 || errno != EINTR) {
        close(nFd);
        nFd = -1;
      }
    }
    if (nIn >= 0 && aPoll[2].revents != 0) {
      ssize_t nWritten =
          write(nIn, strInput.data() + nFed, strInput.size() - nFed);
      if (nWritten > 0) nFed += std::size_t(nWritten);
      if (nWritten < 0 || nFed == strInput.size()) {
        close(nIn);
        nIn = -1;
      }
    }
  }
  if (nIn >= 0) close(nIn);
}

}  // namespace

std::string BinaryPath() { return ZARVO_BINARY; }

RunResult Run(const RunOptions& options) {
  std::vector<std::string> aArgv;
  aArgv.push_back(options.strArgv0.empty() ? BinaryPath() : options.strArgv0);
  aArgv.insert(aArgv.end(), options.aArgs.begin(), options.aArgs.end());

  int anIn[2], anOut[2], anErr[2];
  if (pipe2(anIn, O_CLOEXEC) != 0 || pipe2(anOut, O_CLOEXEC) != 0 ||
      pipe2(anErr, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  signal(SIGPIPE, SIG_IGN);
  pid_t nPid = fork();
  if (nPid < 0) throw std::runtime_error("fork failed");
  if (nPid == 0)
    ExecChild(options, anIn[0], anOut[1], anErr[1], aArgv, options.aEnv);
  close(anIn[0]);
  close(anOut[1]);
  close(anErr[1]);

  RunResult result;
  Pump(anIn[1], options.strStdin, anOut[0], anErr[0], options.nStdoutLimit,
       nPid, options.bNewSession, options.nDeadlineSeconds, result);
  int nStatus = 0;
  while (waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(nStatus)) result.nExitCode = WEXITSTATUS(nStatus);
  if (WIFSIGNALED(nStatus)) result.nSignal = WTERMSIG(nStatus);
  return result;
}

RunResult RunArgs(const std::vector<std::string>& aArgs) {
  RunOptions options;
  options.aArgs = aArgs;
  return Run(options);
}

TempDir::TempDir() {
  std::string strTemplate =
      (std::filesystem::temp_directory_path() / "zarvo-test-XXXXXX").string();
  if (mkdtemp(&strTemplate[0]) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  m_strPath = strTemplate;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(m_strPath, error);
}

std::string TempDir::File(const std::string& strName) const {
  return m_strPath + "/" + strName;
}

std::string ReadFile(const std::string& strPath, bool* pbExists) {
  std::ifstream in(strPath, std::ios::binary);
  if (pbExists != nullptr) *pbExists = bool(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& strPath, const std::string& strData) {
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  out << strData;
}

bool FileExists(const std::string& strPath) {
  struct stat tInfo;
  return lstat(strPath.c_str(), &tInfo) == 0;
}

std::string ExpectedFile(const std::string& strName) {
  bool bExists = false;
  std::string strText =
      ReadFile(std::string(ZARVO_SOURCE_DIR) + "/tests/e2e/expected/" + strName,
               &bExists);
  if (!bExists) throw std::runtime_error("missing expected file " + strName);
  return strText;
}

}  // namespace e2e
