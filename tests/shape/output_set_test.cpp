// The output set's file lifecycle: temporaries, lock, commit, clean-up.
#include "shape/output_set.h"

#include <gtest/gtest.h>
#include <shapefil.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diag/log.h"
#include "shape/buffered_io.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& p_path) {
    std::ifstream in(p_path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& p_path, const std::string& p_text) {
    std::ofstream out(p_path, std::ios::binary);
    out << p_text;
}

// Writes p_text to p_path through the buffered hooks, as the writer does.
bool writeThroughHooks(const std::string& p_path, const std::string& p_text) {
    SAHooks hooks = tvBufferedHooks();
    SAFile file = hooks.FOpen(p_path.c_str(), "wb");
    if (file == nullptr) return false;
    std::string text = p_text;
    bool ok = hooks.FWrite(&text[0], 1, text.size(), file) == text.size();
    return hooks.FClose(file) == 0 && ok;
}

class OutputSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvex_outset_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        base_ = dir_ + "/set";
        g_log_level = LOG_SILENT;
        tvResetIOErrors();
    }
    void TearDown() override {
        tvSetActiveOutputSet(nullptr);
        g_log_level = LOG_BASIC;
        fs::remove_all(dir_);
    }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
    std::string base_;
};

TEST_F(OutputSetTest, CommitReplacesTheSetWholeAndRemovesStaleCompanions) {
    writeFile(base_ + ".shp", "old shp");
    writeFile(base_ + ".dbf", "old dbf");
    writeFile(base_ + ".prj", "old prj");
    writeFile(base_ + ".PRJ", "old PRJ");
    writeFile(base_ + ".qix", "old index");
    writeFile(dir_ + "/set_2.prj", "another set");
    writeFile(dir_ + "/set.txt", "not a companion");

    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    tvSetActiveOutputSet(&set);
    ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "new shp"));
    ASSERT_TRUE(writeThroughHooks(base_ + ".dbf", "new dbf"));
    ASSERT_TRUE(writeThroughHooks(base_ + ".shx", "new shx"));
    // Until the commit the previous set is untouched.
    EXPECT_EQ(readFile(base_ + ".shp"), "old shp");
    EXPECT_EQ(readFile(base_ + ".dbf"), "old dbf");
    EXPECT_FALSE(fs::exists(base_ + ".shx"));
    // Files of other names are not part of the set.
    EXPECT_FALSE(set.owns(dir_ + "/set_2.prj"));
    EXPECT_FALSE(set.owns(base_ + ".txt"));
    EXPECT_TRUE(set.owns(base_ + ".SHP"));

    ASSERT_TRUE(set.commit());
    tvSetActiveOutputSet(nullptr);
    EXPECT_EQ(readFile(base_ + ".shp"), "new shp");
    EXPECT_EQ(readFile(base_ + ".dbf"), "new dbf");
    EXPECT_EQ(readFile(base_ + ".shx"), "new shx");
    EXPECT_EQ(entries(), (std::vector<std::string>{"set.dbf", "set.shp", "set.shx", "set.txt", "set_2.prj"}));
    EXPECT_FALSE(tvIOFailed()) << tvLastIOError();
}

TEST_F(OutputSetTest, ASetOfANameOfTheSameLengthIsNotItsCompanion) {
    // "roads" and "peaks": only the name tells their files apart.
    const std::string roads = dir_ + "/roads";
    const std::string peaks = dir_ + "/peaks";
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix"}) writeFile(peaks + ext, "peaks");
    writeFile(roads + ".prj", "old roads prj");

    tvOutputSet set;
    ASSERT_TRUE(set.begin(roads));
    EXPECT_FALSE(set.owns(peaks + ".prj"));
    EXPECT_FALSE(set.owns(peaks + ".shp"));
    tvSetActiveOutputSet(&set);
    ASSERT_TRUE(writeThroughHooks(roads + ".shp", "new shp"));
    ASSERT_TRUE(set.commit());
    tvSetActiveOutputSet(nullptr);
    EXPECT_EQ(entries(), (std::vector<std::string>{"peaks.cpg", "peaks.dbf", "peaks.prj", "peaks.qix", "peaks.shp",
                                                   "peaks.shx", "roads.shp"}));
    EXPECT_EQ(readFile(peaks + ".prj"), "peaks");
}

