// The embedded client's contract as the program uses it: logons, column
// descriptions, getters, geometry objects, the SQL rewrite and the errors.
#include <gtest/gtest.h>
#include <occi.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "embedded_admin.h"
#include "client_test_util.h"
#include "oracle/sdo.h"

using namespace oracle::occi;

namespace {

std::string makeTempDir() {
    char pattern[] = "/tmp/tarvex-client-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "";
}

void removeDir(const std::string& dir) {
    if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
}


const char* const SETUP[] = {
    "CREATE USER demo IDENTIFIED BY Secret1",
    "CREATE USER other IDENTIFIED BY other",
    "ALTER SESSION SET CURRENT_SCHEMA = demo",
    "CREATE TABLE types (v VARCHAR2(20 CHAR), nv NVARCHAR2(7), n NUMBER(10,2), n5 NUMBER(5), "
    "nn NUMBER, nneg NUMBER(6,-2), i INTEGER, si SMALLINT, f FLOAT, f20 FLOAT(20), l LONG, "
    "d DATE, r RAW(16), c CHAR(4), nc NCHAR(2), bf BINARY_FLOAT, bd BINARY_DOUBLE, "
    "g MDSYS.SDO_GEOMETRY, cl CLOB, bl BLOB, ts TIMESTAMP, ts3 TIMESTAMP(3), "
    "tz TIMESTAMP(2) WITH TIME ZONE)",
    "INSERT INTO types (v, n, n5, nn, i, f, d, r, c, ts3, tz) VALUES ('Zürich', 12345678.91, -99999, "
    "0.5, 42, 2.75, TO_DATE('2023-12-31 23:59:58', 'YYYY-MM-DD HH24:MI:SS'), HEXTORAW('00ff10'), 'ab', "
    "TIMESTAMP '2021-03-05 14:30:15.123', "
    "TO_TIMESTAMP_TZ('2021-03-05 01:02:03.45 -05:30', 'YYYY-MM-DD HH24:MI:SS.FF TZH:TZM'))",
    "INSERT INTO types (v) VALUES (NULL)",
    "CREATE TABLE shapes (id NUMBER(10) NOT NULL, name VARCHAR2(30), geom SDO_GEOMETRY)",
    "INSERT INTO shapes VALUES (1, 'point', SDO_GEOMETRY(2001, 8307, "
    "SDO_POINT_TYPE(0.1, -123456.78901234567, NULL), NULL, NULL))",
    "INSERT INTO shapes VALUES (2, 'polygon with hole', SDO_GEOMETRY(2003, NULL, NULL, "
    "SDO_ELEM_INFO_ARRAY(1,1003,1, 11,2003,1), SDO_ORDINATE_ARRAY(0,0, 10,0, 10,10, 0,10, 0,0, "
    "2,2, 2,4, 4,4, 4,2, 2,2)))",
    "INSERT INTO shapes VALUES (3, 'null geometry', NULL)",
    "CREATE OR REPLACE VIEW named_shapes AS SELECT id, name, geom FROM shapes WHERE name IS NOT NULL",
    "INSERT INTO shapes VALUES (4, 'line with null measure', MDSYS.SDO_GEOMETRY(3302, 27700, NULL, "
    "MDSYS.SDO_ELEM_INFO_ARRAY(1,2,1), MDSYS.SDO_ORDINATE_ARRAY(1e-300, 2.5, NULL, "
    "1.7976931348623157e308, -0.000123, 7)))",
    "INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('shapes', "
    "'geom', SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, "
    "0.005)), 8307)",
    "INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, WKTEXT) VALUES ('Longitude / Latitude (WGS 84)', 8307, "
    "'GEOGCS [ \"Longitude / Latitude (WGS 84)\", DATUM [\"WGS 84\"] ]')",
    "CREATE TABLE other.roads (road_id NUMBER(8), geom SDO_GEOMETRY)",
    "INSERT INTO other.roads VALUES (7, SDO_GEOMETRY(2002, 27700, NULL, SDO_ELEM_INFO_ARRAY(1,2,1), "
    "SDO_ORDINATE_ARRAY(1,1, 2,2, 3,3)))",
    "ALTER SESSION SET CURRENT_SCHEMA = other",
    "INSERT INTO USER_SDO_GEOM_METADATA VALUES ('ROADS', 'GEOM', NULL, 27700)",
    "GRANT SELECT ON other.roads TO demo",
    nullptr};

class ClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = makeTempDir();
        std::string error;
        ASSERT_TRUE(embedded::createDatabase(dir_, error)) << error;
        Environment* env = Environment::createEnvironment();
        Connection* admin = embedded::connectAsAdministrator(env, dir_);
        Statement* s = admin->createStatement();
        for (int i = 0; SETUP[i]; ++i) {
            std::string sql = SETUP[i];
            try {
                s->executeUpdate(sql);
            } catch (const SQLException& e) {
                ADD_FAILURE() << sql << ": " << e.getMessage();
            }
        }
        admin->terminateStatement(s);
        admin->commit();
        env->terminateConnection(admin);
        Environment::terminateEnvironment(env);
    }
    static void TearDownTestSuite() { removeDir(dir_); }

    void SetUp() override {
        env = Environment::createEnvironment(Environment::OBJECT);
        RegisterClasses(env);
        conn = env->createConnection("demo", "Secret1", dir_);
    }
    void TearDown() override {
        env->terminateConnection(conn);
        Environment::terminateEnvironment(env);
    }

    // First row's column 1 of a query, as text.
    std::string scalar(const std::string& sql) {
        Statement* s = conn->createStatement(sql);
        ResultSet* rs = s->executeQuery();
        std::string v = rs->next() ? rs->getString(1) : "<no row>";
        s->closeResultSet(rs);
        conn->terminateStatement(s);
        return v;
    }

    int count(const std::string& sql) {
        Statement* s = conn->createStatement(sql);
        ResultSet* rs = s->executeQuery();
        int n = 0;
        while (rs->next()) ++n;
        s->closeResultSet(rs);
        conn->terminateStatement(s);
        return n;
    }

    static std::string dir_;
    Environment* env = nullptr;
    Connection* conn = nullptr;
};

