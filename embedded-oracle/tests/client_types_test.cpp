// Column descriptions and values of every type the embedded client offers,
// each stated as the real client reports it (OCI describe attributes in an
// AL32UTF8 database with an AL16UTF16 national character set).
#include <gtest/gtest.h>
#include <occi.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "embedded_admin.h"
#include "client_test_util.h"

using namespace oracle::occi;

namespace {

class ClientTypes : public ::testing::Test {
protected:
    void SetUp() override {
        makeTempDatabase("tarvex-types", dir);
        ASSERT_FALSE(dir.empty());
        env = Environment::createEnvironment();
        admin = embedded::connectAsAdministrator(env, dir);
        s = admin->createStatement();
        s->executeUpdate("CREATE USER u IDENTIFIED BY pw");
        s->executeUpdate("ALTER SESSION SET CURRENT_SCHEMA = u");
    }
    void TearDown() override {
        admin->terminateStatement(s);
        Environment::terminateEnvironment(env);
        removeTempDatabase(dir);
    }
    // The first row of a query, positioned.
    ResultSet* row(const std::string& sql) {
        ResultSet* rs = s->executeQuery(sql);
        EXPECT_EQ(rs->next(), ResultSet::DATA_AVAILABLE) << sql;
        return rs;
    }

    std::string dir;
    Environment* env = nullptr;
    Connection* admin = nullptr;
    Statement* s = nullptr;
};

struct Described {
    const char* declared;
    int type, size, precision, scale, charUsed, charSize, charsetForm;
};

// What OCI's describe gives for each declared type: ATTR_DATA_TYPE,
// ATTR_DATA_SIZE (bytes), ATTR_PRECISION, ATTR_SCALE, ATTR_CHAR_USED,
// ATTR_CHAR_SIZE, ATTR_CHARSET_FORM.
const Described DESCRIBED[] = {
    {"VARCHAR2(10)", 1, 10, 0, 0, 0, 10, 1},
    {"VARCHAR2(10 BYTE)", 1, 10, 0, 0, 0, 10, 1},
    {"VARCHAR2(10 CHAR)", 1, 40, 0, 0, 1, 10, 1},       // 4 bytes a character in AL32UTF8
    {"VARCHAR2(4000 CHAR)", 1, 4000, 0, 0, 1, 4000, 1},  // never more than VARCHAR2's 4000 bytes
    {"NVARCHAR2(7)", 1, 14, 0, 0, 1, 7, 2},             // 2 bytes a character in AL16UTF16
    {"CHAR(3)", 96, 3, 0, 0, 0, 3, 1},
    {"CHAR(3 CHAR)", 96, 12, 0, 0, 1, 3, 1},
    {"NCHAR(5)", 96, 10, 0, 0, 1, 5, 2},
    {"NUMBER", 2, 22, 0, -127, 0, 0, 0},
    {"NUMBER(9)", 2, 22, 9, 0, 0, 0, 0},
    {"NUMBER(38)", 2, 22, 38, 0, 0, 0, 0},
    {"NUMBER(7,3)", 2, 22, 7, 3, 0, 0, 0},
    {"NUMBER(5,-2)", 2, 22, 5, -2, 0, 0, 0},
    // INTEGER, INT, SMALLINT, DECIMAL and NUMERIC without precision are all
    // NUMBER(*,0), described as precision 38, scale 0
    {"INTEGER", 2, 22, 38, 0, 0, 0, 0},
    {"INT", 2, 22, 38, 0, 0, 0, 0},
    {"SMALLINT", 2, 22, 38, 0, 0, 0, 0},
    {"DECIMAL", 2, 22, 38, 0, 0, 0, 0},
    {"NUMERIC", 2, 22, 38, 0, 0, 0, 0},
    {"DECIMAL(8,2)", 2, 22, 8, 2, 0, 0, 0},
    {"FLOAT", 2, 22, 126, -127, 0, 0, 0},
    {"FLOAT(20)", 2, 22, 20, -127, 0, 0, 0},
    {"BINARY_FLOAT", 100, 4, 0, 0, 0, 0, 0},
    {"BINARY_DOUBLE", 101, 8, 0, 0, 0, 0, 0},
    {"DATE", 12, 7, 0, 0, 0, 0, 0},
    {"TIMESTAMP", 187, 11, 0, 6, 0, 0, 0},
    {"TIMESTAMP(3)", 187, 11, 0, 3, 0, 0, 0},
    {"TIMESTAMP(2) WITH TIME ZONE", 188, 13, 0, 2, 0, 0, 0},
    {"TIMESTAMP WITH LOCAL TIME ZONE", 232, 11, 0, 6, 0, 0, 0},
    {"RAW(16)", 23, 16, 0, 0, 0, 0, 0},
    {"CLOB", 112, 4000, 0, 0, 0, 0, 1},
    {"NCLOB", 112, 4000, 0, 0, 0, 0, 2},  // a CLOB in the national character set
    {"BLOB", 113, 4000, 0, 0, 0, 0, 0},
};

TEST_F(ClientTypes, EveryTypeIsDescribedAsTheRealClientDescribesIt) {
    std::string columns;
    int n = 0;
    for (const Described& d : DESCRIBED) {
        columns += std::string(n > 0 ? ", " : "") + "c" + std::to_string(n) + " " + d.declared;
        ++n;
    }
    s->executeUpdate("CREATE TABLE t (" + columns + ")");
    admin->commit();
    // the program's view: a user session
    Connection* c = env->createConnection("u", "pw", dir);
    Statement* q = c->createStatement("SELECT * FROM t");
    ResultSet* rs = q->executeQuery();
    std::vector<MetaData> md = rs->getColumnListMetaData();
    ASSERT_EQ(md.size(), sizeof DESCRIBED / sizeof DESCRIBED[0]);
    for (size_t i = 0; i < md.size(); ++i) {
        const Described& d = DESCRIBED[i];
        SCOPED_TRACE(d.declared);
        EXPECT_EQ(md[i].getInt(MetaData::ATTR_DATA_TYPE), d.type);
        EXPECT_EQ(md[i].getInt(MetaData::ATTR_DATA_SIZE), d.size);
        EXPECT_EQ(md[i].getInt(MetaData::ATTR_PRECISION), d.precision);
        EXPECT_EQ(md[i].getInt(MetaData::ATTR_SCALE), d.scale);
        EXPECT_EQ(md[i].getInt(MetaData::ATTR_CHAR_USED), d.charUsed);
        EXPECT_EQ(md[i].getInt(MetaData::ATTR_CHAR_SIZE), d.charSize);
        EXPECT_EQ(md[i].getInt(MetaData::ATTR_CHARSET_FORM), d.charsetForm);
    }
    // the real header's codes
    EXPECT_EQ(md[21].getInt(MetaData::ATTR_DATA_TYPE), OCCIIBFLOAT);
    EXPECT_EQ(md[22].getInt(MetaData::ATTR_DATA_TYPE), OCCIIBDOUBLE);
    EXPECT_EQ(md[27].getInt(MetaData::ATTR_DATA_TYPE), OCCI_SQLT_TIMESTAMP_LTZ);
    EXPECT_EQ(md[29].getInt(MetaData::ATTR_DATA_TYPE), OCCI_SQLT_CLOB);
    EXPECT_EQ(static_cast<int>(MetaData::ATTR_CHAR_USED), 285);
    EXPECT_EQ(static_cast<int>(MetaData::ATTR_CHAR_SIZE), 286);
    q->closeResultSet(rs);
    c->terminateStatement(q);
    env->terminateConnection(c);
}

TEST_F(ClientTypes, CharacterLimitsCountCharactersAndBytes) {
    s->executeUpdate("CREATE TABLE t (a VARCHAR2(3 CHAR), b CHAR(2 CHAR), n NCHAR(2))");
    s->executeUpdate("INSERT INTO t VALUES ('äöü', 'é', 'x')");
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO t (a) VALUES ('äöüx')"); }), 12899);
    ResultSet* rs = row("SELECT a, b, n FROM t");
    EXPECT_EQ(rs->getString(1), "äöü");
    EXPECT_EQ(rs->getString(2), "é ");  // CHAR pads to its length in characters
    EXPECT_EQ(rs->getString(3), "x ");
    s->closeResultSet(rs);
}

TEST_F(ClientTypes, NumbersAreExactIntegersOrDoubles) {
    s->executeUpdate("CREATE TABLE t (id NUMBER(3), n NUMBER, n38 NUMBER(38), n5 NUMBER(5,2))");
    // 2^62 + 1 and 18 nines need more than a double's 53 bits
    s->executeUpdate("INSERT INTO t VALUES (1, 4611686018427387905, 999999999999999999, 1)");
    // Oracle accepts 38 nines for NUMBER(38); stored as the nearest double
    s->executeUpdate("INSERT INTO t VALUES (2, -9223372036854775807, 99999999999999999999999999999999999999, -999.99)");
    ResultSet* rs = row("SELECT n, n38 FROM t WHERE id = 1");
    EXPECT_EQ(rs->getString(1), "4611686018427387905");
    EXPECT_EQ(static_cast<long>(rs->getNumber(1)), 4611686018427387905L);
    EXPECT_EQ(rs->getNumber(1).toText(env, "TM9"), "4611686018427387905");
    EXPECT_EQ(rs->getString(2), "999999999999999999");
    s->closeResultSet(rs);
    rs = row("SELECT n, n38 FROM t WHERE id = 2");
    EXPECT_EQ(static_cast<long>(rs->getNumber(1)), -9223372036854775807L);
    EXPECT_EQ(rs->getDouble(2), 1e38);
    s->closeResultSet(rs);
    // bound Numbers keep their integers too
    s->setSQL("INSERT INTO t (id, n) VALUES (3, :1)");
    s->setNumber(1, Number(4611686018427387903L));
    s->executeUpdate();
    rs = row("SELECT n FROM t WHERE id = 3");
    EXPECT_EQ(rs->getString(1), "4611686018427387903");
    s->closeResultSet(rs);
    // what NUMBER cannot hold: infinity, NaN, 1e126 and beyond (ORA-01426)
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO t (id, n) VALUES (4, 1e999)"); }), 1426);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO t (id, n) VALUES (4, -1e130)"); }), 1426);
    s->setSQL("INSERT INTO t (id, n) VALUES (4, :1)");
    s->setDouble(1, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(errorOf([&] { s->executeUpdate(); }), 1426);
    s->setDouble(1, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(errorOf([&] { s->executeUpdate(); }), 1426);
    // past the precision is still ORA-01438
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO t (id, n5) VALUES (5, 999.995)"); }), 1438);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO t (id) VALUES (1000)"); }), 1438);
    // arithmetic beyond 64 bits goes on in doubles
    rs = row("SELECT n * 4 FROM t WHERE id = 1");
    EXPECT_EQ(rs->getDouble(1), 4611686018427387905.0 * 4);
    s->closeResultSet(rs);
}

