// Command-line parsing, validation, implied output name and usage notes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "diag/log.h"
#include "settings/settings.h"

namespace {

class CoutCapture {
public:
    CoutCapture() : _old(std::cout.rdbuf(_buffer.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(_old); }
    std::string text() const { return _buffer.str(); }

private:
    std::ostringstream _buffer;
    std::streambuf* _old;
};

// An argument vector as main receives it, entry 0 the program name.
class Args {
public:
    Args(std::initializer_list<const char*> p_args) : _texts(p_args.begin(), p_args.end()) {
        _texts.insert(_texts.begin(), "tarvex");
        for (std::string& text : _texts) _pointers.push_back(&text[0]);
        _pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(_texts.size()); }
    char** argv() { return _pointers.data(); }

private:
    std::vector<std::string> _texts;
    std::vector<char*> _pointers;
};

std::vector<std::string> lines(const std::string& p_text) {
    std::vector<std::string> result;
    std::istringstream in(p_text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

bool hasLine(const std::string& p_text, const std::string& p_line) {
    for (const std::string& line : lines(p_text)) {
        if (line == p_line) return true;
    }
    return false;
}

class ParseArgsTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_args.clear();
        g_shp_null_vertex = 1e-306;
        g_error.clear();
        g_log_level = LOG_DEBUG;
    }
    void TearDown() override {
        g_args.clear();
        g_shp_null_vertex = 1e-306;
        g_log_level = LOG_BASIC;
    }

    // Runs parseArgs on g_args and keeps what it printed.
    bool parse(Args p_args) {
        CoutCapture capture;
        bool result = parseArgs(p_args.argc(), p_args.argv(), g_args);
        output = capture.text();
        return result;
    }

    std::string arg(const std::string& p_key) {
        auto it = g_args.find(p_key);
        return it == g_args.end() ? std::string() : it->second;
    }

    std::string output;
};

TEST_F(ParseArgsTest, TableOptionInCapitalsWithImpliedOutputName) {
    ASSERT_TRUE(parse({"scott/tiger@orcl", "-T", "Cities"}));
    EXPECT_EQ(arg("connect_string"), "orcl");
    EXPECT_EQ(arg("username"), "scott");
    EXPECT_EQ(arg("password"), "tiger");
    EXPECT_EQ(arg("table"), "CITIES");
    EXPECT_EQ(arg("shapefile"), "cities");
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::table assigned value : CITIES"));
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::shapefile (implied) : cities"));

    g_args.clear();
    ASSERT_TRUE(parse({"scott/tiger@orcl", "--TABLE", "roads", "--Schema", "gis", "-G", "shape"}));
    EXPECT_EQ(arg("table"), "ROADS");
    EXPECT_EQ(arg("owner"), "GIS");
    EXPECT_EQ(arg("geom_column"), "SHAPE");
}

TEST_F(ParseArgsTest, FreeQueryNeedsGeometryColumnAndOutput) {
    const char* query = "select Name, Geom from cities where pop > 5";
    ASSERT_TRUE(parse({"u/p@s", "-q", query, "-g", "geom", "-o", "Out"}));
    EXPECT_EQ(arg("sql"), query);
    EXPECT_EQ(arg("geom_column"), "GEOM");
    EXPECT_EQ(arg("shapefile"), "Out");
    EXPECT_EQ(arg("table"), "");

    const std::string refused =
        "[ERROR] Insufficient arguments supplied.\n"
        "[ERROR] Must supply at minimum -t, or -q with -g and -o\n";
    g_args.clear();
    EXPECT_FALSE(parse({"u/p@s", "-q", query, "-o", "out"}));
    EXPECT_NE(output.find(refused), std::string::npos) << output;
    EXPECT_EQ(g_error, "Must supply at minimum -t, or -q with -g and -o ");

    g_args.clear();
    EXPECT_FALSE(parse({"u/p@s", "-q", query, "-g", "geom"}));
    EXPECT_NE(output.find(refused), std::string::npos) << output;

    g_args.clear();
    EXPECT_FALSE(parse({"u/p@s", "-p"}));
    EXPECT_NE(output.find(refused), std::string::npos) << output;
}

TEST_F(ParseArgsTest, ValueOptionGivenLast) {
    EXPECT_FALSE(parse({"u/p@s", "-t", "cities", "-O"}));
    EXPECT_TRUE(hasLine(output, "[ERROR] Error extracting argument value for : -O")) << output;
    EXPECT_EQ(output.find("Insufficient"), std::string::npos);
    // The output name is still implied before returning.
    EXPECT_EQ(arg("shapefile"), "cities");
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::shapefile (implied) : cities"));
}

TEST_F(ParseArgsTest, ValueIsTakenEvenWhenItLooksLikeAnOption) {
    ASSERT_TRUE(parse({"u/p@s", "-q", "select 1", "-g", "-o", "-o", "-t"}));
    EXPECT_EQ(arg("geom_column"), "-O");
    EXPECT_EQ(arg("shapefile"), "-t");
    // A table name is checked: "-o" is not a name.
    EXPECT_FALSE(parse({"u/p@s", "-t", "-o", "x"}));
}

TEST_F(ParseArgsTest, AllTablesWithAndWithoutOutputDirectory) {
    ASSERT_TRUE(parse({"u/p@s", "-o", "/tmp/", "-t", "*"}));
    EXPECT_EQ(arg("table"), "*");
    EXPECT_EQ(arg("shapefile"), "/tmp/");

    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "*"}));
    EXPECT_EQ(arg("shapefile"), "*");
}

