// The program driver: start-up, connection, the exports, shutdown and the
// exit status.
#include <occi.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#if TARVEX_EMBEDDED_CLIENT
#include <sqlite3.h>
#endif

#include "app/export.h"
#include "diag/log.h"
#include "oracle/globals.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/output_set.h"

using oracle::occi::Environment;
using oracle::occi::SQLException;

namespace {

std::string setting(const std::string& p_key) {
    auto it = g_args.find(p_key);
    return it == g_args.end() ? std::string() : it->second;
}

const char* signalName(int p_signal) {
    switch (p_signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        case SIGPIPE: return "SIGPIPE";
        default: return "signal";
    }
}

// SIGINT, SIGTERM, SIGHUP and SIGPIPE end the run: the temporaries of the
// set being written go (the previous set stays as it was), the terminal gets
// its echo back, one error line names the signal (lost when the output is
// the closed pipe), and the exit status is 128 + the signal number. Only
// async-signal-safe calls.
extern "C" void onStopSignal(int p_signal) {
    tvRemoveOutputTemporariesNow();
    tvRestoreTerminalNow();
    if (g_log_level >= LOG_ERROR) {
        char line[96] = "\n[ERROR] Export stopped by signal : ";
        std::strcat(line, signalName(p_signal));
        std::strcat(line, "\n");
        // A fresh line: the signal may cut an answer typed at a prompt.
        const char* text = isatty(STDOUT_FILENO) ? line : line + 1;
        ssize_t ignored = ::write(STDOUT_FILENO, text, std::strlen(text));
        (void)ignored;
    }
    _exit(128 + p_signal);
}

struct sigaction stopAction() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigfillset(&action.sa_mask);
    return action;
}

// SIGPIPE back to the stop handler when something (a client library, say)
// set it to be ignored: a closed output must still end the run.
void keepClosedOutputFatal() {
    struct sigaction current;
    if (sigaction(SIGPIPE, nullptr, &current) != 0) return;
    if (current.sa_handler == SIG_IGN || current.sa_handler == SIG_DFL) {
        struct sigaction action = stopAction();
        sigaction(SIGPIPE, &action, nullptr);
    }
}

// A write to standard output failed with EPIPE: SIGPIPE was held off (the
// renames of a commit; it is delivered when they are done) or did not stop
// the run. Ends it as SIGPIPE does.
void onClosedOutput() {
    sigset_t held;
    if (sigprocmask(SIG_BLOCK, nullptr, &held) == 0 && sigismember(&held, SIGPIPE) == 1) return;
    keepClosedOutputFatal();
    raise(SIGPIPE);
}

void installSignalHandlers() {
    struct sigaction action = stopAction();
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) {
        // A stop signal ignored by whoever started the run (nohup's SIGHUP,
        // the SIGINT of a background job) stays ignored; the worker pool
        // then leaves it ignored in the workers too.
        struct sigaction inherited;
        if (sigaction(stop, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        sigaction(stop, &action, nullptr);
    }
    // A closed output (tarvex ... | head) ends the run as a stop signal does,
    // also when SIGPIPE came ignored: the writes would otherwise fail unseen
    // and the run go on writing sets nobody is told about.
    sigaction(SIGPIPE, &action, nullptr);
    setClosedOutputHandler(onClosedOutput);
    // A file-size limit then fails the write ("File too large"), which is
    // reported like a full disk, instead of killing the process unseen.
    signal(SIGXFSZ, SIG_IGN);
}

// The Oracle client this program was built with, for --version.
std::string clientDescription() {
#if TARVEX_EMBEDDED_CLIENT
    return std::string("Oracle client: embedded (oracle::occi over SQLite ") + sqlite3_libversion() +
           ")";
#else
    int major = 0, minor = 0, update = 0, patch = 0, portUpdate = 0;
    Environment::getClientVersion(major, minor, update, patch, portUpdate);
    return "Oracle client: Oracle C++ Call Interface " + std::to_string(major) + "." +
           std::to_string(minor) + "." + std::to_string(update) + "." + std::to_string(patch) +
           "." + std::to_string(portUpdate);
#endif
}

// Connection, exports and disconnection; returns false when anything failed.
bool runSession() {
    bool proceed = true;
    try {
        proceed = connectSession(false);
        if (conn != nullptr) {
            tvLog("Connected to:\r\n", conn->getServerVersion(), LOG_BASIC);
            runExports(proceed);
        }
    } catch (const SQLException& e) {
        tvLog(e.getMessage(), "", LOG_ERROR);
        proceed = false;
    } catch (const std::exception& e) {
        tvLog("Unexpected error : ", e.what(), LOG_ERROR);
        proceed = false;
    }
    if (!disconnectSession(false)) proceed = false;
    return proceed;
}

}  // namespace

