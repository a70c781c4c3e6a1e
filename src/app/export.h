// Export of one query into one shapefile set, the export selection and the
// program driver.
#ifndef TARVEX_APP_EXPORT_H
#define TARVEX_APP_EXPORT_H

#include <string>

bool exportSQLAsShape(std::string p_sql, std::string p_geom_column,
                      std::string p_shapefile, std::string p_table, std::string p_owner);

// Builds the export list from the settings and runs the exports in turn on
// the global connection; clears p_continue on the first failure.
void runExports(bool& p_continue);

// The whole program: returns the process exit status.
int tarvexMain(int argc, char** argv);

#endif