TEST_F(ParseArgsTest, SwitchesForceTypeAndDateFormat) {
    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "-p", "-x", "-i", "-n", "-r", "-f", "15", "-d",
                       "DD.MM.YYYY"}));
    for (const char* key : {"output_proj", "output_timings", "ignore", "nofree",
                            "inner_ring_check"}) {
        EXPECT_EQ(arg(key), "yes") << key;
    }
    EXPECT_EQ(arg("forcetype"), "15");
    EXPECT_EQ(arg("date_fmt"), "DD.MM.YYYY");
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::output_proj assigned value : yes"));
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::inner_ring_check assigned value : yes"));
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::output_timings assigned value : yes"));
    EXPECT_TRUE(hasLine(output, "[DEBUG] parseArgs::ignore assigned value : yes"));
    EXPECT_TRUE(hasLine(output, "[DEBUG] parseArgs::nofree assigned value : yes"));

    // Long forms.
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "--proj", "--timings", "--ignore", "--nofree",
                       "--innerring", "--forcetype", "31"}));
    EXPECT_EQ(arg("output_proj"), "yes");
    EXPECT_EQ(arg("nofree"), "yes");
    EXPECT_EQ(arg("inner_ring_check"), "yes");
    EXPECT_EQ(arg("forcetype"), "31");
}

TEST_F(ParseArgsTest, JobsFromOneToSixtyFourAndProgressInTheLongFormOnly) {
    ASSERT_TRUE(parse({"u/p@s", "-t", "*", "-J", "4", "--PROGRESS"}));
    EXPECT_EQ(arg("jobs"), "4");
    EXPECT_EQ(arg("progress"), "yes");
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::jobs assigned value : 4"));
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::progress assigned value : yes"));

    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "*", "--jobs", "64"}));
    EXPECT_EQ(arg("jobs"), "64");
    EXPECT_EQ(arg("progress"), "");

    // Every other count is an argument error naming the value.
    for (const char* bad : {"0", "65", "-1", "2x", "", " 2", "1.5", "100", "+2"}) {
        g_args.clear();
        g_error.clear();
        EXPECT_FALSE(parse({"u/p@s", "-t", "*", "-j", bad})) << bad;
        EXPECT_TRUE(hasLine(output, std::string("[ERROR] Jobs must be a whole number from 1 to 64 : ") + bad))
            << bad << "\n" << output;
    }
    g_args.clear();
    EXPECT_FALSE(parse({"u/p@s", "-t", "*", "-j"}));
    EXPECT_TRUE(hasLine(output, "[ERROR] Error extracting argument value for : -j")) << output;

    // No short form of --progress: "-progress" is an unknown word, ignored.
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "-progress"}));
    EXPECT_EQ(arg("progress"), "");

    EXPECT_EQ(parseJobCount("1"), 1);
    EXPECT_EQ(parseJobCount("01"), 1);
    EXPECT_EQ(parseJobCount("64"), 64);
    EXPECT_EQ(parseJobCount("65"), 0);
}

