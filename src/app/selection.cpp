// The export selection (one table, a free query, or every table registered
// in a schema's spatial metadata) and the loop over the exports.
#include <occi.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "app/export.h"
#include "app/jobs.h"
#include "app/statement_guard.h"
#include "app/table_split.h"
#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/globals.h"
#include "oracle/identifier.h"
#include "oracle/spatial_metadata.h"
#include "settings/settings.h"

using oracle::occi::ResultSet;
using oracle::occi::SQLException;
using oracle::occi::Statement;

namespace {

struct ExportEntry {
    std::string sql;
    std::string geomColumn;
    std::string shapefile;
    std::string table;
    std::string owner;
};

std::string setting(const std::string& p_key) {
    auto it = g_args.find(p_key);
    return it == g_args.end() ? std::string() : it->second;
}

// "*" mode: one export per registered geometry column of the user's schema,
// or of the "owner" schema.
void listSchemaTables(std::vector<ExportEntry>& p_list, bool& p_continue) {
    const std::string owner = setting("owner");
    const std::string listSql =
        owner.empty() ? "select table_name,column_name,user from user_sdo_geom_metadata"
                      : "select table_name,column_name,owner from all_sdo_geom_metadata where owner = :1";
    tvLog("Getting table list using : ", listSql, LOG_DEBUG);

    StatementGuard listing;
    Statement* statement = listing.create("");
    statement->setSQL(listSql);
    if (!owner.empty()) statement->setString(1, owner);
    ResultSet* rows = listing.execute();

    std::set<std::string> usedNames;
    while (p_continue && rows->next()) {
        ExportEntry entry;
        entry.table = rows->getString(1);
        entry.geomColumn = rows->getString(2);
        entry.owner = rows->getString(3);
        tvLog("Retrieved table.geom : ", entry.table + "." + entry.geomColumn, LOG_DEBUG);
        // Result column names are compared in upper case.
        upper(entry.geomColumn);
        // Names from the metadata are data: always quoted identifiers.
        entry.sql = "select * from " + qualifiedTableName(owner, entry.table);
        tvLog("Built SQL : ", entry.sql, LOG_DEBUG);
        entry.shapefile = uniqueOutputName(entry.table, entry.geomColumn, usedNames);
        p_list.push_back(entry);
    }
    if (!listing.release()) p_continue = false;
    if (p_continue && p_list.empty()) {
        // Not a failure, but an owner name mistyped would otherwise pass unseen.
        std::string schema = owner.empty() ? setting("username") : owner;
        if (owner.empty()) upper(schema);
        tvLog("[WARNING] No table of the spatial metadata that this user can read, nothing exported, schema : ",
              schema, LOG_BASIC);
    }
}

// Single-table and free-query mode: exactly one export.
void addSingleExport(std::vector<ExportEntry>& p_list, bool& p_continue) {
    ExportEntry entry;
    if (!setting("sql").empty()) {
        entry.sql = freeQueryText(setting("sql"));
    } else {
        const std::string table = setting("table");
        const std::string owner = setting("owner");
        const std::string qualified = qualifiedTableName(owner, table);
        tvLog("table : ", qualified, LOG_DEBUG);
        entry.sql = "SELECT * FROM " + qualified;
        tvLog("SQL : ", entry.sql, LOG_DEBUG);
        if (setting("geom_column").empty()) {
            std::string column;
            p_continue = getGeomColumnForTable(conn, owner, table, column);
            if (p_continue) {
                if (column.empty()) {
                    // Upper case, as the result's column names are compared.
                    g_args["geom_column"] = "GEOM";
                    tvLog("Assigned default geometry column : ", g_args["geom_column"], LOG_DEBUG);
                } else {
                    g_args["geom_column"] = column;
                }
            }
        }
    }
    entry.geomColumn = setting("geom_column");
    entry.shapefile = setting("shapefile");
    entry.table = setting("table");
    // An unquoted user name stands for its upper-case form.
    std::string user = setting("username");
    upper(user);
    entry.owner = setting("owner").empty() ? user : setting("owner");
    p_list.push_back(entry);
}

// "*" mode with "-j" above 1: the exports run side by side in worker
// processes, each with a connection of its own that it keeps for the exports
// it runs in turn; the parent's connection is closed first (a connection is
// never carried across fork). After the first
// failure no new export starts; the failed ones are named at the end.
void runParallelExports(const std::vector<ExportEntry>& p_exports,
                        const std::vector<std::string>& p_shapefiles, int p_jobs, bool& p_continue) {
    if (!disconnectSession(false)) {
        p_continue = false;
        return;
    }
    std::vector<std::string> names;
    for (const std::string& shapefile : p_shapefiles) names.push_back(shapefile + ".shp");

    auto work = [&](size_t p_index) {
        const ExportEntry& entry = p_exports[p_index];
        tvLog("Exporting to shape file : ", names[p_index], LOG_BASIC);
        bool ok = false;
        try {
            // a worker keeps its connection for the exports it runs
            ok = (conn != nullptr || connectSession(true)) &&
                 exportSQLAsShape(entry.sql, entry.geomColumn, p_shapefiles[p_index], entry.table, entry.owner);
        } catch (const SQLException& e) {
            tvLog(e.getMessage(), "", LOG_ERROR);
            ok = false;
        }
        return ok;
    };
    std::vector<JobState> states =
        runJobs(p_exports.size(), p_jobs, work, names, [] { disconnectSession(true); });

    size_t failed = 0;
    size_t notStarted = 0;
    std::string failedNames;
    for (size_t i = 0; i < states.size(); ++i) {
        if (states[i] == JOB_NOT_STARTED) ++notStarted;
        if (states[i] != JOB_FAILED) continue;
        ++failed;
        if (!failedNames.empty()) failedNames += ", ";
        failedNames += p_exports[i].table + " (" + names[i] + ")";
    }
    if (failed != 0) {
        tvLog("Failed exports (" + std::to_string(failed) + " of " + std::to_string(states.size()) +
                  ", " + std::to_string(notStarted) + " not started) : ",
              failedNames, LOG_ERROR);
        p_continue = false;
    }
}

}  // namespace

