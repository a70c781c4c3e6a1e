// Connect-string split and the interactive prompts.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "diag/log.h"
#include "settings/settings.h"

namespace {

struct Split {
    std::string user = "U?";
    std::string password = "P?";
    std::string service = "S?";
};

Split split(const std::string& p_connect) {
    Split parts;
    parseConnectString(p_connect, parts.user, parts.password, parts.service);
    return parts;
}

TEST(ConnectStringTest, SplitRules) {
    Split s = split("gisrw/amber@//db.example.com:1521/pdb1.example.com");
    EXPECT_EQ(s.user, "gisrw");
    EXPECT_EQ(s.password, "amber");
    EXPECT_EQ(s.service, "//db.example.com:1521/pdb1.example.com");

    s = split("gisrw/amber");  // no "@": service left as it was
    EXPECT_EQ(s.user, "gisrw");
    EXPECT_EQ(s.password, "amber");
    EXPECT_EQ(s.service, "S?");

    s = split("gisrw/am/b/er@pdb1@x");  // "/" and "@" in the password: the last "@" splits
    EXPECT_EQ(s.user, "gisrw");
    EXPECT_EQ(s.password, "am/b/er@pdb1");
    EXPECT_EQ(s.service, "x");

    s = split("demo/se@cret@db");
    EXPECT_EQ(s.user, "demo");
    EXPECT_EQ(s.password, "se@cret");
    EXPECT_EQ(s.service, "db");

    s = split("demo/p@ss'\"w/d@");  // nothing after the last "@": service left as it was
    EXPECT_EQ(s.password, "p@ss'\"w/d");
    EXPECT_EQ(s.service, "S?");

    s = split("@@gisrw/amber@pdb1");  // leading "@"s skipped
    EXPECT_EQ(s.user, "gisrw");
    EXPECT_EQ(s.password, "amber");
    EXPECT_EQ(s.service, "pdb1");

    s = split("//gisrw/amber@");  // leading "/"s skipped; nothing after "@"
    EXPECT_EQ(s.user, "gisrw");
    EXPECT_EQ(s.password, "amber");
    EXPECT_EQ(s.service, "S?");
}

TEST(ConnectStringTest, PartsTheSplitDoesNotProduceKeepTheirContent) {
    Split s = split("");
    EXPECT_EQ(s.user, "U?");
    EXPECT_EQ(s.password, "P?");
    EXPECT_EQ(s.service, "S?");

    s = split("@@@");
    EXPECT_EQ(s.user, "U?");
    EXPECT_EQ(s.service, "S?");

    s = split("scott@orcl");
    EXPECT_EQ(s.user, "scott");
    EXPECT_EQ(s.password, "P?");
    EXPECT_EQ(s.service, "orcl");

    s = split("/@orcl");
    EXPECT_EQ(s.user, "U?");
    EXPECT_EQ(s.password, "P?");
    EXPECT_EQ(s.service, "orcl");
}

TEST(ConnectStringTest, CheckAndMask) {
    std::string reason;
    EXPECT_TRUE(checkConnectString("a/b", reason));
    EXPECT_TRUE(checkConnectString("a/b@c", reason));
    EXPECT_EQ(reason, "");
    for (const char* bad : {"", "@", "@@", "a", "a@c", "a/@c", "a/", "/", "//", "/@c", "/b@c"}) {
        EXPECT_FALSE(checkConnectString(bad, reason)) << bad;
        EXPECT_FALSE(reason.empty()) << bad;
    }

    EXPECT_EQ(maskConnectString("scott/tiger@orcl"), "scott/<password>@orcl");
    EXPECT_EQ(maskConnectString("scott/ti/ger@or@cl"), "scott/<password>@cl");
    EXPECT_EQ(maskConnectString("demo/se@cret@db"), "demo/<password>@db");
    EXPECT_EQ(maskConnectString("demo/@@@db"), "demo/<password>@db");
    EXPECT_EQ(maskConnectString("@scott/tiger"), "@scott/<password>");
    EXPECT_EQ(maskConnectString("//scott/tiger@x"), "//scott/<password>@x");
    EXPECT_EQ(maskConnectString("/tiger@x"), "/<password>@x");
    EXPECT_EQ(maskConnectString("scott@x/y"), "scott@x/y");
    EXPECT_EQ(maskConnectString("scott/@x"), "scott/@x");
    EXPECT_EQ(maskConnectString(""), "");
}

class InteractiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_args.clear();
        g_error.clear();
        g_log_level = LOG_DEBUG;
    }
    void TearDown() override {
        g_args.clear();
        g_log_level = LOG_BASIC;
    }

    // Answers the prompts with p_input; keeps what was printed.
    bool run(const std::string& p_input) {
        std::istringstream in(p_input);
        std::ostringstream out;
        std::streambuf* oldIn = std::cin.rdbuf(in.rdbuf());
        std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
        std::cin.clear();
        bool result = interactiveMode(g_args);
        std::cin.rdbuf(oldIn);
        std::cout.rdbuf(oldOut);
        std::cin.clear();
        output = out.str();
        return result;
    }

    std::string output;
};

