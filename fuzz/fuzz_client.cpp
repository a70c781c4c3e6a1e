// Fuzzes the embedded client as the program uses it: any query text, run
// on a user's read-only session over a small database with every column
// type and every geometry form, every row read with the getter for its
// column type (geometries through the registered object classes). Any
// failure must be an Oracle-style SQLException.
#include <occi.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "embedded_admin.h"
#include "oracle/sdo.h"

using namespace oracle::occi;

namespace {

Environment* g_env = nullptr;
Connection* g_conn = nullptr;
std::string g_dir;

const char* const kSetup[] = {
    "CREATE USER demo IDENTIFIED BY pw",
    "ALTER SESSION SET CURRENT_SCHEMA = demo",
    "CREATE TABLE t (id NUMBER(5), name VARCHAR2(20), r NUMBER(10,2), f FLOAT, d DATE, "
    "ts TIMESTAMP(3), tz TIMESTAMP WITH TIME ZONE, c CHAR(3), raw1 RAW(4), bd BINARY_DOUBLE, "
    "geom SDO_GEOMETRY)",
    "INSERT INTO t VALUES (1, 'a', 1.5, 2.25, TO_DATE('2020-02-29 13:14:15', 'YYYY-MM-DD HH24:MI:SS'), "
    "TIMESTAMP '2021-01-02 03:04:05.678', NULL, 'x', HEXTORAW('00FF'), 1e300, "
    "SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(1, 2, NULL), NULL, NULL))",
    "INSERT INTO t VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
    "INSERT INTO t VALUES (3, 'poly', -3, 0, DATE '1999-12-31', NULL, NULL, 'abc', NULL, -0.5, "
    "SDO_GEOMETRY(2003, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1003,1, 11,2003,1), "
    "SDO_ORDINATE_ARRAY(0,0, 10,0, 10,10, 0,10, 0,0, 2,2, 2,4, 4,4, 4,2, 2,2)))",
    "INSERT INTO t VALUES (4, 'line3d', 0, 0, NULL, NULL, NULL, NULL, NULL, NULL, "
    "SDO_GEOMETRY(3302, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1), SDO_ORDINATE_ARRAY(0,0,NULL, 1,1,5)))",
    "INSERT INTO t VALUES (5, 'arc', 0, 0, NULL, NULL, NULL, NULL, NULL, NULL, "
    "SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,2), SDO_ORDINATE_ARRAY(0,0, 1,1, 2,0)))",
    "INSERT INTO t VALUES (6, 'nullpt', 0, 0, NULL, NULL, NULL, NULL, NULL, NULL, "
    "SDO_GEOMETRY(NULL, NULL, SDO_POINT_TYPE(NULL, NULL, NULL), NULL, NULL))",
    "INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('T', 'GEOM', "
    "SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), 8307)",
    nullptr};

// SQL that could run for ever, take gigabytes or touch files: not what this
// target looks for.
bool tooExpensive(const std::string& p_sql) {
    std::string up(p_sql);
    for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const kWords[] = {"RECURSIVE", "RANDOMBLOB", "ZEROBLOB", "PRINTF", "FORMAT", "REPLACE",
                                         "ATTACH", "VACUUM", "PRAGMA", "LPAD", "RPAD", "CHAR(", nullptr};
    for (int i = 0; kWords[i]; ++i)
        if (up.find(kWords[i]) != std::string::npos) return true;
    // Joins of many tables multiply rows.
    return std::count(up.begin(), up.end(), ',') > 40 || p_sql.size() > 2000;
}

void readRow(ResultSet* p_rs, const std::vector<MetaData>& p_columns) {
    for (unsigned i = 1; i <= p_columns.size(); ++i) {
        int type = p_columns[i - 1].getInt(MetaData::ATTR_DATA_TYPE);
        switch (type) {
            case 108: {
                PObject* object = p_rs->getObject(i);
                if (SDOGeometry* geometry = dynamic_cast<SDOGeometry*>(object)) {
                    (void)geometry->getSdo_elem_info().size();
                }
                delete object;
                break;
            }
            case 12: {
                Date d = p_rs->getDate(i);
                if (!d.isNull()) (void)d.toText("YYYY-MM-DD HH24:MI:SS DAY MON");
                break;
            }
            case 187:
            case 188: {
                Timestamp t = p_rs->getTimestamp(i);
                if (!t.isNull()) (void)t.toText("DD/MM/YYYY HH12:MI:SS.FF AM", 6);
                break;
            }
            case 2:
            case 100:
            case 101:
                (void)p_rs->getDouble(i);
                (void)p_rs->getInt(i);
                break;
            default:
                (void)p_rs->getString(i);
                break;
        }
        (void)p_rs->isNull(i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/tarvex_fuzz_client_XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) std::abort();
    g_dir = std::string(dir) + "/db";
    std::string error;
    if (!embedded::createDatabase(g_dir, error)) std::abort();
    g_env = Environment::createEnvironment(Environment::OBJECT);
    RegisterClasses(g_env);
    try {
        Connection* admin = embedded::connectAsAdministrator(g_env, g_dir);
        Statement* stmt = admin->createStatement();
        for (int i = 0; kSetup[i]; ++i) stmt->executeUpdate(kSetup[i]);
        admin->terminateStatement(stmt);
        g_env->terminateConnection(admin);
        g_conn = g_env->createConnection("demo", "pw", g_dir);
    } catch (const SQLException& e) {
        std::abort();
    }
    std::atexit([] {
        if (g_conn) g_env->terminateConnection(g_conn);
        Environment::terminateEnvironment(g_env);
        std::string cmd = "rm -rf '" + g_dir.substr(0, g_dir.size() - 3) + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_data, size_t p_size) {
    std::string sql(reinterpret_cast<const char*>(p_data), p_size);
    if (tooExpensive(sql)) return 0;
    Statement* stmt = nullptr;
    ResultSet* rs = nullptr;
    try {
        stmt = g_conn->createStatement(sql);
        stmt->setPrefetchRowCount(7);
        rs = stmt->executeQuery();
        std::vector<MetaData> columns = rs->getColumnListMetaData();
        for (int row = 0; row < 64 && rs->next(); ++row) readRow(rs, columns);
    } catch (const SQLException& e) {
        if (e.getMessage().compare(0, 4, "ORA-") != 0) std::abort();
    }
    try {
        if (rs) stmt->closeResultSet(rs);
        if (stmt) g_conn->terminateStatement(stmt);
    } catch (const SQLException&) {
        std::abort();  // releasing never fails
    }
    return 0;
}
