// Who reads what: a user reads its own schema, the tables granted to it (or
// to PUBLIC), and everything with SELECT ANY TABLE; anything else is
// ORA-00942, as Oracle answers for a table one may not see, and the ALL_
// view lists only what the user may read.
#include <gtest/gtest.h>
#include <occi.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <string>

#include "embedded_admin.h"
#include "client_test_util.h"

using namespace oracle::occi;

namespace {

class Privileges : public ::testing::Test {
protected:
    void SetUp() override {
        makeTempDatabase("tarvex-privileges", dir);
        ASSERT_FALSE(dir.empty());
        env = Environment::createEnvironment();
        admin("CREATE USER owner IDENTIFIED BY pw; CREATE USER reader IDENTIFIED BY pw; "
              "CREATE USER boss IDENTIFIED BY pw; ALTER SESSION SET CURRENT_SCHEMA = owner; "
              "CREATE TABLE open_t (id NUMBER(3), geom SDO_GEOMETRY); INSERT INTO open_t VALUES (1, NULL); "
              "CREATE TABLE closed_t (id NUMBER(3), geom SDO_GEOMETRY); INSERT INTO closed_t VALUES (2, NULL); "
              "CREATE VIEW closed_v AS SELECT id FROM closed_t; "
              "INSERT INTO USER_SDO_GEOM_METADATA VALUES ('OPEN_T', 'GEOM', NULL, NULL); "
              "INSERT INTO USER_SDO_GEOM_METADATA VALUES ('CLOSED_T', 'GEOM', NULL, NULL); "
              "GRANT SELECT ON owner.open_t TO reader; GRANT SELECT ANY TABLE TO boss");
    }
    void TearDown() override {
        Environment::terminateEnvironment(env);
        removeTempDatabase(dir);
    }
    // Runs ;-separated statements as the administrator, in one transaction.
    void admin(const std::string& script) {
        Connection* c = embedded::connectAsAdministrator(env, dir);
        Statement* s = c->createStatement();
        size_t from = 0;
        while (from < script.size()) {
            size_t end = script.find(';', from);
            if (end == std::string::npos) end = script.size();
            s->executeUpdate(script.substr(from, end - from));
            from = end + 1;
        }
        c->terminateStatement(s);
        c->commit();
        env->terminateConnection(c);
    }
    // The number of rows a user reads, or the ORA number of the failure
    // (negative).
    int rows(const std::string& user, const std::string& sql) {
        Connection* c = env->createConnection(user, "pw", dir);
        Statement* s = c->createStatement(sql);
        int n = 0;
        int code = errorOf([&] {
            ResultSet* rs = s->executeQuery();
            while (rs->next()) ++n;
            s->closeResultSet(rs);
        });
        c->terminateStatement(s);
        env->terminateConnection(c);
        return code ? -code : n;
    }
    std::set<std::string> listed(const std::string& user) {
        Connection* c = env->createConnection(user, "pw", dir);
        Statement* s = c->createStatement("SELECT owner, table_name FROM ALL_SDO_GEOM_METADATA");
        ResultSet* rs = s->executeQuery();
        std::set<std::string> names;
        while (rs->next()) names.insert(rs->getString(1) + "." + rs->getString(2));
        s->closeResultSet(rs);
        c->terminateStatement(s);
        env->terminateConnection(c);
        return names;
    }

    std::string dir;
    Environment* env = nullptr;
};

TEST_F(Privileges, GrantedTablesOnly) {
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.open_t"), 1);
    EXPECT_EQ(rows("reader", "SELECT count(*) FROM owner.closed_t"), -942);
    EXPECT_EQ(rows("reader", "SELECT o.id FROM owner.open_t o JOIN owner.closed_t c ON o.id = c.id"), -942);
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.closed_v"), -942);
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.sqlite_master"), -942);
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.\"TVX$GEOM_METADATA\""), -942);
    EXPECT_EQ(listed("reader"), (std::set<std::string>{"OWNER.OPEN_T"}));
    // the owner reads its own, MDSYS's catalogue is public
    EXPECT_EQ(rows("owner", "SELECT * FROM closed_t"), 1);
    EXPECT_EQ(rows("reader", "SELECT count(*) FROM mdsys.cs_srs"), 1);
    EXPECT_EQ(listed("owner"), (std::set<std::string>{"OWNER.OPEN_T", "OWNER.CLOSED_T"}));
}

