// tarvex-sql: creates or extends an embedded database from SQL scripts in
// Oracle syntax, as an administrator would in SQL*Plus.
//
//   tarvex-sql <database directory> [<script.sql>...]
//
// Statements end with ";" (outside quotes, q'[...]' quotes and comments); a line holding only
// "/" ends a statement too; "--" and "/* */" comments are skipped, and so
// are the SQL*Plus commands SET, PROMPT, SPOOL, WHENEVER, REM, EXIT, QUIT
// at the start of a statement. Each script runs in one transaction on its
// own administrator session: COMMIT inside a script is deferred to its end,
// and a failing script is rolled back and the schema files it created are
// removed, so it leaves nothing half-built. Scripts run in the given order;
// the first failure stops the run. Messages go to standard output; the exit
// status is 0 on success, 1 on failure.
#include "admin.h"
#include "internal.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
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
                                        "EXIT", "QUIT", "SHOW", nullptr};
    for (int i = 0; WORDS[i]; ++i)
        if (word == WORDS[i]) return true;
    return false;
}

// Calls run(statement) for each statement of the script in order, until it
// returns false; false then.
template <typename Run>
bool splitScript(const std::string& s, Run run) {
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
                if (isSqlPlusCommand(word) && (w == n || !std::isalnum(static_cast<unsigned char>(s[w])))) {
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
            while (j + 1 < n && !(s[j] == close && s[j + 1] == '\'')) {
                if (s[j] == '\n') ++line;
                ++j;
            }
            j = j + 1 < n ? j + 2 : n;
            current.append(s, i, j - i);
            i = j;
            continue;
        }
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            while (j < n && s[j] != c) {
                if (s[j] == '\n') ++line;
                ++j;
            }
            j = j < n ? j + 1 : n;
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

std::set<std::string> schemaFiles(const std::string& dir) {
    std::set<std::string> files;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (struct dirent* e = ::readdir(d)) {
            std::string f = e->d_name;
            if (f.size() > 3 && f.compare(f.size() - 3, 3, ".db") == 0) files.insert(f);
        }
        ::closedir(d);
    }
    return files;
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
    std::set<std::string> before = schemaFiles(dir);
    Connection* conn = nullptr;
    bool ok = true;
    int line = 0;
    size_t executed = 0;
    try {
        conn = oracle::occi::embedded::connectAsAdministrator(env, dir);
        Statement* stmt = conn->createStatement();
        try {
            splitScript(text, [&](const ScriptStatement& s) {
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
            });
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
        for (const std::string& f : schemaFiles(dir)) {
            if (before.count(f)) continue;
            std::string path = dir + "/" + f;
            ::unlink(path.c_str());
            ::unlink((path + "-journal").c_str());
        }
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
    if (!oracle::occi::embedded::createDatabase(dir, error)) {
        std::printf("tarvex-sql: %s\n", error.c_str());
        return 1;
    }
    Environment* env = Environment::createEnvironment(Environment::OBJECT);
    bool ok = true;
    for (int i = 2; i < argc && ok; ++i) ok = runScript(env, dir, argv[i]);
    Environment::terminateEnvironment(env);
    return ok ? 0 : 1;
}