TEST_F(ParseArgsTest, EsriProjectionSwitch) {
    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "-p", "-E"}));
    EXPECT_EQ(arg("esri_prj"), "yes");
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::esri_prj assigned value : yes"));
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "--esriprj"}));
    EXPECT_EQ(arg("esri_prj"), "yes");
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "-p"}));
    EXPECT_EQ(arg("esri_prj"), "");
}

TEST_F(ParseArgsTest, SwitchesApplyAfterAFailedParse) {
    // A refused connect string stops value options from being read, but the
    // switches still apply.
    EXPECT_FALSE(parse({"scott@orcl", "-t", "cities", "-p", "-i"}));
    EXPECT_EQ(arg("table"), "");
    EXPECT_EQ(arg("output_proj"), "yes");
    EXPECT_EQ(arg("ignore"), "yes");
    EXPECT_EQ(output.find("Insufficient"), std::string::npos);
}

TEST_F(ParseArgsTest, MNullValue) {
    ASSERT_TRUE(parse({"u/p@s", "-t", "c"}));
    EXPECT_EQ(g_shp_null_vertex, 1e-306);

    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "-m", "0"}));
    EXPECT_EQ(g_shp_null_vertex, 0.0);
    EXPECT_EQ(arg("mnull"), "0");
    EXPECT_TRUE(hasLine(output, "[DEBUG] parseArgs::mnull assigned value : 0"));

    ASSERT_TRUE(parse({"u/p@s", "-t", "c", "--MNULL", "-2.5e3"}));
    EXPECT_EQ(g_shp_null_vertex, -2500.0);
    EXPECT_EQ(arg("mnull"), "-2.5e3");

    // The whole text must be one finite number; anything else is refused
    // with a line naming the option and the value.
    for (const char* bad : {"-2.5e3xyz", "none", "abc", "", " 1", "1 ", "nan", "inf", "-Infinity", "1e999"}) {
        g_shp_null_vertex = 1e-306;
        EXPECT_FALSE(parse({"u/p@s", "-t", "c", "-m", bad})) << bad;
        EXPECT_EQ(g_shp_null_vertex, 1e-306) << bad;
        EXPECT_TRUE(hasLine(output, std::string("[ERROR] Value of -m must be a finite number : ") + bad))
            << output;
    }

    g_shp_null_vertex = 1e-306;
    EXPECT_FALSE(parse({"u/p@s", "-t", "c", "-m"}));
    EXPECT_EQ(g_shp_null_vertex, 1e-306);
}

TEST_F(ParseArgsTest, ArcLimitIsDegreesAboveZeroUpToNinety) {
    for (const char* good : {"1", "90", "0.5", "1e1", "+45"}) {
        g_args.clear();
        EXPECT_TRUE(parse({"u/p@s", "-t", "c", "--ARCS", good})) << good << output;
        EXPECT_EQ(arg("arcs"), good);
    }
    for (const char* bad : {"0", "-1", "90.5", "abc", "10deg", "", "nan", "inf", "1e400"}) {
        g_args.clear();
        EXPECT_FALSE(parse({"u/p@s", "-t", "c", "-a", bad})) << bad;
        EXPECT_TRUE(hasLine(output, std::string("[ERROR] Arc limit must be a number of degrees above 0 and "
                                                "at most 90 : ") + bad))
            << output;
    }
    g_args.clear();
    EXPECT_FALSE(parse({"u/p@s", "-t", "c", "-a"}));
}

TEST_F(ParseArgsTest, UnknownOptionsAndRepeatedOptions) {
    g_log_level = LOG_BASIC;
    ASSERT_TRUE(parse({"u/p@s", "-z", "--Ouput", "stray", "-t", "first", "-t", "second"}));
    // Still ignored, but each named in a warning.
    EXPECT_EQ(output,
              "[WARNING] Unknown option ignored : -z\n"
              "[WARNING] Unknown option ignored : --Ouput\n"
              "[WARNING] Unexpected argument ignored : stray\n");
    EXPECT_EQ(arg("table"), "SECOND");
    EXPECT_EQ(arg("shapefile"), "second");
    EXPECT_EQ(g_args.count("-z"), 0u);
}

