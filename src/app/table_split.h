// One table exported over several connections ("-j N" with "-t TABLE"):
// N worker processes each read one part of the rows, chosen by a hash of
// the row's ROWID (SQL that needs nothing more than SELECT on the table),
// and the parts are merged into the one set.
#ifndef TARVEX_APP_TABLE_SPLIT_H
#define TARVEX_APP_TABLE_SPLIT_H

#include <string>

// p_sql (a table's "SELECT * FROM t") restricted to part p_part of
// p_parts: the rows whose ROWID hashes into bucket p_part.
std::string partQuery(const std::string& p_sql, int p_parts, int p_part);

// Exports the rows of p_sql (one table) into the set p_shapefile over
// p_parts connections, as exportSQLAsShape would over one: the shape type
// decided once for the whole table, the set locked first and committed
// whole. Runs on the global connection and leaves it closed. When the
// table cannot be read in parts, or the parts are not one set of one shape
// type, one [WARNING] line says so and the table is exported on one
// connection.
bool exportTableInParts(const std::string& p_sql, const std::string& p_geom_column, const std::string& p_shapefile,
                        const std::string& p_table, const std::string& p_owner, int p_parts);

#endif
