// Export of one query into one shapefile set, the export selection and the
// program driver.
#ifndef TARVEX_APP_EXPORT_H
#define TARVEX_APP_EXPORT_H

#include <set>
#include <string>

#include "diag/strings.h"  // safeFileNamePart

// The output names (paths without extension) of every export of a "*"
// run, as the listing planned them: an export that comes to need an extra
// name (a set per kind, a part) equal to another export's fails instead of
// writing over it. Empty outside "*" mode.
void tvSetPlannedOutputNames(const std::set<std::string>& p_names);
const std::set<std::string>& tvPlannedOutputNames();

bool exportSQLAsShape(std::string p_sql, std::string p_geom_column,
                      std::string p_shapefile, std::string p_table, std::string p_owner);

// The shape type and SRID an export writes, as its sample decides them:
// the first non-null geometry, and the inner-ring check.
struct tvShapeChoice {
    unsigned short shapeType = 0;
    int srid = -1;
};
// The choice for the rows of p_sql, on the global connection; false, with
// the reason logged, when the query fails or has no column p_geom_column.
bool decideQueryShape(const std::string& p_sql, const std::string& p_geom_column, tvShapeChoice& p_choice);
// While p_choice is set (null: not), exportSQLAsShape writes one part of a
// table: the set has p_choice's shape type and SRID instead of its own
// sample's, and its end is logged as a part's.
void setPartShape(const tvShapeChoice* p_choice);

// Builds the export list from the settings and runs the exports in turn on
// the global connection; clears p_continue on the first failure.
void runExports(bool& p_continue);

// Creates the environment and opens the global connection with the
// settings' user, password and service. False, with the reason logged, when
// the connection is refused; client errors before the logon are thrown.
// p_quiet leaves out the debug lines.
bool connectSession(bool p_quiet);
// Terminates the global connection and environment, whichever exist; false
// when the client reported an error. p_quiet leaves out the detailed line.
bool disconnectSession(bool p_quiet);

// The whole program: returns the process exit status.
int tarvexMain(int argc, char** argv);

// Exit statuses of tarvexMain.
const int TARVEX_EXIT_OK = 0;
const int TARVEX_EXIT_ARGUMENTS = 1;
const int TARVEX_EXIT_FAILED = 2;

// True for the column type codes that cannot be exported and are left out of
// a rewritable query: LONG (8), RAW (23), LONG RAW (24), LONG VARRAW (95).
bool isSkippedColumnType(int p_type);

// The column name as it must appear in a select list: unchanged when it is an
// ordinary (unquoted) Oracle identifier, else in double quotes with embedded
// quotes doubled.
std::string selectListName(const std::string& p_name);

// Replaces the "*" of a query that begins with exactly "select *" or
// "SELECT *" by p_columns. Returns false, leaving p_result alone, for any
// other query.
bool rewriteSelectStar(const std::string& p_sql, const std::string& p_columns,
                       std::string& p_result);

// A free query as it is run: the user's text without one trailing ";" (and
// the blanks and comments after it), which Oracle would refuse.
std::string freeQueryText(const std::string& p_sql);


// The output base name for a table in "*" mode: the lower-cased table name
// made safe with safeFileNamePart. A name already in p_used (a table with a
// second geometry column, or names equal once lower-cased) gets "_" and the
// geometry column in lower case appended, then "_2", "_3", ... until it is
// new; the result is added to p_used.
std::string uniqueOutputName(const std::string& p_table, const std::string& p_geom_column,
                             std::set<std::string>& p_used);

#endif
