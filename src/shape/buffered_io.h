// Buffered file access for shapelib, given to it through its SAHooks
// interface: writes are gathered in memory and issued in large blocks, reads
// of just-written data are served from the buffer, and every I/O failure is
// recorded so that the writer can fail the export instead of reporting
// success over a truncated file. shapelib's own error messages go to the log
// at LOG_ERROR.
#ifndef TARVEX_SHAPE_BUFFERED_IO_H
#define TARVEX_SHAPE_BUFFERED_IO_H

#include <shapefil.h>

#include <string>

// Hooks for SHPCreateLL / DBFCreateLL.
SAHooks tvBufferedHooks();

// I/O failure bookkeeping across all files opened through the hooks since the
// last reset: a failed open, write, seek, flush or close, or an error
// reported by shapelib through the hooks.
void tvResetIOErrors();
bool tvIOFailed();
std::string tvLastIOError();

#endif
