// Connection: opening a user or administrator session on its schema file,
// reaching other schemas, the password check, the ALL_ view refresh and
// what a session may do (the SQLite authorizer).
#include "session.h"

#include <sodium.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace oracle {
namespace occi {
namespace embedded {

ConnectionImpl::ConnectionImpl(EnvironmentImpl* env, const std::string& directory, const std::string& user,
                               bool admin)
    : env_(env), dir_(directory), user_(user), admin_(admin) {}

ConnectionImpl::~ConnectionImpl() {
    for (StatementImpl* s : statements_) delete s;
    statements_.clear();
    forgetRounding();
    if (db_) {
        // a normal disconnect commits, as Oracle's does; nothing to report
        // to from a destructor
        try {
            commit();
        } catch (const SQLException&) {
            try {
                rollback();
            } catch (const SQLException&) {
            }
        }
        sqlite3_close_v2(db_);
    }
}

void ConnectionImpl::open(const std::string& password) {
    mainSchema_ = admin_ ? "MDSYS" : user_;
    std::string path = schemaFile(dir_, mainSchema_);
    std::string odd, what;
    if (isOddSchemaFile(path, odd, what))
        raise(1157, "cannot identify/lock data file " + odd + " (" + what + ", not a regular file)");
    if (!isFile(path)) {
        if (admin_) raise(12154, "TNS:could not resolve the connect identifier specified");
        raise(1017, "invalid username/password; logon denied");
    }
    // one thread per connection, as with the real client's default
    // environment: no SQLite mutex around every column read
    int flags = (admin_ ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_URI |
                SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, schemaVfs()) != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        raise(12154, "TNS:could not resolve the connect identifier specified (" + msg + ")");
    }
    sqlite3_extended_result_codes(db_, 0);
    sqlite3_busy_timeout(db_, BUSY_WAIT_MS);
    if (!admin_) {
        checkPassword(password);
        // the system privilege SELECT ANY TABLE, kept in the user's own file
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(db_, "SELECT 1 FROM main.\"TVX$SYS_PRIVS\" WHERE PRIVILEGE = 'SELECT ANY TABLE'", -1,
                               &q, nullptr) == SQLITE_OK)
            selectAny_ = sqlite3_step(q) == SQLITE_ROW;
        sqlite3_finalize(q);
    }
    // A user session scans: a small page cache and no memory mapping keep
    // its memory flat however many rows it reads; sorts and temporary
    // results go to temporary files. Loading wants a cache.
    execOn(db_, admin_ ? "PRAGMA temp_store = FILE; PRAGMA cache_size = -16384;"
                       : "PRAGMA temp_store = FILE; PRAGMA cache_size = -2048; PRAGMA mmap_size = 0;");
    registerFunctions(db_);
    sqlite3_set_authorizer(db_, &ConnectionImpl::authorize, this);
    // the table functions connect on first use: once here, outside the
    // session's rules
    execOn(db_, "SELECT * FROM TVX_ELEM_INFO(NULL), TVX_ORDINATES(NULL)");
    execOn(db_,
           "CREATE TEMP TABLE DUAL(DUMMY TEXT); INSERT INTO temp.DUAL VALUES ('X');"
           "CREATE TEMP TABLE \"TVX$ALL_GEOM_METADATA\"(OWNER TEXT, TABLE_NAME TEXT, "
           "COLUMN_NAME TEXT, DIMINFO, SRID NUMERIC);");
    createCatalog(db_, "temp");
    execOn(db_,
           "INSERT INTO temp.\"TVX$COLUMNS\" VALUES "
           "('DUAL','DUMMY',1,1,1,0,0,NULL,NULL,0,1,1),"
           "('TVX$ALL_GEOM_METADATA','OWNER',1,1,32,0,0,NULL,NULL,0,32,1),"
           "('TVX$ALL_GEOM_METADATA','TABLE_NAME',2,1,32,0,0,NULL,NULL,0,32,1),"
           "('TVX$ALL_GEOM_METADATA','COLUMN_NAME',3,1,1024,0,0,NULL,NULL,0,1024,1),"
           "('TVX$ALL_GEOM_METADATA','DIMINFO',4,108,0,0,0,'SDO_DIM_ARRAY','MDSYS',0,0,0),"
           "('TVX$ALL_GEOM_METADATA','SRID',5,2,22,0,-127,NULL,NULL,0,0,0);");
    int limit = sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, -1);
    attachLimit_ = limit > 0 ? static_cast<size_t>(limit) : 0;
    // users committed by a run that stopped before it gave them their names
    if (admin_) publishCommitted();
}

