// How the embedded client guards stored data: a damaged schema file is
// reported as such, never as a wrong password, and text lengths are checked
// as Oracle checks them.
#include <gtest/gtest.h>
#include <occi.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "client_test_util.h"
#include "embedded_admin.h"

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

// Only regular files (or links to them) are schema files: anything else at
// a schema file's name, or at its journal's, is ORA-01157 when named and
// is skipped in listings, which never block on it (a FIFO would block an
// open for ever).
TEST_F(DamagedDatabase, OddFilesAreNotSchemaFiles) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
    };
    const Case cases[] = {
        {"FIFO", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        {"directory", [](const std::string& p) { fs::create_directory(p); }},
        {"link to a device", [](const std::string& p) { fs::create_symlink("/dev/null", p); }},
        {"link to nothing", [](const std::string& p) { fs::create_symlink("nowhere", p); }},
    };
    auto listed = [this](std::string* p_message) {
        int n = 0;
        int code = errorOf(
            [&] {
                Connection* c = env_->createConnection("demo", "demo", dir_);
                Statement* s = c->createStatement("SELECT count(*) FROM all_sdo_geom_metadata");
                ResultSet* rs = s->executeQuery();
                if (rs->next()) n = rs->getInt(1);
                s->closeResultSet(rs);
                c->terminateStatement(s);
                env_->terminateConnection(c);
            },
            p_message);
        return code ? -code : n;
    };
    std::string message;
    const int before = listed(&message);
    ASSERT_GT(before, 0) << message;
    for (const std::string& file : {std::string("ODD.db"), std::string("GISOWNER.db-journal")}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(file + ": " + c.what);
            std::string path = dir_ + "/" + file;
            c.make(path);
            if (file == "ODD.db") {
                EXPECT_EQ(errorOf([&] { env_->terminateConnection(env_->createConnection("odd", "odd", dir_)); },
                                  &message),
                          1157);
                EXPECT_NE(message.find(c.what), std::string::npos) << message;
                Connection* demo = env_->createConnection("demo", "demo", dir_);
                Statement* s = demo->createStatement();
                EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM odd.t"); }), 1157);
                demo->terminateStatement(s);
                env_->terminateConnection(demo);
                EXPECT_EQ(listed(&message), before) << message;
            } else {
                // GISOWNER's rows are left out, never waited for
                EXPECT_LT(listed(&message), before) << message;
                EXPECT_GE(listed(&message), 0) << message;
            }
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    }
}

