// executeUpdate: DML through the rewrite, and the DDL and administration
// forms (CREATE USER, ALTER SESSION, CREATE/DROP TABLE, VIEW, INDEX,
// GRANT, COMMIT, ROLLBACK).
#include "session.h"

#include <sodium.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

bool word(const std::vector<Token>& t, size_t i, const char* w) {
    return i < t.size() && t[i].kind == Token::IDENT && t[i].text == w;
}

bool isOp(const std::vector<Token>& t, size_t i, const char* o) {
    return i < t.size() && t[i].kind == Token::OP && t[i].text == o;
}

std::string joinTokens(const std::vector<Token>& t, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to && i < t.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += t[i].text;
    }
    return out;
}

}  // namespace

// The first word of a statement, skipping blanks and comments.
std::string leadingWord(const std::string& sql) {
    size_t i = 0, n = sql.size();
    for (;;) {
        while (i < n && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
        if (i + 1 < n && sql[i] == '-' && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n') ++i;
        } else if (i + 1 < n && sql[i] == '/' && sql[i + 1] == '*') {
            size_t e = sql.find("*/", i + 2);
            i = e == std::string::npos ? n : e + 2;
        } else {
            break;
        }
    }
    std::string w;
    while (i < n && std::isalpha(static_cast<unsigned char>(sql[i])))
        w += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
    return w;
}

unsigned int ConnectionImpl::update(StatementImpl* statement, const std::string& sql) {
    used_.clear();
    std::string lead = leadingWord(sql);
    if (!admin_ && (lead == "INSERT" || lead == "UPDATE" || lead == "DELETE" || lead == "MERGE"))
        raise(16000, "database or pluggable database open for read-only access");
    if (lead == "INSERT" || lead == "UPDATE" || lead == "DELETE" || lead == "SELECT" || lead == "WITH")
        return run(statement, sql);
    // tables may change shape or go: the rounding plans are made anew
    forgetRounding();
    std::vector<Token> all = tokenize(sql);
    std::vector<Token> t;
    for (const Token& k : all)
        if (k.kind != Token::SPACE && k.kind != Token::COMMENT) t.push_back(k);
    while (!t.empty() && isOp(t, t.size() - 1, ";")) t.pop_back();
    if (t.empty()) raise(900, "invalid SQL statement");
    if (word(t, 0, "COMMIT")) {
        commit();
        return 0;
    }
    if (word(t, 0, "ROLLBACK")) {
        rollback();
        return 0;
    }
    if (word(t, 0, "CREATE") && word(t, 1, "USER")) return createUser(t, sql);
    if (word(t, 0, "ALTER") && word(t, 1, "SESSION")) return alterSession(t);
    if (word(t, 0, "CREATE") && word(t, 1, "TABLE")) return createTable(t);
    if (word(t, 0, "DROP") && word(t, 1, "TABLE")) return dropTable(t);
    if (word(t, 0, "CREATE") && (word(t, 1, "VIEW") || (word(t, 1, "OR") && word(t, 2, "REPLACE") && word(t, 3, "VIEW"))))
        return createView(t, sql);
    if (word(t, 0, "DROP") && (word(t, 1, "VIEW") || word(t, 1, "INDEX"))) {
        requireAdmin();
        size_t i = 2;
        std::string name;
        std::string alias = tableTarget(t, i, name);
        beginWrite();
        execSingle("DROP " + t[1].text + " " + quoteIdent(alias) + "." + quoteIdent(name));
        return 0;
    }
    if (word(t, 0, "GRANT") || word(t, 0, "REVOKE")) return grant(t, word(t, 0, "REVOKE"));
    if (word(t, 0, "CREATE") && (word(t, 1, "INDEX") || word(t, 2, "INDEX"))) {
        requireAdmin();
        for (size_t i = 0; i < t.size(); ++i)
            if (word(t, i, "INDEXTYPE")) return 0;  // spatial indexes are not needed here
        // CREATE [UNIQUE] INDEX name ON table (...): the index lives with its table
        size_t i = word(t, 1, "INDEX") ? 2 : 3;
        std::string alias;
        if (i + 2 < t.size() && isOp(t, i + 1, ".")) {
            alias = schemaAlias(nameOf(t[i]));
            i += 2;
        }
        if (i >= t.size() || !word(t, i + 1, "ON")) raise(900, "invalid SQL statement");
        size_t on = i + 2;
        std::string table;
        if (on + 2 < t.size() && isOp(t, on + 1, ".")) {
            alias = schemaAlias(nameOf(t[on]));
            if (alias.empty()) raise(1918, "user '" + nameOf(t[on]) + "' does not exist");
            table = quoteIdent(nameOf(t[on + 2]));
            on += 3;
        } else {
            if (alias.empty()) alias = currentAlias();
            table = quoteIdent(nameOf(t[on]));
            on += 1;
        }
        beginWrite();
        execSingle(joinTokens(t, 0, i) + " " + quoteIdent(alias) + "." + quoteIdent(nameOf(t[i])) + " ON " + table +
                   " " + joinTokens(t, on, t.size()));
        return 0;
    }
    raise(900, "invalid SQL statement");
}

// Runs one statement made from the session's text, under the session's
// rules (no attaching, no pragmas) and refusing a second statement.
void ConnectionImpl::execSingle(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    guard = true;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, &tail);
    guard = false;
    if (rc != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(db_);
        sqlite3_finalize(st);
        raiseSqlite(msg.c_str());
    }
    while (tail && *tail && std::isspace(static_cast<unsigned char>(*tail))) ++tail;
    if (!st || (tail && *tail)) {
        sqlite3_finalize(st);
        raise(911, "invalid character");
    }
    rc = sqlite3_step(st);
    std::string msg = rc == SQLITE_DONE || rc == SQLITE_ROW ? "" : sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    if (!msg.empty()) raiseSqlite(msg.c_str());
}

