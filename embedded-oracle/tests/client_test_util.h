// Helpers shared by the embedded client's tests: the error code a call
// raises, and a fresh database in a temporary directory.
#ifndef TARVEX_TESTS_ORACLE_CLIENT_TEST_UTIL_H
#define TARVEX_TESTS_ORACLE_CLIENT_TEST_UTIL_H

#include <gtest/gtest.h>
#include <occi.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>

#include "embedded_admin.h"

// The ORA code the call raised (its message in p_message), or 0.
inline int errorOf(const std::function<void()>& p_call, std::string* p_message = nullptr) {
    try {
        p_call();
    } catch (const oracle::occi::SQLException& e) {
        if (p_message) *p_message = e.getMessage();
        return e.getErrorCode();
    }
    return 0;
}

// Creates an empty database in a new directory /tmp/<p_prefix>-XXXXXX and
// stores its path in p_dir; an empty p_dir on failure.
inline void makeTempDatabase(const std::string& p_prefix, std::string& p_dir) {
    p_dir.clear();
    std::string pattern = "/tmp/" + p_prefix + "-XXXXXX";
    const char* made = mkdtemp(&pattern[0]);
    ASSERT_NE(made, nullptr);
    std::string error;
    ASSERT_TRUE(oracle::occi::embedded::createDatabase(made, error)) << error;
    p_dir = made;
}

inline void removeTempDatabase(const std::string& p_dir) {
    if (!p_dir.empty()) std::system(("rm -rf '" + p_dir + "'").c_str());
}

// Column 1 of the first row of p_sql as text: "<null>" for NULL, "<no row>"
// when there is none.
inline std::string firstValue(oracle::occi::Connection* p_conn, const std::string& p_sql) {
    oracle::occi::Statement* s = p_conn->createStatement(p_sql);
    oracle::occi::ResultSet* rs = s->executeQuery();
    std::string v = "<no row>";
    if (rs->next()) v = rs->isNull(1) ? "<null>" : rs->getString(1);
    s->closeResultSet(rs);
    p_conn->terminateStatement(s);
    return v;
}

// A suite's database, made once: p_statements run by the administrator and
// committed (p_rows, when given, adds more the same way). Each test gets its
// own session of user "u" (password "pw") in conn, and value() reads the
// first value of a query. Derived is the suite's fixture class, so that each
// suite has a database of its own.
template <typename Derived>
class ClientUserSession : public ::testing::Test {
protected:
    static void makeDatabase(const std::string& p_prefix, std::initializer_list<const char*> p_statements,
                             const std::function<void(oracle::occi::Statement*)>& p_rows = nullptr) {
        makeTempDatabase(p_prefix, dir_);
        ASSERT_FALSE(dir_.empty());
        oracle::occi::Environment* env = oracle::occi::Environment::createEnvironment();
        oracle::occi::Connection* admin = oracle::occi::embedded::connectAsAdministrator(env, dir_);
        oracle::occi::Statement* s = admin->createStatement();
        for (const char* sql : p_statements) s->executeUpdate(sql);
        if (p_rows) p_rows(s);
        admin->terminateStatement(s);
        admin->commit();
        oracle::occi::Environment::terminateEnvironment(env);
    }
    static void TearDownTestSuite() { removeTempDatabase(dir_); }
    void SetUp() override {
        env = oracle::occi::Environment::createEnvironment();
        conn = env->createConnection("u", "pw", dir_);
    }
    void TearDown() override { oracle::occi::Environment::terminateEnvironment(env); }

    std::string value(const std::string& p_sql) { return firstValue(conn, p_sql); }

    static std::string dir_;
    oracle::occi::Environment* env = nullptr;
    oracle::occi::Connection* conn = nullptr;
};

template <typename Derived>
std::string ClientUserSession<Derived>::dir_;

#endif
