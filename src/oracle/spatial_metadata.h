// Queries on the spatial metadata views and on a table's element information.
#ifndef TARVEX_ORACLE_SPATIAL_METADATA_H
#define TARVEX_ORACLE_SPATIAL_METADATA_H

#include <occi.h>

#include <string>

bool getGeomColumnForTable(oracle::occi::Connection* conn, std::string p_owner,
                           std::string p_table, std::string& p_geom_column);
int checkForETypes(oracle::occi::Connection* conn, std::string p_owner,
                   std::string p_table, std::string p_geom_column, short p_value);
bool areInnerRingsPresent(oracle::occi::Connection* conn, std::string p_owner,
                          std::string p_table, std::string p_geom_column);

#endif
