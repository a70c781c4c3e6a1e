// tarvex-sql: creates or extends an embedded database from SQL scripts in
// Oracle syntax, as an administrator would in SQL*Plus.
//
//   tarvex-sql <database directory> [<script.sql>...]
//   tarvex-sql -h | --help | -V | --version
//
// Statements end with ";" (outside quotes, q'[...]' quotes and comments); a line holding only
// "/" ends a statement too; "--" and "/* */" comments are skipped, and so
// are the SQL*Plus commands SET, PROMPT, SPOOL, WHENEVER, REM, SHOW at the
// start of a statement. EXIT and QUIT end the script there (what ran is
// committed). A comment or quote left open is an error naming the line where
// it starts. Each script runs in one transaction on its own administrator
// session: COMMIT inside a script is deferred to its end, and a failing
// script is rolled back; users it created exist only once it commits (their
// schema files are written under temporary names, and get their names in
// the step that commits, or in the next run when this one stopped in
// between), so it leaves nothing half-built, even when interrupted. One run holds an exclusive lock on the
// database directory: a second run waits up to 10 s for it, then gives up.
// Scripts run in the given order; the first failure stops the run. Messages
// go to standard output; the exit status is 0 on success, 1 on failure.
#include "embedded_admin.h"
#include "internal.h"
#include "script.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using oracle::occi::Connection;
using oracle::occi::Environment;
using oracle::occi::ResultSet;
using oracle::occi::SQLException;
using oracle::occi::Statement;
using oracle::occi::embedded::ScriptStatement;
using oracle::occi::embedded::SplitError;
using oracle::occi::embedded::splitScript;

namespace {

// Takes the exclusive lock of a database directory, waiting up to 10 s for
// another run; the descriptor to keep open, or -1 after reporting.
int lockDatabase(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        std::printf("tarvex-sql: cannot open %s\n", dir.c_str());
        return -1;
    }
    for (int waited = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; waited += 100) {
        if (waited == 0) {
            std::printf("tarvex-sql: %s is in use by another tarvex-sql run; waiting up to 10 s\n", dir.c_str());
            std::fflush(stdout);
        }
        if (waited >= 10000) {
            std::printf("tarvex-sql: %s is still in use by another tarvex-sql run; nothing was changed\n",
                        dir.c_str());
            ::close(fd);
            return -1;
        }
        ::usleep(100000);
    }
    return fd;
}

// Under the lock: users that an interrupted run committed get their names
// (the administrator session publishes them as it opens), then the schema
// files of users whose run stopped before it committed are removed. False
// after reporting.
bool finishInterruptedRuns(Environment* env, const std::string& dir, int lock) {
    try {
        env->terminateConnection(oracle::occi::embedded::connectAsAdministrator(env, dir));
    } catch (const SQLException& e) {
        std::printf("tarvex-sql: %s\n", e.getMessage().c_str());
        return false;
    }
    if (DIR* d = ::opendir(dir.c_str())) {
        while (struct dirent* e = ::readdir(d)) {
            std::string f = e->d_name;
            if (f.size() > 1 && f[0] == '.' && f.find(".db.new-") != std::string::npos)
                ::unlinkat(lock, f.c_str(), 0);
        }
        ::closedir(d);
    }
    return true;
}

std::string firstWord(const std::string& text) {
    std::string w;
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])))
        w += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
    return w;
}

// Runs one script in one transaction; false after reporting its error.
bool runScript(Environment* env, const std::string& dir, const std::string& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::printf("%s: not a readable regular file\n", file.c_str());
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::printf("%s: cannot read the script\n", file.c_str());
        return false;
    }
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0 && !in.read(&text[0], size)) {
        std::printf("%s: cannot read the script\n", file.c_str());
        return false;
    }
    in.close();
    Connection* conn = nullptr;
    bool ok = true;
    int line = 0;
    size_t executed = 0;
    try {
        conn = oracle::occi::embedded::connectAsAdministrator(env, dir);
        Statement* stmt = conn->createStatement();
        SplitError malformed;
        try {
            bool whole = splitScript(text, [&](const ScriptStatement& s) {
                line = s.line;
                std::string word = firstWord(s.text);
                if (word == "COMMIT") return true;  // the script commits as a whole
                if (word == "SELECT" || word == "WITH") {
                    ResultSet* rs = stmt->executeQuery(s.text);
                    while (rs->next()) {
                    }
                    stmt->closeResultSet(rs);
                } else {
                    stmt->executeUpdate(s.text);
                }
                ++executed;
                return true;
            }, malformed);
            if (!whole && malformed.line > 0) {
                line = malformed.line;
                std::string message = malformed.message;
                if (message.compare(0, 4, "ORA-") == 0)
                    throw SQLException(std::atoi(message.c_str() + 4), message);
                throw SQLException(0, message);
            }
        } catch (...) {
            conn->terminateStatement(stmt);
            throw;
        }
        conn->terminateStatement(stmt);
        conn->commit();
    } catch (const SQLException& e) {
        ok = false;
        if (line > 0)
            std::printf("%s:%d: %s\n", file.c_str(), line, e.getMessage().c_str());
        else
            std::printf("%s: %s\n", file.c_str(), e.getMessage().c_str());
    }
    if (conn) {
        if (!ok) conn->rollback();
        env->terminateConnection(conn);
    }
    if (!ok) {
        std::printf("%s: rolled back, the database is as it was before the script\n", file.c_str());
    } else {
        std::printf("%s: %zu statements\n", file.c_str(), executed);
    }
    std::fflush(stdout);
    return ok;
}

void usage() {
    std::printf("usage: tarvex-sql <database directory> [<script.sql>...]\n"
                "       tarvex-sql -h | --help | -V | --version\n"
                "Creates the database directory when missing and runs the scripts in order,\n"
                "each in one transaction, as the database administrator.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        usage();
        return 1;
    }
    std::string dir = argv[1];
    // -h/--help and -V/--version alone (in any letter case, as tarvex's
    // options); any other first argument starting with "-" is refused, never
    // taken for a directory name
    if (!dir.empty() && dir[0] == '-') {
        std::string option = dir;
        for (char& c : option) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (argc == 2 && (option == "-h" || option == "--help")) {
            usage();
            return 0;
        }
        if (argc == 2 && (option == "-v" || option == "--version")) {
            std::printf("tarvex-sql %s\nOracle client: embedded (oracle::occi over SQLite %s)\n", TARVEX_SQL_VERSION,
                        sqlite3_libversion());
            return 0;
        }
        bool known = option == "-h" || option == "--help" || option == "-v" || option == "--version";
        std::printf(known ? "tarvex-sql: %s stands alone on the command line\n" : "tarvex-sql: unknown option %s\n",
                    dir.c_str());
        usage();
        return 1;
    }
    std::string error;
    // the directory first, then its lock, then its contents
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 && !oracle::occi::embedded::createDatabase(dir, error)) {
        std::printf("tarvex-sql: %s\n", error.c_str());
        return 1;
    }
    int lock = lockDatabase(dir);
    if (lock < 0) return 1;
    if (!oracle::occi::embedded::createDatabase(dir, error)) {
        std::printf("tarvex-sql: %s\n", error.c_str());
        ::close(lock);
        return 1;
    }
    Environment* env = Environment::createEnvironment(Environment::OBJECT);
    bool ok = finishInterruptedRuns(env, dir, lock);
    for (int i = 2; i < argc && ok; ++i) ok = runScript(env, dir, argv[i]);
    Environment::terminateEnvironment(env);
    ::close(lock);
    return ok ? 0 : 1;
}
