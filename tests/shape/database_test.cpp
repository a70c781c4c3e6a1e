// The writer on a real result set of the embedded client: a small database is
// loaded with the tarvex-sql loader, exported row by row, and read back with
// GDAL; the projection file comes from the database's catalogue.
#include <gtest/gtest.h>
#include <shapefil.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "diag/log.h"
#include "oracle/globals.h"
#include "oracle/sdo.h"
#include "shape/shape_test_util.h"
#include "shape/shape_writer.h"

using namespace shapetest;
using oracle::occi::Environment;
using oracle::occi::ResultSet;
using oracle::occi::Statement;

namespace {

const char* const LOADER = TARVEX_BINARY_DIR "/tarvex-sql";
const char* const WKT = "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
                        "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";

std::string readFile(const std::string& p_path) {
    std::ifstream in(p_path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool exists(const std::string& p_path) {
    struct stat info;
    return ::stat(p_path.c_str(), &info) == 0;
}

class WriterOnDatabase : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::access(LOADER, X_OK) != 0) return;
        std::string dir = makeTempDir();
        std::string script = dir + "/load.sql";
        std::ofstream sql(script);
        sql << "CREATE USER shp IDENTIFIED BY shppw;\n"
               "INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES ('WGS 84', 4326, 4326, 'EPSG', '"
            << WKT
            << "');\n"
               "INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID) VALUES ('No text', 999);\n"
               "ALTER SESSION SET CURRENT_SCHEMA = shp;\n"
               "CREATE TABLE things (id NUMBER(5), name VARCHAR2(400), ratio NUMBER(10,2), amount FLOAT,\n"
               "  born DATE, seen TIMESTAMP(3), geom SDO_GEOMETRY);\n"
               "INSERT INTO things VALUES (1, 'Zürich Ποταμός', -12.5, 1.25, TO_DATE('2023-12-31 10:11:12', 'YYYY-MM-DD HH24:MI:SS'),\n"
               "  TO_TIMESTAMP('1999-01-02 03:04:05.678', 'YYYY-MM-DD HH24:MI:SS.FF'),\n"
               "  SDO_GEOMETRY(2001, 4326, SDO_POINT_TYPE(8.5, 47.25, NULL), NULL, NULL));\n"
               "INSERT INTO things VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL);\n"
               "INSERT INTO things VALUES (-99999, '"
            << std::string(250, 'x') << "ééééé"
            << "', 99999999.99, -3.5, TO_DATE('1900-02-28', 'YYYY-MM-DD'), NULL,\n"
               "  SDO_GEOMETRY(2001, 4326, NULL, SDO_ELEM_INFO_ARRAY(1,1,1), SDO_ORDINATE_ARRAY(-1.5, 2.5)));\n"
               "COMMIT;\n";
        sql.close();
        std::string command = std::string(LOADER) + " " + dir + "/db " + script + " > " + dir + "/load.log 2>&1";
        if (std::system(command.c_str()) == 0) s_database = dir + "/db";
    }

    void SetUp() override {
        if (s_database.empty()) GTEST_SKIP() << "the embedded client's loader is not built";
        _env = Environment::createEnvironment(Environment::OBJECT);
        RegisterClasses(_env);
        conn = _env->createConnection("shp", "shppw", s_database);
    }

    void TearDown() override {
        if (_env == nullptr) return;
        if (conn != nullptr) _env->terminateConnection(conn);
        conn = nullptr;
        Environment::terminateEnvironment(_env);
    }

    // Exports the table through one writer; the number of rows written.
    int exportThings(const std::string& p_base, int p_srid, bool& p_created) {
        Statement* statement = conn->createStatement("select * from things order by id");
        ResultSet* rows = statement->executeQuery();
        tvShapeWriter writer;
        int count = -1;
        p_created = writer.createShapeFile(p_base, SHPT_POINT, rows->getColumnListMetaData(), "GEOM", p_srid);
        if (p_created) {
            bool ok = true;
            while (ok && rows->next()) {
                std::unique_ptr<SDOGeometry> geometry(static_cast<SDOGeometry*>(rows->getObject(7)));
                ok = writer.writeShapeRecord(geometry.get(), rows);
            }
            EXPECT_TRUE(ok);
            EXPECT_TRUE(writer.closeShapeFile());
            count = writer.getRecordCount();
        }
        statement->closeResultSet(rows);
        conn->terminateStatement(statement);
        return count;
    }