Statement* ConnectionImpl::createStatement(const std::string& sql) {
    StatementImpl* s = new StatementImpl(this, sql);
    statements_.insert(s);
    return s;
}

void ConnectionImpl::terminateStatement(Statement* statement) {
    StatementImpl* s = static_cast<StatementImpl*>(statement);
    if (statements_.erase(s)) delete s;
}

void ConnectionImpl::commit() {
    // a new user's name taken meanwhile (by something that does not take
    // the loader's lock): nothing is committed
    for (const auto& p : pending_) {
        struct stat st;
        std::string target = schemaFile(dir_, p.first);
        if (::lstat(target.c_str(), &st) == 0) {
            rollback();
            raise(1920, "user name '" + p.first + "' conflicts with another user or role name (" + target +
                            " exists); the transaction is rolled back");
        }
    }
    if (!sqlite3_get_autocommit(db_)) {
        int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) raiseSqlite(sqlite3_errmsg(db_));
    }
    publishUsers();
}

void ConnectionImpl::rollback() {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    discardUsers();
}

// The users created in the committed transaction get their schema files'
// own names.
void ConnectionImpl::publishUsers() {
    if (!admin_) return;
    if (!pending_.empty()) forgetRounding();
    for (const auto& p : pending_) {
        sqlite3_exec(db_, ("DETACH DATABASE " + quoteIdent(p.first)).c_str(), nullptr, nullptr, nullptr);
        attached_.erase(p.first);
    }
    pending_.clear();
    publishCommitted();
}

// A transaction that creates users records each one's temporary file in
// MDSYS's "TVX$NEW_USERS", so that its commit and the users are one step:
// the row commits with the new files' contents and the other schemas'
// changes (a GRANT to the new user, say), or rolls back with them. A
// committed row is published here: right after the commit, or, when the
// run stopped in between, by the next administrator session (the loader's
// next run). Publishing links the file to its name, then forgets the row
// and the temporary name; each step may be repeated. A name taken by
// another file meanwhile is not overwritten: ORA-01920, and the user waits
// until that file is gone.
void ConnectionImpl::publishCommitted() {
    sqlite3_stmt* q = nullptr;
    std::vector<std::pair<std::string, std::string>> waiting;
    if (sqlite3_prepare_v2(db_, "SELECT NAME, FILE FROM main.\"TVX$NEW_USERS\"", -1, &q, nullptr) == SQLITE_OK) {
        while (sqlite3_step(q) == SQLITE_ROW)
            waiting.push_back({reinterpret_cast<const char*>(sqlite3_column_text(q, 0)),
                               reinterpret_cast<const char*>(sqlite3_column_text(q, 1))});
    }
    sqlite3_finalize(q);  // no such table: no user was ever created here
    if (waiting.empty()) return;
    std::string directory = schemaFile(dir_, "");
    directory.resize(directory.size() - 3);  // without ".db": the directory and its "/"
    std::string conflict;
    std::vector<std::string> published;
    for (const auto& w : waiting) {
        std::string temporary = directory + w.second, target = schemaFile(dir_, w.first);
        struct stat from, to;
        bool hasFrom = ::lstat(temporary.c_str(), &from) == 0, hasTo = ::lstat(target.c_str(), &to) == 0;
        if (hasFrom && !hasTo && ::link(temporary.c_str(), target.c_str()) != 0)
            raise(1119, "error in creating database file " + target + ": " + std::strerror(errno));
        if (hasFrom && hasTo && (from.st_dev != to.st_dev || from.st_ino != to.st_ino)) {
            if (conflict.empty()) conflict = w.first;
            continue;
        }
        published.push_back(w.first);
    }
    // the new names on disk before the rows that lead to them go
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    for (const std::string& name : published) {
        execOn(db_, "DELETE FROM main.\"TVX$NEW_USERS\" WHERE NAME = " + quoteLiteral(name));
        for (const auto& w : waiting)
            if (w.first == name) ::unlink((directory + w.second).c_str());
    }
    if (!conflict.empty())
        raise(1920, "user name '" + conflict + "' conflicts with another user or role name (" +
                        schemaFile(dir_, conflict) +
                        " is another file; the committed user is published once it is gone)");
}

