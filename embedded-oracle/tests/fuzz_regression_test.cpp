// Regressions found by fuzzing the embedded client with arbitrary query
// texts on a user's session.
#include <gtest/gtest.h>
#include <occi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "embedded_admin.h"

using namespace oracle::occi;

namespace {

class ClientFuzzRegressionTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvex_fuzzreg_XXXXXX";
        const char* dir = mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        root_ = dir;
        db_ = root_ + "/db";
        std::string error;
        ASSERT_TRUE(embedded::createDatabase(db_, error)) << error;
        env_ = Environment::createEnvironment(Environment::OBJECT);
        Connection* admin = embedded::connectAsAdministrator(env_, db_);
        Statement* stmt = admin->createStatement();
        stmt->executeUpdate("CREATE USER demo IDENTIFIED BY pw");
        stmt->executeUpdate("ALTER SESSION SET CURRENT_SCHEMA = demo");
        stmt->executeUpdate("CREATE TABLE t (id NUMBER(5), name VARCHAR2(20))");
        stmt->executeUpdate("INSERT INTO t VALUES (1, 'one')");
        admin->terminateStatement(stmt);
        env_->terminateConnection(admin);
        conn_ = env_->createConnection("demo", "pw", db_);
    }
    void TearDown() override {
        if (conn_ != nullptr) env_->terminateConnection(conn_);
        Environment::terminateEnvironment(env_);
        std::string cmd = "rm -rf '" + root_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }

    // Runs p_sql as a query; returns the error text, or "" when it ran.
    std::string query(const std::string& p_sql) {
        Statement* stmt = conn_->createStatement(p_sql);
        std::string error;
        try {
            ResultSet* rs = stmt->executeQuery();
            while (rs->next()) {
            }
            stmt->closeResultSet(rs);
        } catch (const SQLException& e) {
            error = e.getMessage();
        }
        conn_->terminateStatement(stmt);
        return error;
    }

    static bool exists(const std::string& p_path) {
        struct stat st;
        return ::stat(p_path.c_str(), &st) == 0;
    }

    std::string root_, db_;
    Environment* env_ = nullptr;
    Connection* conn_ = nullptr;
};

// A session that only reads must not copy the schema (with its password
// hashes) to a file of the caller's choice, nor open other database files:
// such statements are refused like any other statement that is no query.
TEST_F(ClientFuzzRegressionTest, StatementsThatTouchFilesAreRefused) {
    std::string copy = root_ + "/copy.db";
    std::string error = query("VACUUM INTO '" + copy + "'");
    EXPECT_EQ(error.compare(0, 4, "ORA-"), 0) << error;
    EXPECT_FALSE(exists(copy));

    std::string other = embedded::schemaFile(db_, "MDSYS");
    error = query("ATTACH '" + other + "' AS x");
    EXPECT_EQ(error.compare(0, 4, "ORA-"), 0) << error;
    EXPECT_NE(query("SELECT * FROM x.sqlite_master"), "");

    // The ordinary query still works afterwards.
    EXPECT_EQ(query("SELECT * FROM t"), "");
}

}  // namespace