std::string ClientTest::dir_;

TEST_F(ClientTest, LogonChecksUserPasswordAndDirectory) {
    std::string message;
    EXPECT_EQ(errorOf([&] { env->createConnection("demo", "secret1", dir_); }, &message), 1017);
    EXPECT_EQ(message, "ORA-01017: invalid username/password; logon denied");
    EXPECT_EQ(errorOf([&] { env->createConnection("nobody", "x", dir_); }), 1017);
    EXPECT_EQ(errorOf([&] { env->createConnection("mdsys", "", dir_); }), 1017);
    EXPECT_EQ(errorOf([&] { env->createConnection("demo", "Secret1", dir_ + "/missing"); }, &message), 12154);
    EXPECT_EQ(message, "ORA-12154: TNS:could not resolve the connect identifier specified");
    // user names are case-insensitive, passwords are not
    Connection* c = env->createConnection("DeMo", "Secret1", dir_);
    env->terminateConnection(c);
    EXPECT_NE(conn->getServerVersion().find("SQLite"), std::string::npos);
    // export sessions only read
    Statement* s = conn->createStatement();
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO shapes (id) VALUES (9)"); }), 16000);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("CREATE USER x IDENTIFIED BY y"); }), 1031);
    conn->terminateStatement(s);
}

struct Expected {
    const char* name;
    int type, size, precision, scale;
    const char* typeName;
};

TEST_F(ClientTest, ColumnDescriptionsFollowDeclaredTypes) {
    const Expected expected[] = {
        {"V", 1, 80, 0, 0, ""},        {"NV", 1, 14, 0, 0, ""},      {"N", 2, 22, 10, 2, ""},
        {"N5", 2, 22, 5, 0, ""},       {"NN", 2, 22, 0, -127, ""},  {"NNEG", 2, 22, 6, -2, ""},
        {"I", 2, 22, 38, 0, ""},       {"SI", 2, 22, 38, 0, ""},    {"F", 2, 22, 126, -127, ""},
        {"F20", 2, 22, 20, -127, ""},  {"L", 8, 0, 0, 0, ""},       {"D", 12, 7, 0, 0, ""},
        {"R", 23, 16, 0, 0, ""},       {"C", 96, 4, 0, 0, ""},      {"NC", 96, 4, 0, 0, ""},
        {"BF", 100, 4, 0, 0, ""},      {"BD", 101, 8, 0, 0, ""},    {"G", 108, 0, 0, 0, "SDO_GEOMETRY"},
        {"CL", 112, 4000, 0, 0, ""},   {"BL", 113, 4000, 0, 0, ""}, {"TS", 187, 11, 0, 6, ""},
        {"TS3", 187, 11, 0, 3, ""},    {"TZ", 188, 13, 0, 2, ""},
    };
    for (const char* sql : {"SELECT * FROM types", "select * from DEMO.TYPES",
                            "SELECT * FROM (SELECT * FROM types) WHERE rownum <= 5"}) {
        Statement* s = conn->createStatement(sql);
        ResultSet* rs = s->executeQuery();
        std::vector<MetaData> md = rs->getColumnListMetaData();
        ASSERT_EQ(md.size(), sizeof expected / sizeof expected[0]) << sql;
        for (size_t i = 0; i < md.size(); ++i) {
            SCOPED_TRACE(std::string(sql) + " column " + expected[i].name);
            EXPECT_EQ(md[i].getString(MetaData::ATTR_NAME), expected[i].name);
            EXPECT_EQ(md[i].getInt(MetaData::ATTR_DATA_TYPE), expected[i].type);
            if (expected[i].type != 8 && expected[i].type != 108) {
                EXPECT_EQ(md[i].getInt(MetaData::ATTR_DATA_SIZE), expected[i].size);
            }
            EXPECT_EQ(md[i].getInt(MetaData::ATTR_PRECISION), expected[i].precision);
            EXPECT_EQ(md[i].getInt(MetaData::ATTR_SCALE), expected[i].scale);
            EXPECT_EQ(md[i].getString(MetaData::ATTR_TYPE_NAME), expected[i].typeName);
            if (expected[i].type == 108) {
                EXPECT_EQ(md[i].getString(MetaData::ATTR_SCHEMA_NAME), "MDSYS");
            }
        }
        s->closeResultSet(rs);
        conn->terminateStatement(s);
    }
    // a column list, lower-case names, the probe form, computed columns
    Statement* s = conn->createStatement("select name, geom, id * 2, count(*) over () cnt, 'x' || name "
                                         "from shapes");
    ResultSet* rs = s->executeQuery();
    std::vector<MetaData> md = rs->getColumnListMetaData();
    ASSERT_EQ(md.size(), 5u);
    EXPECT_EQ(md[0].getString(MetaData::ATTR_NAME), "NAME");
    EXPECT_EQ(md[0].getInt(MetaData::ATTR_DATA_SIZE), 30);
    EXPECT_EQ(md[1].getInt(MetaData::ATTR_DATA_TYPE), 108);
    EXPECT_EQ(md[2].getInt(MetaData::ATTR_DATA_TYPE), 2);
    EXPECT_EQ(md[2].getInt(MetaData::ATTR_PRECISION), 0);
    EXPECT_EQ(md[2].getInt(MetaData::ATTR_SCALE), -127);
    EXPECT_EQ(md[3].getString(MetaData::ATTR_NAME), "CNT");
    EXPECT_EQ(md[4].getInt(MetaData::ATTR_DATA_TYPE), 1);
    s->closeResultSet(rs);
    s->setSQL("SELECT * FROM named_shapes");
    rs = s->executeQuery();
    md = rs->getColumnListMetaData();
    ASSERT_EQ(md.size(), 3u);
    EXPECT_EQ(md[1].getInt(MetaData::ATTR_DATA_SIZE), 30);
    EXPECT_EQ(md[2].getInt(MetaData::ATTR_DATA_TYPE), 108);
    s->closeResultSet(rs);
    s->setSQL("select GEOM from (SELECT * FROM SHAPES) where GEOM is not null and rownum = 1");
    rs = s->executeQuery();
    md = rs->getColumnListMetaData();
    ASSERT_EQ(md.size(), 1u);
    EXPECT_EQ(md[0].getInt(MetaData::ATTR_DATA_TYPE), 108);
    EXPECT_EQ(md[0].getString(MetaData::ATTR_TYPE_NAME), "SDO_GEOMETRY");
    int rows = 0;
    while (rs->next()) ++rows;
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(rs->next(), ResultSet::END_OF_FETCH);
    s->closeResultSet(rs);
    conn->terminateStatement(s);
}