namespace {

// Where Oracle's alternative quoting q'X...X' (also nq'X...X') that starts at
// p_at ends (after its closing quote): X is one character (a UTF-8 one is
// several bytes), [ { < ( closed by ] } > ). npos when none starts there,
// the text's size when it is left open.
size_t qQuoteEnd(const std::string& p_sql, size_t p_at) {
    auto wordChar = [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c >= 0x80; };
    if (p_at > 0 && wordChar(static_cast<unsigned char>(p_sql[p_at - 1]))) return std::string::npos;
    size_t q = p_sql[p_at] == 'n' || p_sql[p_at] == 'N' ? p_at + 1 : p_at;
    if (q + 2 >= p_sql.size() || (p_sql[q] != 'q' && p_sql[q] != 'Q') || p_sql[q + 1] != '\'')
        return std::string::npos;
    const unsigned char lead = static_cast<unsigned char>(p_sql[q + 2]);
    std::string close = p_sql.substr(q + 2, lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4);
    const std::string opening = "[{<(", closing = "]}>)";
    if (close.size() == 1 && opening.find(close[0]) != std::string::npos) close = closing[opening.find(close[0])];
    size_t end = p_sql.find(close + "'", q + 2 + close.size());
    return end == std::string::npos ? p_sql.size() : end + close.size() + 1;
}

}  // namespace

