// Queries on the spatial metadata views and on a table's element information.
#ifndef TARVEX_ORACLE_SPATIAL_METADATA_H
#define TARVEX_ORACLE_SPATIAL_METADATA_H

#include <occi.h>

#include <string>

bool getGeomColumnForTable(oracle::occi::Connection* conn, std::string p_owner,
                           std::string p_table, std::string& p_geom_column);
int checkForETypes(oracle::occi::Connection* conn, std::string p_owner,
                   std::string p_table, std::string p_geom_column, short p_value);
// Whether the table holds a polygon with an inner ring (see below).
bool areInnerRingsPresent(oracle::occi::Connection* conn, std::string p_owner,
                          std::string p_table, std::string p_geom_column);

class SDOGeometry;
// The inner rings of a polygon or multipolygon geometry: its element types
// (the second value of each triplet) 2003 and 2005; 0 for other geometries.
int countInnerRingElements(const SDOGeometry* p_geometry);
// Whether any row of p_query holds, in p_geom_column (as it is written in a
// select list), a polygon with an inner ring. Reads the rows' geometries until the first one found; client
// errors reach the caller.
bool areInnerRingsPresentInQuery(oracle::occi::Connection* conn, const std::string& p_query,
                                 const std::string& p_geom_column);

#endif