TEST_F(OutputSetTest, ADirectoryAtAFinalNameRefusesTheSetBeforeAnyRename) {
    writeFile(base_ + ".shp", "old shp");
    writeFile(base_ + ".shx", "old shx");
    fs::create_directory(base_ + ".dbf");
    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    tvSetActiveOutputSet(&set);
    ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "new shp"));
    ASSERT_TRUE(writeThroughHooks(base_ + ".shx", "new shx"));
    ASSERT_TRUE(writeThroughHooks(base_ + ".dbf", "new dbf"));
    EXPECT_FALSE(set.commit());
    tvSetActiveOutputSet(nullptr);
    EXPECT_NE(getLastError().find(base_ + ".dbf (Is a directory)"), std::string::npos) << getLastError();
    // Nothing of the new set is in place, nothing of the old one is lost.
    EXPECT_EQ(readFile(base_ + ".shp"), "old shp");
    EXPECT_EQ(readFile(base_ + ".shx"), "old shx");
    EXPECT_EQ(entries(), (std::vector<std::string>{"set.dbf", "set.shp", "set.shx"}));
}

TEST_F(OutputSetTest, AStaleCompanionThatCannotBeRemovedRefusesTheSetBeforeAnyRename) {
    writeFile(base_ + ".shp", "old shp");
    writeFile(base_ + ".qix", "old index");
    fs::create_directory(base_ + ".prj");
    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    tvSetActiveOutputSet(&set);
    ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "new shp"));
    ASSERT_TRUE(writeThroughHooks(base_ + ".shx", "new shx"));
    EXPECT_FALSE(set.commit());
    tvSetActiveOutputSet(nullptr);
    EXPECT_NE(getLastError().find(base_ + ".prj (Is a directory)"), std::string::npos) << getLastError();
    // the companion moved aside before it came back, the previous set whole
    EXPECT_EQ(readFile(base_ + ".shp"), "old shp");
    EXPECT_EQ(readFile(base_ + ".qix"), "old index");
    EXPECT_EQ(entries(), (std::vector<std::string>{"set.prj", "set.qix", "set.shp"}));
}

TEST_F(OutputSetTest, HiddenNamesFitWheneverTheFinalNamesDo) {
    // NAME.shp is at most 255 bytes: names up to 251 bytes are sets
    const struct {
        size_t length;
        bool fits;
    } cases[] = {{200, true}, {231, true}, {251, true}, {252, false}};
    for (const auto& c : cases) {
        const std::string base = dir_ + "/" + std::string(c.length, 'n');
        tvOutputSet set;
        ASSERT_TRUE(set.begin(base)) << c.length;
        tvSetActiveOutputSet(&set);
        EXPECT_TRUE(writeThroughHooks(base + ".shp", "new shp")) << c.length;
        EXPECT_TRUE(writeThroughHooks(base + ".dbf", "new dbf")) << c.length;
        EXPECT_EQ(set.commit(), c.fits) << c.length;
        tvSetActiveOutputSet(nullptr);
        if (c.fits) {
            EXPECT_EQ(readFile(base + ".shp"), "new shp");
            EXPECT_EQ(readFile(base + ".dbf"), "new dbf");
            fs::remove(base + ".shp");
            fs::remove(base + ".dbf");
        } else {
            EXPECT_NE(getLastError().find("(File name too long)"), std::string::npos) << getLastError();
        }
        EXPECT_EQ(entries(), std::vector<std::string>{}) << c.length;  // no lock, no temporary
    }
}

// A rename that fails after others succeeded (here the .shp, renamed last)
// puts the files already renamed back: the previous set stays whole, a
// name it did not have is gone again, and no temporary is left.
int g_renames = 0;
int failShpRename(const char* p_from, const char* p_to) {
    ++g_renames;
    std::string to = p_to;
    if (to.size() > 4 && to.compare(to.size() - 4, 4, ".shp") == 0) {
        errno = EIO;
        return -1;
    }
    return ::rename(p_from, p_to);
}

TEST_F(OutputSetTest, ARenameFailingHalfWayPutsThePreviousSetBack) {
    writeFile(base_ + ".shp", "old shp");
    writeFile(base_ + ".dbf", "old dbf");
    writeFile(base_ + ".prj", "old prj");
    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    tvSetActiveOutputSet(&set);
    ASSERT_TRUE(writeThroughHooks(base_ + ".dbf", "new dbf"));
    ASSERT_TRUE(writeThroughHooks(base_ + ".shx", "new shx"));
    ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "new shp"));
    g_renames = 0;
    tvSetOutputRename(failShpRename);
    EXPECT_FALSE(set.commit());
    tvSetOutputRename(nullptr);
    tvSetActiveOutputSet(nullptr);
    EXPECT_EQ(g_renames, 3);
    EXPECT_NE(getLastError().find(base_ + ".shp (Input/output error)"), std::string::npos) << getLastError();
    EXPECT_EQ(readFile(base_ + ".shp"), "old shp");
    EXPECT_EQ(readFile(base_ + ".dbf"), "old dbf");
    EXPECT_EQ(readFile(base_ + ".prj"), "old prj");
    EXPECT_EQ(entries(), (std::vector<std::string>{"set.dbf", "set.prj", "set.shp"}));

    // and with the previous set kept aside, a later commit succeeds
    ASSERT_TRUE(set.begin(base_));
    tvSetActiveOutputSet(&set);
    ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "new shp"));
    EXPECT_TRUE(set.commit());
    tvSetActiveOutputSet(nullptr);
    EXPECT_EQ(entries(), (std::vector<std::string>{"set.shp"}));
}