void ConnectionImpl::discardUsers() {
    if (!pending_.empty()) forgetRounding();
    for (const auto& p : pending_) {
        sqlite3_exec(db_, ("DETACH DATABASE " + quoteIdent(p.first)).c_str(), nullptr, nullptr, nullptr);
        attached_.erase(p.first);
        ::unlink(p.second.c_str());
        ::unlink((p.second + "-journal").c_str());
    }
    pending_.clear();
}

std::string ConnectionImpl::getServerVersion() const {
    return std::string("Tarvex Embedded Database 1.0 (Oracle client API subset) - SQLite ") +
           sqlite3_libversion();
}

std::string ConnectionImpl::schemaAlias(const std::string& name) {
    if (!validSchemaName(name)) return "";
    if (name == mainSchema_) return "main";
    if (attached_.count(name)) {
        used_.insert(name);
        return name;
    }
    auto pending = pending_.find(name);
    std::string file = pending != pending_.end() ? pending->second : schemaFile(dir_, name);
    std::string odd, what;
    if (isOddSchemaFile(file, odd, what))
        raise(1157, "cannot identify/lock data file " + odd + " (" + what + ", not a regular file)");
    if (!isFile(file)) return "";
    if (attached_.size() >= attachLimit_) makeRoom();
    std::string target = admin_ ? file : uriPath(file) + "?mode=ro";
    execOn(db_, "ATTACH DATABASE " + quoteLiteral(target) + " AS " + quoteIdent(name));
    attached_.insert(name);
    used_.insert(name);
    if (!admin_) grants_[name] = grantsOf(db_, name);
    // loading: the schema's catalogue is read on every CREATE TABLE, a cache
    // keeps it in memory
    if (admin_) execOn(db_, "PRAGMA " + quoteIdent(name) + ".cache_size = -32768");
    return name;
}

std::string ConnectionImpl::currentAlias() {
    if (!admin_) return "main";
    if (current_.empty())
        raise(1435, "user does not exist (no current schema: ALTER SESSION SET CURRENT_SCHEMA first)");
    std::string alias = schemaAlias(current_);
    if (alias.empty()) raise(1435, "user does not exist");
    return alias;
}

void ConnectionImpl::exactTable(const std::string& alias, const std::string& name) {
    // an unqualified name is looked up where SQLite looks first: the
    // session's own schema (and an administrator's current schema)
    std::vector<std::string> places;
    if (!alias.empty()) places.push_back(alias);
    else {
        places.push_back("main");
        if (admin_ && !current_.empty()) {
            std::string current = schemaAlias(current_);
            if (!current.empty()) places.push_back(current);
        }
    }
    bool otherCase = false;
    for (const std::string& place : places) {
        sqlite3_stmt* q = nullptr;
        std::string sql = "SELECT name FROM " + quoteIdent(place) +
                          ".sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE";
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            while (sqlite3_step(q) == SQLITE_ROW) {
                const char* stored = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
                if (stored && name == stored) {
                    sqlite3_finalize(q);
                    return;
                }
                otherCase = true;
            }
        }
        sqlite3_finalize(q);
    }
    if (otherCase) raise(942, "table or view does not exist");
}

std::string ConnectionImpl::sessionUser() const { return admin_ ? "SYS" : user_; }

bool ConnectionImpl::qualifyTables() const { return admin_ && qualify_; }

Rewritten ConnectionImpl::rewrite(const std::string& sql, bool hoistLiterals) {
    used_.clear();
    Rewritten r = rewriteSql(sql, *this, hoistLiterals, true);
    if (!admin_) scopeStatement(r.sql);
    if (r.usesAllMetadata) refreshAllMetadata();
    return r;
}

sqlite3* ConnectionImpl::db() const { return db_; }

EnvironmentImpl* ConnectionImpl::env() const { return env_; }

