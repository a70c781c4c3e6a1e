#include "oracle/spatial_metadata.h"

#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/identifier.h"
#include "shape/sdo_constants.h"

using oracle::occi::Connection;
using oracle::occi::ResultSet;
using oracle::occi::Statement;

namespace {

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
    return checkForETypes(conn, p_owner, p_table, p_geom_column,
                          static_cast<short>(SDO_ETYPE_INTERIOR_POLYGON)) > 0;
}
