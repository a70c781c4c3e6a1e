// The loader tarvex-sql and the sample database it builds, read back through
// the client as the exporter reads them.
#include <gtest/gtest.h>
#include <occi.h>

#include <sodium.h>
#include <sqlite3.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "oracle/sdo.h"

using namespace oracle::occi;

namespace {

const std::string LOADER = std::string(TARVEX_BINARY_DIR) + "/tarvex-sql";

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

struct LoaderRun {
    int status;
    std::string output;
};

LoaderRun runLoader(const std::string& args) {
    LoaderRun r{-1, ""};
    FILE* p = ::popen((LOADER + " " + args + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvex-loader-XXXXXX";
        const char* d = mkdtemp(pattern);
        ASSERT_TRUE(d);
        work = d;
        db = work + "/db";
    }
    void TearDown() override { std::system(("rm -rf '" + work + "'").c_str()); }

    std::string script(const std::string& name, const std::string& text) {
        std::string path = work + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::string work, db;
};

TEST_F(LoaderTest, ScriptsAreSplitLikeSqlPlus) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    std::string s1 = script("one.sql",
                            "-- users; with a semicolon in a comment\n"
                            "SET DEFINE OFF\n"
                            "PROMPT creating; users\n"
                            "CREATE USER app IDENTIFIED BY \"Pass;Word\";\n"
                            "ALTER SESSION SET CURRENT_SCHEMA = app;\n"
                            "CREATE TABLE notes (id NUMBER(4), txt VARCHAR2(40), geom SDO_GEOMETRY)\n"
                            "/\n"
                            "INSERT INTO notes VALUES (1, 'a;b -- not a comment', NULL); /* trailing; */\n"
                            "INSERT INTO notes VALUES (2, 'it''s', SDO_GEOMETRY(2001, NULL,\n"
                            "  SDO_POINT_TYPE(1, 2, NULL), NULL, NULL));\n"
                            "INSERT INTO notes (id, txt) VALUES (3, q'[GEOGCS[\"x\"]; it's]');\n"
                            "INSERT INTO notes (id, txt) VALUES (4, nq'\xc2\xa7" "a;'\xc2\xa7' || q'!;'!');\n"
                            "COMMIT;\n");
    LoaderRun r = runLoader(db + " " + s1);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(exists(db + "/MDSYS.db"));
    EXPECT_TRUE(exists(db + "/APP.db"));

    Environment* env = Environment::createEnvironment(Environment::OBJECT);
    Connection* c = env->createConnection("app", "Pass;Word", db);
    Statement* s = c->createStatement("SELECT txt FROM notes ORDER BY id");
    ResultSet* rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "a;b -- not a comment");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "it's");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "GEOGCS[\"x\"]; it's");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getString(1), "a;';'");
    EXPECT_FALSE(rs->next());
    s->closeResultSet(rs);
    c->terminateStatement(s);
    env->terminateConnection(c);
    Environment::terminateEnvironment(env);
}

