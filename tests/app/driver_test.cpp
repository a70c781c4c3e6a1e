// tarvexMain run in-process: argument refusals, connection failures and exit
// statuses, with the leak checker watching every path.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/export.h"
#include "oracle/globals.h"
#include "settings/settings.h"

namespace {

struct RunResult {
    int status;
    std::string output;
};

// Runs tarvexMain on a fresh settings map with the given arguments (program
// name first) and log level, capturing standard output.
RunResult runTarvex(std::vector<std::string> p_args, const char* p_level = "basic") {
    g_args.clear();
    g_shp_null_vertex = 1e-306;
    setenv("TARVEX_LOG_LEVEL", p_level, 1);
    std::vector<char*> argv;
    for (std::string& arg : p_args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int status = tarvexMain(static_cast<int>(p_args.size()), argv.data());
    std::string output = testing::internal::GetCapturedStdout();
    unsetenv("TARVEX_LOG_LEVEL");
    EXPECT_EQ(env, nullptr);
    EXPECT_EQ(conn, nullptr);
    return {status, output};
}

std::string sampleDb() {
    const char* dir = std::getenv("TARVEX_SAMPLE_DB");
    return dir != nullptr ? dir : TARVEX_BINARY_DIR "/sample-db";
}

bool startsWith(const std::string& p_text, const std::string& p_start) {
    return p_text.compare(0, p_start.size(), p_start) == 0;
}

bool contains(const std::string& p_text, const std::string& p_part) {
    return p_text.find(p_part) != std::string::npos;
}

}  // namespace

TEST(DriverArguments, WrongCountsAndRefusedOptionsExitWithOneAndUsage) {
    RunResult one = runTarvex({"tarvex", "demo/demo@db"});
    EXPECT_EQ(one.status, TARVEX_EXIT_ARGUMENTS);
    EXPECT_TRUE(contains(one.output, "[ERROR] Incorrect number of arguments : 2\n")) << one.output;
    EXPECT_TRUE(contains(one.output, "Usage notes : ")) << one.output;
    EXPECT_TRUE(contains(one.output, "   tarvex <connect string> [options]")) << one.output;
    EXPECT_FALSE(contains(one.output, "Press enter to continue..."));

    std::vector<std::string> tooLong = {"tarvex", "demo/demo@db", "-t", "roads"};
    while (tooLong.size() < static_cast<size_t>(maxArgumentCount()) + 1) tooLong.push_back("-p");
    RunResult tooMany = runTarvex(tooLong);
    EXPECT_EQ(tooMany.status, TARVEX_EXIT_ARGUMENTS);
    EXPECT_TRUE(contains(tooMany.output,
                         "[ERROR] Incorrect number of arguments : " + std::to_string(tooLong.size()) + "\n"));

    // Every option once is a valid command: the count is no reason to refuse
    // it (the parser still checks the values).
    RunResult everything = runTarvex({"tarvex", "demo/demo@no-such-db", "-t", "roads", "-s", "demo", "-g",
                                      "geom", "-o", "x", "-d", "dd", "-q", "select 1", "-m", "0", "-f", "3",
                                      "-a", "10", "-p", "-x", "-i", "-r", "-n", "-e", "-j", "2",
                                      "--progress"});
    EXPECT_FALSE(contains(everything.output, "Incorrect number of arguments")) << everything.output;
    EXPECT_TRUE(contains(everything.output, "Could not connect to database")) << everything.output;

    // A job count out of range is refused before connecting.
    RunResult jobs = runTarvex({"tarvex", "demo/demo@db", "-t", "*", "-j", "65"});
    EXPECT_EQ(jobs.status, TARVEX_EXIT_ARGUMENTS);
    EXPECT_TRUE(contains(jobs.output, "[ERROR] Jobs must be a whole number from 1 to 64 : 65\n"));
    EXPECT_FALSE(contains(jobs.output, "Could not connect"));

    // A free query without -g and -o is refused by the parser.
    RunResult refused = runTarvex({"tarvex", "demo/demo@db", "-q", "select * from roads"});
    EXPECT_EQ(refused.status, TARVEX_EXIT_ARGUMENTS);
    EXPECT_TRUE(contains(refused.output, "Usage notes : "));
    EXPECT_FALSE(contains(refused.output, "Could not connect"));

    // Silent: a refused command line prints nothing at all.
    RunResult silent = runTarvex({"tarvex", "demo/demo@db"}, "silent");
    EXPECT_EQ(silent.status, TARVEX_EXIT_ARGUMENTS);
    EXPECT_EQ(silent.output, "");
}

TEST(DriverArguments, HelpAndVersionAloneExitWithZero) {
    for (const char* word : {"--help", "-h", "-H"}) {
        RunResult help = runTarvex({"./tarvex", word});
        EXPECT_EQ(help.status, TARVEX_EXIT_OK) << word;
        EXPECT_TRUE(startsWith(help.output, "\nTARVEX.  1.3.0\nUsage notes : \n   ./tarvex <"))
            << help.output;
        EXPECT_TRUE(contains(help.output, "  -e --esriprj   : ")) << help.output;
        EXPECT_FALSE(contains(help.output, "[ERROR]")) << help.output;
    }
    // Asked for, so printed also when the log is silent.
    RunResult silentHelp = runTarvex({"tarvex", "--help"}, "silent");
    EXPECT_EQ(silentHelp.status, TARVEX_EXIT_OK);
    EXPECT_TRUE(contains(silentHelp.output, "Usage notes : "));

    const std::string version = std::string("tarvex ") + TARVEX_VERSION + "\n";
    EXPECT_EQ(version, "tarvex " TARVEX_PROJECT_VERSION "\n");  // the package's version too
    for (const char* word : {"--version", "-V"}) {
        RunResult run = runTarvex({"tarvex", word}, "silent");
        EXPECT_EQ(run.status, TARVEX_EXIT_OK) << word;
        EXPECT_TRUE(startsWith(run.output, version + "Oracle client: embedded (oracle::occi over SQLite 3."))
            << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 2) << run.output;
    }

