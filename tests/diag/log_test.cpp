// Log level from the environment, line format, last-error text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "diag/log.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        _old = std::cout.rdbuf(_out.rdbuf());
        g_error.clear();
    }
    void TearDown() override {
        std::cout.rdbuf(_old);
        unsetenv("TARVEX_LOG_LEVEL");
        g_log_level = LOG_BASIC;
        g_error.clear();
    }
    std::string output() const { return _out.str(); }

private:
    std::ostringstream _out;
    std::streambuf* _old = nullptr;
};

short levelFor(const char* p_value) {
    if (p_value == nullptr) {
        unsetenv("TARVEX_LOG_LEVEL");
    } else {
        setenv("TARVEX_LOG_LEVEL", p_value, 1);
    }
    g_log_level = -1;
    setLogLevel();
    return g_log_level;
}

TEST_F(LogTest, LevelFromTheEnvironment) {
    EXPECT_EQ(levelFor(nullptr), LOG_BASIC);
    EXPECT_EQ(levelFor(""), LOG_BASIC);
    EXPECT_EQ(levelFor("verbose"), LOG_BASIC);
    EXPECT_EQ(levelFor(" debug"), LOG_BASIC);
    EXPECT_EQ(levelFor("debug "), LOG_BASIC);
    EXPECT_EQ(levelFor("DEBUG"), LOG_DEBUG);
    EXPECT_EQ(levelFor("Debug"), LOG_DEBUG);
    EXPECT_EQ(levelFor("silent"), LOG_SILENT);
    EXPECT_EQ(levelFor("Error"), LOG_ERROR);
    EXPECT_EQ(levelFor("basic"), LOG_BASIC);
    EXPECT_EQ(levelFor("DETAILED"), LOG_DETAILED);
}

TEST_F(LogTest, LinesAndTagsAtEachLevel) {
    g_log_level = LOG_BASIC;
    tvLog("detail : ", std::string("x"), LOG_DETAILED);
    tvLog("debug : ", 1, LOG_DEBUG);
    tvLog("Rows : ", 12, LOG_BASIC);
    tvLog("Bad : ", std::string("thing"), LOG_ERROR);
    EXPECT_EQ(output(), "Rows : 12\n[ERROR] Bad : thing\n");

    g_log_level = LOG_DETAILED;
    tvLog("Got SRID : ", 8307, LOG_DETAILED);
    tvLog("Scale : ", 12.5, LOG_DETAILED);
    tvLog("Null vertex : ", 1e-306, LOG_DEBUG);
    g_log_level = LOG_DEBUG;
    tvLog("Null vertex : ", 1e-306, LOG_DEBUG);
    tvLog("Big : ", 123456789.0, LOG_DEBUG);
    EXPECT_EQ(output(),
              "Rows : 12\n[ERROR] Bad : thing\n"
              "[DETAILED] Got SRID : 8307\n"
              "[DETAILED] Scale : 12.5\n"
              "[DEBUG] Null vertex : 1e-306\n"
              "[DEBUG] Big : 1.23457e+08\n");

    EXPECT_EQ(getLogTypeString(LOG_SILENT), "");
    EXPECT_EQ(getLogTypeString(LOG_BASIC), "");
    EXPECT_EQ(getLogTypeString(static_cast<LogLevel>(7)), "");
}

TEST_F(LogTest, SilentWritesNothingButKeepsTheLastError) {
    g_log_level = LOG_SILENT;
    tvLog("Basic : ", std::string("b"), LOG_BASIC);
    tvLog("Failed : ", std::string("why"), LOG_ERROR);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(getLastError(), "Failed :  why");
}

TEST_F(LogTest, LastErrorForms) {
    g_log_level = LOG_SILENT;
    tvLog("Nothing to add.", std::string(), LOG_ERROR);
    EXPECT_EQ(getLastError(), "Nothing to add. ");
    tvLog("Count : ", -42, LOG_ERROR);
    EXPECT_EQ(getLastError(), "Count :  -42");
    tvLog("Scale : ", 2.5, LOG_ERROR);
    EXPECT_EQ(getLastError(), "Scale :  2.500000");
    tvLog("Huge : ", 1e300, LOG_ERROR);
    EXPECT_EQ(getLastError().size(), std::string("Huge :  ").size() + 63);

    // Other levels never touch it; the most recent error wins.
    tvLog("Later : ", std::string("info"), LOG_BASIC);
    tvLog("Later : ", std::string("debug"), LOG_DEBUG);
    EXPECT_EQ(getLastError().substr(0, 8), "Huge :  ");
    setLastError("set directly");
    EXPECT_EQ(getLastError(), "set directly");
}

}  // namespace

TEST(LogOutput, AClosedOutputCallsItsHandlerWhenSigpipeDidNot) {
    // In a child: standard output on a pipe whose reader is gone, or on a
    // full disk, with SIGPIPE ignored. Only the closed pipe is "closed".
    for (bool closedPipe : {true, false}) {
        fflush(stdout);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int fds[2];
            if (closedPipe) {
                if (pipe(fds) != 0) _exit(3);
                close(fds[0]);
            } else {
                fds[1] = open("/dev/full", O_WRONLY);
            }
            dup2(fds[1], STDOUT_FILENO);
            signal(SIGPIPE, SIG_IGN);
            g_log_level = LOG_BASIC;
            setClosedOutputHandler([] { _exit(77); });
            tvLog("a line for nobody : ", "x", LOG_BASIC);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), closedPipe ? 77 : 0) << closedPipe;
    }
}