TEST_F(LoaderTest, FailedScriptLeavesNothingBehind) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    std::string good = script("good.sql",
                              "CREATE USER keep IDENTIFIED BY keep;\n"
                              "ALTER SESSION SET CURRENT_SCHEMA = keep;\n"
                              "CREATE TABLE t (id NUMBER);\n"
                              "INSERT INTO t VALUES (1);\n");
    std::string bad = script("bad.sql",
                             "CREATE USER gone IDENTIFIED BY gone;\n"
                             "ALTER SESSION SET CURRENT_SCHEMA = keep;\n"
                             "INSERT INTO t VALUES (2);\n"
                             "CREATE TABLE u (id NUMBER);\n"
                             "COMMIT;\n"
                             "\n"
                             "INSERT INTO\n"
                             "  no_such_table VALUES (3);\n");
    std::string never = script("never.sql", "CREATE USER never IDENTIFIED BY never;\n");
    LoaderRun r = runLoader(db + " " + good + " " + bad + " " + never);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(bad + ":7: ORA-00942: table or view does not exist"), std::string::npos) << r.output;
    EXPECT_TRUE(exists(db + "/KEEP.db"));
    EXPECT_FALSE(exists(db + "/GONE.db"));
    EXPECT_FALSE(exists(db + "/NEVER.db"));

    Environment* env = Environment::createEnvironment();
    Connection* c = env->createConnection("keep", "keep", db);
    Statement* s = c->createStatement("SELECT count(*) FROM t");
    ResultSet* rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getInt(1), 1);  // the second script's row was rolled back
    s->closeResultSet(rs);
    EXPECT_THROW(s->executeQuery("SELECT * FROM u"), SQLException);
    c->terminateStatement(s);
    env->terminateConnection(c);
    Environment::terminateEnvironment(env);

    r = runLoader(db + " " + script("types.sql", "ALTER SESSION SET CURRENT_SCHEMA = keep;\n"
                                                 "CREATE TABLE w (x VARCHAR2);\n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("types.sql:2: ORA-00902: invalid datatype"), std::string::npos) << r.output;
    r = runLoader(db + " " + script("noschema.sql", "CREATE TABLE w (x NUMBER);\n"));
    EXPECT_NE(r.output.find("noschema.sql:1: ORA-01435"), std::string::npos) << r.output;
    r = runLoader(db + " " + work + "/missing.sql");
    EXPECT_EQ(r.status, 1);
}

// Runs the loader in a child killed by the kernel at its first link(2) (on
// x86-64 and other architectures with link): a run stopped right after its
// commit, before the new users' files have their names. The wait status.
int runLoaderStoppedAtLink(const std::string& p_args) {
    const std::string command = LOADER + " " + p_args + " >/dev/null 2>&1";
    pid_t pid = ::fork();
    if (pid == 0) {
#ifdef __NR_link
        const unsigned linkCall = __NR_link;
#else
        const unsigned linkCall = __NR_linkat;
#endif
        struct sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, linkCall, 2, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_linkat, 1, 0),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        };
        struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ::_exit(99);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(98);
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    return status;
}

// The loader's commit and the publication of the users it created are one
// step: a run stopped between them has committed the users, and the next
// run gives them their names, so that what the script granted them is
// theirs and the name is taken.
TEST_F(LoaderTest, UsersCommittedByAStoppedRunArePublishedByTheNext) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    LoaderRun r = runLoader(db + " " + script("owner.sql", "CREATE USER owner IDENTIFIED BY pw;\n"
                                                         "ALTER SESSION SET CURRENT_SCHEMA = owner;\n"
                                                         "CREATE TABLE t (id NUMBER);\n"
                                                         "INSERT INTO t VALUES (5);\n"));
    ASSERT_EQ(r.status, 0) << r.output;
    std::string grantee = script("grantee.sql", "CREATE USER grantee IDENTIFIED BY pw;\n"
                                                "GRANT SELECT ON owner.t TO grantee;\n");
    int status = runLoaderStoppedAtLink(db + " " + grantee);
    // the shell reports its child's death by a signal as 128 + the signal
    ASSERT_TRUE(WIFEXITED(status)) << status;
    ASSERT_EQ(WEXITSTATUS(status), 128 + SIGSYS);
    EXPECT_FALSE(exists(db + "/GRANTEE.db"));

    r = runLoader(db);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(exists(db + "/GRANTEE.db"));
    Environment* env = Environment::createEnvironment();
    Connection* c = env->createConnection("grantee", "pw", db);
    Statement* s = c->createStatement("SELECT id FROM owner.t");
    ResultSet* rs = s->executeQuery();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->getInt(1), 5);
    s->closeResultSet(rs);
    c->terminateStatement(s);
    env->terminateConnection(c);
    Environment::terminateEnvironment(env);
    r = runLoader(db + " " + grantee);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ORA-01920"), std::string::npos) << r.output;
    // nothing is left under a temporary name
    EXPECT_NE(std::system(("ls -A '" + db + "' | grep -q new-").c_str()), 0);
}