// CREATE USER name IDENTIFIED BY password. The password is an identifier
// (its case kept) or a double-quoted identifier without its quotes, as in
// Oracle: a single-quoted literal or an empty name is refused, and nothing
// may follow it. The new schema file is written under a temporary name and
// gets its own name when the transaction commits (publishUsers), so an
// interrupted run leaves no user behind.
unsigned int ConnectionImpl::createUser(const std::vector<Token>& t, const std::string& sql) {
    requireAdmin();
    if (t.size() < 6 || !word(t, 3, "IDENTIFIED") || !word(t, 4, "BY")) raise(922, "missing or invalid option");
    std::string name = nameOf(t[2]);
    if (!validSchemaName(name)) raise(1935, "missing user or role name");
    const Token& given = t[5];
    if (given.kind != Token::IDENT && given.kind != Token::QUOTED) raise(988, "missing or invalid password(s)");
    std::string password = given.kind == Token::IDENT ? sql.substr(given.offset, given.text.size()) : nameOf(given);
    if (password.empty()) raise(1741, "illegal zero-length identifier");
    if (t.size() > 6) raise(922, "missing or invalid option");
    struct stat taken;
    if (::lstat(schemaFile(dir_, name).c_str(), &taken) == 0 || pending_.count(name))
        raise(1920, "user name '" + name + "' conflicts with another user or role name");
    if (attached_.size() >= attachLimit_) makeRoom();
    if (sodium_init() < 0) raise(600, "internal error code: password hashing unavailable");
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.c_str(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        raise(600, "internal error code: password hashing failed");
    beginWrite();
    std::string temporary = pendingFile(dir_, name);
    std::string error;
    ::unlink(temporary.c_str());
    if (!createPrivateFile(temporary, error)) raise(1119, "error in creating database file: " + error);
    pending_[name] = temporary;
    execOn(db_, "ATTACH DATABASE " + quoteLiteral(temporary) + " AS " + quoteIdent(name));
    execOn(db_, "PRAGMA " + quoteIdent(name) + ".cache_size = -32768");
    attached_.insert(name);
    createCatalog(db_, name);
    execOn(db_, "INSERT INTO " + quoteIdent(name) + ".\"TVX$USER\" VALUES (" + quoteLiteral(name) + ", " +
                    quoteLiteral(hash) + ")");
    // committed with the transaction, published after it (publishCommitted)
    execOn(db_, "CREATE TABLE IF NOT EXISTS main.\"TVX$NEW_USERS\"(NAME TEXT PRIMARY KEY, FILE TEXT NOT NULL)");
    execOn(db_, "INSERT INTO main.\"TVX$NEW_USERS\" VALUES (" + quoteLiteral(name) + ", " +
                    quoteLiteral(temporary.substr(temporary.rfind('/') + 1)) + ")");
    return 0;
}

// GRANT SELECT ON [owner.]table TO grantee[, ...] and GRANT SELECT ANY
// TABLE TO grantee[, ...], and their REVOKE ... FROM forms. A grant on a
// table is kept in its owner's file, SELECT ANY TABLE in the grantee's.
// Other privileges (CREATE SESSION, ...) are accepted and change nothing:
// every user may log on and only reads.
unsigned int ConnectionImpl::grant(const std::vector<Token>& t, bool revoke) {
    requireAdmin();
    if (!word(t, 1, "SELECT")) return 0;
    bool any = word(t, 2, "ANY") && word(t, 3, "TABLE");
    size_t i = any ? 4 : 2;
    std::string owner, table;
    if (!any) {
        if (!word(t, 2, "ON")) raise(990, "missing or invalid privilege");
        i = 3;
        owner = tableTarget(t, i, table);
        sqlite3_stmt* q = nullptr;
        std::string sql = "SELECT 1 FROM " + quoteIdent(owner) + ".sqlite_master WHERE type IN ('table', 'view') "
                          "AND name = ?1";
        bool exists = sqlite3_prepare_v2(db_, sql.c_str(), -1, &q, nullptr) == SQLITE_OK &&
                      (sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT), sqlite3_step(q) == SQLITE_ROW);
        sqlite3_finalize(q);
        if (!exists || table.compare(0, 4, "TVX$") == 0) raise(942, "table or view does not exist");
    }
    if (!word(t, i, revoke ? "FROM" : "TO")) raise(revoke ? 996 : 994, revoke ? "missing FROM keyword" : "missing TO keyword");
    std::vector<std::string> grantees;
    for (++i; i < t.size(); ++i) {
        if (t[i].kind != Token::IDENT && t[i].kind != Token::QUOTED) raise(987, "missing or invalid username(s)");
        grantees.push_back(nameOf(t[i]));
        if (i + 1 < t.size() && !isOp(t, ++i, ",")) raise(922, "missing or invalid option");
    }
    if (grantees.empty()) raise(987, "missing or invalid username(s)");
    beginWrite();
    for (const std::string& grantee : grantees) {
        bool isPublic = grantee == "PUBLIC" && !any;
        std::string alias = isPublic ? "" : schemaAlias(grantee);
        if (!isPublic && (alias.empty() || grantee == "MDSYS"))
            raise(1917, "user or role '" + grantee + "' does not exist");
        if (any) {
            execOn(db_, "CREATE TABLE IF NOT EXISTS " + quoteIdent(alias) +
                            ".\"TVX$SYS_PRIVS\"(PRIVILEGE TEXT PRIMARY KEY) WITHOUT ROWID");
            execOn(db_, std::string(revoke ? "DELETE FROM " : "INSERT OR IGNORE INTO ") + quoteIdent(alias) +
                            ".\"TVX$SYS_PRIVS\"" + (revoke ? " WHERE PRIVILEGE = 'SELECT ANY TABLE'" : " VALUES ('SELECT ANY TABLE')"));
        } else {
            execOn(db_, "CREATE TABLE IF NOT EXISTS " + quoteIdent(owner) +
                            ".\"TVX$GRANTS\"(TABLE_NAME TEXT NOT NULL, GRANTEE TEXT NOT NULL, "
                            "PRIMARY KEY(TABLE_NAME, GRANTEE)) WITHOUT ROWID");
            if (revoke)
                execOn(db_, "DELETE FROM " + quoteIdent(owner) + ".\"TVX$GRANTS\" WHERE TABLE_NAME = " +
                                quoteLiteral(table) + " AND GRANTEE = " + quoteLiteral(grantee));
            else
                execOn(db_, "INSERT OR IGNORE INTO " + quoteIdent(owner) + ".\"TVX$GRANTS\" VALUES (" +
                                quoteLiteral(table) + ", " + quoteLiteral(grantee) + ")");
        }
    }
    return 0;
}

