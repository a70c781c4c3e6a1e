// The streaming writer of a .shp/.shx pair, on files opened through the
// buffered hooks of shape/buffered_io.h.
#ifndef TARVEX_SHAPE_SHP_STREAM_H
#define TARVEX_SHAPE_SHP_STREAM_H

#include <shapefil.h>

#include <string>

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
// The new record's index; TV_SHP_FULL, with nothing written, when the
// record would take the .shp or the .shx past the stream's limit; or -1.
const int TV_SHP_FULL = -2;
int tvShpWriteObject(tvShpStream* p_stream, const SHPObject* p_object);
// tvShpWriteObject for an object whose bounds are not set: the record's are
// computed from its vertices, as SHPComputeExtents sets them, in the pass
// that encodes them, and widen the file's bounds without another pass when
// they are finite.
int tvShpWriteShape(tvShpStream* p_stream, const SHPObject* p_object);
// The largest size either file may reach (at most, and by default, the
// format's 4 GiB less one byte).
void tvShpSetLimit(tvShpStream* p_stream, unsigned long long p_bytes);
// The size of the .shp so far.
unsigned long long tvShpFileSize(const tvShpStream* p_stream);

// The object's bounds as shapelib's SHPComputeExtents sets them (the first
// vertex, then its MIN/MAX over every vertex, NaNs included), in one pass of
// independent minimum and maximum chains. padfZ and padfM must be there.
void tvComputeExtents(SHPObject* p_object);
int tvShpShapeType(const tvShpStream* p_stream);
int tvShpRecordCount(const tvShpStream* p_stream);
// Rewrites the records written so far in the shape type p_type, which holds
// more than the file's (a point file becoming a multipoint file, dimensions
// added, M added to the records of a Z file with p_measured): in place, from
// the last record to the first, with memory for one record; the ordinates
// the records lack get p_nullVertex, and the bounds and the .shx follow.
// False, recorded as an I/O failure, when the files cannot be read back or
// written; false with nothing changed (and no failure recorded) when the
// rewritten .shp would pass the stream's limit.
bool tvShpRaiseType(tvShpStream* p_stream, int p_type, bool p_measured, double p_nullVertex);
// The size the .shp would have once rewritten by tvShpRaiseType; 0 when the
// records cannot be read back.
unsigned long long tvShpRaisedSize(tvShpStream* p_stream, int p_type, bool p_measured, double p_nullVertex);
// The size p_object's record would take in the .shp; 0 when it cannot be
// encoded.
unsigned long long tvShpRecordSize(tvShpStream* p_stream, const SHPObject* p_object);
// Whether the records carry M: always in the M types; in the Z types once a
// row had M (tvShpRaiseType), so that readers see M on every record.
bool tvShpMeasured(const tvShpStream* p_stream);
// Writes the final headers and closes both files; false when any write of
// the pair failed (the files are then incomplete). Frees p_stream.
bool tvShpClose(tvShpStream* p_stream);

#endif