TEST_F(InteractiveTest, DefaultsAndPrompts) {
    ASSERT_TRUE(run("gisrw/amber@pdb1\nRoads\n\n\n\n"));
    EXPECT_EQ(output,
              "TARVEX.  1.3.0\n"
              "Interactive mode.\n"
              "Oracle connect string (e.g gisrw/amber@pdb1) : "
              "Table name : "
              "Geometry column [GEOM] : "
              "Create .prj file ? [N] : "
              "Output file name, without extension [Roads(.shp)] : ");
    EXPECT_EQ(g_args["connect_string"], "pdb1");
    EXPECT_EQ(g_args["username"], "gisrw");
    EXPECT_EQ(g_args["password"], "amber");
    EXPECT_EQ(g_args["table"], "ROADS");
    EXPECT_EQ(g_args["geom_column"], "GEOM");
    EXPECT_EQ(g_args["output_proj"], "no");
    EXPECT_EQ(g_args["shapefile"], "Roads");
    EXPECT_EQ(g_args["interactive"], "yes");
    EXPECT_EQ(g_args.count("owner"), 0u);
    EXPECT_EQ(g_args.count("sql"), 0u);
}

TEST_F(InteractiveTest, GivenAnswers) {
    ASSERT_TRUE(run("gisrw/amber@//h:1521/s\nroads\nshape\ny\nOut Dir/roads\n"));
    EXPECT_EQ(g_args["connect_string"], "//h:1521/s");
    EXPECT_EQ(g_args["geom_column"], "SHAPE");
    EXPECT_EQ(g_args["output_proj"], "no");  // only "Y" asks for a projection file
    EXPECT_EQ(g_args["shapefile"], "Out Dir/roads");

    g_args.clear();
    ASSERT_TRUE(run("gisrw/amber@pdb1\nroads\n\nY\n\n"));
    EXPECT_EQ(g_args["output_proj"], "yes");
    EXPECT_EQ(g_args["shapefile"], "roads");

    g_args.clear();
    ASSERT_TRUE(run("gisrw/amber@pdb1\nroads\n\nyes\n\n"));
    EXPECT_EQ(g_args["output_proj"], "no");
}

TEST_F(InteractiveTest, EndOfInputReadsAsEmptyAnswers) {
    ASSERT_TRUE(run("gisrw/amber@pdb1\nParcels"));  // no end of line, then end of input
    EXPECT_EQ(g_args["table"], "PARCELS");
    EXPECT_EQ(g_args["geom_column"], "GEOM");
    EXPECT_EQ(g_args["output_proj"], "no");
    EXPECT_EQ(g_args["shapefile"], "Parcels");

    // An empty table is not checked here.
    g_args.clear();
    ASSERT_TRUE(run("gisrw/amber@pdb1\n"));
    EXPECT_EQ(g_args["table"], "");
    EXPECT_EQ(g_args["shapefile"], "");
}

TEST_F(InteractiveTest, UnsplittableConnectStringStopsTheRun) {
    EXPECT_FALSE(run(""));
    EXPECT_NE(output.find("[ERROR] Connect string must be of the form user/password@service : "),
              std::string::npos)
        << output;
    EXPECT_EQ(g_args["interactive"], "yes");  // the driver still pauses before exiting

    g_args.clear();
    EXPECT_FALSE(run("gisrw@pdb1\nroads\n\n\n\n"));
    EXPECT_FALSE(g_error.empty());
}

TEST_F(InteractiveTest, PromptsShownWhenSilentAndPasswordNeverLogged) {
    g_log_level = LOG_SILENT;
    ASSERT_TRUE(run("gisrw/amber@pdb1\nRoads\n\n\n\n"));
    EXPECT_NE(output.find("TARVEX.  1.3.0\nInteractive mode.\n"), std::string::npos);
    EXPECT_NE(output.find("Output file name, without extension [Roads(.shp)] : "),
              std::string::npos);

    g_log_level = LOG_DEBUG;
    g_args.clear();
    ASSERT_TRUE(run("gisrw/s3cr3t@pdb1\nRoads\n\n\n\n"));
    EXPECT_EQ(output.find("s3cr3t"), std::string::npos);
}

TEST_F(InteractiveTest, NoArgumentsRunThePromptsWithoutValidation) {
    std::istringstream in("gisrw/amber@pdb1\n\n\n\n\n");
    std::ostringstream out;
    std::streambuf* oldIn = std::cin.rdbuf(in.rdbuf());
    std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
    char program[] = "tarvex";
    char* argv[] = {program, nullptr};
    bool result = parseArgs(1, argv, g_args);
    std::cin.rdbuf(oldIn);
    std::cout.rdbuf(oldOut);
    std::cin.clear();
    EXPECT_TRUE(result);
    EXPECT_EQ(out.str().find("Insufficient"), std::string::npos);
    EXPECT_EQ(g_args["interactive"], "yes");
}

}  // namespace