TEST_F(Privileges, SelectAnyTableReadsEverything) {
    EXPECT_EQ(rows("boss", "SELECT * FROM owner.closed_t"), 1);
    EXPECT_EQ(listed("boss"), (std::set<std::string>{"OWNER.OPEN_T", "OWNER.CLOSED_T"}));
    admin("REVOKE SELECT ANY TABLE FROM boss");
    EXPECT_EQ(rows("boss", "SELECT * FROM owner.closed_t"), -942);
    EXPECT_TRUE(listed("boss").empty());
}

TEST_F(Privileges, RevokeAndPublicAndViews) {
    admin("REVOKE SELECT ON owner.open_t FROM reader");
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.open_t"), -942);
    admin("GRANT SELECT ON owner.closed_v TO PUBLIC");
    // a grant on a view reads the view, not its table
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.closed_v"), 1);
    EXPECT_EQ(rows("boss", "SELECT * FROM owner.closed_v"), 1);
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.closed_t"), -942);
}

TEST_F(Privileges, GrantsAreChecked) {
    EXPECT_EQ(errorOf([&] { admin("GRANT SELECT ON owner.nosuch TO reader"); }), 942);
    EXPECT_EQ(errorOf([&] { admin("GRANT SELECT ON owner.open_t TO nobody"); }), 1917);
    EXPECT_EQ(errorOf([&] { admin("GRANT SELECT ON nobody.open_t TO reader"); }), 1918);
    EXPECT_EQ(errorOf([&] { admin("GRANT SELECT ON owner.open_t reader"); }), 994);
    // other privileges are accepted and change nothing
    EXPECT_EQ(errorOf([&] { admin("GRANT CREATE SESSION TO reader"); }), 0);
    // and a user session grants nothing
    Connection* c = env->createConnection("owner", "pw", dir);
    Statement* s = c->createStatement();
    EXPECT_EQ(errorOf([&] { s->executeUpdate("GRANT SELECT ON closed_t TO reader"); }), 1031);
    c->terminateStatement(s);
    env->terminateConnection(c);
}

