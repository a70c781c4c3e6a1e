// Buffered file access for shapelib, given to it through its SAHooks
// interface: writes are gathered in memory and issued in large blocks, reads
// of just-written data are served from the buffer, and every I/O failure is
// recorded so that the writer can fail the export instead of reporting
// success over a truncated file. shapelib's own error messages go to the log
// at LOG_ERROR.
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

// Appends shape records to a .shp/.shx pair through the buffered files,
// with memory that does not grow with the record count: the same bytes as
// SHPCreateLL + SHPWriteObject(-1, ...) + SHPClose, but the .shx index is
// written as the records come instead of being kept in memory until the
// end. A record of another type than the file's (SHPT_NULL excepted), or a
// point without a vertex, is refused (-1) instead of aborting the process.
struct tvShpStream;
// p_filename with or without ".shp"; null when the files cannot be created
// (the failure is recorded as for the hooks).
tvShpStream* tvShpCreate(const std::string& p_filename, int p_shapeType);
// The new record's index, or -1.
int tvShpWriteObject(tvShpStream* p_stream, const SHPObject* p_object);
int tvShpShapeType(const tvShpStream* p_stream);
int tvShpRecordCount(const tvShpStream* p_stream);
// Writes the final headers and closes both files; false when any write of
// the pair failed (the files are then incomplete). Frees p_stream.
bool tvShpClose(tvShpStream* p_stream);

#endif
