// ORA_HASH and ROWID as a split export uses them: "WHERE ORA_HASH(ROWID,
// N-1) = k" for k from 0 to N-1 gives every row of a table exactly once.
// Oracle promises the range, equal buckets for equal values and the seed's
// effect, not the hash values: the tests check only what Oracle promises.
#include <gtest/gtest.h>
#include <occi.h>

#include <string>

#include "client_test_util.h"
#include "embedded_admin.h"

using namespace oracle::occi;

namespace {

const int HASH_ROWS = 500;

class ClientHash : public ClientUserSession<ClientHash> {
protected:
    static void SetUpTestSuite() {
        makeDatabase("tarvex-hash",
                     {"CREATE USER u IDENTIFIED BY pw", "CREATE USER other IDENTIFIED BY pw",
                      "ALTER SESSION SET CURRENT_SCHEMA = other", "CREATE TABLE t (id NUMBER(6))",
                      "GRANT SELECT ON other.t TO u"},
                     [](Statement* s) {
                         for (int i = 0; i < HASH_ROWS; ++i)
                             s->executeUpdate("INSERT INTO t VALUES (" + std::to_string(i) + ")");
                         // rows removed: the rowids have gaps, as Oracle's have
                         s->executeUpdate("DELETE FROM t WHERE mod(id, 7) = 3");
                     });
    }
};

TEST_F(ClientHash, RowidBucketsHoldEveryRowOnce) {
    const std::string rows = value("SELECT count(*) FROM other.t");
    for (int parts : {1, 2, 3, 4, 7}) {
        SCOPED_TRACE(parts);
        const std::string max = std::to_string(parts - 1);
        long long sum = 0;
        for (int k = 0; k < parts; ++k) {
            const std::string part = value("SELECT count(*) FROM other.t WHERE ORA_HASH(ROWID, " + max +
                                           ") = " + std::to_string(k));
            // spread: no part empty, none with most of the rows
            EXPECT_GT(std::stoll(part), 0);
            EXPECT_LT(std::stoll(part), std::stoll(rows) * 2 / parts + 20);
            sum += std::stoll(part);
        }
        EXPECT_EQ(std::to_string(sum), rows);
        // the distinct ids of the parts are every id
        EXPECT_EQ(value("SELECT count(DISTINCT id) FROM other.t WHERE ORA_HASH(ROWID, " + max + ") BETWEEN 0 AND " +
                        max),
                  rows);
    }
}

TEST_F(ClientHash, HashesAsOracleDefinesThem) {
    struct Case {
        const char* sql;
        const char* expected;
    } cases[] = {
        {"SELECT count(*) FROM other.t WHERE ORA_HASH(id, 9) NOT BETWEEN 0 AND 9", "0"},
        {"SELECT count(*) FROM other.t WHERE ORA_HASH(id) NOT BETWEEN 0 AND 4294967295", "0"},
        {"SELECT count(*) FROM other.t WHERE ORA_HASH(id, 0) <> 0", "0"},
        // one value, one hash: a NUMBER is 2 whether written 2 or 2.0
        {"SELECT CASE WHEN ORA_HASH(2) = ORA_HASH(2.0) THEN 'same' END FROM dual", "same"},
        {"SELECT CASE WHEN ORA_HASH('ab', 99, 5) = ORA_HASH('a' || 'b', 99, 5) THEN 'same' END FROM dual", "same"},
        // the bucket is the full hash modulo max_bucket + 1
        {"SELECT CASE WHEN ORA_HASH('x', 6) = mod(ORA_HASH('x'), 7) THEN 'mod' END FROM dual", "mod"},
        // a seed gives other hashes for the same values
        {"SELECT CASE WHEN count(*) < 10 THEN 'seeded' END FROM other.t WHERE ORA_HASH(id) = ORA_HASH(id, "
         "4294967295, 1)",
         "seeded"},
        {"SELECT ORA_HASH(NULL, 3) FROM dual", "<null>"},
        {"SELECT ORA_HASH(1, NULL) FROM dual", "<null>"},
    };
    for (const Case& c : cases) EXPECT_EQ(value(c.sql), c.expected) << c.sql;
}

TEST_F(ClientHash, ArgumentsOutOfRangeAreRefused) {
    for (const char* sql : {"SELECT ORA_HASH(1, -1) FROM dual", "SELECT ORA_HASH(1, 4294967296) FROM dual",
                            "SELECT ORA_HASH(1, 3, -1) FROM dual"}) {
        std::string message;
        EXPECT_EQ(errorOf([&] { value(sql); }, &message), 1428) << sql << " " << message;
    }
    EXPECT_EQ(errorOf([&] { value("SELECT ORA_HASH(1, 'x') FROM dual"); }), 1722);
}

}  // namespace