unsigned int ConnectionImpl::alterSession(const std::vector<Token>& t) {
    // ALTER SESSION SET CURRENT_SCHEMA = name
    if (!(word(t, 2, "SET") && word(t, 3, "CURRENT_SCHEMA") && isOp(t, 4, "=") && t.size() == 6))
        return 0;  // other session settings have no effect here
    std::string name = nameOf(t[5]);
    if (!admin_) {
        if (name != user_) raise(1031, "insufficient privileges");
        return 0;
    }
    if (schemaAlias(name).empty()) raise(1435, "user does not exist");
    current_ = name;
    return 0;
}

// [OWNER.]NAME at i: the database alias, and the table name in table.
std::string ConnectionImpl::tableTarget(const std::vector<Token>& t, size_t& i, std::string& table) {
    if (i >= t.size() || (t[i].kind != Token::IDENT && t[i].kind != Token::QUOTED))
        raise(903, "invalid table name");
    if (isOp(t, i + 1, ".") && i + 2 < t.size()) {
        std::string owner = nameOf(t[i]);
        std::string alias = schemaAlias(owner);
        if (alias.empty()) raise(1918, "user '" + owner + "' does not exist");
        table = nameOf(t[i + 2]);
        i += 3;
        return alias;
    }
    table = nameOf(t[i]);
    ++i;
    return currentAlias();
}

