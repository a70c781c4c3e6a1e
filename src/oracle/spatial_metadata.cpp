#include "oracle/spatial_metadata.h"

#include <cmath>
#include <memory>
#include <vector>

#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/identifier.h"
#include "oracle/sdo.h"
#include "shape/sdo_constants.h"

using oracle::occi::Connection;
using oracle::occi::Number;
using oracle::occi::PObject;
using oracle::occi::ResultSet;
using oracle::occi::Statement;

namespace {

// The element type of a compound interior ring.
const int INTERIOR_COMPOUND_RING = 2005;
// Rows fetched per round trip by the inner-ring check.
const unsigned int INNER_RING_PREFETCH_ROWS = 1000;

// Owns one statement and its result set: closes the result set and
// terminates the statement when it goes out of scope, also while a client
// exception passes through to the caller.
class StatementScope {
public:
    explicit StatementScope(Connection* p_conn) : _conn(p_conn), _stmt(p_conn->createStatement("")) {}
    ~StatementScope() {
        try {
            if (_rs != nullptr) _stmt->closeResultSet(_rs);
        } catch (...) {
        }
        try {
            _conn->terminateStatement(_stmt);
        } catch (...) {
        }
    }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

    Statement* statement() { return _stmt; }
    ResultSet* execute() {
        _rs = _stmt->executeQuery("");
        return _rs;
    }

private:
    Connection* _conn;
    Statement* _stmt;
    ResultSet* _rs = nullptr;
};

}  // namespace

bool getGeomColumnForTable(Connection* conn, std::string p_owner, std::string p_table,
                           std::string& p_geom_column) {
    bool result = true;
    std::string sql = p_owner.empty()
        ? "SELECT COLUMN_NAME FROM USER_SDO_GEOM_METADATA WHERE TABLE_NAME=:1"
        : "SELECT COLUMN_NAME FROM ALL_SDO_GEOM_METADATA WHERE TABLE_NAME=:1 AND OWNER=:2";

    if (conn == nullptr) {
        tvLog("Error retrieving geometry column from metadata : ",
              sql + " (" + p_owner + " " + p_table + ") without a connection", LOG_ERROR);
        return false;
    }
    StatementScope scope(conn);
    Statement* stmt = scope.statement();
    stmt->setSQL(sql);
    stmt->setString(1, p_table);
    if (!p_owner.empty()) stmt->setString(2, p_owner);

    ResultSet* rs = scope.execute();
    if (rs != nullptr && rs->next()) {
        std::string column = rs->getString(1);
        upper(column);
        p_geom_column = column;
        tvLog("getGeomColumnForTable geom_column : ", p_geom_column, LOG_DEBUG);
    } else {
        result = false;
        tvLog("Error retrieving geometry column from metadata : ",
              sql + " (" + p_owner + " " + p_table + ")", LOG_ERROR);
    }
    return result;
}

int checkForETypes(Connection* conn, std::string p_owner, std::string p_table,
                   std::string p_geom_column, short p_value) {
    int count = 0;
    // Names may come from the metadata: always quoted identifiers.
    std::string sql = "select count(*) from " + qualifiedTableName(p_owner, p_table) + " x, table(x." +
                      quoteIdentifier(p_geom_column) + ".SDO_ELEM_INFO) t where t.column_value = :1";

    if (conn == nullptr) {
        tvLog("Error checking for E-type : ",
              sql + " (" + p_owner + " " + p_table + ") without a connection", LOG_ERROR);
        return 0;
    }
    StatementScope scope(conn);
    Statement* stmt = scope.statement();
    stmt->setSQL(sql);
    stmt->setInt(1, p_value);

    ResultSet* rs = scope.execute();
    if (rs != nullptr && rs->next()) {
        count = rs->getInt(1);
    } else {
        tvLog("Error checking for E-type : ", sql + " (" + p_owner + " " + p_table + ")",
              LOG_ERROR);
    }
    return count;
}

bool areInnerRingsPresent(Connection* conn, std::string p_owner, std::string p_table,
                          std::string p_geom_column) {
    // Names may come from the metadata: always quoted identifiers.
    return areInnerRingsPresentInQuery(conn, "SELECT * FROM " + qualifiedTableName(p_owner, p_table),
                                       quoteIdentifier(p_geom_column));
}

int countInnerRingElements(const SDOGeometry* p_geometry) {
    if (p_geometry == nullptr) return 0;
    Number gtype = p_geometry->getSdo_gtype();
    if (gtype.isNull()) return 0;
    // Polygons and multipolygons of every dimension: gtypes ending in 03 or 07.
    const double kind = std::fmod(static_cast<double>(gtype), 100.0);
    if (kind != 3.0 && kind != 7.0) return 0;
    const std::vector<Number>& elemInfo = p_geometry->getSdo_elem_info();
    int count = 0;
    for (size_t i = 1; i < elemInfo.size(); i += 3) {
        if (elemInfo[i].isNull()) continue;
        const double etype = static_cast<double>(elemInfo[i]);
        if (etype == SDO_ETYPE_INTERIOR_POLYGON || etype == INTERIOR_COMPOUND_RING) ++count;
    }
    return count;
}

bool areInnerRingsPresentInQuery(Connection* conn, const std::string& p_query,
                                 const std::string& p_geom_column) {
    // The query stands on lines of its own: a trailing comment cannot
    // swallow the closing parenthesis.
    std::string sql = "select " + p_geom_column + " from (\n" + p_query + "\n) where " + p_geom_column +
                      " is not null";
    if (conn == nullptr) {
        tvLog("Error checking for inner rings : ", sql + " without a connection", LOG_ERROR);
        return false;
    }
    StatementScope scope(conn);
    Statement* stmt = scope.statement();
    stmt->setSQL(sql);
    stmt->setPrefetchRowCount(INNER_RING_PREFETCH_ROWS);
    ResultSet* rs = scope.execute();
    bool found = false;
    while (!found && rs != nullptr && rs->next()) {
        std::unique_ptr<PObject> object(rs->getObject(1));
        found = countInnerRingElements(dynamic_cast<SDOGeometry*>(object.get())) > 0;
    }
    return found;
}
