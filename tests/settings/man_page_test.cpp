// The man page tarvex(1) lists the same options as the usage notes, plus the
// two the usage notes leave out on purpose (-f, -n).
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "diag/log.h"
#include "settings/settings.h"

namespace {

using OptionSet = std::set<std::string>;  // "-g --geom"

OptionSet usageOptions() {
    std::ostringstream buffer;
    std::streambuf* old = std::cout.rdbuf(buffer.rdbuf());
    Usage("tarvex", true);
    std::cout.rdbuf(old);
    OptionSet options;
    const std::regex line("^  (-[a-zA-Z]) (--[a-z]+) *: .*");
    std::istringstream in(buffer.str());
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line)) options.insert(match[1].str() + " " + match[2].str());
    }
    return options;
}

// The "*-g*, *--geom* ..." entries of the OPTIONS section of an scdoc source.
OptionSet manOptions(const std::string& p_path, std::string& p_text) {
    std::ifstream in(p_path);
    std::ostringstream all;
    all << in.rdbuf();
    p_text = all.str();
    OptionSet options;
    const std::regex entry("^\\*(-[a-zA-Z])\\*, \\*(--[a-z]+)\\*.*");
    std::istringstream lines(p_text);
    bool inOptions = false;
    for (std::string text; std::getline(lines, text);) {
        if (text.rfind("# ", 0) == 0) inOptions = text == "# OPTIONS";
        std::smatch match;
        if (inOptions && std::regex_match(text, match, entry)) {
            options.insert(match[1].str() + " " + match[2].str());
        }
    }
    return options;
}

}  // namespace

TEST(ManPage, OptionsMatchTheUsageNotes) {
    std::string text;
    OptionSet man = manOptions(TARVEX_SOURCE_DIR "/doc/tarvex.1.scd", text);
    ASSERT_FALSE(text.empty()) << "doc/tarvex.1.scd not found";
    OptionSet expected = usageOptions();
    ASSERT_GE(expected.size(), 10u);
    expected.insert("-f --forcetype");
    expected.insert("-n --nofree");
    EXPECT_EQ(man, expected);

    // Exit statuses, the environment and the embedded database are covered.
    for (const char* part : {"# EXIT STATUS", "\n*0*\n", "\n*1*\n", "\n*2*\n", "# ENVIRONMENT",
                             "*TARVEX_LOG_LEVEL*", "# FILES", "# EXAMPLES", "# EMBEDDED DATABASE"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part;
    }
}

TEST(ManPage, LoaderPageNamesItsSynopsis) {
    std::string text;
    manOptions(TARVEX_SOURCE_DIR "/doc/tarvex-sql.1.scd", text);
    ASSERT_FALSE(text.empty()) << "doc/tarvex-sql.1.scd not found";
    EXPECT_NE(text.find("*tarvex-sql* _database-directory_ [_script.sql_...]"), std::string::npos);
    EXPECT_NE(text.find("# EXIT STATUS"), std::string::npos);
}
