// Identifiers as they go into SQL text.
#include "oracle/identifier.h"

#include <gtest/gtest.h>

TEST(IdentifierTest, NamesBecomeOneQuotedIdentifierWhateverTheyHold) {
    EXPECT_EQ(quoteIdentifier("CITIES"), "\"CITIES\"");
    EXPECT_EQ(quoteIdentifier("X Y"), "\"X Y\"");
    EXPECT_EQ(quoteIdentifier("A\"B"), "\"A\"\"B\"");
    EXPECT_EQ(quoteIdentifier("OK\" UNION ALL SELECT 1 FROM T --"), "\"OK\"\" UNION ALL SELECT 1 FROM T --\"");
    EXPECT_EQ(qualifiedTableName("", "T"), "\"T\"");
    EXPECT_EQ(qualifiedTableName("GIS", "T.U"), "\"GIS\".\"T.U\"");

    // What the command line gives, read back to the name it stands for.
    std::string name = "unchanged";
    EXPECT_TRUE(readIdentifierArgument("roads_2$#", name));
    EXPECT_EQ(name, "ROADS_2$#");
    EXPECT_TRUE(readIdentifierArgument("\"A\"\"b c\"", name));
    EXPECT_EQ(name, "A\"b c");
    EXPECT_TRUE(readIdentifierArgument(std::string(128, 'a'), name));
    name = "unchanged";
    for (const std::string& bad : {std::string(129, 'a'), std::string("\"a\0b\"", 5), std::string("\"")}) {
        EXPECT_FALSE(readIdentifierArgument(bad, name)) << bad;
    }
    EXPECT_EQ(name, "unchanged");
}
