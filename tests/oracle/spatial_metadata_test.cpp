// Geometry-column lookup and element-type count, run on the sample database.
#include <gtest/gtest.h>
#include <occi.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/sdo.h"
#include "oracle/spatial_metadata.h"

using oracle::occi::Connection;
using oracle::occi::Environment;
using oracle::occi::Number;
using oracle::occi::ResultSet;
using oracle::occi::SQLException;
using oracle::occi::Statement;

namespace {

std::string sampleDatabase() {
    const char* path = std::getenv("TARVEX_SAMPLE_DB");
    if (path != nullptr && *path != '\0') return path;
    return std::string(TARVEX_BINARY_DIR) + "/sample-db";
}

bool isDirectory(const std::string& p_path) {
    struct stat info;
    return stat(p_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class CoutCapture {
public:
    CoutCapture() : _old(std::cout.rdbuf(_buffer.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(_old); }
    std::string text() const { return _buffer.str(); }

private:
    std::ostringstream _buffer;
    std::streambuf* _old;
};

class SpatialMetadataTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log_level = LOG_DEBUG;
        g_error.clear();
        std::string path = sampleDatabase();
        if (!isDirectory(path)) GTEST_SKIP() << "no sample database at " << path;
        _env = Environment::createEnvironment(Environment::OBJECT);
        RegisterClasses(_env);
        _conn = _env->createConnection("demo", "demo", path);
    }
    void TearDown() override {
        if (_conn != nullptr) _env->terminateConnection(_conn);
        if (_env != nullptr) Environment::terminateEnvironment(_env);
        g_log_level = LOG_BASIC;
    }

    // Rows of a two-column text query.
    std::vector<std::pair<std::string, std::string>> pairs(const std::string& p_sql) {
        std::vector<std::pair<std::string, std::string>> rows;
        Statement* stmt = _conn->createStatement(p_sql);
        ResultSet* rs = stmt->executeQuery();
        while (rs->next()) rows.emplace_back(rs->getString(1), rs->getString(2));
        stmt->closeResultSet(rs);
        _conn->terminateStatement(stmt);
        return rows;
    }

    // Entries equal to p_value in the element information of every geometry
    // of the table, counted on the fetched objects.
    int countEntries(const std::string& p_table, const std::string& p_column, int p_value) {
        int count = 0;
        Statement* stmt = _conn->createStatement("SELECT " + p_column + " FROM " + p_table);
        ResultSet* rs = stmt->executeQuery();
        while (rs->next()) {
            SDOGeometry* geometry = static_cast<SDOGeometry*>(rs->getObject(1));
            if (geometry == nullptr) continue;
            for (const Number& entry : geometry->getSdo_elem_info()) {
                if (!entry.isNull() && static_cast<int>(entry) == p_value) ++count;
            }
            delete geometry;
        }
        stmt->closeResultSet(rs);
        _conn->terminateStatement(stmt);
        return count;
    }

    // Registered table -> geometry columns of the connected user.
    std::map<std::string, std::set<std::string>> registered() {
        std::map<std::string, std::set<std::string>> tables;
        for (auto& row : pairs("SELECT TABLE_NAME, COLUMN_NAME FROM USER_SDO_GEOM_METADATA")) {
            std::string column = row.second;
            upper(column);
            tables[row.first].insert(column);
        }
        return tables;
    }

    Environment* _env = nullptr;
    Connection* _conn = nullptr;
};

TEST_F(SpatialMetadataTest, GeometryColumnFromTheMetadataViews) {
    auto tables = registered();
    ASSERT_FALSE(tables.empty());
    for (const auto& table : tables) {
        std::string column = "unchanged";
        CoutCapture capture;
        ASSERT_TRUE(getGeomColumnForTable(_conn, "", table.first, column)) << table.first;
        EXPECT_EQ(table.second.count(column), 1u) << table.first << " gave " << column;
        EXPECT_NE(capture.text().find("[DEBUG] getGeomColumnForTable geom_column : " + column),
                  std::string::npos);

        // The same through ALL_SDO_GEOM_METADATA with the owner.
        std::string owned = "unchanged";
        ASSERT_TRUE(getGeomColumnForTable(_conn, "DEMO", table.first, owned)) << table.first;
        EXPECT_EQ(table.second.count(owned), 1u) << table.first << " gave " << owned;
    }
}

TEST_F(SpatialMetadataTest, MissingMetadataRow) {
    std::string column = "unchanged";
    {
        CoutCapture capture;
        EXPECT_FALSE(getGeomColumnForTable(_conn, "", "NO_SUCH_TABLE", column));
        EXPECT_EQ(capture.text(),
                  "[ERROR] Error retrieving geometry column from metadata : "
                  "SELECT COLUMN_NAME FROM USER_SDO_GEOM_METADATA WHERE TABLE_NAME=:1"
                  " ( NO_SUCH_TABLE)\n");
    }
    EXPECT_EQ(column, "unchanged");

    auto tables = registered();
    ASSERT_FALSE(tables.empty());
    std::string table = tables.begin()->first;
    {
        CoutCapture capture;
        EXPECT_FALSE(getGeomColumnForTable(_conn, "NOBODY", table, column));
        EXPECT_EQ(capture.text(),
                  "[ERROR] Error retrieving geometry column from metadata : "
                  "SELECT COLUMN_NAME FROM ALL_SDO_GEOM_METADATA WHERE TABLE_NAME=:1 AND OWNER=:2"
                  " (NOBODY " + table + ")\n");
    }
    // Names are bound as given: no case conversion here.
    std::string lowered = table;
    lower(lowered);
    if (lowered != table) {
        CoutCapture capture;
        EXPECT_FALSE(getGeomColumnForTable(_conn, "", lowered, column));
    }
    EXPECT_EQ(column, "unchanged");
}

TEST_F(SpatialMetadataTest, ElementTypeCountsAndInnerRings) {
    auto tables = registered();
    ASSERT_FALSE(tables.empty());
    bool sawRings = false;
    bool sawNoRings = false;
    for (const auto& table : tables) {
        for (const std::string& column : table.second) {
            int rings = countEntries(table.first, column, 2003);
            EXPECT_EQ(checkForETypes(_conn, "", table.first, column, 2003), rings) << table.first;
            EXPECT_EQ(checkForETypes(_conn, "DEMO", table.first, column, 2003), rings)
                << table.first;
            EXPECT_EQ(checkForETypes(_conn, "", table.first, column, 1),
                      countEntries(table.first, column, 1))
                << table.first;
            EXPECT_EQ(areInnerRingsPresent(_conn, "", table.first, column), rings > 0)
                << table.first;
            (rings > 0 ? sawRings : sawNoRings) = true;
        }
    }
    EXPECT_TRUE(sawRings) << "the sample holds no polygon with an inner ring";
    EXPECT_TRUE(sawNoRings);
}

TEST_F(SpatialMetadataTest, ClientErrorsReachTheCaller) {
    EXPECT_THROW(checkForETypes(_conn, "", "NO_SUCH_TABLE", "GEOM", 2003), SQLException);
    EXPECT_THROW(areInnerRingsPresent(_conn, "NOBODY", "NO_SUCH_TABLE", "GEOM"), SQLException);
    auto tables = registered();
    ASSERT_FALSE(tables.empty());
    EXPECT_THROW(checkForETypes(_conn, "", tables.begin()->first, "NO_SUCH_COLUMN", 2003),
                 SQLException);
    // The connection stays usable after a failed query.
    std::string column;
    EXPECT_TRUE(getGeomColumnForTable(_conn, "", tables.begin()->first, column));
}

TEST_F(SpatialMetadataTest, AnotherOwnersTables) {
    std::string column = "unchanged";
    EXPECT_TRUE(getGeomColumnForTable(_conn, "GISOWNER", "RIVERS", column));
    EXPECT_EQ(column, "GEOM");
    column = "unchanged";
    {
        CoutCapture capture;
        EXPECT_FALSE(getGeomColumnForTable(_conn, "", "RIVERS", column));  // not demo's own
    }
    EXPECT_EQ(column, "unchanged");
    // The count query qualifies the table with the owner.
    for (const char* table : {"RIVERS", "LAKES"}) {
        std::string qualified = std::string("GISOWNER.") + table;
        EXPECT_EQ(checkForETypes(_conn, "GISOWNER", table, "GEOM", 1003),
                  countEntries(qualified, "GEOM", 1003))
            << table;
    }
}

// A database of its own for what the sample does not hold: a geometry
// column registered in lower case, and a starting offset equal to 2003.
class SpatialMetadataFixtureTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log_level = LOG_BASIC;
        std::string loader = std::string(TARVEX_BINARY_DIR) + "/tarvex-sql";
        struct stat info;
        if (stat(loader.c_str(), &info) != 0) GTEST_SKIP() << "no loader at " << loader;

        char pattern[] = "/tmp/tarvex-metadata-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        _dir = pattern;
        std::string script = _dir + "/fixture.sql";
        FILE* file = std::fopen(script.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(
            "CREATE USER fx IDENTIFIED BY fxpw;\n"
            "ALTER SESSION SET CURRENT_SCHEMA = fx;\n"
            "CREATE TABLE shapes (id NUMBER, shape SDO_GEOMETRY);\n"
            "INSERT INTO shapes VALUES (1, SDO_GEOMETRY(2006, NULL, NULL,\n"
            "  SDO_ELEM_INFO_ARRAY(1,2,1, 2003,2,1), SDO_ORDINATE_ARRAY(0,0, 1,1)));\n"
            "INSERT INTO shapes VALUES (2, SDO_GEOMETRY(2003, NULL, NULL,\n"
            "  SDO_ELEM_INFO_ARRAY(1,1003,1), SDO_ORDINATE_ARRAY(0,0, 1,0, 1,1, 0,0)));\n"
            "INSERT INTO shapes VALUES (3, NULL);\n"
            "CREATE TABLE empty_shapes (id NUMBER, shape SDO_GEOMETRY);\n"
            "CREATE TABLE holes (id NUMBER, shape SDO_GEOMETRY);\n"
            "INSERT INTO holes VALUES (1, SDO_GEOMETRY(2002, NULL, NULL,\n"
            "  SDO_ELEM_INFO_ARRAY(1,2,1), SDO_ORDINATE_ARRAY(0,0, 1,1)));\n"
            "INSERT INTO holes VALUES (2, SDO_GEOMETRY(2007, NULL, NULL,\n"
            "  SDO_ELEM_INFO_ARRAY(1,1003,1, 9,1003,1, 17,2005,2, 17,2,1, 21,2,2),\n"
            "  SDO_ORDINATE_ARRAY(0,0, 1,0, 1,1, 0,0, 5,5, 9,5, 9,9, 5,5, 6,6, 7,6, 7,7, 6.5,7.5, 6,6)));\n"
            "INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID)\n"
            "  VALUES ('SHAPES', 'shape', SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', 0, 10, 0.001),\n"
            "  SDO_DIM_ELEMENT('Y', 0, 10, 0.001)), NULL);\n",
            file);
        std::fclose(file);
        std::string command = loader + " " + _dir + "/db " + script + " > " + _dir + "/load.log";
        ASSERT_EQ(std::system(command.c_str()), 0) << "see " << _dir << "/load.log";

        _env = Environment::createEnvironment(Environment::OBJECT);
        RegisterClasses(_env);
        _conn = _env->createConnection("fx", "fxpw", _dir + "/db");
    }
    void TearDown() override {
        if (_conn != nullptr) _env->terminateConnection(_conn);
        if (_env != nullptr) Environment::terminateEnvironment(_env);
        if (!_dir.empty()) std::system(("rm -rf " + _dir).c_str());
    }

    std::string _dir;
    Environment* _env = nullptr;
    Connection* _conn = nullptr;
};

TEST_F(SpatialMetadataFixtureTest, UpperCaseColumnAndEveryMatchingEntryCounted) {
    std::string column;
    ASSERT_TRUE(getGeomColumnForTable(_conn, "", "SHAPES", column));
    EXPECT_EQ(column, "SHAPE");
    ASSERT_TRUE(getGeomColumnForTable(_conn, "FX", "SHAPES", column));
    EXPECT_EQ(column, "SHAPE");

    // The count of values takes every entry, the starting offset 2003 too;
    // the inner-ring check reads element types of polygons only.
    EXPECT_EQ(checkForETypes(_conn, "", "SHAPES", "SHAPE", 2003), 1);
    EXPECT_FALSE(areInnerRingsPresent(_conn, "", "SHAPES", "SHAPE"));
    EXPECT_FALSE(areInnerRingsPresentInQuery(_conn, "select * from shapes", "SHAPE"));
    EXPECT_EQ(checkForETypes(_conn, "", "SHAPES", "SHAPE", 1), 5);  // offsets and interpretations
    EXPECT_EQ(checkForETypes(_conn, "FX", "SHAPES", "SHAPE", 1003), 1);

    // A table without rows counts 0.
    EXPECT_EQ(checkForETypes(_conn, "", "EMPTY_SHAPES", "SHAPE", 2003), 0);
    EXPECT_FALSE(areInnerRingsPresent(_conn, "", "EMPTY_SHAPES", "SHAPE"));

    // A compound hole in the second polygon of a multipolygon, after a line row.
    EXPECT_TRUE(areInnerRingsPresent(_conn, "FX", "HOLES", "SHAPE"));
    EXPECT_TRUE(areInnerRingsPresentInQuery(_conn, "select id, shape from holes where id > 1", "shape"));
    EXPECT_FALSE(areInnerRingsPresentInQuery(_conn, "select id, shape from holes where id = 1", "shape"));
    EXPECT_THROW(areInnerRingsPresentInQuery(_conn, "select * from no_such_table", "shape"), SQLException);
}

TEST(InnerRingElements, OnlyElementTypesOfPolygonsCount) {
    struct Case {
        double gtype;
        std::vector<double> elem;
        int expected;
    };
    const Case cases[] = {
        {2003, {1, 1003, 1, 11, 2003, 1}, 1},
        {3007, {1, 1003, 1, 11, 2003, 1, 21, 1003, 1, 31, 2003, 1}, 2},
        {4403, {1, 1005, 2, 1, 2, 1, 5, 2, 2, 9, 2005, 1, 9, 2, 2}, 1},
        {2003, {2003, 1003, 1}, 0},             // an offset
        {2003, {1, 1003, 2003}, 0},             // an interpretation
        {2006, {1, 2, 1, 2003, 2, 1}, 0},       // not a polygon
        {2004, {1, 1003, 1, 11, 2003, 1}, 0},   // a collection
        {2003, {1, 1003, 1, 11, 2003}, 1},      // a shortened last triplet
    };
    for (const Case& c : cases) {
        SDOGeometry geometry;
        geometry.setSdo_gtype(Number(c.gtype));
        std::vector<Number> elem;
        for (double value : c.elem) elem.push_back(Number(value));
        geometry.setSdo_elem_info(elem);
        EXPECT_EQ(countInnerRingElements(&geometry), c.expected) << c.gtype << " " << c.elem.size();
    }
    EXPECT_EQ(countInnerRingElements(nullptr), 0);
}

}  // namespace

namespace {

TEST(SpatialMetadataNoConnectionTest, RefusedWithoutAConnection) {
    g_log_level = LOG_SILENT;
    std::string column = "unchanged";
    EXPECT_FALSE(getGeomColumnForTable(nullptr, "", "CITIES", column));
    EXPECT_EQ(column, "unchanged");
    EXPECT_EQ(checkForETypes(nullptr, "", "CITIES", "GEOM", 2003), 0);
    EXPECT_FALSE(areInnerRingsPresent(nullptr, "", "CITIES", "GEOM"));
    EXPECT_NE(g_error.find("Error checking for inner rings : "), std::string::npos);
    g_log_level = LOG_BASIC;
}

}  // namespace
