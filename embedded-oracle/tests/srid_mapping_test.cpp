// SDO_CS.MAP_ORACLE_SRID_TO_EPSG in the embedded client: the common Oracle
// SRIDs map to their EPSG codes, anything else is NULL, in every spelling
// of the call.
#include <gtest/gtest.h>
#include <occi.h>

#include <cstdlib>
#include <string>

#include "embedded_admin.h"

using namespace oracle::occi;

namespace {

class SridMapping : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tarvex-srid-XXXXXX";
        const char* dir = mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        dir_ = dir;
        std::string error;
        ASSERT_TRUE(embedded::createDatabase(dir_ + "/db", error)) << error;
        Environment* env = Environment::createEnvironment();
        Connection* admin = embedded::connectAsAdministrator(env, dir_ + "/db");
        Statement* s = admin->createStatement();
        s->executeUpdate("CREATE USER mapper IDENTIFIED BY mapper");
        admin->terminateStatement(s);
        env->terminateConnection(admin);
        Environment::terminateEnvironment(env);
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    void SetUp() override {
        env = Environment::createEnvironment();
        conn = env->createConnection("mapper", "mapper", dir_ + "/db");
    }
    void TearDown() override {
        env->terminateConnection(conn);
        Environment::terminateEnvironment(env);
    }

    // The function's value for p_srid bound as a number, in the query form
    // p_sql (":1" the SRID); "NULL" for NULL.
    std::string mapped(const std::string& p_sql, const Number& p_srid) {
        Statement* s = conn->createStatement();
        s->setSQL(p_sql);
        s->setNumber(1, p_srid);
        ResultSet* rs = s->executeQuery();
        std::string value = "<no row>";
        if (rs->next()) value = rs->isNull(1) ? "NULL" : rs->getString(1);
        s->closeResultSet(rs);
        conn->terminateStatement(s);
        return value;
    }

    static std::string dir_;
    Environment* env = nullptr;
    Connection* conn = nullptr;
};

std::string SridMapping::dir_;

const char* const QUERY = "select sdo_cs.map_oracle_srid_to_epsg(:1) from dual";

}  // namespace

TEST_F(SridMapping, CommonOracleSridsGiveTheirEpsgCodes) {
    EXPECT_EQ(mapped(QUERY, Number(8307)), "4326");
    EXPECT_EQ(mapped(QUERY, Number(8265)), "4269");
    EXPECT_EQ(mapped(QUERY, Number(8260)), "4267");
    EXPECT_EQ(mapped(QUERY, Number(81989)), "27700");
    EXPECT_EQ(mapped(QUERY, Number(82361)), "23038");
    // The same through the owner's name and in capitals.
    EXPECT_EQ(mapped("SELECT MDSYS.SDO_CS.MAP_ORACLE_SRID_TO_EPSG(:1) FROM DUAL", Number(8307)), "4326");
    EXPECT_EQ(mapped("select 1 + Sdo_Cs . Map_Oracle_Srid_To_Epsg( :1 ) - 1 from dual", Number(81989)),
              "27700");
}

TEST_F(SridMapping, OtherNumbersAndNullGiveNull) {
    EXPECT_EQ(mapped(QUERY, Number(4326)), "NULL");  // already an EPSG code
    EXPECT_EQ(mapped(QUERY, Number(-1)), "NULL");
    EXPECT_EQ(mapped(QUERY, Number(8307.5)), "NULL");
    Number null;
    null.setNull();
    EXPECT_EQ(mapped(QUERY, null), "NULL");
    // A text that is no number is Oracle's invalid number.
    Statement* s = conn->createStatement("select sdo_cs.map_oracle_srid_to_epsg('x') from dual");
    int code = 0;
    try {
        ResultSet* rs = s->executeQuery();
        rs->next();
        s->closeResultSet(rs);
    } catch (const SQLException& e) {
        code = e.getErrorCode();
    }
    conn->terminateStatement(s);
    EXPECT_EQ(code, 1722);
}