// A read of another schema's table is judged by the table read, whatever
// wraps it: a WITH clause or a subquery named like a granted table, an
// alias, the user's own view. Through a granted view, the view's owner
// reads: its tables, the views it reads and its WITH clauses need no grant.
TEST_F(Privileges, ReadsAreJudgedByTheTableWhateverWrapsThem) {
    admin("ALTER SESSION SET CURRENT_SCHEMA = owner; "
          "CREATE VIEW count_v AS SELECT 1 x FROM closed_t; "
          "CREATE VIEW outer_v AS SELECT id FROM closed_v; "
          "CREATE VIEW with_v AS WITH w AS (SELECT id FROM closed_t) SELECT id FROM w; "
          "GRANT SELECT ON owner.outer_v TO reader; GRANT SELECT ON owner.with_v TO reader; "
          "ALTER SESSION SET CURRENT_SCHEMA = reader; "
          "CREATE VIEW own_v AS SELECT * FROM closed_t");
    struct Case {
        const char* sql;
        int expected;  // rows, or -ORA number
    };
    const Case cases[] = {
        // the report's case: a WITH clause named like the granted table
        {"WITH open_t AS (SELECT * FROM owner.closed_t) SELECT * FROM open_t", -942},
        {"with \"OPEN_T\" as (select * from owner.closed_t) select * from open_t", -942},
        {"WITH x AS (SELECT * FROM owner.closed_t) SELECT count(*) FROM x", -942},
        {"WITH a AS (SELECT 1 FROM dual), open_t AS (SELECT * FROM owner.closed_t) SELECT * FROM open_t", -942},
        {"SELECT * FROM (SELECT * FROM owner.closed_t) open_t", -942},
        {"SELECT count(*) FROM (SELECT 1 FROM owner.closed_t) open_t", -942},
        {"SELECT * FROM owner.closed_t open_t", -942},
        {"SELECT * FROM owner.open_t WHERE id IN (SELECT id FROM owner.closed_t)", -942},
        // a WITH clause named like a granted view, beside that view
        {"WITH outer_v AS (SELECT * FROM owner.closed_t) SELECT * FROM outer_v, owner.outer_v", -942},
        // views not granted, whatever is read of them
        {"SELECT count(*) FROM owner.count_v", -942},
        {"SELECT 1 FROM owner.closed_v", -942},
        // the user's own view reads nothing of another schema
        {"SELECT * FROM own_v", -942},
        // SQLite's own name quotes and variables are not Oracle's SQL
        {"SELECT * FROM [OWNER].closed_t", -911},
        {"SELECT $x(') FROM dual", -911},
        // granted: directly, inside WITH clauses and subqueries, through views
        {"WITH closed_t AS (SELECT * FROM owner.open_t) SELECT * FROM closed_t", 1},
        {"SELECT count(*) FROM (SELECT * FROM owner.open_t) closed_t", 1},
        {"SELECT * FROM owner.outer_v", 1},
        {"SELECT count(*) FROM owner.outer_v", 1},
        {"WITH v AS (SELECT * FROM owner.outer_v) SELECT count(*) FROM v", 1},
        {"SELECT * FROM owner.with_v", 1},
        {"SELECT count(*) FROM owner.with_v", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(rows("reader", c.sql), c.expected) << c.sql;
    // once the owner's schema is attached, a name without an owner does not
    // reach its tables or views beyond the grants either
    Connection* c = env->createConnection("reader", "pw", dir);
    Statement* s = c->createStatement();
    s->closeResultSet(s->executeQuery("SELECT * FROM owner.open_t"));
    for (const char* sql : {"SELECT count(*) FROM closed_t", "SELECT * FROM closed_t", "SELECT count(*) FROM count_v",
                            "WITH outer_v AS (SELECT 1 FROM closed_t) SELECT count(*) FROM outer_v, owner.outer_v"})
        EXPECT_EQ(errorOf([&] { s->closeResultSet(s->executeQuery(sql)); }), 942) << sql;
    c->terminateStatement(s);
    env->terminateConnection(c);
}

// Oracle keeps a quoted identifier's letters as written and matches it
// exactly: "open_t" and "owner" name no table or user when the stored names
// are OPEN_T and OWNER (ORA-00942 in a query, ORA-01918 for a user in DDL),
// while an unquoted name stands for its upper case. SQLite's own names
// ignore case, so the client checks quoted owner and table names itself.
TEST_F(Privileges, QuotedNamesMatchTheirExactCase) {
    admin("ALTER SESSION SET CURRENT_SCHEMA = owner; CREATE TABLE \"Mixed\" (id NUMBER(3)); "
          "INSERT INTO \"Mixed\" VALUES (3); GRANT SELECT ON owner.\"Mixed\" TO reader");
    EXPECT_EQ(rows("owner", "SELECT * FROM \"OPEN_T\""), 1);
    EXPECT_EQ(rows("owner", "SELECT * FROM \"open_t\""), -942);
    EXPECT_EQ(rows("owner", "SELECT * FROM \"Mixed\""), 1);
    EXPECT_EQ(rows("owner", "SELECT * FROM \"MIXED\""), -942);
    EXPECT_EQ(rows("owner", "SELECT * FROM open_t a JOIN \"closed_t\" b ON a.id = b.id"), -942);
    EXPECT_EQ(rows("owner", "SELECT * FROM open_t a, \"Closed_T\" b"), -942);
    EXPECT_EQ(rows("reader", "SELECT * FROM \"OWNER\".\"OPEN_T\""), 1);
    EXPECT_EQ(rows("reader", "SELECT * FROM \"OWNER\".open_t"), 1);
    EXPECT_EQ(rows("reader", "SELECT * FROM \"OWNER\".\"Mixed\""), 1);
    EXPECT_EQ(rows("reader", "SELECT * FROM \"owner\".\"OPEN_T\""), -942);
    EXPECT_EQ(rows("reader", "SELECT * FROM owner.\"open_t\""), -942);
    EXPECT_EQ(rows("boss", "SELECT * FROM \"Owner\".closed_t"), -942);
    // quoted column and table alias names are not table names
    EXPECT_EQ(rows("reader", "SELECT \"o\".\"ID\" FROM owner.open_t \"o\""), 1);
    EXPECT_EQ(errorOf([&] { admin("DROP TABLE owner.\"closed_t\""); }), 942);
    EXPECT_EQ(errorOf([&] { admin("CREATE TABLE \"owner\".t2 (id NUMBER)"); }), 1918);
    EXPECT_EQ(rows("owner", "SELECT * FROM closed_t"), 1);
}

}  // namespace