    // Only alone: with more arguments the word is the connect string.
    RunResult more = runTarvex({"tarvex", "--help", "-t", "roads"});
    EXPECT_EQ(more.status, TARVEX_EXIT_ARGUMENTS);
    EXPECT_TRUE(contains(more.output, "[ERROR] Connect string must be of the form")) << more.output;
    RunResult word = runTarvex({"tarvex", "x"});
    EXPECT_EQ(word.status, TARVEX_EXIT_ARGUMENTS);
    EXPECT_TRUE(contains(word.output, "[ERROR] Incorrect number of arguments : 2\n"));
}

TEST(DriverConnection, RefusedConnectionExitsWithTwoAndNeverShowsThePassword) {
    // Sixteen arguments are accepted; the database directory does not exist.
    std::vector<std::string> sixteen = {"tarvex", "scott/Tiger#42@no-such-db-dir", "-t", "roads"};
    while (sixteen.size() < 16) sixteen.push_back("-x");
    RunResult missing = runTarvex(sixteen, "debug");
    EXPECT_EQ(missing.status, TARVEX_EXIT_FAILED);
    EXPECT_TRUE(contains(missing.output,
                         "[ERROR] Could not connect to database : scott/<password>@no-such-db-dir\n"))
        << missing.output;
    EXPECT_TRUE(contains(missing.output, "[ERROR] ORA-12154")) << missing.output;
    EXPECT_TRUE(contains(missing.output, "[DEBUG] Created Oracle environment\n"));
    EXPECT_TRUE(contains(missing.output, "[DEBUG] Registered SDO classes\n"));
    EXPECT_FALSE(contains(missing.output, "Tiger#42")) << missing.output;
    EXPECT_FALSE(contains(missing.output, "Connected to:"));
    EXPECT_FALSE(contains(missing.output, "Terminated Oracle connection"));
}

TEST(DriverSession, ConnectsExportsAndReportsFailuresThroughTheExitStatus) {
    const std::string db = sampleDb();
    if (access((db + "/DEMO.db").c_str(), R_OK) != 0) GTEST_SKIP() << "no sample database in " << db;
    const std::string out = testing::TempDir() + "tarvex_driver_test_";

    RunResult wrong = runTarvex({"tarvex", "demo/not-the-password@" + db, "-t", "roads"}, "debug");
    EXPECT_EQ(wrong.status, TARVEX_EXIT_FAILED);
    EXPECT_TRUE(contains(wrong.output, "[ERROR] Could not connect to database : demo/<password>@" + db + "\n"))
        << wrong.output;
    EXPECT_TRUE(contains(wrong.output, "[ERROR] ORA-01017")) << wrong.output;
    EXPECT_FALSE(contains(wrong.output, "not-the-password")) << wrong.output;

    // Everything asked for done: status 0.
    RunResult done = runTarvex({"tarvex", "demo/demo@" + db, "-t", "cities", "-o", out + "cities"});
    EXPECT_EQ(done.status, TARVEX_EXIT_OK) << done.output;
    EXPECT_TRUE(contains(done.output, "Connected to:\r\n")) << done.output;
    EXPECT_TRUE(contains(done.output, "Successfully written 8 rows to '" + out + "cities.shp'\n")) << done.output;
    EXPECT_EQ(access((out + "cities.dbf").c_str(), R_OK), 0);
    for (const char* ext : {".shp", ".shx", ".dbf", ".cpg", ".prj"}) std::remove((out + "cities" + ext).c_str());

    // An owner without registered tables: nothing to do is not a failure.
    RunResult empty = runTarvex({"tarvex", "demo/demo@" + db, "-t", "*", "-s", "nobody", "-o", out});
    EXPECT_EQ(empty.status, TARVEX_EXIT_OK) << empty.output;
    EXPECT_FALSE(contains(empty.output, "Exporting to shape file"));

    // A table that is not in the spatial metadata: the lookup fails.
    RunResult unknown = runTarvex({"tarvex", "demo/demo@" + db, "-t", "no_such_table", "-o", out + "none"},
                                  "detailed");
    EXPECT_EQ(unknown.status, TARVEX_EXIT_FAILED);
    EXPECT_TRUE(contains(unknown.output, "Connected to:\r\n")) << unknown.output;
    EXPECT_TRUE(contains(unknown.output, "[ERROR] Error retrieving geometry column from metadata : "));
    EXPECT_TRUE(contains(unknown.output, "[DETAILED] Terminated Oracle connection\n"));
    EXPECT_FALSE(contains(unknown.output, "Exporting to shape file"));

    // A query the database refuses fails the export, not the process.
    RunResult badQuery = runTarvex({"tarvex", "demo/demo@" + db, "-q", "select * from no_such_table",
                                    "-g", "geom", "-o", out + "bad", "-x"});
    EXPECT_EQ(badQuery.status, TARVEX_EXIT_FAILED);
    EXPECT_TRUE(contains(badQuery.output, "[ERROR] Error executing query : select * from no_such_table\n"));
    EXPECT_TRUE(contains(badQuery.output, "[ERROR] ORA-00942"));
    EXPECT_TRUE(contains(badQuery.output, "' started at : ")) << badQuery.output;
    EXPECT_TRUE(contains(badQuery.output, "' ended at : ")) << badQuery.output;
}
