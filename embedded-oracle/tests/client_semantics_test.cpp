// Oracle's expression semantics in the embedded client: division, the empty
// text as NULL, concatenation with NULL. Each expectation is what Oracle
// answers for the same query.
#include <gtest/gtest.h>
#include <occi.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "embedded_admin.h"
#include "client_test_util.h"

using namespace oracle::occi;

namespace {

class ClientSemantics : public ClientUserSession<ClientSemantics> {
protected:
    static void SetUpTestSuite() {
        makeDatabase("tarvex-semantics",
                     {"CREATE USER u IDENTIFIED BY pw", "ALTER SESSION SET CURRENT_SCHEMA = u",
                      "CREATE TABLE t (id NUMBER(3), name VARCHAR2(10), c CHAR(4))",
                      "INSERT INTO t VALUES (1, 'one', 'ab')", "INSERT INTO t VALUES (2, '', NULL)",
                      "INSERT INTO t VALUES (3, NULL, 'cd')"});
    }
};

TEST_F(ClientSemantics, DivisionIsNeverIntegerDivision) {
    EXPECT_EQ(value("SELECT 7/2 half FROM dual"), "3.5");
    // Oracle's NUMBER shows 40 digits; a double shows the digits that read
    // back as the same double
    EXPECT_EQ(value("SELECT id/3 FROM t WHERE id = 1"), ".3333333333333333");
    EXPECT_EQ(value("SELECT 6/3 FROM dual"), "2");
    EXPECT_EQ(value("SELECT 1 + 7/2*2 FROM dual"), "8");
    EXPECT_EQ(value("SELECT 12/2/4 FROM dual"), "1.5");
    EXPECT_EQ(value("SELECT -7/2 FROM dual"), "-3.5");
    EXPECT_EQ(value("SELECT count(*) FROM t WHERE id/2 = 0.5"), "1");
}

TEST_F(ClientSemantics, EmptyTextIsNull) {
    EXPECT_EQ(value("SELECT count(*) FROM t WHERE name IS NULL"), "2");  // '' was stored as NULL
    EXPECT_EQ(value("SELECT count(*) FROM t WHERE name = ''"), "0");     // = NULL is never true
    EXPECT_EQ(value("SELECT '' FROM dual"), "<null>");
    EXPECT_EQ(value("SELECT CASE WHEN '' IS NULL THEN 'yes' ELSE 'no' END FROM dual"), "yes");
    EXPECT_EQ(value("SELECT NVL('', 'x') FROM dual"), "x");
    EXPECT_EQ(value("SELECT NVL(name, '-') FROM t WHERE id = 2"), "-");
    // a bound empty text is NULL as well
    Statement* s = conn->createStatement("SELECT count(*) FROM t WHERE :1 IS NULL");
    s->setString(1, "");
    ResultSet* rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getInt(1), 3);
    s->closeResultSet(rs);
    conn->terminateStatement(s);
}

TEST_F(ClientSemantics, ConcatenationKeepsTheOtherSideOfNull) {
    EXPECT_EQ(value("SELECT 'a' || NULL FROM dual"), "a");
    EXPECT_EQ(value("SELECT NULL || 'b' || NULL FROM dual"), "b");
    EXPECT_EQ(value("SELECT NULL || NULL FROM dual"), "<null>");
    EXPECT_EQ(value("SELECT '' || '' FROM dual"), "<null>");
    EXPECT_EQ(value("SELECT 'x' || name || 'y' FROM t WHERE id = 2"), "xy");
    EXPECT_EQ(value("SELECT t.name || '-' || t.id FROM t WHERE id = 1"), "one-1");
    EXPECT_EQ(value("SELECT 'n=' || 0.5 || '/' || -2 FROM dual"), "n=.5/-2");
    EXPECT_EQ(value("SELECT upper('a' || name) || (CASE WHEN id > 0 THEN '+' END) FROM t WHERE id = 3"), "A+");
    EXPECT_EQ(value("SELECT 'f(' || NVL(name, 'x' || NULL) || ')' FROM t WHERE id = 3"), "f(x)");
    EXPECT_EQ(value("SELECT DATE '2020-01-02' || '' FROM dual").substr(0, 10), "2020-01-02");
    // the rewrite leaves || inside literals alone
    EXPECT_EQ(value("SELECT 'a||b' FROM dual"), "a||b");
    // chains of any length (a SQLite function takes at most 127 arguments),
    // NULLs and numbers among the operands
    for (int operands : {100, 101, 128, 10001}) {
        std::string sql = "SELECT 'x'", expected = "x";
        for (int k = 1; k < operands; ++k) {
            sql += k % 3 == 0 ? " || NULL" : k % 3 == 1 ? " || " + std::to_string(k) : " || name";
            if (k % 3 == 1) expected += std::to_string(k) + "one";
        }
        if (operands % 3 == 2) expected.resize(expected.size() - 3);  // the last name is not in the chain
        EXPECT_EQ(value(sql + " FROM t WHERE id = 1"), expected) << operands;
    }
}

