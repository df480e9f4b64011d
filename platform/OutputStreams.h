// The one system call behind standard output and standard error, which each
// system's platform source provides; OutputStreams.cpp builds the streams
// of Platform.h on it.
#ifndef ZARVO_PLATFORM_OUTPUTSTREAMS_H
#define ZARVO_PLATFORM_OUTPUTSTREAMS_H

#include "Platform.h"

enum { STREAM_STDOUT = 1, STREAM_STDERR = 2 };

// Writes the pieces, in order, to one of the two streams in one write
// request, going on after a short write until all is out. 0 when it is,
// when the reader has closed the pipe (the rest is dropped), or when the
// process was given no such stream at all (nothing is written); else the
// system's error number.
int PlatformWritePieces(int nStream, const SOutPiece* aPieces, int nPieces);

#endif