TEST(ClientNumber, ConversionsAndFormatModels) {
    Number big(4611686018427387905L);
    EXPECT_EQ(static_cast<long>(big), 4611686018427387905L);
    EXPECT_EQ(static_cast<int>(big), std::numeric_limits<int>::max());  // saturates
    EXPECT_EQ(static_cast<unsigned int>(Number(-5)), 0u);
    EXPECT_EQ(static_cast<int>(Number(-2.7)), -2);  // truncates
    EXPECT_EQ(static_cast<double>(Number(7)), 7.0);
    // an exact integer's double is the integer's nearest double
    for (long v : {std::numeric_limits<long>::max(), std::numeric_limits<long>::min(), (1L << 53) + 1, -7L})
        EXPECT_EQ(static_cast<double>(Number(v)), static_cast<double>(v)) << v;
    for (unsigned long v : {std::numeric_limits<unsigned long>::max(), (1UL << 63) - 1, (1UL << 63) + 1})
        EXPECT_EQ(static_cast<double>(Number(v)), static_cast<double>(v)) << v;
    EXPECT_TRUE(Number().isNull());
    // A NULL number converts to nothing, as in Oracle's client (OCI-32152):
    // a caller that forgets to look at isNull() fails here as it would there.
    const Number null;
    for (const std::function<void()>& convert : std::vector<std::function<void()>>{
             [&] { (void)static_cast<double>(null); }, [&] { (void)static_cast<long double>(null); },
             [&] { (void)static_cast<float>(null); }, [&] { (void)static_cast<long>(null); },
             [&] { (void)static_cast<int>(null); }, [&] { (void)static_cast<unsigned int>(null); }}) {
        EXPECT_EQ(errorOf(convert), 32152);
    }
    EXPECT_EQ(Number().toText(nullptr, "999"), "");
    // TO_CHAR's models
    EXPECT_EQ(Number(12).toText(nullptr, "999"), "  12");
    EXPECT_EQ(Number(-12).toText(nullptr, "999"), " -12");
    EXPECT_EQ(Number(1234.5).toText(nullptr, "9,999.99"), " 1,234.50");
    EXPECT_EQ(Number(1.5).toText(nullptr, "FM99.99"), "1.5");
    EXPECT_EQ(Number(7).toText(nullptr, "000"), " 007");
    EXPECT_EQ(Number(0.5).toText(nullptr, "0.9"), " 0.5");
    EXPECT_EQ(Number(-3).toText(nullptr, "FM999MI"), "3-");
    EXPECT_EQ(Number(3).toText(nullptr, "S99"), " +3");
    EXPECT_EQ(Number(12345).toText(nullptr, "9.99EEEE"), " 1.23E+04");
    EXPECT_EQ(Number(1000).toText(nullptr, "999"), "####");
    EXPECT_EQ(Number(0.25).toText(nullptr, ""), ".25");
    EXPECT_EQ(Number(-0.5).toText(nullptr, "TM"), "-.5");
    EXPECT_EQ(errorOf([] { Number(1).toText(nullptr, "99X"); }), 1481);
}