TEST_F(ParseArgsTest, EsriDialectWithoutProjectionFileIsWarnedAbout) {
    g_log_level = LOG_BASIC;
    ASSERT_TRUE(parse({"u/p@s", "-t", "cities", "-e"}));
    EXPECT_EQ(output, "[WARNING] -e has no effect without -p : no .prj is written\n");
    output.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "cities", "-e", "-p"}));
    EXPECT_EQ(output, "");
}

TEST_F(ParseArgsTest, FreeQueryBesideEveryTableIsWarnedAbout) {
    g_log_level = LOG_BASIC;
    ASSERT_TRUE(parse({"u/p@s", "-q", "select * from roads", "-g", "geom", "-t", "*", "-o", "out/"}));
    EXPECT_EQ(output, "[WARNING] -q has no effect with -t \"*\" : every table of the spatial metadata is exported\n");
    output.clear();
    ASSERT_TRUE(parse({"u/p@s", "-q", "select * from roads", "-g", "geom", "-t", "roads", "-o", "out/"}));
    EXPECT_EQ(output, "");
}

TEST_F(ParseArgsTest, SilentLevelPrintsNothingForARefusedCommandLine) {
    g_log_level = LOG_SILENT;
    Args args{"u/p@s", "-q", "select * from x"};
    CoutCapture capture;
    EXPECT_FALSE(parseArgs(args.argc(), args.argv(), g_args));
    Usage("tarvex");
    EXPECT_EQ(capture.text(), "");
    EXPECT_EQ(g_error, "Must supply at minimum -t, or -q with -g and -o ");
}

TEST_F(ParseArgsTest, PasswordNeverReachesTheLog) {
    const char* secret = "s3cr/et";
    std::string connect = std::string("scott/") + secret + "@//db.example:1521/pdb1";
    ASSERT_TRUE(parse({connect.c_str(), "-t", "c"}));
    EXPECT_EQ(arg("password"), secret);
    EXPECT_EQ(output.find("s3cr"), std::string::npos) << output;
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::pwd : <password>"));
    EXPECT_TRUE(hasLine(output,
                        "[DEBUG] parseArgs::full_connect_string : "
                        "scott/<password>@//db.example:1521/pdb1"));
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::connect_string : //db.example:1521/pdb1"));
    EXPECT_TRUE(hasLine(output, "[DETAILED] parseArgs::user : scott"));

    // Leading "@" and "/" characters, and refused strings, hide it as well.
    for (const char* text : {"@@scott/s3cr@svc", "//scott/s3cr", "/s3cr@svc", "scott/s3cr/"}) {
        g_args.clear();
        parse({text, "-t", "c"});
        EXPECT_EQ(output.find("s3cr"), std::string::npos) << text << "\n" << output;
        EXPECT_EQ(g_error.find("s3cr"), std::string::npos) << text;
    }
}

TEST_F(ParseArgsTest, UnsplittableConnectStringIsRefused) {
    for (const char* text : {"", "@", "@@@", "scott", "scott@orcl", "scott/@orcl", "/@orcl", "/",
                             "-t"}) {
        g_args.clear();
        EXPECT_FALSE(parse({text, "-t", "cities"})) << text;
        EXPECT_NE(output.find("[ERROR] Connect string must be of the form user/password@service : "),
                  std::string::npos)
            << text << "\n" << output;
    }
    // Long strings are fine: nothing is held in a fixed-size buffer.
    std::string longPassword(400, 'p');
    std::string longService(300, 's');
    std::string connect = "scott/" + longPassword + "@" + longService;
    g_args.clear();
    ASSERT_TRUE(parse({connect.c_str(), "-t", "c"}));
    EXPECT_EQ(arg("password"), longPassword);
    EXPECT_EQ(arg("connect_string"), longService);
    // No service: the client's default database.
    g_args.clear();
    ASSERT_TRUE(parse({"scott/tiger", "-t", "c"}));
    EXPECT_EQ(arg("connect_string"), "");
    EXPECT_EQ(arg("password"), "tiger");
}