TEST_F(ClientTest, GettersConvertValuesAndNulls) {
    Statement* s = conn->createStatement("SELECT v, n, n5, nn, i, f, d, r, c, ts3, tz, g, l FROM types ORDER BY v");
    ResultSet* rs = s->executeQuery();
    EXPECT_EQ(errorOf([&] { rs->getString(1); }), 1002);  // before the first next()
    ASSERT_TRUE(rs->next());
    // the NULL row sorts first
    for (unsigned c = 1; c <= 13; ++c) EXPECT_TRUE(rs->isNull(c)) << c;
    EXPECT_EQ(rs->getString(1), "");
    EXPECT_EQ(rs->getInt(2), 0);
    EXPECT_EQ(rs->getDouble(2), 0.0);
    EXPECT_TRUE(rs->getNumber(2).isNull());
    EXPECT_TRUE(rs->getDate(7).isNull());
    EXPECT_TRUE(rs->getTimestamp(10).isNull());
    EXPECT_EQ(rs->getObject(12), nullptr);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "Zürich");
    EXPECT_DOUBLE_EQ(rs->getDouble(2), 12345678.91);
    EXPECT_EQ(rs->getString(2), "12345678.91");
    EXPECT_EQ(rs->getInt(2), 12345678);  // truncated
    EXPECT_EQ(rs->getInt(3), -99999);
    EXPECT_EQ(rs->getString(4), ".5");
    EXPECT_EQ(rs->getInt(5), 42);
    EXPECT_EQ(rs->getString(6), "2.75");
    EXPECT_EQ(rs->getDate(7).toText("YYYY-MM-DD HH24:MI:SS"), "2023-12-31 23:59:58");
    EXPECT_EQ(rs->getString(7), "31-DEC-23");
    EXPECT_EQ(rs->getTimestamp(7).toText("YYYYMMDD HH24MISS", 0), "20231231 235958");
    EXPECT_EQ(rs->getString(8), "00FF10");
    EXPECT_EQ(rs->getString(9), "ab  ");  // CHAR is blank-padded
    Timestamp ts = rs->getTimestamp(10);
    EXPECT_EQ(ts.toText("YYYY-MM-DD HH24:MI:SS.FF", 3), "2021-03-05 14:30:15.123");
    EXPECT_EQ(rs->getDate(10).toText("DD.MM.YYYY HH24:MI"), "05.03.2021 14:30");
    Timestamp tz = rs->getTimestamp(11);
    int th = 0, tm = 0;
    tz.getTimeZoneOffset(th, tm);
    EXPECT_EQ(th, -5);
    EXPECT_EQ(tm, -30);
    EXPECT_EQ(tz.toText("HH24:MI:SS.FF2 TZH:TZM", 2), "01:02:03.45 -05:30");
    EXPECT_EQ(errorOf([&] { rs->getInt(1); }), 1722);
    EXPECT_EQ(errorOf([&] { rs->getString(14); }), 1007);
    EXPECT_FALSE(rs->next());
    s->closeResultSet(rs);
    conn->terminateStatement(s);
}

