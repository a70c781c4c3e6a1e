// The merge of the parts of a table exported over several connections into
// the one shapefile set.
#ifndef TARVEX_SHAPE_SET_MERGE_H
#define TARVEX_SHAPE_SET_MERGE_H

#include <array>
#include <string>
#include <vector>

#include "shape/output_set.h"

// The files of one part, by TV_PART_* index, open for reading at any
// offset (pread); -1, or an empty file, for a file the part did not write.
using tvPartFiles = std::array<int, TV_PART_FILES>;

enum tvMergeResult { TV_MERGE_DONE, TV_MERGE_MISMATCH, TV_MERGE_FAILED };

// Writes the set p_base through the active output set from p_parts, in
// their order: the .shp records renumbered from 1, the .shx rebuilt, the
// .dbf records appended under one header (the FID field of record numbers
// renumbered when p_recordNumbers), the bounds combined as the writer
// combines a record's, the .prj and .cpg of the parts. Memory does not grow
// with the record count. TV_MERGE_MISMATCH, with nothing written or logged,
// when the parts are not one set: another shape type, .dbf fields, .prj or
// .cpg in one part than in the first. TV_MERGE_FAILED, with one LOG_ERROR
// line, when a part cannot be read or holds what the writer never writes,
// when the set would pass the format's limits, or when a write fails.
// p_records gets the record count.
tvMergeResult tvMergeParts(const std::vector<tvPartFiles>& p_parts, const std::string& p_base,
                           bool p_recordNumbers, long long& p_records);

#endif
