// Field widths for dates formatted with a datetime format model.
#include <gtest/gtest.h>

#include "shape/date_width.h"

TEST(DateFormatWidth, EachElementAtItsWidest) {
    EXPECT_EQ(tvDateFormatWidth("YYYY-MM-DD HH24:MI:SS"), 19);
    EXPECT_EQ(tvDateFormatWidth("dd/mm/yyyy hh:mi:ss"), 19);
    EXPECT_EQ(tvDateFormatWidth("dd month yyyy"), 17);
    EXPECT_EQ(tvDateFormatWidth("Day dd Month yyyy"), 27);
    EXPECT_EQ(tvDateFormatWidth("Day dd Mon"), 16);
    EXPECT_EQ(tvDateFormatWidth("DY, DD-MON-YY"), 14);
    EXPECT_EQ(tvDateFormatWidth("HH12:MI AM"), 8);
    EXPECT_EQ(tvDateFormatWidth("HH:MI A.M."), 10);
    EXPECT_EQ(tvDateFormatWidth("HH24:MI:SS.FF"), 18);
    EXPECT_EQ(tvDateFormatWidth("HH24:MI:SS.FF3"), 12);
    EXPECT_EQ(tvDateFormatWidth("YYYYMMDD"), 8);
    EXPECT_EQ(tvDateFormatWidth("SSSSS"), 5);
    EXPECT_EQ(tvDateFormatWidth("TZH:TZM"), 6);
    EXPECT_EQ(tvDateFormatWidth("Q WW J RM"), 17);
}

TEST(DateFormatWidth, ModifiersSuffixesAndLiterals) {
    EXPECT_EQ(tvDateFormatWidth("FMMonth DD"), 12);
    EXPECT_EQ(tvDateFormatWidth("DDTH \"of\" Month"), 4 + 1 + 2 + 1 + 9);
    EXPECT_EQ(tvDateFormatWidth("DDSPTH"), 42);
    EXPECT_EQ(tvDateFormatWidth("\"quarter \"Q"), 9);
    EXPECT_EQ(tvDateFormatWidth("\"unterminated"), 12);
    EXPECT_EQ(tvDateFormatWidth(""), 0);
    EXPECT_EQ(tvDateFormatWidth("---"), 3);
}