    static std::string s_database;
    Environment* _env = nullptr;
};

std::string WriterOnDatabase::s_database;

}  // namespace

TEST_F(WriterOnDatabase, RowsReadBackWithTheDatabaseValues) {
    SettingsGuard settings;
    g_args.erase("date_fmt");
    std::string base = makeTempDir() + "/things";
    bool created = false;
    ASSERT_EQ(exportThings(base, 4326, created), 3);
    EXPECT_EQ(readFile(base + ".prj"), std::string(WKT) + "\n");

    if (!gdalAvailable()) GTEST_SKIP() << "GDAL's Python bindings are not available";
    std::string out = runPython(
        "from osgeo import ogr\n"
        "ds = ogr.Open('" + base + ".shp')\n"
        "layer = ds.GetLayer(0)\n"
        "d = layer.GetLayerDefn()\n"
        "print([d.GetFieldDefn(i).GetName() for i in range(d.GetFieldCount())])\n"
        "print(layer.GetSpatialRef() is not None)\n"
        "for f in layer:\n"
        "    g = f.GetGeometryRef()\n"
        "    print(g.ExportToWkt() if g else None,\n"
        "          [f.GetField(i) if f.IsFieldSetAndNotNull(i) else None for i in range(f.GetFieldCount())])\n");
    std::string longName = std::string(250, 'x') + "éé";  // cut at a character boundary
    EXPECT_EQ(out,
              "['ID', 'NAME', 'RATIO', 'AMOUNT', 'BORN', 'SEEN']\n"
              "True\n"
              "POINT (-1.5 2.5) [-99999, '" + longName + "', 99999999.99, -3.5, '1900/02/28', None]\n"
              "POINT (8.5 47.25) [1, 'Zürich Ποταμός', -12.5, 1.25, '2023/12/31', '1999/01/02']\n"
              "None [2, None, None, None, None, None]\n");

    // Dates and timestamps as text by the date format.
    settings.set("date_fmt", "YYYY-MM-DD HH24:MI:SS");
    std::string texts = makeTempDir() + "/texts";
    ASSERT_EQ(exportThings(texts, -1, created), 3);
    DBFHandle dbf = DBFOpen((texts + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    int seen = DBFGetFieldIndex(dbf, "SEEN");
    ASSERT_GE(seen, 0);
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 1, seen), "1999-01-02 03:04:05");
    EXPECT_TRUE(DBFIsAttributeNULL(dbf, 2, seen));
    DBFClose(dbf);
    EXPECT_FALSE(exists(texts + ".prj"));
}

TEST_F(WriterOnDatabase, ProjectionFileOnlyForAKnownText) {
    SettingsGuard settings;
    g_log_level = LOG_DEBUG;
    std::string dir = makeTempDir();
    bool created = false;

    testing::internal::CaptureStdout();
    exportThings(dir + "/none", -1, created);
    exportThings(dir + "/empty", 999, created);
    std::string out = testing::internal::GetCapturedStdout();
    g_log_level = LOG_BASIC;
    EXPECT_NE(out.find("[DETAILED] No SRS associated with this SRID : -1\n"), std::string::npos);
    EXPECT_NE(out.find("[DEBUG] Obtained projection string () from SRID : 999\n"
                       "[DETAILED] No SRS associated with this SRID : 999\n"),
              std::string::npos);
    EXPECT_FALSE(exists(dir + "/none.prj"));
    EXPECT_FALSE(exists(dir + "/empty.prj"));

    // A .prj that cannot be written fails the creation.
    ASSERT_EQ(::mkdir((dir + "/blocked.prj").c_str(), 0755), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(exportThings(dir + "/blocked", 4326, created), -1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(created);
    EXPECT_NE(out.find("[ERROR] Can't write projection file : " + dir + "/blocked.prj\n"), std::string::npos)
        << out;
}
