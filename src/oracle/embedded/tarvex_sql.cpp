// tarvex-sql: creates or extends an embedded database from SQL scripts in
// Oracle syntax, as an administrator would in SQL*Plus.
//
//   tarvex-sql <database directory> [<script.sql>...]
//
// Statements end with ";" (outside quotes, q'[...]' quotes and comments); a line holding only
// "/" ends a statement too; "--" and "/* */" comments are skipped, and so
// are the SQL*Plus commands SET, PROMPT, SPOOL, WHENEVER, REM, SHOW at the
// start of a statement. EXIT and QUIT end the script there (what ran is
// committed). A comment or quote left open is an error naming the line where
// it starts. Each script runs in one transaction on its own administrator
// session: COMMIT inside a script is deferred to its end, and a failing
// script is rolled back; users it created exist only once it commits (their
// schema files are written under temporary names), so it leaves nothing
// half-built, even when interrupted. One run holds an exclusive lock on the
// database directory: a second run waits up to 10 s for it, then gives up.
// Scripts run in the given order; the first failure stops the run. Messages
// go to standard output; the exit status is 0 on success, 1 on failure.
#include "admin.h"
#include "internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

namespace {

struct ScriptStatement {
    std::string text;
    int line;
};

bool isSqlPlusCommand(const std::string& word) {
    static const char* const WORDS[] = {"SET", "PROMPT", "SPOOL", "WHENEVER", "REM", "REMARK",
                                        "SHOW", nullptr};
    for (int i = 0; WORDS[i]; ++i)
        if (word == WORDS[i]) return true;
    return false;
}

// Where a script could not be split: the line and the message.
struct SplitError {
    int line = 0;
    std::string message;
};

// Calls run(statement) for each statement of the script in order, until it
// returns false or EXIT/QUIT ends the script; false when run returned false
// or the text is not well formed (error then set).
template <typename Run>
bool splitScript(const std::string& s, Run run, SplitError& error) {
    bool going = true;
    std::string current;
    int line = 1, startLine = 0;
    bool significant = false;
    size_t i = 0, n = s.size();
    auto finish = [&]() {
        if (significant && going) going = run(ScriptStatement{current, startLine});
        current.clear();
        significant = false;
    };
    bool lineStart = true;
    while (i < n && going) {
        char c = s[i];
        if (lineStart) {
            // a line holding only "/" ends the statement
            size_t e = i;
            while (e < n && (s[e] == ' ' || s[e] == '\t' || s[e] == '\r')) ++e;
            if (e < n && s[e] == '/') {
                size_t f = e + 1;
                while (f < n && (s[f] == ' ' || s[f] == '\t' || s[f] == '\r')) ++f;
                if (f == n || s[f] == '\n') {
                    finish();
                    i = f;
                    continue;
                }
            }
            // SQL*Plus commands at the start of a statement take one line
            if (!significant) {
                size_t w = e;
                std::string word;
                while (w < n && std::isalpha(static_cast<unsigned char>(s[w])))
                    word += static_cast<char>(std::toupper(static_cast<unsigned char>(s[w++])));
                bool wordEnds = w == n || !(std::isalnum(static_cast<unsigned char>(s[w])) || s[w] == '_');
                if ((word == "EXIT" || word == "QUIT") && wordEnds) return true;
                if (isSqlPlusCommand(word) && wordEnds) {
                    while (i < n && s[i] != '\n') ++i;
                    continue;
                }
            }
            lineStart = false;
        }
        if (c == '\n') {
            ++line;
            lineStart = true;
            current += c;
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            if (s.find("*/", i + 2) == std::string::npos) {
                error.line = line;
                error.message = "unterminated comment: \"/*\" without \"*/\"";
                return false;
            }
            i += 2;
            while (i < n && !(s[i] == '*' && i + 1 < n && s[i + 1] == '/')) {
                if (s[i] == '\n') {
                    ++line;
                    current += '\n';
                }
                ++i;
            }
            i = i < n ? i + 2 : n;
            current += ' ';
            continue;
        }
        if (c == ';') {
            finish();
            ++i;
            continue;
        }
        if (!std::isspace(static_cast<unsigned char>(c)) && !significant) {
            significant = true;
            startLine = line;
            current.clear();
        }
        if ((c == 'q' || c == 'Q') && i + 2 < n && s[i + 1] == '\'' &&
            (i == 0 || !(std::isalnum(static_cast<unsigned char>(s[i - 1])) || s[i - 1] == '_'))) {
            // q'[...]' quoting: up to the closing delimiter and quote
            char open = s[i + 2];
            char close = open == '[' ? ']' : open == '{' ? '}' : open == '<' ? '>' : open == '(' ? ')' : open;
            size_t j = i + 3;
            int opened = line;
            while (j + 1 < n && !(s[j] == close && s[j + 1] == '\'')) {
                if (s[j] == '\n') ++line;
                ++j;
            }
            if (j + 1 >= n) {
                error.line = opened;
                error.message = "ORA-01756: quoted string not properly terminated";
                return false;
            }
            j += 2;
            current.append(s, i, j - i);
            i = j;
            continue;
        }
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            int opened = line;
            while (j < n && s[j] != c) {
                if (s[j] == '\n') ++line;
                ++j;
            }
            if (j >= n) {
                error.line = opened;
                error.message = c == '"' ? "ORA-01740: missing double quote in identifier"
                                         : "ORA-01756: quoted string not properly terminated";
                return false;
            }
            ++j;
            current.append(s, i, j - i);
            i = j;
            continue;
        }
        current += c;
        ++i;
    }
    finish();
    return going;
}

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
    // schema files of users whose run was interrupted before it committed
    if (DIR* d = ::opendir(dir.c_str())) {
        while (struct dirent* e = ::readdir(d)) {
            std::string f = e->d_name;
            if (f.size() > 1 && f[0] == '.' && f.find(".db.new-") != std::string::npos)
                ::unlinkat(fd, f.c_str(), 0);
        }
        ::closedir(d);
    }
    return fd;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: tarvex-sql <database directory> [<script.sql>...]\n"
                    "Creates the database directory when missing and runs the scripts in order,\n"
                    "each in one transaction, as the database administrator.\n");
        return 1;
    }
    std::string dir = argv[1];
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
    bool ok = true;
    for (int i = 2; i < argc && ok; ++i) ok = runScript(env, dir, argv[i]);
    Environment::terminateEnvironment(env);
    ::close(lock);
    return ok ? 0 : 1;
}