// The database directory is a path, never a URI: "file:" at its start, "?"
// and "#" in it are parts of its name.
TEST(DatabaseDirectory, IsAPathNeverAUri) {
    char pattern[] = "/tmp/tarvex_uri_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path previous = fs::current_path();
    fs::current_path(pattern);
    Environment* env = Environment::createEnvironment();
    for (std::string dir : {"file:db", "db?mode=ro", "db#x", "file:db?vfs=unix-none&mode=memory"}) {
        SCOPED_TRACE(dir);
        std::string error;
        ASSERT_TRUE(embedded::createDatabase(dir, error)) << error;
        int code = errorOf([&] {
            Connection* admin = embedded::connectAsAdministrator(env, dir);
            Statement* s = admin->createStatement();
            s->executeUpdate("CREATE USER u IDENTIFIED BY pw");
            s->executeUpdate("CREATE TABLE u.t (id NUMBER)");
            s->executeUpdate("INSERT INTO u.t VALUES (7)");
            s->executeUpdate("CREATE USER v IDENTIFIED BY pw");
            s->executeUpdate("GRANT SELECT ON u.t TO v");
            admin->terminateStatement(s);
            env->terminateConnection(admin);
            // its own schema, and another one attached
            for (const char* user : {"u", "v"}) {
                Connection* c = env->createConnection(user, "pw", dir);
                s = c->createStatement("SELECT id FROM u.t");
                ResultSet* rs = s->executeQuery();
                EXPECT_TRUE(rs->next());
                EXPECT_EQ(rs->getInt(1), 7);
                s->closeResultSet(rs);
                c->terminateStatement(s);
                env->terminateConnection(c);
            }
        });
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(fs::is_regular_file(fs::path(dir) / "U.db"));
        EXPECT_TRUE(fs::is_regular_file(fs::path(dir) / "MDSYS.db"));
    }
    EXPECT_FALSE(fs::exists("db"));
    Environment::terminateEnvironment(env);
    fs::current_path(previous);
    fs::remove_all(pattern);
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

// Busy and damaged schema files: a lock held by another connection is
// ORA-00054 after the stated wait (2 s), wherever it is met; an empty or
// foreign file is ORA-01578, never a wrong password.
class BusyAndForeignFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvex_busy_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::string error;
        ASSERT_TRUE(embedded::createDatabase(dir_, error)) << error;
        env_ = Environment::createEnvironment();
        Connection* admin = embedded::connectAsAdministrator(env_, dir_);
        Statement* s = admin->createStatement();
        for (const char* sql :
             {"CREATE USER a IDENTIFIED BY pw", "CREATE USER b IDENTIFIED BY pw",
              "CREATE TABLE b.t (id NUMBER(3), geom SDO_GEOMETRY)",
              "ALTER SESSION SET CURRENT_SCHEMA = b",
              "INSERT INTO USER_SDO_GEOM_METADATA VALUES ('T', 'GEOM', NULL, NULL)",
              "GRANT SELECT ON b.t TO a"})
            s->executeUpdate(sql);
        admin->terminateStatement(s);
        admin->commit();
        env_->terminateConnection(admin);
    }
    void TearDown() override {
        if (holder_ != nullptr) sqlite3_close(holder_);
        Environment::terminateEnvironment(env_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // Another connection takes an exclusive lock on a schema file.
    void lock(const std::string& p_schema) {
        ASSERT_EQ(sqlite3_open((dir_ + "/" + p_schema + ".db").c_str(), &holder_), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(holder_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    int errorOf(const std::function<void()>& p_call, double* p_seconds = nullptr) {
        auto start = std::chrono::steady_clock::now();
        int code = 0;
        try {
            p_call();
        } catch (const SQLException& e) {
            code = e.getErrorCode();
        }
        if (p_seconds)
            *p_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return code;
    }

    std::string dir_;
    Environment* env_ = nullptr;
    sqlite3* holder_ = nullptr;
};

TEST_F(BusyAndForeignFiles, LockedOwnSchemaAtLogon) {
    lock("A");
    double seconds = 0;
    EXPECT_EQ(errorOf([&] { env_->createConnection("a", "pw", dir_); }, &seconds), 54);
    EXPECT_GE(seconds, 1.5);
    EXPECT_LT(seconds, 5.0);
}

TEST_F(BusyAndForeignFiles, LockedOtherSchemaInMetadataAndQueries) {
    Connection* c = env_->createConnection("a", "pw", dir_);
    Statement* s = c->createStatement();
    lock("B");
    double seconds = 0;
    // the ALL_ view's refresh reports what it met
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM ALL_SDO_GEOM_METADATA"); }, &seconds), 54);
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM b.t"); }), 54);
    sqlite3_close(holder_);
    holder_ = nullptr;
    ResultSet* rs = s->executeQuery("SELECT owner, table_name FROM ALL_SDO_GEOM_METADATA");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1) + "." + rs->getString(2), "B.T");
    s->closeResultSet(rs);
    c->terminateStatement(s);
    env_->terminateConnection(c);
}

TEST_F(BusyAndForeignFiles, EmptyOrForeignFilesAreDamagedNotWrongPasswords) {
    fs::resize_file(dir_ + "/A.db", 0);
    EXPECT_EQ(errorOf([&] { env_->createConnection("a", "pw", dir_); }), 1578);
    {
        sqlite3* foreign = nullptr;
        ASSERT_EQ(sqlite3_open((dir_ + "/A.db").c_str(), &foreign), SQLITE_OK);
        sqlite3_exec(foreign, "CREATE TABLE notes(x)", nullptr, nullptr, nullptr);
        sqlite3_close(foreign);
    }
    EXPECT_EQ(errorOf([&] { env_->createConnection("a", "pw", dir_); }), 1578);
    std::ofstream(dir_ + "/A.db", std::ios::trunc) << "just some text, not a database at all\n";
    EXPECT_EQ(errorOf([&] { env_->createConnection("a", "pw", dir_); }), 1578);
    // another owner's file, met by the ALL_ view
    Connection* c = env_->createConnection("b", "pw", dir_);
    Statement* s = c->createStatement();
    EXPECT_EQ(errorOf([&] { s->executeQuery("SELECT * FROM ALL_SDO_GEOM_METADATA"); }), 1578);
    c->terminateStatement(s);
    env_->terminateConnection(c);
}
