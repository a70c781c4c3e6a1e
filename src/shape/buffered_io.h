// Buffered file access for shapelib, given to it through its SAHooks
// interface: writes are gathered in memory and issued in large blocks, reads
// of just-written data are served from the buffer, and every I/O failure is
// recorded so that the writer can fail the export instead of reporting
// success over a truncated file. shapelib's own error messages go to the log
// at LOG_ERROR. Files of the active output set (shape/output_set.h) are
// opened as its temporaries; other files are never opened through a
// symbolic link.
#ifndef TARVEX_SHAPE_BUFFERED_IO_H
#define TARVEX_SHAPE_BUFFERED_IO_H

#include <shapefil.h>

#include <cstddef>
#include <string>

// Hooks for SHPCreateLL / DBFCreateLL.
SAHooks tvBufferedHooks();

// I/O failure bookkeeping across all files opened through the hooks since the
// last reset: a failed open, write, seek, flush or close, or an error
// reported by shapelib through the hooks. The first failure since the reset
// is logged at LOG_ERROR when it happens (callers need not log its text
// again) and its message is kept: tvLastIOError() returns it, e.g.
// "Cannot write to file : out.shp (No space left on device)".
void tvResetIOErrors();
bool tvIOFailed();
std::string tvLastIOError();

// Size of the write buffer of each file opened from now on (0: default).
constexpr std::size_t tvBufferedIOCapacityDefault = 1 << 20;
void tvSetBufferedIOCapacity(std::size_t p_bytes);

// Testing aid: the next p_writes system writes succeed, the ones after fail
// with ENOSPC; a negative count (the default) turns the injection off.
void tvFailWritesAfter(long p_writes);

// Records an I/O failure of a caller that works through these files (the
// .shp/.shx stream): logged at LOG_ERROR when it is the first since the
// reset, like the hooks' own failures.
void tvRecordIOFailure(const std::string& p_text, const std::string& p_value);

// The streaming .shp/.shx writer works on files opened through these hooks;
// its interface is declared with them for the writer's convenience.
#include "shape/shp_stream.h"

#endif