namespace {

// Logons this process has verified, so that reconnecting (every parallel
// export is a process forked from the one that logged on first, and opens
// its own session) does not pay for the password hash again: 64 MiB and
// a tenth of a second or more each. Kept as digests of the stored hash and the
// password under a key drawn once per process, never the password itself;
// a changed password has another stored hash and is verified anew.
class VerifiedLogons {
public:
    bool contains(const std::string& stored, const std::string& password) {
        std::lock_guard<std::mutex> lock(mutex_);
        Digest d = digest(stored, password);
        for (const Digest& known : known_)
            if (sodium_memcmp(known.data(), d.data(), d.size()) == 0) return true;
        return false;
    }
    void add(const std::string& stored, const std::string& password) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (known_.size() >= 16) known_.erase(known_.begin());
        known_.push_back(digest(stored, password));
    }

private:
    using Digest = std::array<unsigned char, crypto_generichash_BYTES>;
    Digest digest(const std::string& stored, const std::string& password) {
        if (!keyed_) {
            crypto_generichash_keygen(key_);
            keyed_ = true;
        }
        crypto_generichash_state state;
        crypto_generichash_init(&state, key_, sizeof key_, crypto_generichash_BYTES);
        unsigned char length[8];
        for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(stored.size() >> (8 * i));
        crypto_generichash_update(&state, length, sizeof length);
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(password.data()), password.size());
        Digest d;
        crypto_generichash_final(&state, d.data(), d.size());
        return d;
    }
    std::mutex mutex_;
    unsigned char key_[crypto_generichash_KEYBYTES];
    bool keyed_ = false;
    std::vector<Digest> known_;
};

VerifiedLogons& verifiedLogons() {
    static VerifiedLogons logons;
    return logons;
}

}  // namespace

void ConnectionImpl::checkPassword(const std::string& password) {
    sqlite3_stmt* st = nullptr;
    bool ok = false;
    int rc = sqlite3_prepare_v2(db_, "SELECT PASSWORD_HASH FROM main.\"TVX$USER\" WHERE NAME = ?1", -1, &st,
                                nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, user_.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            const char* hash = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            if (hash && sodium_init() >= 0) {
                ok = verifiedLogons().contains(hash, password);
                if (!ok && crypto_pwhash_str_verify(hash, password.c_str(), password.size()) == 0) {
                    ok = true;
                    verifiedLogons().add(hash, password);
                }
            }
        }
    }
    // A file that is busy is busy, and one that cannot be read (damaged,
    // empty, not a schema file at all) is a damaged database: neither is a
    // wrong password.
    int code = sqlite3_errcode(db_);
    std::string message = sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    if (ok) return;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED || code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
        raiseSqlite(message.c_str());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        raise(1578, "ORACLE data block corrupted (" + schemaFile(dir_, mainSchema_) + " is not a schema file: " +
                        message + ")");
    raise(1017, "invalid username/password; logon denied");
}

namespace {

std::string upperAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Tokens SQLite takes as a name: identifiers, quoted identifiers and, as
// SQLite also accepts them there, string literals.
bool isName(const Token& t) { return t.kind == Token::IDENT || t.kind == Token::QUOTED || t.kind == Token::STRING; }

std::string nameText(const Token& t) {
    if (t.kind != Token::STRING) return nameOf(t);
    std::string text;
    for (size_t i = 1; i + 1 < t.text.size(); ++i) {
        text += t.text[i];
        if (t.text[i] == '\'') ++i;  // a doubled quote stands for one
    }
    return text;
}

// The table or view of database alias that SQLite finds for name (letter
// case aside): its stored name and type; false when there is none.
bool findObject(sqlite3* db, const std::string& alias, const std::string& name, std::string& stored,
                std::string& type) {
    sqlite3_stmt* q = nullptr;
    std::string sql = "SELECT name, type FROM " + quoteIdent(alias) +
                      ".sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE";
    bool found = false;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW) {
            stored = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
            type = reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
            found = true;
        }
    }
    sqlite3_finalize(q);
    return found;
}

}  // namespace

// The database a name given to the authorizer stands for ("main", "temp"
// or an attached schema; SQLite's names ignore letter case); empty when
// none.
std::string ConnectionImpl::attachedName(const char* db) const {
    if (sqlite3_stricmp(db, "main") == 0) return "main";
    if (sqlite3_stricmp(db, "temp") == 0) return "temp";
    for (const std::string& schema : attached_)
        if (sqlite3_stricmp(db, schema.c_str()) == 0) return schema;
    return "";
}