TEST_F(ParseArgsTest, GetArg) {
    g_args["table"] = "Cities";
    EXPECT_EQ(getArg(g_args, "table", "x", false), "Cities");
    EXPECT_EQ(getArg(g_args, "table", "x", true), "CITIES");
    EXPECT_EQ(getArg(g_args, "geom_column", "geom", true), "geom");
    g_args["owner"] = "";
    EXPECT_EQ(getArg(g_args, "owner", "Default", true), "Default");
}

TEST(UsageTest, OptionListThenTheExamplesWithTheProgramName) {
    g_log_level = LOG_BASIC;
    CoutCapture capture;
    Usage("./bin/tarvex");
    std::string text = capture.text();
    g_log_level = LOG_BASIC;
    std::vector<std::string> got = lines(text);
    ASSERT_GE(got.size(), 24u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(got[0], "");
    EXPECT_EQ(got[1], "TARVEX.  1.3.0");
    EXPECT_EQ(got[3], "   ./bin/tarvex <connect string> [options]");
    EXPECT_EQ(got[4], "");
    EXPECT_EQ(got[14], "                   default is \"dd/mm/yyyy hh:mi:ss\"");
    EXPECT_EQ(got[16], "  -m --mnull     : value to use when M dimension is NULL (default is 10e-307)");
    EXPECT_EQ(got[17], "  -r --innerring : check for inner-rings inside polygons (requires use of -t and -s)");
    EXPECT_EQ(got[18], "  -a --arcs      : convert arcs, circles and rectangles, each segment spanning at most "
                       "DEGREES (0 < DEGREES <= 90)");
    // Options added later follow -r, one line each, then the examples.
    size_t examples = got.size() - 5;
    EXPECT_EQ(got[examples - 1], "");
    EXPECT_EQ(got[examples], "e.g");
    EXPECT_EQ(got.back(), " tarvex gisrw/amber@pdb1 -t cities -d \"dd/mm/yyyy hh:mi:ss\"");
    for (size_t i = 18; i + 1 < examples; ++i) {
        // A short and a long form, or a long form only, in the same column.
        EXPECT_TRUE(got[i].compare(0, 3, "  -") == 0 || got[i].compare(0, 7, "     --") == 0) << got[i];
        EXPECT_EQ(got[i].find(" : "), 16u) << got[i];
    }
    // The parallel exports and the progress display, last of the list.
    EXPECT_EQ(got[examples - 3],
              "  -j --jobs      : with -t '*', run up to N exports at once; with -t TABLE, read it over N connections "
              "(1 to 64, default 1)");
    EXPECT_EQ(got[examples - 2],
              "     --progress  : show rows written, rows per second and elapsed time of each export");
    EXPECT_TRUE(hasLine(text, "  -h --help      : print these notes (alone on the command line)"));
    EXPECT_EQ(text.find("-f "), std::string::npos);
    EXPECT_EQ(text.find("-n "), std::string::npos);
    EXPECT_EQ(text.find('['), text.find("[options]"));  // no level tag
}

TEST(UsageTest, SilentUnlessAskedFor) {
    g_log_level = LOG_SILENT;
    std::string quiet;
    std::string asked;
    {
        CoutCapture capture;
        Usage("tarvex");
        quiet = capture.text();
    }
    {
        CoutCapture capture;
        Usage("tarvex", true);
        asked = capture.text();
    }
    g_log_level = LOG_BASIC;
    EXPECT_EQ(quiet, "");
    EXPECT_TRUE(hasLine(asked, "Usage notes : ")) << asked;
}

TEST(InfoRequestTest, OnlyAsTheOneArgument) {
    for (const char* word : {"-h", "--help", "-H", "--HELP"}) {
        Args args({word});
        EXPECT_EQ(infoRequest(args.argc(), args.argv()), INFO_HELP) << word;
    }
    for (const char* word : {"-V", "-v", "--version", "--Version"}) {
        Args args({word});
        EXPECT_EQ(infoRequest(args.argc(), args.argv()), INFO_VERSION) << word;
    }
    for (const char* word : {"x", "help", "--helpme", "-hv", ""}) {
        Args args({word});
        EXPECT_EQ(infoRequest(args.argc(), args.argv()), INFO_NONE) << word;
    }
    Args withMore({"--help", "-t", "roads"});
    EXPECT_EQ(infoRequest(withMore.argc(), withMore.argv()), INFO_NONE);
    EXPECT_EQ(infoRequest(1, withMore.argv()), INFO_NONE);
}

}  // namespace