TEST_F(ClientTypes, BinaryFloatAndDoubleHoldInfinityAndNaN) {
    s->executeUpdate("CREATE TABLE t (id NUMBER(2), f BINARY_FLOAT, d BINARY_DOUBLE)");
    s->executeUpdate("INSERT INTO t VALUES (1, 0.1, 0.1)");
    s->executeUpdate("INSERT INTO t VALUES (2, 1e999, -1e999)");
    s->setSQL("INSERT INTO t VALUES (3, :1, :2)");
    s->setDouble(1, std::numeric_limits<double>::quiet_NaN());
    s->setDouble(2, std::numeric_limits<double>::quiet_NaN());
    s->executeUpdate();
    s->executeUpdate("INSERT INTO t VALUES (4, 100, 1.5)");
    s->executeUpdate("INSERT INTO t (id) VALUES (5)");
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO t (id, d) VALUES (6, 'x')"); }), 1722);
    ResultSet* rs = row("SELECT f, d FROM t WHERE id = 1");
    // a BINARY_FLOAT holds a float: 0.1f read as a double
    EXPECT_EQ(rs->getDouble(1), static_cast<double>(0.1f));
    EXPECT_EQ(rs->getBFloat(1).value, 0.1f);
    EXPECT_FALSE(rs->getBFloat(1).isNull);
    EXPECT_EQ(rs->getBDouble(2).value, 0.1);
    EXPECT_EQ(rs->getString(1), "1.0E-001");  // Oracle's text of binary numbers
    EXPECT_EQ(rs->getString(2), "1.0E-001");
    s->closeResultSet(rs);
    rs = row("SELECT f, d FROM t WHERE id = 2");
    EXPECT_TRUE(std::isinf(rs->getDouble(1)) && rs->getDouble(1) > 0);
    EXPECT_TRUE(std::isinf(rs->getBDouble(2).value) && rs->getBDouble(2).value < 0);
    EXPECT_EQ(rs->getString(1), "Inf");
    EXPECT_EQ(rs->getString(2), "-Inf");
    EXPECT_EQ(errorOf([&] { rs->getNumber(2); }), 1426);  // NUMBER holds no infinity
    s->closeResultSet(rs);
    rs = row("SELECT f, d FROM t WHERE id = 3");
    EXPECT_FALSE(rs->isNull(2));
    EXPECT_TRUE(std::isnan(rs->getDouble(2)));
    EXPECT_TRUE(std::isnan(rs->getBFloat(1).value));
    EXPECT_EQ(rs->getString(2), "Nan");
    s->closeResultSet(rs);
    rs = row("SELECT f, d FROM t WHERE id = 4");
    EXPECT_EQ(rs->getString(1), "1.0E+002");
    EXPECT_EQ(rs->getString(2), "1.5E+000");
    EXPECT_EQ(static_cast<double>(rs->getNumber(2)), 1.5);
    s->closeResultSet(rs);
    rs = row("SELECT f, d FROM t WHERE id = 5");
    EXPECT_TRUE(rs->getBFloat(1).isNull);
    EXPECT_TRUE(rs->getBDouble(2).isNull);
    s->closeResultSet(rs);
}