std::string freeQueryText(const std::string& p_sql) {
    // The last character outside quotes and comments decides.
    std::string::size_type last = std::string::npos;
    const size_t n = p_sql.size();
    for (size_t i = 0; i < n;) {
        const char c = p_sql[i];
        const size_t quoted = c == 'q' || c == 'Q' || c == 'n' || c == 'N' ? qQuoteEnd(p_sql, i) : std::string::npos;
        if (quoted != std::string::npos) {
            if (quoted >= n) return p_sql;  // unterminated: the database says so
            last = quoted - 1;
            i = quoted;
        } else if (c == '-' && i + 1 < n && p_sql[i + 1] == '-') {
            i = p_sql.find('\n', i);
            if (i == std::string::npos) break;
        } else if (c == '/' && i + 1 < n && p_sql[i + 1] == '*') {
            std::string::size_type close = p_sql.find("*/", i + 2);
            if (close == std::string::npos) break;
            i = close + 2;
        } else if (c == '\'' || c == '"') {
            std::string::size_type close = p_sql.find(c, i + 1);
            if (close == std::string::npos) return p_sql;  // unterminated: the database says so
            last = close;
            i = close + 1;  // a doubled quote is two quoted parts in a row
        } else {
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') last = i;
            ++i;
        }
    }
    // The ";" and what follows it (blanks and comments) go; a "--" comment
    // after it would otherwise end on the query's closing parenthesis.
    if (last != std::string::npos && p_sql[last] == ';') return p_sql.substr(0, last);
    return p_sql;
}

std::string uniqueOutputName(const std::string& p_table, const std::string& p_geom_column,
                             std::set<std::string>& p_used) {
    std::string base = p_table;
    lower(base);
    base = safeFileNamePart(base);
    if (p_used.count(base) != 0) {
        // A second geometry column of the same table, or a table whose
        // name differs only in letter case or in replaced characters.
        std::string column = p_geom_column;
        lower(column);
        base += "_" + safeFileNamePart(column);
        std::string candidate = base;
        for (int n = 2; p_used.count(candidate) != 0; ++n) candidate = base + "_" + std::to_string(n);
        base = candidate;
    }
    p_used.insert(base);
    return base;
}

void runExports(bool& p_continue) {
    std::vector<ExportEntry> exports;
    const bool allTables = setting("table") == "*";
    try {
        if (allTables) {
            listSchemaTables(exports, p_continue);
        } else {
            addSingleExport(exports, p_continue);
        }
    } catch (const SQLException& e) {
        tvLog(e.getMessage(), "", LOG_ERROR);
        p_continue = false;
    }

    const std::string prefix = setting("shapefile");
    const int jobs = parseJobCount(setting("jobs"));
    if (allTables) {
        std::set<std::string> planned;
        for (const ExportEntry& entry : exports) {
            planned.insert(!prefix.empty() && prefix != "*" ? prefix + entry.shapefile : entry.shapefile);
        }
        tvSetPlannedOutputNames(planned);
    }
    if (allTables && jobs > 1 && p_continue && !exports.empty()) {
        std::vector<std::string> shapefiles;
        for (const ExportEntry& entry : exports) {
            shapefiles.push_back(!prefix.empty() && prefix != "*" ? prefix + entry.shapefile : entry.shapefile);
        }
        runParallelExports(exports, shapefiles, jobs, p_continue);
        return;
    }
    if (!allTables && jobs > 1 && p_continue && exports.size() == 1) {
        if (!setting("sql").empty()) {
            // Its rows have no ROWID to split them by.
            tvLog("[WARNING] A free query is read on one connection, -j has no effect : ", jobs, LOG_BASIC);
        } else {
            tvLog("Exporting to shape file : ", exports[0].shapefile + ".shp", LOG_BASIC);
            p_continue = exportTableInParts(exports[0].sql, exports[0].geomColumn, exports[0].shapefile,
                                            exports[0].table, exports[0].owner, jobs);
            return;
        }
    }
    for (size_t i = 0; i < exports.size() && p_continue; ++i) {
        std::string shapefile = exports[i].shapefile;
        if (allTables && !prefix.empty() && prefix != "*") shapefile = prefix + shapefile;
        tvLog("Exporting to shape file : ", shapefile + ".shp", LOG_BASIC);
        p_continue = exportSQLAsShape(exports[i].sql, exports[i].geomColumn, shapefile,
                                      exports[i].table, exports[i].owner);
    }
}
