// Last-resort reporter for failures that cannot be handed back as a result.
#ifndef ZARVO_LIB_ERRORREPORTER_H
#define ZARVO_LIB_ERRORREPORTER_H

enum {
  ERR_GENERAL_SYSTEM = 1,
  ERR_GENERAL_PROGRAM = 2,
  ERR_MESSAGE_ONLY = 3,
  ERR_MEMORY_ALLOCATION = 4,
  ERR_FILE_OPEN = 5,
  ERR_FILE_READ = 6,
  ERR_FILE_WRITE = 7,
  ERR_FILE_CLOSE = 8,
  ERR_PARSE = 9,
  ERR_TCPIP = 10
};

enum { SEVERITY_FATAL = 0, SEVERITY_ASK = 2 };

class CErrorReporter {
 public:
  CErrorReporter() {}
  virtual ~CErrorReporter() {}

  // Writes the report for nCode to standard error, then acts on nSeverity:
  // SEVERITY_FATAL ends the process with exit code 1, SEVERITY_ASK asks
  // whether to go on, any other value returns.
  void ReportError(int nSeverity, int nCode, const char* pszLocation);

  // Composes the report text (without the surrounding newlines) into a
  // buffer of nSize bytes; the text is cut to fit, never written past it.
  static void ComposeReport(int nCode, const char* pszLocation, char* pszOut,
                            unsigned nSize);
};

#endif