TEST_F(LoaderTest, ExitAndMalformedScripts) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    // EXIT ends the script; what ran is committed, the rest never runs
    LoaderRun r = runLoader(db + " " + script("exit.sql", "CREATE USER kept IDENTIFIED BY pw;\n"
                                                          "exit\n"
                                                          "CREATE USER after IDENTIFIED BY pw;\n"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(exists(db + "/KEPT.db"));
    EXPECT_FALSE(exists(db + "/AFTER.db"));
    r = runLoader(db + " " + script("quit.sql", "QUIT;\nCREATE USER after IDENTIFIED BY pw;\n"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(exists(db + "/AFTER.db"));
    // a comment or quote left open is an error naming the line it opens
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"CREATE USER a1 IDENTIFIED BY pw;\n\n/* never closed;\nCREATE USER a2 IDENTIFIED BY pw;\n",
         "open1.sql:3: unterminated comment"},
        {"CREATE USER a1 IDENTIFIED BY pw;\nALTER SESSION SET CURRENT_SCHEMA = a1;\n"
         "CREATE TABLE t (x VARCHAR2(9));\nINSERT INTO t VALUES ('open;\n);\n",
         "open2.sql:4: ORA-01756: quoted string not properly terminated"},
        {"CREATE USER \"a1 IDENTIFIED BY pw;\n", "open3.sql:1: ORA-01740"},
        {"SELECT q'[never closed; FROM dual;\n", "open4.sql:1: ORA-01756"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "open" + std::to_string(++n) + ".sql";
        r = runLoader(db + " " + script(name, c.text));
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << r.output;
        EXPECT_FALSE(exists(db + "/A1.db")) << name;
    }
}

TEST_F(LoaderTest, PasswordsFollowOraclesRules) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    struct Case {
        const char* statement;
        const char* expected;
    } refused[] = {
        {"CREATE USER u IDENTIFIED BY 's3cret';", "ORA-00988"},
        {"CREATE USER u IDENTIFIED BY \"\";", "ORA-01741"},
        {"CREATE USER u IDENTIFIED BY pw extra words;", "ORA-00922"},
        {"CREATE USER u IDENTIFIED BY;", "ORA-00922"},
    };
    for (const Case& c : refused) {
        LoaderRun r = runLoader(db + " " + script("pw.sql", std::string(c.statement) + "\n"));
        EXPECT_EQ(r.status, 1) << c.statement;
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << c.statement << "\n" << r.output;
        EXPECT_FALSE(exists(db + "/U.db")) << c.statement;
    }
    LoaderRun r = runLoader(db + " " + script("ok.sql", "CREATE USER u1 IDENTIFIED BY MixedCase1;\n"
                                                        "CREATE USER u2 IDENTIFIED BY \"with space\";\n"));
    ASSERT_EQ(r.status, 0) << r.output;
    Environment* env = Environment::createEnvironment();
    env->terminateConnection(env->createConnection("u1", "MixedCase1", db));
    env->terminateConnection(env->createConnection("u2", "with space", db));
    EXPECT_THROW(env->createConnection("u1", "mixedcase1", db), SQLException);
    Environment::terminateEnvironment(env);
}

TEST_F(LoaderTest, DeepNestingAndLongValueLists) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    std::string deep = "CREATE USER n IDENTIFIED BY pw;\nALTER SESSION SET CURRENT_SCHEMA = n;\n"
                       "CREATE TABLE t (x NUMBER);\nINSERT INTO t VALUES (" +
                       std::string(20000, '(') + "1" + std::string(20000, ')') + ");\n";
    LoaderRun r = runLoader(db + " " + script("deep.sql", deep));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("deep.sql:4: ORA-03001"), std::string::npos) << r.output;
    // one INSERT with more literals than SQLite binds
    std::string values = "CREATE USER v IDENTIFIED BY pw;\nALTER SESSION SET CURRENT_SCHEMA = v;\n"
                         "CREATE TABLE g (geom SDO_GEOMETRY);\n"
                         "INSERT INTO g VALUES (SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1), "
                         "SDO_ORDINATE_ARRAY(";
    for (int i = 0; i < 300000; ++i) values += (i ? "," : "") + std::to_string(i % 1000);
    values += ")));\n";
    r = runLoader(db + " " + script("values.sql", values));
    EXPECT_EQ(r.status, 0) << r.output.substr(0, 500);
}