TEST_F(ClientTypes, ClobsReadAsTheRealClientReadsThem) {
    s->executeUpdate("CREATE TABLE t (id NUMBER(2), c CLOB, nc NCLOB, v VARCHAR2(5))");
    s->executeUpdate("INSERT INTO t VALUES (1, 'Grüße aus Zürich', N'ñandú', 'x')");
    s->executeUpdate("INSERT INTO t (id) VALUES (2)");
    ResultSet* rs = row("SELECT c, nc, v FROM t WHERE id = 1");
    Clob c = rs->getClob(1);
    EXPECT_FALSE(c.isNull());
    EXPECT_EQ(c.length(), 16u);  // characters
    EXPECT_EQ(c.getCharSetForm(), OCCI_SQLCS_IMPLICIT);
    unsigned char buf[64];
    unsigned int got = c.read(5, buf, sizeof buf, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "Grüße");
    got = c.read(100, buf, sizeof buf, 11);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "Zürich");
    got = c.read(100, buf, 3, 3);  // never part of a character
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "ü");
    EXPECT_EQ(errorOf([&] { c.read(1, buf, sizeof buf, 18); }), 24801);
    EXPECT_EQ(rs->getClob(2).getCharSetForm(), OCCI_SQLCS_NCHAR);
    EXPECT_EQ(rs->getClob(2).length(), 5u);
    // the text of a CLOB column also reads as a string
    EXPECT_EQ(rs->getString(1), "Grüße aus Zürich");
    EXPECT_EQ(errorOf([&] { rs->getClob(3); }), 932);
    s->closeResultSet(rs);
    rs = row("SELECT c FROM t WHERE id = 2");
    EXPECT_TRUE(rs->isNull(1));
    EXPECT_TRUE(rs->getClob(1).isNull());
    EXPECT_EQ(errorOf([&] { rs->getClob(1).length(); }), 22275);
    s->closeResultSet(rs);
}