// Whether a user session may name table (its stored name) of another
// schema: granted to it or to PUBLIC, or SELECT ANY TABLE held; MDSYS's
// catalogue is public. The schemas' own catalogue tables never.
bool ConnectionImpl::readsDirectly(const std::string& schema, const std::string& table) const {
    if (schema == "main" || schema == "temp" || schema == "MDSYS") return true;
    if (table.compare(0, 4, "TVX$") == 0 || sqlite3_stricmp(table.c_str(), "sqlite_master") == 0 ||
        sqlite3_stricmp(table.c_str(), "sqlite_schema") == 0)
        return false;
    if (selectAny_) return true;
    auto granted = grants_.find(schema);
    return granted != grants_.end() && granted->second.count(table) > 0;
}

// Before a user's statement is prepared: what the authorizer needs to judge
// its reads (bareNames_, bareTables_), and the views of other schemas it
// names, which must be readable themselves (ORA-00942). SQLite tells the
// authorizer, for a table read inside a view or a WITH clause, only the
// innermost view's or WITH clause's name: the tables a view reads are read
// by the view's owner, those of a WITH clause by the user. So a read under
// a name the statement writes itself (a WITH clause is always named in it)
// is judged by the table, and a read under any other name is inside a view
// the statement reached, which this check has judged.
//
// Judging by names written needs our tokens to be SQLite's: "[...]" and
// "`...`" names and "$name(...)" variables (also "@", "#", and "#" inside a
// name) run over quotes where we end them, and none of them is Oracle's
// SQL, so they are ORA-00911 here.
void ConnectionImpl::scopeStatement(const std::string& sql) {
    bareNames_.clear();
    bareTables_.clear();
    std::vector<Token> all = tokenize(sql);
    std::vector<size_t> sig;
    for (size_t i = 0; i < all.size(); ++i) {
        const Token& k = all[i];
        if (k.kind == Token::SPACE || k.kind == Token::COMMENT) continue;
        if (k.kind == Token::OP && (k.text == "[" || k.text == "]" || k.text == "`" || k.text == "$" ||
                                    k.text == "@" || k.text == "#"))
            raise(911, "invalid character");
        if (k.kind == Token::IDENT && k.text.find('#') != std::string::npos && i + 1 < all.size() &&
            all[i + 1].kind == Token::OP && all[i + 1].text == "(")
            raise(911, "invalid character");
        sig.push_back(i);
    }
    auto at = [&](size_t k) -> const Token& { return all[sig[k]]; };
    auto isOp = [&](size_t k, const char* o) { return k < sig.size() && at(k).kind == Token::OP && at(k).text == o; };
    auto isWord = [&](size_t k, const char* w) {
        return k < sig.size() && at(k).kind == Token::IDENT && at(k).text == w;
    };
    // where SQLite looks for a name without an owner: temp, main, then the
    // attached schemas in the order of attachment
    std::vector<std::string> order{"temp", "main"};
    for (int d = 2; const char* name = sqlite3_db_name(db_, d); ++d) order.push_back(name);
    struct Found {
        std::string schema, stored, type;
    };
    std::map<std::string, Found> resolved;
    for (size_t k = 0; k < sig.size(); ++k) {
        if (!isName(at(k))) continue;
        bool afterDot = k > 0 && isOp(k - 1, ".");
        bool beforeDot = isOp(k + 1, ".");
        std::string name = nameText(at(k));
        if (!afterDot && beforeDot && k + 2 < sig.size() && isName(at(k + 2))) {
            // OWNER.NAME: the object named must be readable itself
            std::string schema = attachedName(name.c_str());
            std::string stored, type;
            if (!schema.empty() && findObject(db_, schema, nameText(at(k + 2)), stored, type) &&
                !readsDirectly(schema, stored))
                raise(942, "table or view does not exist");
            continue;
        }
        if (afterDot || beforeDot) continue;
        std::string key = upperAscii(name);
        bareNames_.insert(key);
        if (order.size() <= 2) continue;
        auto known = resolved.find(key);
        if (known == resolved.end()) {
            Found found;
            for (const std::string& schema : order)
                if (findObject(db_, schema, name, found.stored, found.type)) {
                    found.schema = schema;
                    break;
                }
            known = resolved.emplace(key, found).first;
            if (!found.schema.empty() && !readsDirectly(found.schema, found.stored))
                bareTables_[key] = {found.schema, found.stored};
        }
        // a view of another schema named without its owner, where a table
        // may stand (SQLite finds it; Oracle would not)
        const Found& found = known->second;
        if (found.type == "view" && bareTables_.count(key) && k > 0 &&
            (isWord(k - 1, "FROM") || isWord(k - 1, "JOIN") || isOp(k - 1, ",") || isOp(k - 1, "(")))
            raise(942, "table or view does not exist");
    }
}