TEST_F(LoaderTest, CheaperOldPasswordHashesStillLogOn) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    LoaderRun r = runLoader(db + " " + script("u.sql", "CREATE USER old IDENTIFIED BY pw;\n"));
    ASSERT_EQ(r.status, 0) << r.output;
    // the hash as an earlier version made it: libsodium's minimum cost
    char hash[crypto_pwhash_STRBYTES];
    ASSERT_EQ(sodium_init() >= 0, true);
    ASSERT_EQ(crypto_pwhash_str(hash, "pw", 2, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN), 0);
    sqlite3* file = nullptr;
    ASSERT_EQ(sqlite3_open((db + "/OLD.db").c_str(), &file), SQLITE_OK);
    std::string update = std::string("UPDATE \"TVX$USER\" SET PASSWORD_HASH = '") + hash + "'";
    EXPECT_EQ(sqlite3_exec(file, update.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(file);
    Environment* env = Environment::createEnvironment();
    env->terminateConnection(env->createConnection("old", "pw", db));
    EXPECT_THROW(env->createConnection("old", "PW", db), SQLException);
    // a process remembers the logons it verified, but only for the stored
    // hash it verified them against: another password's hash refuses the
    // old password at once
    env->terminateConnection(env->createConnection("old", "pw", db));
    ASSERT_EQ(crypto_pwhash_str(hash, "new", 3, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN), 0);
    ASSERT_EQ(sqlite3_open((db + "/OLD.db").c_str(), &file), SQLITE_OK);
    update = std::string("UPDATE \"TVX$USER\" SET PASSWORD_HASH = '") + hash + "'";
    EXPECT_EQ(sqlite3_exec(file, update.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(file);
    EXPECT_THROW(env->createConnection("old", "pw", db), SQLException);
    env->terminateConnection(env->createConnection("old", "new", db));
    Environment::terminateEnvironment(env);
}

// Every object in a schema file makes each later CREATE in that file slower
// (SQLite scans its whole catalogue for each object it creates), so the time
// a script of n tables takes grows with the square of the objects per table:
// a table is one object (NUMBER(p,s) columns included: the client rounds
// their values itself, without triggers), and nothing else may be added
// per table.
TEST_F(LoaderTest, ATableAddsOnlyItsOwnCatalogueObjects) {
    if (!exists(LOADER)) GTEST_SKIP() << "tarvex-sql not built";
    std::string text = "CREATE USER empty IDENTIFIED BY pw;\nCREATE USER many IDENTIFIED BY pw;\n";
    for (int i = 0; i < 20; ++i)
        text += "CREATE TABLE many.p" + std::to_string(i) + " (id NUMBER, name VARCHAR2(40 CHAR), d DATE);\n";
    for (int i = 0; i < 10; ++i)
        text += "CREATE TABLE many.r" + std::to_string(i) + " (id NUMBER(10), v NUMBER(12,3), g SDO_GEOMETRY);\n";
    LoaderRun r = runLoader(db + " " + script("many.sql", text));
    ASSERT_EQ(r.status, 0) << r.output;
    auto objects = [&](const std::string& schema) {
        sqlite3* file = nullptr;
        int n = -1;
        if (sqlite3_open_v2((db + "/" + schema + ".db").c_str(), &file, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
            sqlite3_exec(file, "SELECT count(*) FROM sqlite_master",
                         [](void* out, int, char** v, char**) {
                             *static_cast<int*>(out) = std::atoi(v[0]);
                             return 0;
                         },
                         &n, nullptr);
        sqlite3_close(file);
        return n;
    };
    EXPECT_EQ(objects("MANY") - objects("EMPTY"), 20 + 10);
}

// The sample database, when the build made it.
class SampleTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* env_db = std::getenv("TARVEX_SAMPLE_DB");
        dir = env_db && *env_db ? env_db : std::string(TARVEX_BINARY_DIR) + "/sample-db";
        if (!exists(dir + "/DEMO.db")) GTEST_SKIP() << "no sample database in " << dir;
        env = Environment::createEnvironment(Environment::OBJECT);
        RegisterClasses(env);
        conn = env->createConnection("demo", "demo", dir);
    }
    void TearDown() override {
        if (env) {
            env->terminateConnection(conn);
            Environment::terminateEnvironment(env);
        }
    }
    std::string dir;
    Environment* env = nullptr;
    Connection* conn = nullptr;
};

TEST_F(SampleTest, EveryRegisteredTableReadsAsTheExporterReadsIt) {
    Statement* list = conn->createStatement();
    list->setSQL("select table_name,column_name,user from user_sdo_geom_metadata");
    ResultSet* tables = list->executeQuery();
    int tableCount = 0;
    while (tables->next()) {
        ++tableCount;
        std::string table = tables->getString(1), column = tables->getString(2);
        EXPECT_EQ(tables->getString(3), "DEMO");
        SCOPED_TRACE(table);
        Statement* s = conn->createStatement("SELECT * FROM " + table);
        ResultSet* rs = s->executeQuery();
        std::vector<MetaData> md = rs->getColumnListMetaData();
        unsigned geomPos = 0;
        for (size_t i = 0; i < md.size(); ++i)
            if (md[i].getString(MetaData::ATTR_NAME) == column) geomPos = static_cast<unsigned>(i + 1);
        ASSERT_GT(geomPos, 0u);
        EXPECT_EQ(md[geomPos - 1].getInt(MetaData::ATTR_DATA_TYPE), 108);
        int rows = 0;
        while (rs->next()) {
            ++rows;
            std::unique_ptr<SDOGeometry> g(static_cast<SDOGeometry*>(rs->getObject(geomPos)));
            EXPECT_EQ(g == nullptr, rs->isNull(geomPos));
            if (g) {
                int gtype = static_cast<int>(g->getSdo_gtype());
                EXPECT_GT(gtype, 2000);
                size_t dims = static_cast<size_t>(gtype / 1000);
                EXPECT_EQ(g->getSdo_ordinates().size() % dims, 0u);
                EXPECT_EQ(g->getSdo_elem_info().size() % 3, 0u);
            }
            for (size_t i = 0; i < md.size(); ++i) {
                int type = md[i].getInt(MetaData::ATTR_DATA_TYPE);
                unsigned c = static_cast<unsigned>(i + 1);
                if (type == 12) rs->getDate(c).toText("YYYYMMDD");
                if (type == 187 || type == 188) rs->getTimestamp(c).toText("YYYYMMDD HH24MISS.FF", 2);
                if (type == 1 || type == 96) rs->getString(c);
                if (type == 2) rs->getDouble(c);
            }
        }
        EXPECT_GT(rows, 0);
        s->closeResultSet(rs);
        // the probe query
        s->setSQL("select " + column + " from (SELECT * FROM " + table + ") where " + column +
                  " is not null and rownum = 1");
        rs = s->executeQuery();
        int probe = 0;
        while (rs->next()) {
            ++probe;
            delete rs->getObject(1);
        }
        EXPECT_EQ(probe, table == "NULL_GEOMETRIES" ? 0 : 1);
        s->closeResultSet(rs);
        conn->terminateStatement(s);
    }
    list->closeResultSet(tables);
    EXPECT_GE(tableCount, 15);

    // the other owner, through ALL_SDO_GEOM_METADATA and owner-qualified names
    list->setSQL("select table_name,column_name,owner from all_sdo_geom_metadata where owner = :1");
    list->setString(1, "GISOWNER");
    tables = list->executeQuery();
    int other = 0;
    while (tables->next()) ++other;
    EXPECT_EQ(other, 2);
    list->closeResultSet(tables);
    list->setSQL("select count(*) from GISOWNER.LAKES x, table(x.GEOM.SDO_ELEM_INFO) t where t.column_value = :1");
    list->setInt(1, 2003);
    tables = list->executeQuery();
    ASSERT_TRUE(tables->next());
    EXPECT_EQ(tables->getInt(1), 1);
    list->closeResultSet(tables);
    list->setSQL("select count(*) from PARCELS x, table(x.GEOM.SDO_ELEM_INFO) t where t.column_value = :1");
    list->setInt(1, 2003);
    tables = list->executeQuery();
    ASSERT_TRUE(tables->next());
    EXPECT_EQ(tables->getInt(1), 3);
    list->closeResultSet(tables);
    list->setSQL("select wktext from mdsys.cs_srs where srid = :1");
    list->setNumber(1, Number(27700));
    tables = list->executeQuery();
    ASSERT_TRUE(tables->next());
    EXPECT_EQ(tables->getString(1).compare(0, 42, "PROJCS[\"OSGB 1936 / British National Grid\""), 0);
    list->closeResultSet(tables);
    // the table that is on purpose not registered
    list->setSQL("SELECT COLUMN_NAME FROM USER_SDO_GEOM_METADATA WHERE TABLE_NAME=:1");
    list->setString(1, "UNREGISTERED_POINTS");
    tables = list->executeQuery();
    EXPECT_FALSE(tables->next());
    list->closeResultSet(tables);
    conn->terminateStatement(list);
}

}  // namespace