TEST_F(ClientTypes, LocalTimeZoneTimestampsShowInTheSessionZone) {
    s->executeUpdate("CREATE TABLE t (id NUMBER(2), l TIMESTAMP(3) WITH LOCAL TIME ZONE)");
    s->executeUpdate("INSERT INTO t VALUES (1, TIMESTAMP '2021-03-05 14:30:15.125')");
    s->executeUpdate("INSERT INTO t VALUES (2, TO_TIMESTAMP_TZ('2021-01-01 01:30:00 +02:00', "
                     "'YYYY-MM-DD HH24:MI:SS TZH:TZM'))");
    ResultSet* rs = row("SELECT l FROM t WHERE id = 1");
    EXPECT_EQ(rs->getTimestamp(1).toText("YYYY-MM-DD HH24:MI:SS.FF", 3), "2021-03-05 14:30:15.125");
    EXPECT_EQ(rs->getString(1), "05-MAR-21 02.30.15.125 PM");
    s->closeResultSet(rs);
    // the session's time zone is UTC: a value given with an offset moves
    rs = row("SELECT l FROM t WHERE id = 2");
    EXPECT_EQ(rs->getTimestamp(1).toText("YYYY-MM-DD HH24:MI TZH:TZM", 0), "2020-12-31 23:30 +00:00");
    s->closeResultSet(rs);
}

}  // namespace

// Each row's values are its own: NULLs and types do not carry over from the
// previous row, and reading a value as text first leaves it a number.
TEST_F(ClientTypes, NullsAndNumbersAreThoseOfTheCurrentRow) {
    s->executeUpdate("CREATE TABLE t (k NUMBER(2), n NUMBER(12), v VARCHAR2(5))");
    s->executeUpdate("INSERT INTO t VALUES (1, 123456789012, 'a')");
    s->executeUpdate("INSERT INTO t VALUES (2, NULL, NULL)");
    s->executeUpdate("INSERT INTO t VALUES (3, -7, 'c')");
    ResultSet* rs = s->executeQuery("SELECT n, v FROM t ORDER BY k");
    ASSERT_EQ(rs->next(), ResultSet::DATA_AVAILABLE);
    EXPECT_EQ(rs->getString(1), "123456789012");
    EXPECT_FALSE(rs->isNull(1));
    EXPECT_EQ(static_cast<long>(rs->getNumber(1)), 123456789012L);
    EXPECT_EQ(rs->getNumber(1).toText(env, "TM9"), "123456789012");
    ASSERT_EQ(rs->next(), ResultSet::DATA_AVAILABLE);
    EXPECT_TRUE(rs->isNull(1));
    EXPECT_TRUE(rs->isNull(2));
    EXPECT_TRUE(rs->getNumber(1).isNull());
    ASSERT_EQ(rs->next(), ResultSet::DATA_AVAILABLE);
    EXPECT_FALSE(rs->isNull(1));
    EXPECT_EQ(rs->getString(2), "c");
    EXPECT_EQ(static_cast<long>(rs->getNumber(1)), -7L);
    EXPECT_EQ(rs->next(), ResultSet::END_OF_FETCH);
    s->closeResultSet(rs);
}
