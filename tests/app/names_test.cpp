// Output names taken from the database, and the LONG / RAW query rewrite.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/export.h"

TEST(SafeFileNamePart, ReplacesPathSeparatorsControlCharactersAndLeadingDots) {
    EXPECT_EQ(safeFileNamePart("roads"), "roads");
    EXPECT_EQ(safeFileNamePart("a/b"), "a_b");
    EXPECT_EQ(safeFileNamePart("../../etc/passwd"), "___.._etc_passwd");
    EXPECT_EQ(safeFileNamePart("..."), "___");
    EXPECT_EQ(safeFileNamePart(".hidden.name"), "_hidden.name");
    EXPECT_EQ(safeFileNamePart("back\\slash"), "back_slash");
    EXPECT_EQ(safeFileNamePart(std::string("nul\0byte", 8)), "nul_byte");
    EXPECT_EQ(safeFileNamePart("tab\there\nnl\x7f"), "tab_here_nl_");
    // Dots inside the name, blanks, "$", "#" and UTF-8 text are kept.
    EXPECT_EQ(safeFileNamePart("my table.v2$#"), "my table.v2$#");
    EXPECT_EQ(safeFileNamePart("stra\xc3\x9f" "en"), "stra\xc3\x9f" "en");
    EXPECT_EQ(safeFileNamePart(""), "_");
}

TEST(UniqueOutputName, LowerCasesAndKeepsEveryNameOfOneRunDistinct) {
    std::set<std::string> used;
    EXPECT_EQ(uniqueOutputName("ROADS", "GEOM", used), "roads");
    EXPECT_EQ(uniqueOutputName("CITIES", "GEOM", used), "cities");
    // Second geometry column of ROADS, then a table differing only in case.
    EXPECT_EQ(uniqueOutputName("ROADS", "CENTRELINE", used), "roads_centreline");
    EXPECT_EQ(uniqueOutputName("Roads", "CENTRELINE", used), "roads_centreline_2");
    EXPECT_EQ(uniqueOutputName("roads", "CENTRELINE", used), "roads_centreline_3");
    // Replaced characters can collide too; the column part is made safe.
    EXPECT_EQ(uniqueOutputName("A/B", "G", used), "a_b");
    EXPECT_EQ(uniqueOutputName("A_B", "X/Y", used), "a_b_x_y");
    EXPECT_EQ(uniqueOutputName("../UP", "G", used), "___up");
    EXPECT_EQ(used.size(), 8u);
}

TEST(RewriteSelectStar, ReplacesTheStarOfBothBuiltFormsOnly) {
    std::string out = "untouched";
    ASSERT_TRUE(rewriteSelectStar("SELECT * FROM ROADS", "ID,GEOM", out));
    EXPECT_EQ(out, "SELECT ID,GEOM FROM ROADS");
    ASSERT_TRUE(rewriteSelectStar("select * from DEMO.ROADS where id > 3", "ID,GEOM", out));
    EXPECT_EQ(out, "select ID,GEOM from DEMO.ROADS where id > 3");

    out = "untouched";
    EXPECT_FALSE(rewriteSelectStar("Select * from roads", "ID,GEOM", out));
    EXPECT_FALSE(rewriteSelectStar("select  * from roads", "ID,GEOM", out));
    EXPECT_FALSE(rewriteSelectStar("select id, geom from roads", "ID,GEOM", out));
    EXPECT_FALSE(rewriteSelectStar(" select * from roads", "ID,GEOM", out));
    EXPECT_FALSE(rewriteSelectStar("select", "ID,GEOM", out));
    EXPECT_EQ(out, "untouched");
}

TEST(SelectListName, QuotesOnlyNamesThatAreNotOrdinaryIdentifiers) {
    EXPECT_EQ(selectListName("GEOM"), "GEOM");
    EXPECT_EQ(selectListName("ROAD_NO2$#"), "ROAD_NO2$#");
    EXPECT_EQ(selectListName("MixedCase"), "\"MixedCase\"");
    EXPECT_EQ(selectListName("2ND"), "\"2ND\"");
    EXPECT_EQ(selectListName("WITH SPACE"), "\"WITH SPACE\"");
    EXPECT_EQ(selectListName("SAY\"HI"), "\"SAY\"\"HI\"");
}

TEST(SkippedColumnTypes, AreLongRawLongRawAndLongVarraw) {
    for (int code : {8, 23, 24, 95}) EXPECT_TRUE(isSkippedColumnType(code)) << code;
    for (int code : {1, 2, 3, 12, 96, 108, 112, 113, 187, 188}) EXPECT_FALSE(isSkippedColumnType(code)) << code;
}

// One trailing ";" goes, with the blanks and comments after it; a ";" in a
// literal, a quoted name or a comment is the query's own.
TEST(FreeQueryText, DropsOneTrailingSemicolonOutsideQuotesAndComments) {
    EXPECT_EQ(freeQueryText("select * from t;"), "select * from t");
    EXPECT_EQ(freeQueryText("select * from t ; -- all\n  /* rows */ \n"), "select * from t ");
    EXPECT_EQ(freeQueryText("select * from t -- why;"), "select * from t -- why;");
    EXPECT_EQ(freeQueryText("select 'a;' x from t"), "select 'a;' x from t");
    EXPECT_EQ(freeQueryText("select 'it''s;' x from \"T;\";"), "select 'it''s;' x from \"T;\"");
    EXPECT_EQ(freeQueryText("select ';"), "select ';");  // unterminated: left to the database
    EXPECT_EQ(freeQueryText("select 1 from dual;;"), "select 1 from dual;");
}

// Oracle's q'X...X' literals hold quotes and ";": each delimiter, the
// national form, a UTF-8 delimiter, and a q'...' that is no literal.
TEST(FreeQueryText, KnowsQQuotedLiterals) {
    const char* const cases[][2] = {
        {"select q'[it's; ok]' x from t;", "select q'[it's; ok]' x from t"},
        {"select q'{a'}' x, Q'<b'>' y, q'(c')' z from t; -- all", "select q'{a'}' x, Q'<b'>' y, q'(c')' z from t"},
        {"select q'!it's;!' x from t ;", "select q'!it's;!' x from t "},
        {"select nq'#n'#' x from t;", "select nq'#n'#' x from t"},
        {"select q'\xc2\xa7it's\xc2\xa7' x from t;", "select q'\xc2\xa7it's\xc2\xa7' x from t"},
        {"select q'[a]'';'", "select q'[a]'';'"},   // the ';' is in the literal after it
        {"select aq'[b']' x;", "select aq'[b']' x;"},  // no q-quote inside a name: the last ' opens one
        {"select q'[it's;", "select q'[it's;"},     // unterminated: left to the database
    };
    for (const auto& c : cases) EXPECT_EQ(freeQueryText(c[0]), c[1]) << c[0];
}