TEST_F(ClientTest, GeometriesKeepEveryValueExactly) {
    Statement* s = conn->createStatement("SELECT id, geom FROM shapes ORDER BY id");
    ResultSet* rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    std::unique_ptr<SDOGeometry> g(static_cast<SDOGeometry*>(rs->getObject(2)));
    ASSERT_TRUE(g);
    EXPECT_EQ(static_cast<int>(g->getSdo_gtype()), 2001);
    EXPECT_EQ(static_cast<int>(g->getSdo_srid()), 8307);
    ASSERT_NE(g->getSdo_point(), nullptr);
    EXPECT_EQ(static_cast<double>(g->getSdo_point()->getX()), 0.1);
    EXPECT_EQ(static_cast<double>(g->getSdo_point()->getY()), -123456.78901234567);
    EXPECT_TRUE(g->getSdo_point()->getZ().isNull());
    EXPECT_TRUE(g->getSdo_elem_info().empty());
    EXPECT_TRUE(g->getSdo_ordinates().empty());

    ASSERT_TRUE(rs->next());
    g.reset(static_cast<SDOGeometry*>(rs->getObject(2)));
    ASSERT_TRUE(g);
    EXPECT_TRUE(g->getSdo_srid().isNull());
    EXPECT_EQ(g->getSdo_point(), nullptr);
    ASSERT_EQ(g->getSdo_elem_info().size(), 6u);
    EXPECT_EQ(static_cast<int>(g->getSdo_elem_info()[4]), 2003);
    ASSERT_EQ(g->getSdo_ordinates().size(), 20u);
    EXPECT_EQ(static_cast<double>(g->getSdo_ordinates()[11]), 2.0);

    ASSERT_TRUE(rs->next());
    EXPECT_TRUE(rs->isNull(2));
    EXPECT_EQ(rs->getObject(2), nullptr);

    ASSERT_TRUE(rs->next());
    g.reset(static_cast<SDOGeometry*>(rs->getObject(2)));
    ASSERT_TRUE(g);
    const std::vector<Number>& ords = g->getSdo_ordinates();
    ASSERT_EQ(ords.size(), 6u);
    EXPECT_EQ(static_cast<double>(ords[0]), 1e-300);
    EXPECT_EQ(static_cast<double>(ords[1]), 2.5);
    EXPECT_TRUE(ords[2].isNull());
    EXPECT_FALSE(ords[3].isNull());
    EXPECT_EQ(static_cast<double>(ords[3]), 1.7976931348623157e308);
    EXPECT_EQ(static_cast<double>(ords[4]), -0.000123);
    EXPECT_EQ(static_cast<int>(g->getSdo_srid()), 27700);
    EXPECT_FALSE(rs->next());
    s->closeResultSet(rs);

    // getObject on something that is not a geometry
    rs = s->executeQuery("SELECT name FROM shapes");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(errorOf([&] { rs->getObject(1); }), 932);
    s->closeResultSet(rs);
    conn->terminateStatement(s);

    // without a registered class there is no object
    Environment* bare = Environment::createEnvironment(Environment::OBJECT);
    Connection* c = bare->createConnection("demo", "Secret1", dir_);
    Statement* s2 = c->createStatement("SELECT geom FROM shapes WHERE id = 1");
    ResultSet* rs2 = s2->executeQuery();
    ASSERT_TRUE(rs2->next());
    EXPECT_NE(errorOf([&] { rs2->getObject(1); }), 0);
    s2->closeResultSet(rs2);
    c->terminateStatement(s2);
    bare->terminateConnection(c);
    Environment::terminateEnvironment(bare);
}

// A class that reads more attributes than the type has: the stream's error
// reaches the caller of getObject, and the half-read object is released.
class Greedy : public PObject {
public:
    explicit Greedy(void* ctx) : PObject(ctx) {}
    static int alive;
    ~Greedy() override { --alive; }
    static void* readSQL(void* ctx) {
        Greedy* g = new (ctx) Greedy(ctx);
        ++alive;
        AnyData stream(ctx);
        try {
            g->readSQL(stream);
        } catch (SQLException& e) {
            delete g;
            e.setErrorCtx(ctx);
            return nullptr;
        }
        return g;
    }
    static void writeSQL(void*, void*) {}
    void readSQL(AnyData& stream) override {
        for (int i = 0; i < 3; ++i) stream.getNumber();  // gtype, srid, then the point is not a number
    }
    void writeSQL(AnyData&) override {}
    std::string getSQLTypeName() const override { return "MDSYS.SDO_GEOMETRY"; }
    void getSQLTypeName(Environment* env, void** s, unsigned int& sl, void** t, unsigned int& tl) const override {
        PObject::getSQLTypeName(env, &Greedy::readSQL, s, sl, t, tl);
    }
};
int Greedy::alive = 0;

TEST_F(ClientTest, ReadFunctionErrorsReachTheCaller) {
    Environment* own = Environment::createEnvironment(Environment::OBJECT);
    own->getMap()->put("MDSYS", "SDO_GEOMETRY", &Greedy::readSQL, &Greedy::writeSQL);
    Connection* c = own->createConnection("demo", "Secret1", dir_);
    Statement* s = c->createStatement("SELECT geom FROM shapes WHERE id = 2");
    ResultSet* rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(errorOf([&] { rs->getObject(1); }), 21560);
    EXPECT_EQ(Greedy::alive, 0);
    // the registered name is found from the read function
    Greedy probe(nullptr);
    ++Greedy::alive;
    void* schema = nullptr;
    void* type = nullptr;
    unsigned int schemaLength = 0, typeLength = 0;
    probe.getSQLTypeName(own, &schema, schemaLength, &type, typeLength);
    EXPECT_EQ(std::string(static_cast<char*>(schema), schemaLength), "MDSYS");
    EXPECT_EQ(std::string(static_cast<char*>(type), typeLength), "SDO_GEOMETRY");
    s->closeResultSet(rs);
    c->terminateStatement(s);
    own->terminateConnection(c);
    Environment::terminateEnvironment(own);
}