unsigned int ConnectionImpl::createTable(const std::vector<Token>& t) {
    requireAdmin();
    size_t i = 2;
    std::string table;
    std::string alias = tableTarget(t, i, table);
    if (!isOp(t, i, "(")) {
        if (word(t, i, "AS")) raise(3001, "unimplemented feature: CREATE TABLE ... AS SELECT");
        raise(906, "missing left parenthesis");
    }
    // split the list at its top-level commas
    std::vector<std::pair<size_t, size_t>> items;
    int depth = 0;
    size_t start = i + 1, close = t.size();
    for (size_t k = i; k < t.size(); ++k) {
        if (isOp(t, k, "(")) {
            ++depth;
        } else if (isOp(t, k, ")")) {
            if (--depth == 0) {
                items.push_back({start, k});
                close = k;
                break;
            }
        } else if (depth == 1 && isOp(t, k, ",")) {
            items.push_back({start, k});
            start = k + 1;
        }
    }
    if (close == t.size()) raise(907, "missing right parenthesis");
    static const char* const CONSTRAINT_WORDS[] = {"NOT", "NULL", "DEFAULT", "PRIMARY", "UNIQUE", "CHECK",
                                                   "CONSTRAINT", "REFERENCES", "COLLATE", "ENABLE",
                                                   "DISABLE", nullptr};
    auto isConstraintWord = [&](const Token& k) {
        if (k.kind != Token::IDENT) return false;
        for (int w = 0; CONSTRAINT_WORDS[w]; ++w)
            if (k.text == CONSTRAINT_WORDS[w]) return true;
        return false;
    };
    std::string defs;
    std::vector<std::pair<std::string, ColumnType>> columns;
    // Oracle's limit; the rounding of NUMBER(p,s) values and SQLite's own
    // limits are sized for it
    const size_t MAX_COLUMNS = 1000;
    size_t columnCount = 0;
    for (const auto& item : items) {
        const Token& head = t[item.first];
        bool constraint = item.first < item.second && head.kind == Token::IDENT &&
                          (head.text == "CONSTRAINT" || head.text == "PRIMARY" || head.text == "UNIQUE" ||
                           head.text == "CHECK" || head.text == "FOREIGN");
        if (!constraint && ++columnCount > MAX_COLUMNS)
            raise(1792, "maximum number of columns in a table or view is 1000");
    }
    for (const auto& item : items) {
        if (item.first >= item.second) raise(904, "invalid identifier");
        const Token& first = t[item.first];
        if (!defs.empty()) defs += ", ";
        if (first.kind == Token::IDENT &&
            (first.text == "CONSTRAINT" || first.text == "PRIMARY" || first.text == "UNIQUE" ||
             first.text == "CHECK" || first.text == "FOREIGN")) {
            defs += joinTokens(t, item.first, item.second);
            continue;
        }
        if (first.kind != Token::IDENT && first.kind != Token::QUOTED) raise(904, "invalid identifier");
        std::string column = nameOf(first);
        size_t k = item.first + 1;
        int d = 0;
        std::vector<Token> typeTokens;
        while (k < item.second && (d > 0 || !isConstraintWord(t[k]))) {
            if (isOp(t, k, "(")) ++d;
            if (isOp(t, k, ")")) --d;
            typeTokens.push_back(t[k]);
            ++k;
        }
        ColumnType type;
        std::string affinity;
        if (!parseOracleType(typeTokens, type, affinity)) raise(902, "invalid datatype");
        defs += quoteIdent(column) + " " + affinity;
        // what Oracle enforces on every value: text lengths, numbers that are
        // numbers within their precision, valid dates. Only SQLite's own
        // functions are used, so that any SQLite tool can still write the file.
        std::string q = quoteIdent(column);
        // Text lengths count bytes, or characters for text declared so.
        // Text lengths count bytes, or characters for text declared so
        // (and then still at most the type's bytes).
        if ((type.code == TC_VARCHAR2 || type.code == TC_CHAR) && type.size > 0) {
            std::string bytes = "length(CAST(" + q + " AS BLOB))";
            std::string check = type.charLimit > 0
                                    ? "length(" + q + ") <= " + std::to_string(type.charLimit) + " AND " + bytes +
                                          " <= " + std::to_string(type.charsetForm == 2 ? 4 * type.charLimit : type.size)
                                    : bytes + " <= " + std::to_string(type.size);
            defs += " CONSTRAINT " + quoteIdent("TVX$LENGTH$" + column) + " CHECK (" + check + ")";
        }
        // NUMBER holds neither infinity nor NaN nor a magnitude of 1e126 or
        // more (ORA-01426); checked before the type, so NaN (kept as the
        // text 'NaN') is an overflow, not an invalid number
        if (type.code == TC_NUMBER)
            defs += " CONSTRAINT " + quoteIdent("TVX$OVERFLOW$" + column) + " CHECK (" + q + " IS NOT 'NaN' AND (typeof(" +
                    q + ") <> 'real' OR abs(" + q + ") < 1e126))";
        if (type.code == TC_NUMBER)
            defs += " CONSTRAINT " + quoteIdent("TVX$NUMBER$" + column) + " CHECK (typeof(" + q +
                    ") IN ('integer', 'real', 'null'))";
        if (type.code == TC_BINARY_FLOAT || type.code == TC_BINARY_DOUBLE)
            defs += " CONSTRAINT " + quoteIdent("TVX$NUMBER$" + column) + " CHECK (typeof(" + q +
                    ") IN ('integer', 'real', 'null') OR " + q + " IS 'NaN')";
        if (type.code == TC_NUMBER && type.precision > 0 && type.scale != -127) {
            // the largest magnitude NUMBER(p,s) holds, 10^(p-s) - 10^-s, as
            // the nearest double: 38 nines fit NUMBER(38)
            char limit[64];
            std::snprintf(limit, sizeof limit, "%.17g",
                          static_cast<double>(std::pow(10.0L, type.precision - type.scale) - std::pow(10.0L, -type.scale)));
            defs += " CONSTRAINT " + quoteIdent("TVX$PRECISION$" + column) + " CHECK (" + q +
                    " IS NULL OR abs(" + roundExpression(q, type.scale) + ") <= " + limit + ")";
        }
        if (type.code == TC_DATE || type.code == TC_TIMESTAMP || type.code == TC_TIMESTAMP_TZ ||
            type.code == TC_TIMESTAMP_LTZ)
            defs += " CONSTRAINT " + quoteIdent("TVX$DATE$" + column) + " CHECK (" + q +
                    " IS NULL OR (date(substr(" + q + ", 1, 10), '+0 days') IS substr(" + q +
                    ", 1, 10) AND (length(" + q + ") = 10 OR substr(" + q + ", 11, 1) IN (' ', 'T'))))";
        // constraints, with DEFAULT expressions put into SQLite's form
        while (k < item.second) {
            if (word(t, k, "DEFAULT")) {
                size_t e = k + 1;
                int dd = 0;
                while (e < item.second && (dd > 0 || !isConstraintWord(t[e]) || e == k + 1)) {
                    if (isOp(t, e, "(")) ++dd;
                    if (isOp(t, e, ")")) --dd;
                    ++e;
                }
                defs += " DEFAULT (" + rewriteSql(joinTokens(t, k + 1, e), *this).sql + ")";
                k = e;
            } else if (word(t, k, "ENABLE") || word(t, k, "DISABLE")) {
                ++k;
            } else {
                defs += " " + t[k].text;
                ++k;
            }
        }
        columns.push_back({column, type});
    }
    beginWrite();
    execSingle("CREATE TABLE " + quoteIdent(alias) + "." + quoteIdent(table) + " (" + defs + ")");
    upgradeCatalog(alias);
    sqlite3_stmt* ins = prepareOn(db_, "INSERT OR REPLACE INTO " + quoteIdent(alias) +
                                           ".\"TVX$COLUMNS\" VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    int position = 0;
    for (const auto& c : columns) {
        sqlite3_bind_text(ins, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, c.first.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(ins, 3, ++position);
        sqlite3_bind_int(ins, 4, c.second.code);
        sqlite3_bind_int(ins, 5, c.second.size);
        sqlite3_bind_int(ins, 6, c.second.precision);
        sqlite3_bind_int(ins, 7, c.second.scale);
        if (c.second.typeName.empty()) sqlite3_bind_null(ins, 8);
        else sqlite3_bind_text(ins, 8, c.second.typeName.c_str(), -1, SQLITE_TRANSIENT);
        if (c.second.typeSchema.empty()) sqlite3_bind_null(ins, 9);
        else sqlite3_bind_text(ins, 9, c.second.typeSchema.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(ins, 10, c.second.charUsed ? 1 : 0);
        sqlite3_bind_int(ins, 11, c.second.charSize);
        sqlite3_bind_int(ins, 12, c.second.charsetForm);
        int rc = sqlite3_step(ins);
        sqlite3_reset(ins);
        if (rc != SQLITE_DONE) {
            std::string msg = sqlite3_errmsg(db_);
            sqlite3_finalize(ins);
            raiseSqlite(msg.c_str());
        }
    }
    sqlite3_finalize(ins);
    return 0;
}

// CREATE [OR REPLACE] VIEW [OWNER.]name AS query: the view lives in its
// schema's file and names tables of that schema only (a SQLite view cannot
// reach into other databases).
unsigned int ConnectionImpl::createView(const std::vector<Token>& t, const std::string& sql) {
    requireAdmin();
    bool replace = word(t, 1, "OR");
    size_t i = replace ? 4 : 2;
    std::string view;
    std::string alias = tableTarget(t, i, view);
    if (!word(t, i, "AS")) raise(905, "missing keyword");
    // the query is the text after the AS token
    std::vector<Token> all = tokenize(sql);
    size_t significant = 0, start = all.size();
    for (size_t k = 0; k < all.size(); ++k) {
        if (all[k].kind == Token::SPACE || all[k].kind == Token::COMMENT) continue;
        if (significant++ == i) {
            start = k + 1;
            break;
        }
    }
    std::string body;
    for (size_t k = start; k < all.size(); ++k) body += all[k].text;
    qualify_ = false;
    Rewritten r;
    try {
        r = rewrite(body);
    } catch (...) {
        qualify_ = true;
        throw;
    }
    qualify_ = true;
    beginWrite();
    if (replace) execSingle("DROP VIEW IF EXISTS " + quoteIdent(alias) + "." + quoteIdent(view));
    execSingle("CREATE VIEW " + quoteIdent(alias) + "." + quoteIdent(view) + " AS " + r.sql);
    return 0;
}

unsigned int ConnectionImpl::dropTable(const std::vector<Token>& t) {
    requireAdmin();
    size_t i = 2;
    std::string table;
    std::string alias = tableTarget(t, i, table);
    exactTable(alias, table);
    beginWrite();
    execSingle("DROP TABLE " + quoteIdent(alias) + "." + quoteIdent(table));
    execOn(db_, "DELETE FROM " + quoteIdent(alias) + ".\"TVX$COLUMNS\" WHERE TABLE_NAME = " + quoteLiteral(table));
    return 0;
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