// Sets committed together: the plain set's files move to the set of their
// kind, the previous plain set goes, a new kind's set appears; a rename
// failing in the last set puts every set back.
int failLineRename(const char* p_from, const char* p_to) {
    std::string to = p_to;
    if (to.find("set_line.shp") != std::string::npos) {
        errno = EIO;
        return -1;
    }
    return ::rename(p_from, p_to);
}

TEST_F(OutputSetTest, SetsCommittedTogetherAreAllInPlaceOrNoneIs) {
    for (bool fail : {true, false}) {
        writeFile(base_ + ".shp", "old plain");
        writeFile(base_ + ".dbf", "old plain dbf");
        writeFile(base_ + "_point.shp", "old points");
        tvOutputSet plain, points, lines;
        ASSERT_TRUE(plain.begin(base_));
        tvSetActiveOutputSet(&plain);
        ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "new points"));
        ASSERT_TRUE(points.begin(base_ + "_point"));
        points.adopt(plain);
        ASSERT_TRUE(lines.begin(base_ + "_line"));
        tvAddActiveOutputSet(&points);
        tvAddActiveOutputSet(&lines);
        ASSERT_TRUE(writeThroughHooks(base_ + "_line.shp", "new lines"));
        ASSERT_TRUE(writeThroughHooks(base_ + "_line.dbf", "new line dbf"));
        tvSetOutputRename(fail ? failLineRename : nullptr);
        EXPECT_EQ(tvCommitOutputSets({&plain, &points, &lines}), !fail);
        tvSetOutputRename(nullptr);
        tvSetActiveOutputSet(nullptr);
        if (fail) {
            EXPECT_EQ(readFile(base_ + ".shp"), "old plain");
            EXPECT_EQ(readFile(base_ + "_point.shp"), "old points");
            EXPECT_EQ(entries(), (std::vector<std::string>{"set.dbf", "set.shp", "set_point.shp"}));
        } else {
            EXPECT_EQ(readFile(base_ + "_point.shp"), "new points");
            EXPECT_EQ(readFile(base_ + "_line.shp"), "new lines");
            EXPECT_EQ(entries(), (std::vector<std::string>{"set_line.dbf", "set_line.shp", "set_point.shp"}));
        }
    }
}

TEST_F(OutputSetTest, AbandonLeavesThePreviousSetAndNoTemporaries) {
    writeFile(base_ + ".shp", "old shp");
    writeFile(base_ + ".prj", "old prj");
    {
        tvOutputSet set;
        ASSERT_TRUE(set.begin(base_));
        tvSetActiveOutputSet(&set);
        ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "half"));
        ASSERT_TRUE(writeThroughHooks(base_ + ".cpg", "UTF-8"));
        tvSetActiveOutputSet(nullptr);
        set.abandon();
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"set.prj", "set.shp"}));
    EXPECT_EQ(readFile(base_ + ".shp"), "old shp");

    // The destructor abandons a set that was never committed.
    {
        tvOutputSet set;
        ASSERT_TRUE(set.begin(base_));
        tvSetActiveOutputSet(&set);
        ASSERT_TRUE(writeThroughHooks(base_ + ".dbf", "half"));
    }
    EXPECT_EQ(tvActiveOutputSet(), nullptr);
    EXPECT_EQ(entries(), (std::vector<std::string>{"set.prj", "set.shp"}));
}