// Reads every geometry into one kept object: each read fills vectors that
// hold the previous row's values, longer or shorter.
SDOGeometry* g_kept = nullptr;
void* readIntoKept(void* ctx) {
    AnyData stream(ctx);
    g_kept->readSQL(stream);
    return nullptr;
}

// Arrays with NULL elements anywhere or none, each read whole into vectors
// that held the previous row's.
TEST(ClientArrays, ElementsAndNullsReadWholeIntoAnyVector) {
    std::vector<std::vector<std::string>> cases = {
        {"1", "2", "3", "4"}, {"NULL", "2", "-0.5", "1e300"}, {"1", "2", "3", "4", "5", "6", "7", "8", "NULL", "10"},
        {"1", "2"}, {"1", "2", "3", "4", "5"}, {"NULL", "NULL"},
        {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "NULL", "14", "15", "16"},
        {"5", "6", "7"}, {}};
    for (int k = 0; k < 24; ++k) cases.back().push_back(std::to_string(k * 0.25 - 3));
    std::string dir;
    makeTempDatabase("tarvex-arrays", dir);
    Environment* env = Environment::createEnvironment(Environment::OBJECT);
    Connection* admin = embedded::connectAsAdministrator(env, dir);
    Statement* s = admin->createStatement();
    s->executeUpdate("CREATE USER arrays IDENTIFIED BY Arrays1");
    s->executeUpdate("CREATE TABLE arrays.t (id NUMBER(4), geom SDO_GEOMETRY)");
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string list;
        for (const std::string& v : cases[i]) list += (list.empty() ? "" : ", ") + v;
        s->executeUpdate("INSERT INTO arrays.t VALUES (" + std::to_string(i) + ", SDO_GEOMETRY(2002, NULL, NULL, " +
                         "SDO_ELEM_INFO_ARRAY(" + list + "), SDO_ORDINATE_ARRAY(" + list + ")))");
    }
    admin->terminateStatement(s);
    env->terminateConnection(admin);
    SDOGeometry kept;
    g_kept = &kept;
    env->getMap()->put("MDSYS", "SDO_GEOMETRY", &readIntoKept, &SDOGeometry::writeSQL);
    Connection* c = env->createConnection("arrays", "Arrays1", dir);
    Statement* q = c->createStatement("SELECT geom FROM t ORDER BY id");
    ResultSet* rs = q->executeQuery();
    for (const std::vector<std::string>& want : cases) {
        ASSERT_TRUE(rs->next());
        EXPECT_EQ(rs->getObject(1), nullptr);
        for (const std::vector<Number>* got : {&kept.getSdo_elem_info(), &kept.getSdo_ordinates()}) {
            ASSERT_EQ(got->size(), want.size());
            for (size_t k = 0; k < want.size(); ++k) {
                ASSERT_EQ((*got)[k].isNull(), want[k] == "NULL") << k;
                if (want[k] != "NULL") {
                    EXPECT_EQ(static_cast<double>((*got)[k]), std::stod(want[k])) << k;
                }
            }
        }
    }
    q->closeResultSet(rs);
    c->terminateStatement(q);
    env->terminateConnection(c);
    g_kept = nullptr;
    Environment::terminateEnvironment(env);
    removeTempDatabase(dir);
}

// Objects of many sizes made and deleted in a scrambled order, many times
// over: no live object ever shares memory with another, whatever the client
// keeps of the freed ones.
template <size_t N>
struct Sized : public PObject {
    unsigned char bytes[N];
    std::string getSQLTypeName() const override { return ""; }
    void getSQLTypeName(Environment*, void**, unsigned int&, void**, unsigned int&) const override {}
    void writeSQL(AnyData&) override {}
    void readSQL(AnyData&) override {}
};

TEST(ClientObjects, FreedObjectsNeverShareMemoryWithLiveOnes) {
    const std::vector<std::pair<size_t, std::function<PObject*()>>> kinds = {
        {sizeof(Sized<1>), [] { return new Sized<1>; }},   {sizeof(Sized<40>), [] { return new Sized<40>; }},
        {sizeof(Sized<8>), [] { return new Sized<8>; }},   {sizeof(Sized<100>), [] { return new Sized<100>; }},
        {sizeof(Sized<24>), [] { return new Sized<24>; }}, {sizeof(Sized<300>), [] { return new Sized<300>; }}};
    std::map<const char*, size_t> live;  // start -> size
    unsigned state = 12345;
    auto random = [&state](size_t n) { return (state = state * 1103515245u + 12345u) / 65536u % n; };
    for (int step = 0; step < 20000; ++step) {
        if (live.size() < 40 && random(5) < 3) {
            const auto& kind = kinds[random(kinds.size())];
            const char* p = reinterpret_cast<const char*>(kind.second());
            auto next = live.lower_bound(p);
            ASSERT_TRUE(next == live.end() || p + kind.first <= next->first) << "step " << step;
            ASSERT_TRUE(next == live.begin() || std::prev(next)->first + std::prev(next)->second <= p);
            live.emplace(p, kind.first);
        } else if (!live.empty()) {
            auto victim = std::next(live.begin(), static_cast<long>(random(live.size())));
            delete reinterpret_cast<const PObject*>(victim->first);
            live.erase(victim);
        }
    }
    for (const auto& object : live) delete reinterpret_cast<const PObject*>(object.first);
}

