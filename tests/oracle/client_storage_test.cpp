// How the embedded client guards stored data: a damaged schema file is
// reported as such, never as a wrong password, and text lengths are checked
// as Oracle checks them.
#include <gtest/gtest.h>
#include <occi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "oracle/embedded/admin.h"

using namespace oracle::occi;
namespace fs = std::filesystem;

namespace {

class DamagedDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        fs::path sample = fs::path(TARVEX_BINARY_DIR) / "sample-db";
        if (!fs::exists(sample / "DEMO.db")) GTEST_SKIP() << "sample database not built";
        char pattern[] = "/tmp/tarvex_damage_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::copy(sample, dir_, fs::copy_options::recursive);
        env_ = Environment::createEnvironment(Environment::OBJECT);
    }
    void TearDown() override {
        if (env_ != nullptr) Environment::terminateEnvironment(env_);
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    // Overwrites p_length bytes of DEMO.db at p_offset.
    void damage(std::streamoff p_offset, std::streamsize p_length) {
        std::fstream file(dir_ + "/DEMO.db", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(p_offset);
        for (std::streamsize i = 0; i < p_length; ++i) file.put(static_cast<char>(i * 37 + 11));
    }

    int logonError(std::string* p_message) {
        try {
            env_->terminateConnection(env_->createConnection("demo", "demo", dir_));
        } catch (const SQLException& e) {
            *p_message = e.getMessage();
            return e.getErrorCode();
        }
        return 0;
    }

    std::string dir_;
    Environment* env_ = nullptr;
};

}  // namespace

TEST_F(DamagedDatabase, UnreadableSchemaFileIsNotAWrongPassword) {
    damage(0, 16);  // the file header
    std::string message;
    EXPECT_EQ(logonError(&message), 1578);
    EXPECT_EQ(message.compare(0, 10, "ORA-01578:"), 0) << message;

    fs::copy_file(fs::path(TARVEX_BINARY_DIR) / "sample-db" / "DEMO.db", dir_ + "/DEMO.db",
                  fs::copy_options::overwrite_existing);
    fs::resize_file(dir_ + "/DEMO.db", 3000);  // cut short
    EXPECT_EQ(logonError(&message), 1578) << message;
}

// Text limits: bytes by default, characters for CHAR semantics and the
// national types, as Oracle counts them.
TEST(TextLengthLimits, CountBytesUnlessDeclaredInCharacters) {
    char pattern[] = "/tmp/tarvex_textlen_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = std::string(pattern) + "/db";
    std::string error;
    ASSERT_TRUE(embedded::createDatabase(dir, error)) << error;
    Environment* env = Environment::createEnvironment();
    Connection* admin = embedded::connectAsAdministrator(env, dir);
    Statement* s = admin->createStatement();
    s->executeUpdate("CREATE USER t IDENTIFIED BY t");
    s->executeUpdate("ALTER SESSION SET CURRENT_SCHEMA = t");
    s->executeUpdate("CREATE TABLE names (b VARCHAR2(6), c VARCHAR2(6 CHAR), n NVARCHAR2(6), f CHAR(6))");
    auto insertError = [&](const std::string& column, const std::string& value) {
        try {
            s->executeUpdate("INSERT INTO names (" + column + ") VALUES ('" + value + "')");
        } catch (const SQLException& e) {
            return e.getErrorCode();
        }
        return 0;
    };
    EXPECT_EQ(insertError("b", "Zurich"), 0);
    EXPECT_EQ(insertError("b", "Zürich"), 12899);  // 7 bytes
    EXPECT_EQ(insertError("c", "Zürich"), 0);
    EXPECT_EQ(insertError("c", "Zürichs"), 12899);  // 7 characters
    EXPECT_EQ(insertError("n", "Zürich"), 0);
    EXPECT_EQ(insertError("f", "Zürich"), 12899);
    admin->terminateStatement(s);
    admin->rollback();
    env->terminateConnection(admin);
    Environment::terminateEnvironment(env);
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
}