// Oracle's alternative quoting, with each kind of delimiter, as a literal.
TEST_F(ClientSemantics, QQuotedLiteralsAreText) {
    EXPECT_EQ(value("SELECT q'[it's]' FROM dual"), "it's");
    EXPECT_EQ(value("SELECT Q'{a'}' || q'<b'>' || q'(c')' || q'!d'!' FROM dual"), "a'b'c'd'");
    EXPECT_EQ(value("SELECT nq'#n'#' FROM dual"), "n'");
    EXPECT_EQ(value("SELECT q'\xc2\xa7it's\xc2\xa7' FROM dual"), "it's");
    EXPECT_EQ(value("SELECT length(q'[]]') FROM dual"), "1");
}

TEST_F(ClientSemantics, NumbersRoundAndOverflowAsStated) {
    EXPECT_EQ(value("SELECT round(2.5) FROM dual"), "3");  // half away from zero
    EXPECT_EQ(value("SELECT round(-2.5) FROM dual"), "-3");
    EXPECT_EQ(value("SELECT round(1.005, 2) FROM dual"), "1.01");
    EXPECT_EQ(value("SELECT -7 % 3 FROM dual"), "-1");  // the sign of the dividend, as MOD
    EXPECT_EQ(value("SELECT mod(-7, 3) FROM dual"), "-1");
    EXPECT_EQ(value("SELECT 1/0 FROM dual"), "<null>");  // Oracle: ORA-01476 (a stated limit)
    EXPECT_EQ(value("SELECT 9223372036854775807 + 1 FROM dual"), "9223372036854775808");
}

// Oracle stores a NUMBER(p,s) value rounded to the scale, whatever wrote
// it: VALUES, INSERT ... SELECT, UPDATE; a write whose rounded value breaks a
// constraint fails whole, as the statement it is.
TEST_F(ClientSemantics, EveryWriteStoresNumbersRoundedToTheirScale) {
    Connection* admin = embedded::connectAsAdministrator(env, dir_);
    Statement* s = admin->createStatement();
    s->executeUpdate("ALTER SESSION SET CURRENT_SCHEMA = u");
    s->executeUpdate("CREATE TABLE w (k NUMBER(5,2) UNIQUE, n NUMBER(6,-2), i INTEGER, big NUMBER(20), f NUMBER)");
    EXPECT_EQ(s->executeUpdate("INSERT INTO w VALUES (1.005, 12351, 2.5, 123456789012345678, 1.005)"), 1u);
    EXPECT_EQ(s->executeUpdate("INSERT INTO u.w (k, n, i) SELECT 7.125, -51, -2.5 FROM dual"), 1u);
    std::string message;
    EXPECT_EQ(errorOf([&] { s->executeUpdate("INSERT INTO w (k) VALUES (1.006)"); }, &message), 1) << message;
    EXPECT_EQ(s->executeUpdate("UPDATE w SET f = 2.25 WHERE k = 7.13"), 1u);
    EXPECT_EQ(s->executeUpdate("UPDATE w SET i = i + 0.5 WHERE k = 7.13"), 1u);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("UPDATE w SET k = 1.0149 WHERE k = 7.13"); }), 1);
    admin->terminateStatement(s);
    admin->commit();
    env->terminateConnection(admin);
    EXPECT_EQ(value("SELECT count(*) FROM w"), "2");
    EXPECT_EQ(value("SELECT k || ' ' || n || ' ' || i || ' ' || big || ' ' || f FROM w WHERE k < 2"),
              "1.01 12400 3 123456789012345678 1.005");
    EXPECT_EQ(value("SELECT k || ' ' || n || ' ' || i || ' ' || f FROM w WHERE k > 2"), "7.13 -100 -3 2.25");
}

// Oracle's 1,000 columns a table: each INSERT and UPDATE of such a table,
// with every NUMBER(p,s) value rounded; a 1,001st column is ORA-01792.
TEST_F(ClientSemantics, TablesOfAThousandColumns) {
    Connection* admin = embedded::connectAsAdministrator(env, dir_);
    Statement* s = admin->createStatement();
    s->executeUpdate("ALTER SESSION SET CURRENT_SCHEMA = u");
    std::string columns, values;
    for (int k = 0; k < 1000; ++k) {
        columns += (k ? ", c" : "c") + std::to_string(k) + " NUMBER(6,1)";
        values += (k ? ", " : "") + std::to_string(k) + ".25";
    }
    s->executeUpdate("CREATE TABLE wide (" + columns + ")");
    EXPECT_EQ(s->executeUpdate("INSERT INTO wide VALUES (" + values + ")"), 1u);
    EXPECT_EQ(s->executeUpdate("UPDATE wide SET c999 = 0.25, c0 = 1.25"), 1u);
    EXPECT_EQ(errorOf([&] { s->executeUpdate("CREATE TABLE wider (" + columns + ", c1000 NUMBER)"); }), 1792);
    admin->terminateStatement(s);
    admin->commit();
    env->terminateConnection(admin);
    EXPECT_EQ(value("SELECT c0 || ' ' || c1 || ' ' || c998 || ' ' || c999 FROM wide"), "1.3 1.3 998.3 .3");
}

}  // namespace