TEST_F(ClientTest, RewriteFormsAnswerAsOracle) {
    EXPECT_EQ(count("SELECT * FROM shapes WHERE rownum = 1"), 1);
    EXPECT_EQ(count("SELECT * FROM shapes WHERE rownum <= 3"), 3);
    EXPECT_EQ(count("SELECT * FROM shapes WHERE id > 1 AND rownum < 3"), 2);
    EXPECT_EQ(count("SELECT * FROM shapes WHERE rownum = 2"), 0);
    EXPECT_EQ(count("SELECT * FROM (SELECT * FROM shapes WHERE rownum <= 2) t"), 2);
    EXPECT_EQ(scalar("SELECT 'rownum = 1' FROM dual WHERE rownum = 1"), "rownum = 1");
    EXPECT_EQ(scalar("SELECT ':1' FROM dual"), ":1");  // not a placeholder
    EXPECT_EQ(scalar("SELECT user FROM dual"), "DEMO");
    EXPECT_EQ(scalar("select count(*) from shapes x, table(x.GEOM.SDO_ELEM_INFO) t where t.column_value = 2003"), "1");
    EXPECT_EQ(scalar("select count(*) from DEMO.SHAPES x, table(x.GEOM.SDO_ORDINATES) t"), "26");
    EXPECT_EQ(scalar("SELECT s.geom.SDO_POINT.X FROM shapes s WHERE s.geom.sdo_gtype = 2001"), ".1");
    EXPECT_EQ(scalar("SELECT count(*) FROM shapes s WHERE s.geom.SDO_SRID IS NULL"), "2");
    EXPECT_EQ(scalar("SELECT count(*) FROM other.roads"), "1");

    // binds by position, whatever their names
    Statement* s = conn->createStatement();
    s->setSQL("select count(*) from SHAPES x, table(x.GEOM.SDO_ELEM_INFO) t where t.column_value = :1");
    s->setInt(1, 2);
    ResultSet* rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getInt(1), 1);
    s->closeResultSet(rs);
    s->setSQL("SELECT name FROM shapes WHERE id = :x AND name <> :y");
    s->setNumber(1, Number(2));
    s->setString(2, "point");
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "polygon with hole");
    s->closeResultSet(rs);
    s->setSQL("SELECT id FROM shapes WHERE id < :1 ORDER BY id DESC");
    s->setDouble(1, 2.5);
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getInt(1), 2);
    s->closeResultSet(rs);
    // the same statement runs again with new values
    s->setDouble(1, 1.5);
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getInt(1), 1);
    s->closeResultSet(rs);
    s->setSQL("SELECT id FROM shapes WHERE name <> :1 AND rownum <= :2");
    s->setString(1, "point");
    s->setInt(2, 2);
    rs = s->executeQuery();
    int limited = 0;
    while (rs->next()) ++limited;
    EXPECT_EQ(limited, 2);
    s->closeResultSet(rs);
    Statement* fresh = conn->createStatement("SELECT id FROM shapes WHERE id = :1 AND name = :2");
    fresh->setInt(1, 1);
    EXPECT_EQ(errorOf([&] { fresh->executeQuery(); }), 1008);
    conn->terminateStatement(fresh);

    // the metadata and catalogue queries of the program
    s->setSQL("SELECT COLUMN_NAME FROM USER_SDO_GEOM_METADATA WHERE TABLE_NAME=:1");
    s->setString(1, "SHAPES");
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "GEOM");
    s->closeResultSet(rs);
    s->setSQL("SELECT COLUMN_NAME FROM ALL_SDO_GEOM_METADATA WHERE TABLE_NAME=:1 AND OWNER=:2");
    s->setString(1, "ROADS");
    s->setString(2, "OTHER");
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "GEOM");
    s->closeResultSet(rs);
    s->setSQL("select table_name,column_name,owner from all_sdo_geom_metadata where owner = :1");
    s->setString(1, "DEMO");
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1) + "." + rs->getString(2) + "@" + rs->getString(3), "SHAPES.GEOM@DEMO");
    EXPECT_FALSE(rs->next());
    s->closeResultSet(rs);
    s->setSQL("select table_name,column_name,user from user_sdo_geom_metadata");
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(3), "DEMO");
    std::vector<MetaData> md = rs->getColumnListMetaData();
    EXPECT_EQ(md[0].getString(MetaData::ATTR_NAME), "TABLE_NAME");
    s->closeResultSet(rs);
    s->setSQL("select wktext from mdsys.cs_srs where srid = :1");
    s->setNumber(1, Number(8307));
    rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "GEOGCS [ \"Longitude / Latitude (WGS 84)\", DATUM [\"WGS 84\"] ]");
    s->closeResultSet(rs);
    s->setNumber(1, Number(-1));
    rs = s->executeQuery();
    EXPECT_FALSE(rs->next());
    s->closeResultSet(rs);
    conn->terminateStatement(s);
}