// Whether a user session may read table of the database db (the authorizer's
// arguments; db is null for a table of which no column is used, named
// without an owner), inside the view or WITH clause named view if any.
bool ConnectionImpl::mayRead(const char* db, const char* table, const char* view) const {
    if (admin_ || !table) return true;
    std::string schema, name = table;
    if (db) {
        schema = attachedName(db);
        if (schema.empty()) return false;
    } else {
        // the session's own table, or one inside a view's query: its view
        // was judged before the statement was prepared
        auto bare = bareTables_.find(upperAscii(table));
        if (bare == bareTables_.end()) return true;
        schema = bare->second.first;
        name = bare->second.second;
    }
    if (readsDirectly(schema, name)) return true;
    return view && *view && !bareNames_.count(upperAscii(view));
}

// The tables of schema (attached as alias, or open as other) granted to
// the session's user or to PUBLIC; none when the schema keeps no grants.
std::set<std::string> ConnectionImpl::grantsOf(sqlite3* db, const std::string& alias) const {
    std::set<std::string> tables;
    sqlite3_stmt* q = nullptr;
    std::string sql = "SELECT TABLE_NAME FROM " + quoteIdent(alias) +
                      ".\"TVX$GRANTS\" WHERE GRANTEE = ?1 OR GRANTEE = 'PUBLIC'";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, user_.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(q) == SQLITE_ROW)
            tables.insert(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
    }
    sqlite3_finalize(q);
    return tables;
}

void ConnectionImpl::makeRoom() {
    forgetRounding();
    for (auto it = attached_.begin(); it != attached_.end(); ++it) {
        if (used_.count(*it) || pending_.count(*it)) continue;
        if (sqlite3_exec(db_, ("DETACH DATABASE " + quoteIdent(*it)).c_str(), nullptr, nullptr,
                         nullptr) == SQLITE_OK) {
            attached_.erase(it);
            return;
        }
    }
    raise(2020, "too many database links in use (at most " + std::to_string(attachLimit_) +
                    " other schemas in one statement or in one transaction)");
}