bool connectSession(bool p_quiet) {
    env = Environment::createEnvironment("AL32UTF8", "AL32UTF8", Environment::OBJECT);
    keepClosedOutputFatal();
    if (!p_quiet) tvLog("Created Oracle environment", "", LOG_DEBUG);
    RegisterClasses(env);
    if (!p_quiet) tvLog("Registered SDO classes", "", LOG_DEBUG);

    const std::string user = setting("username");
    const std::string service = setting("connect_string");
    try {
        conn = env->createConnection(user, setting("password"), service);
    } catch (const SQLException& e) {
        tvLog("Could not connect to database : ", user + "/<password>@" + service, LOG_ERROR);
        tvLog(e.getMessage(), "", LOG_ERROR);
        conn = nullptr;
        return false;
    }
    return true;
}

bool disconnectSession(bool p_quiet) {
    bool result = true;
    if (conn != nullptr) {
        try {
            env->terminateConnection(conn);
            if (!p_quiet) tvLog("Terminated Oracle connection", "", LOG_DETAILED);
        } catch (const SQLException& e) {
            tvLog(e.getMessage(), "", LOG_ERROR);
            result = false;
        }
        conn = nullptr;
    }
    if (env != nullptr) {
        try {
            Environment::terminateEnvironment(env);
        } catch (const SQLException& e) {
            tvLog(e.getMessage(), "", LOG_ERROR);
            result = false;
        }
        env = nullptr;
    }
    return result;
}

int tarvexMain(int argc, char** argv) {
    setLogLevel();
    installSignalHandlers();
    int status = TARVEX_EXIT_OK;
    const std::string program = (argc > 0 && argv != nullptr && argv[0] != nullptr) ? argv[0] : "tarvex";

    // Asked for, so written whatever the log level.
    switch (infoRequest(argc, argv)) {
        case INFO_HELP:
            Usage(program, true);
            return TARVEX_EXIT_OK;
        case INFO_VERSION:
            std::cout << "tarvex " << TARVEX_VERSION << std::endl;
            std::cout << clientDescription() << std::endl;
            return TARVEX_EXIT_OK;
        case INFO_NONE:
            break;
    }

    // Only counts that no valid command can have: a connect string alone,
    // or more than every option once.
    if (argc != 1 && (argc < 3 || argc > maxArgumentCount())) {
        tvLog("Incorrect number of arguments : ", argc, LOG_ERROR);
        Usage(program);
        status = TARVEX_EXIT_ARGUMENTS;
    } else if (!parseArgs(argc, argv, g_args)) {
        Usage(program);
        status = TARVEX_EXIT_ARGUMENTS;
    } else if (!runSession()) {
        status = TARVEX_EXIT_FAILED;
    }

    // Without arguments the run is interactive, also when the answers were
    // refused: wait for the Enter key before the window closes.
    if (argc == 1 || setting("interactive") == "yes") {
        std::cout << "Press enter to continue..." << std::endl;
        std::cin.get();
    }
    return status;
}