TEST_F(ClientTest, FailuresAreOracleErrors) {
    Statement* s = conn->createStatement();
    std::string message;
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM nosuch"); }, &message), 942);
    EXPECT_EQ(message, "ORA-00942: table or view does not exist");
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM nobody.shapes"); }), 942);
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT nocol FROM shapes"); }, &message), 904);
    EXPECT_EQ(message, "ORA-00904: \"NOCOL\": invalid identifier");
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELEKT * FROM shapes"); }, &message), 900);
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM shapes WHERE id = = 1"); }, &message), 900);
    EXPECT_EQ(message.compare(0, 11, "ORA-00900: "), 0);
    EXPECT_NE(message.find("syntax error"), std::string::npos);
    // a session only reads, and only through queries
    EXPECT_EQ(errorOf([&] { s->executeQuery("WITH x AS (SELECT 1) DELETE FROM temp.dual"); }), 1031);
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT password_hash FROM demo.\"TVX$USER\""); }), 1031);
    EXPECT_EQ(errorOf([&] { s->executeQuery("PRAGMA table_info(shapes)"); }), 900);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("ATTACH DATABASE 'x.db' AS x"); }), 900);
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM shapes; DELETE FROM shapes"); }), 911);
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM shapes WHERE name = 'unterminated"); }), 900);
    // the statement is still usable after a failure
    ResultSet* rs = s->executeQuery("SELECT count(*) FROM shapes");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getInt(1), 4);
    s->closeResultSet(rs);
    conn->terminateStatement(s);
}

TEST(ClientAdministration, SchemasDdlAndLimits) {
    std::string dir = makeTempDir();
    std::string error;
    ASSERT_TRUE(embedded::createDatabase(dir, error)) << error;
    Environment* env = Environment::createEnvironment();
    Connection* admin = embedded::connectAsAdministrator(env, dir);
    Statement* s = admin->createStatement();
    EXPECT_EQ(errorOf([&] { s->executeUpdate("CREATE TABLE t (x NUMBER)"); }), 1435);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("ALTER SESSION SET CURRENT_SCHEMA = nobody"); }), 1435);
    const int schemas = 12;  // more than SQLite attaches at once
    for (int i = 1; i <= schemas; ++i) {
        std::string u = "s" + std::to_string(i);
        s->executeUpdate("CREATE USER " + u + " IDENTIFIED BY pw");
        s->executeUpdate("CREATE TABLE " + u + ".t (id NUMBER(3), label VARCHAR2(3), geom SDO_GEOMETRY)");
        s->executeUpdate("INSERT INTO " + u + ".t VALUES (" + std::to_string(i) + ", 'abc', NULL)");
        admin->commit();  // a transaction keeps the schemas it changed attached
    }
    s->executeUpdate("GRANT SELECT ANY TABLE TO s1");
    EXPECT_EQ(errorOf([&] { s->executeUpdate("CREATE USER s1 IDENTIFIED BY pw"); }), 1920);
    std::string message;
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO s1.t VALUES (99, 'abcd', NULL)"); }, &message), 12899);
    EXPECT_EQ(message, "ORA-12899: value too large for column \"LABEL\"");
    s->executeUpdate("ALTER SESSION SET CURRENT_SCHEMA = s2");
    EXPECT_EQ(s->executeUpdate("UPDATE t SET label = 'xyz' WHERE id = 2"), 1u);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("CREATE TABLE bad (x VARCHAR2(10) NUMBER)"); }), 902);
    // values are kept as Oracle keeps them
    s->executeUpdate("CREATE TABLE nums (a NUMBER(10,2), b NUMBER(5), c NUMBER(12,-2), d DATE, e NUMBER)");
    s->executeUpdate("INSERT INTO nums VALUES (1.005, 3.7, 421878, DATE '2024-02-29', 1.005)");
    s->executeUpdate("INSERT INTO nums VALUES (-99.995, -99999, -50, NULL, NULL)");
    s->executeUpdate("UPDATE nums SET b = 2.5 WHERE b = 4");
    ResultSet* rs = s->executeQuery("SELECT a, b, c, e FROM nums ORDER BY a DESC");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getDouble(1), 1.01);
    EXPECT_EQ(rs->getInt(2), 3);  // 2.5 rounds away from zero
    EXPECT_EQ(rs->getString(3), "421900");
    EXPECT_EQ(rs->getDouble(4), 1.005);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getDouble(1), -100.0);
    EXPECT_EQ(rs->getInt(2), -99999);
    EXPECT_EQ(rs->getInt(3), -100);
    s->closeResultSet(rs);
    // literals and bound values mixed in one INSERT, the same text run twice
    s->executeUpdate("CREATE TABLE mix (a NUMBER, b VARCHAR2(10), c NUMBER, g SDO_GEOMETRY)");
    for (int round = 0; round < 2; ++round) {
        s->setSQL("INSERT INTO mix VALUES (:1, 'it''s', -2.5, SDO_GEOMETRY(2001, NULL, "
                  "SDO_POINT_TYPE(-1, :2, NULL), NULL, NULL))");
        s->setInt(1, round);
        s->setDouble(2, -7.25 - round);
        EXPECT_EQ(s->executeUpdate(), 1u);
    }
    rs = s->executeQuery("SELECT m.a, m.b, m.c, m.g.SDO_POINT.X, m.g.SDO_POINT.Y FROM mix m ORDER BY m.a");
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(rs->next());
        EXPECT_EQ(rs->getInt(1), round);
        EXPECT_EQ(rs->getString(2), "it's");
        EXPECT_EQ(rs->getDouble(3), -2.5);
        EXPECT_EQ(rs->getDouble(4), -1.0);
        EXPECT_EQ(rs->getDouble(5), -7.25 - round);
    }
    s->closeResultSet(rs);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO nums (a) VALUES ('abc')"); }), 1722);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO nums (b) VALUES (123456)"); }), 1438);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO nums (b) VALUES (99999.5)"); }), 1438);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO nums (d) VALUES ('2021-13-01')"); }), 1861);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO nums (d) VALUES (TO_DATE('31.02.2021', 'DD.MM.YYYY'))"); }), 1847);
    admin->terminateStatement(s);
    admin->commit();
    env->terminateConnection(admin);

    Connection* c = env->createConnection("s1", "pw", dir);
    Statement* q = c->createStatement();
    // schemas are attached on demand, one statement after the other
    for (int i = 1; i <= schemas; ++i) {
        ResultSet* rs = q->executeQuery("SELECT id, label FROM s" + std::to_string(i) + ".t");
        ASSERT_TRUE(rs->next()) << i;
        EXPECT_EQ(rs->getInt(1), i);
        EXPECT_EQ(rs->getString(2), i == 2 ? "xyz" : "abc");
        q->closeResultSet(rs);
    }
    // but one statement cannot reach them all
    std::string all = "SELECT count(*) FROM s1.t a1";
    for (int i = 2; i <= schemas; ++i) all += ", s" + std::to_string(i) + ".t a" + std::to_string(i);
    EXPECT_EQ(errorOf([&] { q->executeQuery(all); }), 2020);
    c->terminateStatement(q);
    // a connection left open is closed with its environment
    Environment::terminateEnvironment(env);
    removeDir(dir);
}