TEST_F(ParseArgsTest, ForceTypeAcceptsOnlyKnownShapeTypes) {
    for (const char* good : {"1", "3", "5", "8", "11", "13", "15", "18", "21", "23", "25", "28", "31"}) {
        g_args.clear();
        EXPECT_TRUE(parse({"u/p@s", "-t", "c", "-f", good})) << good;
        EXPECT_EQ(arg("forcetype"), good);
    }
    for (const char* bad : {"junk", "0", "2", "99999", "-1", "1x", " 1", "", "0031", "+1"}) {
        g_args.clear();
        EXPECT_FALSE(parse({"u/p@s", "-t", "c", "-f", bad})) << bad;
        EXPECT_EQ(arg("forcetype"), "") << bad;
        EXPECT_NE(output.find(std::string("[ERROR] Value of -f must be a shape type number")), std::string::npos);
        EXPECT_NE(output.find(std::string(") : ") + bad + "\n"), std::string::npos) << output;
    }
}

TEST_F(ParseArgsTest, TableAndSchemaAreNamesNotSql) {
    ASSERT_TRUE(parse({"u/p@s", "-t", "cities", "-s", "gis_Owner$1"}));
    EXPECT_EQ(arg("table"), "CITIES");
    EXPECT_EQ(arg("owner"), "GIS_OWNER$1");

    // A quoted name is taken as written, quotes removed, doubled quotes
    // made single; the implied output name is made safe for a file.
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "\"X y\"", "-s", "\"a\"\"b\""}));
    EXPECT_EQ(arg("table"), "X y");
    EXPECT_EQ(arg("owner"), "a\"b");
    EXPECT_EQ(arg("shapefile"), "x y");
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "\"../a/b\""}));
    EXPECT_EQ(arg("table"), "../a/b");
    EXPECT_EQ(arg("shapefile"), "___a_b");

    for (const char* bad : {"CITIES WHERE 1=0 UNION SELECT * FROM CITIES", "x y", "a;b", "a.b", "1abc",
                            "\"\"", "\"a\"b\"", "\"open", "a--", "_x", ""}) {
        g_args.clear();
        EXPECT_FALSE(parse({"u/p@s", "-t", bad})) << bad;
        EXPECT_TRUE(hasLine(output, std::string("[ERROR] Table name must be a plain name or a name in double "
                                                "quotes, -t : ") + bad)) << output;
        g_args.clear();
        EXPECT_FALSE(parse({"u/p@s", "-t", "c", "-s", bad})) << bad;
        EXPECT_TRUE(hasLine(output, std::string("[ERROR] Schema name must be a plain name or a name in double "
                                                "quotes, -s : ") + bad)) << output;
    }
}

TEST_F(ParseArgsTest, OutputDirectoryGetsTheTableName) {
    ASSERT_TRUE(parse({"u/p@s", "-t", "Cities", "-o", "out/"}));
    EXPECT_EQ(arg("shapefile"), "out/cities");
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-q", "select 1", "-g", "g", "-t", "roads", "-o", "/tmp/x/"}));
    EXPECT_EQ(arg("shapefile"), "/tmp/x/roads");
    // "*" mode keeps the directory as the prefix of every set.
    g_args.clear();
    ASSERT_TRUE(parse({"u/p@s", "-t", "*", "-o", "out/"}));
    EXPECT_EQ(arg("shapefile"), "out/");
    // A free query alone has no name for the set.
    g_args.clear();
    EXPECT_FALSE(parse({"u/p@s", "-q", "select 1", "-g", "g", "-o", "out/"}));
    EXPECT_NE(output.find("[ERROR] Output names a directory; a free query needs an output file name, or -t "
                          "to name the set : out/"),
              std::string::npos)
        << output;
}

TEST(ArgumentCount, EveryOptionOnceFits) {
    // The program, the connect string, 10 value options with their values
    // and 7 switches.
    EXPECT_EQ(maxArgumentCount(), 2 + 10 * 2 + 7);
}
