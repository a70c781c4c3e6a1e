// The .qix spatial index of a shapefile set: shapelib's quadtree of the
// records' bounds, which MapServer, GDAL and QGIS read to find the records
// of one region without scanning the whole .shp.
#ifndef TARVEX_SHAPE_SPATIAL_INDEX_H
#define TARVEX_SHAPE_SPATIAL_INDEX_H

#include <string>

// Whether "--index" was given.
bool tvSpatialIndexRequested();

// Writes p_base.qix from the closed p_base.shp/.shx, read back through the
// file hooks, so that the index joins the set being written and is
// committed or abandoned with it. Memory grows with the record count (the
// tree keeps each record's number), not with the vertices: one record is
// read at a time. False, with one LOG_ERROR line, when the set cannot be
// read back or the index cannot be written.
bool tvWriteSpatialIndex(const std::string& p_base);

// tvWriteSpatialIndex when "--index" was given; true otherwise.
bool tvWriteRequestedSpatialIndex(const std::string& p_base);

#endif
