// The gathered writes behind standard output, standard error and the log
// on POSIX systems, and the signals that writing must not end the run by
// (PlatformPosix.cpp; LogFilePosix.cpp uses them too).
#ifndef ZARVO_PLATFORM_WRITESPOSIX_H
#define ZARVO_PLATFORM_WRITESPOSIX_H

#include <cstdint>

#include "Platform.h"

// A reader that closes its end early, or a file size limit (ulimit -f),
// must not end the run: with SIGPIPE and SIGXFSZ ignored, the write fails
// with EPIPE or EFBIG instead, which is reported, and the run goes on.
void PosixIgnoreWriteSignals();

// Writes the pieces in order to nFd, in gathered requests, going on after
// a short write or an interruption; *pnWritten grows by the bytes that
// reached the descriptor. A non-blocking descriptor without room is waited
// for until nDeadline (steady milliseconds), or with -1 for as long as it
// takes. 0, or the error number.
int PosixWritePieces(int nFd, const SOutPiece* aPieces, int nPieces,
                     std::uint64_t* pnWritten, long long nDeadline);

#endif
