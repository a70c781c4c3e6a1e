// The column descriptions of a result: declared types from each schema's
// catalogue, or what Oracle reports for a computed column.
#include "session.h"

#include <map>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

// Character attributes of a text column known by its byte size only.
void setByteText(ColumnType& t) {
    if (t.code == TC_VARCHAR2 || t.code == TC_CHAR || t.code == TC_LONG || t.code == TC_CLOB) {
        t.charUsed = false;
        t.charSize = t.code == TC_LONG || t.code == TC_CLOB ? 0 : t.size;
        t.charsetForm = 1;
    }
}

}  // namespace

std::vector<ColumnType> ConnectionImpl::describe(sqlite3_stmt* stmt, bool haveRow) {
    int n = sqlite3_column_count(stmt);
    std::vector<ColumnType> types(static_cast<size_t>(n));
    std::map<std::string, sqlite3_stmt*> lookups;
    for (int i = 0; i < n; ++i) {
        ColumnType& t = types[static_cast<size_t>(i)];
        const char* dbName = sqlite3_column_database_name(stmt, i);
        const char* table = sqlite3_column_table_name(stmt, i);
        const char* column = sqlite3_column_origin_name(stmt, i);
        bool found = false;
        if (dbName && table && column) {
            auto it = lookups.find(dbName);
            if (it == lookups.end()) {
                sqlite3_stmt* q = nullptr;
                // catalogues written before the character attributes existed
                // lack their columns: those are then derived from the type
                for (const char* extra : {"CHAR_USED, CHAR_SIZE, CHARSET_FORM", "NULL, NULL, NULL"}) {
                    std::string sql = "SELECT DATA_TYPE, DATA_SIZE, DATA_PRECISION, DATA_SCALE, TYPE_NAME, "
                                      "TYPE_OWNER, " + std::string(extra) + " FROM " + quoteIdent(dbName) +
                                      ".\"TVX$COLUMNS\" WHERE TABLE_NAME = ?1 AND COLUMN_NAME = ?2";
                    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) break;
                    sqlite3_finalize(q);
                    q = nullptr;
                }
                it = lookups.emplace(dbName, q).first;
            }
            sqlite3_stmt* q = it->second;
            if (q) {
                sqlite3_bind_text(q, 1, table, -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(q, 2, column, -1, SQLITE_TRANSIENT);
                if (sqlite3_step(q) == SQLITE_ROW) {
                    t.code = sqlite3_column_int(q, 0);
                    t.size = sqlite3_column_int(q, 1);
                    t.precision = sqlite3_column_int(q, 2);
                    t.scale = sqlite3_column_int(q, 3);
                    const unsigned char* tn = sqlite3_column_text(q, 4);
                    const unsigned char* to = sqlite3_column_text(q, 5);
                    if (tn) t.typeName = reinterpret_cast<const char*>(tn);
                    if (to) t.typeSchema = reinterpret_cast<const char*>(to);
                    if (sqlite3_column_type(q, 6) != SQLITE_NULL) {
                        t.charUsed = sqlite3_column_int(q, 6) != 0;
                        t.charSize = sqlite3_column_int(q, 7);
                        t.charsetForm = sqlite3_column_int(q, 8);
                    } else {
                        setByteText(t);
                    }
                    found = true;
                }
                sqlite3_reset(q);
            }
            if (!found) {
                // a table made outside the client: judge by SQLite's declared type
                std::string decl = sqlite3_column_decltype(stmt, i) ? sqlite3_column_decltype(stmt, i) : "";
                for (char& c : decl) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                if (decl.find("INT") != std::string::npos || decl.find("NUM") != std::string::npos ||
                    decl.find("REAL") != std::string::npos || decl.find("DOUB") != std::string::npos) {
                    t.code = TC_NUMBER;
                    t.size = 22;
                    t.scale = -127;
                } else if (decl.find("BLOB") != std::string::npos) {
                    t.code = TC_BLOB;
                    t.size = 4000;
                } else {
                    t.code = TC_VARCHAR2;
                    t.size = 4000;
                    setByteText(t);
                }
                found = true;
            }
        }
        if (!found) {
            // a computed column: what Oracle reports for its value's kind
            int vt = haveRow ? sqlite3_column_type(stmt, i) : SQLITE_NULL;
            GeomView g;
            if (vt == SQLITE_INTEGER || vt == SQLITE_FLOAT) {
                t.code = TC_NUMBER;
                t.size = 22;
                t.precision = 0;
                t.scale = -127;
            } else if (vt == SQLITE_BLOB &&
                       decodeGeometry(sqlite3_column_blob(stmt, i), sqlite3_column_bytes(stmt, i), g)) {
                t.code = TC_OBJECT;
                t.typeName = "SDO_GEOMETRY";
                t.typeSchema = "MDSYS";
            } else if (vt == SQLITE_BLOB) {
                t.code = TC_RAW;
                t.size = 2000;
            } else {
                t.code = TC_VARCHAR2;
                t.size = 4000;
                setByteText(t);
            }
        }
    }
    for (auto& l : lookups) sqlite3_finalize(l.second);
    return types;
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