TEST(ClientDates, FormatModels) {
    Date d(nullptr, 2023, 1, 7, 15, 4, 5);
    EXPECT_EQ(d.toText(), "07-JAN-23");
    EXPECT_EQ(d.toText("YYYYMMDD"), "20230107");
    EXPECT_EQ(d.toText("DD/MM/YYYY HH24:MI:SS"), "07/01/2023 15:04:05");
    EXPECT_EQ(d.toText("HH:MI AM"), "03:04 PM");
    EXPECT_EQ(d.toText("HH12 am"), "03 pm");
    EXPECT_EQ(d.toText("Mon Dy mon dy MON DY"), "Jan Sat jan sat JAN SAT");
    EXPECT_EQ(d.toText("Month|Day"), "January  |Saturday ");
    EXPECT_EQ(d.toText("FMMonth DD"), "January 7");
    EXPECT_EQ(d.toText("YY-MM-DD \"at\" HH24"), "23-01-07 at 15");
    EXPECT_EQ(d.toText("MONTH"), "JANUARY  ");
    EXPECT_EQ(Date(nullptr, 2024, 12, 31, 0, 0, 0).toText("HH12:MI AM"), "12:00 AM");
    EXPECT_EQ(Date().toText("YYYY"), "");
    EXPECT_EQ(errorOf([&] { d.toText("YYYY-QQQ-BAD"); }), 1821);
    EXPECT_EQ(errorOf([&] { d.toText("SS.FF"); }), 1821);

    Timestamp t(nullptr, 2021, 3, 5, 14, 30, 15, 123456789);
    EXPECT_EQ(t.toText("YYYY-MM-DD HH24:MI:SS.FF", 2), "2021-03-05 14:30:15.12");
    EXPECT_EQ(t.toText("HH24:MI:SS.FF", 9), "14:30:15.123456789");
    EXPECT_EQ(t.toText("SS.FF3|FF1|FF6", 0), "15.123|1|123456");
    EXPECT_EQ(t.toText("YYYYMMDD", 0), "20210305");
    EXPECT_EQ(t.toText("", 6), "05-MAR-21 02.30.15.123456 PM");
    EXPECT_TRUE(Timestamp().isNull());
    EXPECT_EQ(Timestamp().toText("YYYY", 0), "");
}

}  // namespace

TEST_F(ClientTest, QuotedSchemaAndTableNamesAreExactNames) {
    // A quoted owner names the schema, as in Oracle; element information
    // is reached through a quoted column too.
    EXPECT_EQ(scalar("select road_id from \"OTHER\".\"ROADS\""), "7");
    EXPECT_EQ(scalar("select count(*) from \"OTHER\".\"ROADS\" x, table(x.\"GEOM\".SDO_ELEM_INFO) t "
                     "where t.column_value = 2"),
              "1");
    // One quoted name with a dot in it is one (missing) table.
    for (const char* wrong : {"select * from \"OTHER.ROADS\"", "select * from \"OTHER\".\"ROADS x\""}) {
        try {
            count(wrong);
            ADD_FAILURE() << wrong;
        } catch (const SQLException& e) {
            EXPECT_EQ(e.getErrorCode(), 942) << wrong << ": " << e.getMessage();
        }
    }
}