TEST_F(OutputSetTest, ReopenRemoveAndSignalTimeCleanUp) {
    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    tvSetActiveOutputSet(&set);
    // shapelib creates the .dbf, closes it and opens it again for update.
    ASSERT_TRUE(writeThroughHooks(base_ + ".dbf", "abc"));
    SAHooks hooks = tvBufferedHooks();
    SAFile file = hooks.FOpen((base_ + ".dbf").c_str(), "rb+");
    ASSERT_NE(file, nullptr);
    char got[4] = {0, 0, 0, 0};
    EXPECT_EQ(hooks.FRead(got, 1, 3, file), 3u);
    EXPECT_EQ(std::string(got), "abc");
    EXPECT_EQ(hooks.FClose(file), 0);
    // A file that was never written cannot be read.
    EXPECT_EQ(hooks.FOpen((base_ + ".shx").c_str(), "rb"), nullptr);
    tvResetIOErrors();

    // shapelib's Remove leaves the file out of the set.
    ASSERT_TRUE(writeThroughHooks(base_ + ".cpg", "UTF-8"));
    EXPECT_EQ(hooks.Remove((base_ + ".cpg").c_str()), 0);

    std::vector<std::string> during = entries();
    EXPECT_EQ(during.size(), 2u);  // the lock and the .dbf's temporary
    for (const std::string& name : during) EXPECT_EQ(name.compare(0, 12, ".set.tarvex-"), 0) << name;

    // What a stop signal's handler does: no temporary, no lock remains.
    tvRemoveOutputTemporariesNow();
    EXPECT_TRUE(entries().empty());
    tvSetActiveOutputSet(nullptr);
}

TEST_F(OutputSetTest, StaleTemporariesOfThisSetOnlyAreRemoved) {
    const std::vector<std::string> stale = {".set.tarvex-123-abc123.shp", ".set.tarvex-9-zzzzzz.DBF"};
    const std::vector<std::string> kept = {".set.tarvex-12x-abc123.shp", ".set.tarvex-1-abc.shp",
                                           ".set.tarvex-1-abcdef.txt", ".sets.tarvex-1-abcdef.shp",
                                           ".set.shp", "set.tarvex-1-abcdef.shp"};
    for (const std::string& name : stale) writeFile(dir_ + "/" + name, "x");
    for (const std::string& name : kept) writeFile(dir_ + "/" + name, "x");
    // A link with a temporary's name is removed, never followed.
    writeFile(dir_ + "/victim", "keep");
    ASSERT_EQ(symlink((dir_ + "/victim").c_str(), (dir_ + "/.set.tarvex-5-linked.shx").c_str()), 0);

    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    set.abandon();
    std::vector<std::string> expected = kept;
    expected.push_back("victim");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(), expected);
    EXPECT_EQ(readFile(dir_ + "/victim"), "keep");
}

TEST_F(OutputSetTest, LinksAtFinalNamesAreReplacedNotFollowed) {
    writeFile(dir_ + "/victim", "keep");
    ASSERT_EQ(symlink((dir_ + "/victim").c_str(), (base_ + ".shp").c_str()), 0);
    ASSERT_EQ(symlink((dir_ + "/victim").c_str(), (base_ + ".prj").c_str()), 0);
    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    tvSetActiveOutputSet(&set);
    ASSERT_TRUE(writeThroughHooks(base_ + ".shp", "new"));
    ASSERT_TRUE(set.commit());
    tvSetActiveOutputSet(nullptr);
    EXPECT_EQ(readFile(dir_ + "/victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(base_ + ".shp"));
    EXPECT_EQ(readFile(base_ + ".shp"), "new");
    EXPECT_FALSE(fs::exists(fs::symlink_status(base_ + ".prj")));
}

TEST_F(OutputSetTest, OneWriterPerSetAcrossProcesses) {
    tvOutputSet set;
    ASSERT_TRUE(set.begin(base_));
    // Another process: the same set is refused, another name in the same
    // directory is not.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        tvOutputSet same;
        tvOutputSet other;
        int code = (same.begin(base_) ? 1 : 0) + (other.begin(dir_ + "/other") ? 0 : 2);
        bool named = getLastError().find("process " + std::to_string(getppid())) != std::string::npos;
        other.abandon();
        _exit(code + (named ? 0 : 4));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused, 2: other set refused, 4: holder not named";

    set.abandon();
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        tvOutputSet again;
        bool ok = again.begin(base_);
        again.abandon();
        _exit(ok ? 0 : 1);
    }
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "free once released";
    EXPECT_TRUE(entries().empty());
}

TEST_F(OutputSetTest, BadNamesAndUnusableDirectoriesAreRefused) {
    tvOutputSet set;
    EXPECT_FALSE(set.begin(dir_ + "/"));
    EXPECT_FALSE(set.begin(dir_ + "/.."));
    EXPECT_FALSE(set.begin(dir_ + "/missing/set"));
    EXPECT_NE(getLastError().find(dir_ + "/missing (for " + dir_ + "/missing/set)"), std::string::npos)
        << getLastError();
    writeFile(dir_ + "/file", "not a directory");
    EXPECT_FALSE(set.begin(dir_ + "/file/set"));
    EXPECT_NE(getLastError().find("does not exist"), std::string::npos) << getLastError();
    EXPECT_NE(getLastError().find(dir_ + "/file (for "), std::string::npos) << getLastError();
    EXPECT_FALSE(set.commit());
}

}  // namespace