std::vector<std::string> ConnectionImpl::listSchemas() const {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir_.c_str());
    if (!d) return names;
    while (struct dirent* e = ::readdir(d)) {
        std::string f = e->d_name;
        if (f.size() > 3 && f.compare(f.size() - 3, 3, ".db") == 0) {
            std::string name = f.substr(0, f.size() - 3);
            // only regular files are schema files: anything else is left
            // unopened (a FIFO would block the listing for ever)
            std::string odd, what;
            if (!validSchemaName(name)) continue;
            if (isOddSchemaFile(schemaFile(dir_, name), odd, what)) warnOddFile(odd, what);
            else names.push_back(name);
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

void ConnectionImpl::refreshAllMetadata() {
    execOn(db_, "DELETE FROM temp.\"TVX$ALL_GEOM_METADATA\"");
    for (const std::string& schema : listSchemas()) {
        std::string alias = schema == mainSchema_ ? "main" : attached_.count(schema) ? schema : "";
        // the rows of the tables the session may read
        bool all = admin_ || selectAny_ || alias == "main" || schema == "MDSYS";
        if (!alias.empty()) {
            std::string only;
            if (!all) {
                for (const std::string& table : grants_[schema]) only += (only.empty() ? "" : ", ") + quoteLiteral(table);
                if (only.empty()) continue;
            }
            execOn(db_, "INSERT INTO temp.\"TVX$ALL_GEOM_METADATA\" SELECT " + quoteLiteral(schema) +
                            ", TABLE_NAME, COLUMN_NAME, DIMINFO, SRID FROM " + quoteIdent(alias) +
                            ".\"TVX$GEOM_METADATA\"" + (all ? "" : " WHERE TABLE_NAME IN (" + only + ")") +
                            " ORDER BY rowid");
            continue;
        }
        // a schema not attached is read on a connection of its own; every
        // failure (busy, damaged) reaches the caller
        sqlite3* other = nullptr;
        sqlite3_stmt* read = nullptr;
        sqlite3_stmt* write = nullptr;
        std::string failure;
        if (sqlite3_open_v2(schemaFile(dir_, schema).c_str(), &other, SQLITE_OPEN_READONLY, schemaVfs()) !=
            SQLITE_OK) {
            failure = other ? sqlite3_errmsg(other) : "out of memory";
        } else {
            sqlite3_busy_timeout(other, BUSY_WAIT_MS);
            if (sqlite3_prepare_v2(other,
                                   "SELECT TABLE_NAME, COLUMN_NAME, DIMINFO, SRID FROM "
                                   "\"TVX$GEOM_METADATA\" ORDER BY rowid",
                                   -1, &read, nullptr) != SQLITE_OK) {
                failure = sqlite3_errmsg(other);
            } else if (sqlite3_prepare_v2(db_, "INSERT INTO temp.\"TVX$ALL_GEOM_METADATA\" VALUES (?1,?2,?3,?4,?5)",
                                          -1, &write, nullptr) != SQLITE_OK) {
                failure = sqlite3_errmsg(db_);
            } else {
                std::set<std::string> granted;
                if (!all) granted = grantsOf(other, "main");
                int rc;
                while ((rc = sqlite3_step(read)) == SQLITE_ROW) {
                    const unsigned char* table = sqlite3_column_text(read, 0);
                    if (!all && (!table || !granted.count(reinterpret_cast<const char*>(table)))) continue;
                    sqlite3_bind_text(write, 1, schema.c_str(), -1, SQLITE_TRANSIENT);
                    for (int c = 0; c < 4; ++c) sqlite3_bind_value(write, c + 2, sqlite3_column_value(read, c));
                    int wrc = sqlite3_step(write);
                    sqlite3_reset(write);
                    if (wrc != SQLITE_DONE) {
                        failure = sqlite3_errmsg(db_);
                        break;
                    }
                }
                if (failure.empty() && rc != SQLITE_DONE) failure = sqlite3_errmsg(other);
            }
        }
        sqlite3_finalize(read);
        sqlite3_finalize(write);
        sqlite3_close_v2(other);
        if (failure.find("no such table") != std::string::npos)
            failure = "ORA-01578: ORACLE data block corrupted (" + schemaFile(dir_, schema) + " is not a schema file)";
        if (!failure.empty()) raiseSqlite(failure.c_str());
    }
}

void ConnectionImpl::upgradeCatalog(const std::string& alias) {
    sqlite3_stmt* probe = nullptr;
    std::string sql = "SELECT CHARSET_FORM FROM " + quoteIdent(alias) + ".\"TVX$COLUMNS\" LIMIT 0";
    bool current = sqlite3_prepare_v2(db_, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    if (current) return;
    for (const char* column : {"CHAR_USED", "CHAR_SIZE", "CHARSET_FORM"})
        execOn(db_, "ALTER TABLE " + quoteIdent(alias) + ".\"TVX$COLUMNS\" ADD COLUMN " + column + " INTEGER");
}

void ConnectionImpl::beginWrite() {
    if (admin_ && sqlite3_get_autocommit(db_)) execOn(db_, "BEGIN");
}

void ConnectionImpl::requireAdmin() {
    if (!admin_) raise(1031, "insufficient privileges");
}

int ConnectionImpl::authorize(void* self, int action, const char* a, const char* b, const char* db,
                              const char* view) {
    ConnectionImpl* c = static_cast<ConnectionImpl*>(self);
    if (!c->guard) return SQLITE_OK;
    switch (action) {
        case SQLITE_READ:
            if (a && std::strcmp(a, "TVX$USER") == 0) return SQLITE_DENY;
            if (!c->mayRead(db, a, view)) {
                c->denied = true;
                return SQLITE_DENY;
            }
            return SQLITE_OK;
        case SQLITE_SELECT:
        case SQLITE_RECURSIVE:
            return SQLITE_OK;
        case SQLITE_FUNCTION:
            return b && sqlite3_stricmp(b, "fts3_tokenizer") == 0 ? SQLITE_DENY : SQLITE_OK;
        case SQLITE_ATTACH:
        case SQLITE_DETACH:
        case SQLITE_PRAGMA:
        case SQLITE_TRANSACTION:
        case SQLITE_SAVEPOINT:
            return SQLITE_DENY;
        default:
            return c->admin_ ? SQLITE_OK : SQLITE_DENY;
    }
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
