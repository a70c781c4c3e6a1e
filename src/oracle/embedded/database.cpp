// Environment, connections, statements and result sets over SQLite.
//
// Connections: a user session opens its own schema file read-only as
// SQLite's "main" database and attaches other schemas read-only when a
// statement names them (OWNER.TABLE). An administrator session (admin.h)
// opens MDSYS as "main" read-write and attaches schemas read-write.
// Limit: SQLite attaches at most 10 databases per connection; schemas not
// used by the statement at hand are detached to make room, and a statement
// that needs more gets ORA-02020. Schemas changed in the open transaction of
// an administrator session stay attached until commit or rollback, so one
// transaction (one loader script) changes at most 10 schemas besides MDSYS.
//
// Each schema file holds, besides its tables, the catalogue tables
//   "TVX$COLUMNS"        declared Oracle type of every column
//   "TVX$USER"           the schema's user and its password hash
//   "TVX$GEOM_METADATA"  the rows of USER_SDO_GEOM_METADATA
// and every session has in its temp database DUAL, the ALL_SDO_GEOM_METADATA
// rows ("TVX$ALL_GEOM_METADATA", refreshed before each query that uses the
// view) and their catalogue.
#include "admin.h"
#include "internal.h"

#include <sodium.h>
#include <sqlite3.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <set>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

class ConnectionImpl;
class StatementImpl;

// ---------------------------------------------------------------- errors

[[noreturn]] void raiseSqlite(const char* message) {
    std::string msg = message ? message : "unknown error";
    if (msg.compare(0, 4, "ORA-") == 0 && msg.size() > 11) {
        throw SQLException(std::atoi(msg.c_str() + 4), msg);
    }
    auto after = [&](const char* prefix) -> std::string {
        return msg.substr(std::strlen(prefix));
    };
    if (msg.compare(0, 14, "no such table:") == 0) raise(942, "table or view does not exist");
    if (msg == "database disk image is malformed" || msg == "file is not a database")
        raise(1578, "ORACLE data block corrupted (" + msg + ")");
    if (msg.compare(0, 15, "no such column:") == 0)
        raise(904, "\"" + after("no such column: ") + "\": invalid identifier");
    if (msg.compare(0, 17, "no such function:") == 0)
        raise(904, "\"" + after("no such function: ") + "\": invalid identifier");
    if (msg.compare(0, 16, "unknown database") == 0) raise(942, "table or view does not exist");
    if (msg.compare(0, 14, "not authorized") == 0 ||
        (msg.compare(0, 10, "access to ") == 0 && msg.find("is prohibited") != std::string::npos))
        raise(1031, "insufficient privileges");
    if (msg.find("readonly database") != std::string::npos)
        raise(16000, "database or pluggable database open for read-only access");
    if (msg.compare(0, 26, "NOT NULL constraint failed") == 0)
        raise(1400, "cannot insert NULL into (" + after("NOT NULL constraint failed: ") + ")");
    if (msg.compare(0, 24, "UNIQUE constraint failed") == 0 ||
        msg.compare(0, 29, "PRIMARY KEY constraint failed") == 0)
        raise(1, "unique constraint violated (" + msg + ")");
    static const char* const LENGTH_CHECK = "CHECK constraint failed: TVX$LENGTH$";
    if (msg.compare(0, std::strlen(LENGTH_CHECK), LENGTH_CHECK) == 0)
        raise(12899, "value too large for column \"" + after("CHECK constraint failed: TVX$LENGTH$") + "\"");
    if (msg.compare(0, 36, "CHECK constraint failed: TVX$NUMBER$") == 0) raise(1722, "invalid number");
    if (msg.compare(0, 39, "CHECK constraint failed: TVX$PRECISION$") == 0)
        raise(1438, "value larger than specified precision allowed for this column");
    if (msg.compare(0, 34, "CHECK constraint failed: TVX$DATE$") == 0)
        raise(1861, "literal does not match format string");
    if (msg.find("already exists") != std::string::npos)
        raise(955, "name is already used by an existing object");
    if (msg.find("too many attached databases") != std::string::npos)
        raise(2020, "too many database links in use (at most 10 schemas per statement)");
    if (msg.find("database is locked") != std::string::npos)
        raise(54, "resource busy and acquire with NOWAIT specified or timeout expired");
    raise(900, "invalid SQL statement: " + msg);
}

std::string leadingWord(const std::string& sql);

// SELECT ..., WITH ... or a parenthesised query.
bool isQuery(const std::string& sql) {
    std::string w = leadingWord(sql);
    if (w == "SELECT" || w == "WITH") return true;
    if (!w.empty()) return false;
    size_t i = sql.find_first_not_of(" \t\r\n");
    return i != std::string::npos && sql[i] == '(';
}

bool validSchemaName(const std::string& name) {
    if (name.empty() || name.size() > 128) return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!(std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
              c == '_' || c == '$' || c == '#'))
            return false;
    return true;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string uriPath(const std::string& path) {
    std::string out = "file:";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '$') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

void execOn(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(db);
        sqlite3_free(err);
        raiseSqlite(msg.c_str());
    }
}

std::string quoteIdent(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

std::string quoteLiteral(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// Catalogue tables of one schema, in database alias.
void createCatalog(sqlite3* db, const std::string& alias) {
    std::string a = quoteIdent(alias);
    execOn(db,
           "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$COLUMNS\"(TABLE_NAME TEXT NOT NULL, COLUMN_NAME TEXT NOT NULL, "
               "POSITION INTEGER, DATA_TYPE INTEGER, DATA_SIZE INTEGER, DATA_PRECISION INTEGER, "
               "DATA_SCALE INTEGER, TYPE_NAME TEXT, TYPE_OWNER TEXT, "
               "PRIMARY KEY(TABLE_NAME, COLUMN_NAME)) WITHOUT ROWID;"
               "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$USER\"(NAME TEXT PRIMARY KEY, PASSWORD_HASH TEXT NOT NULL);"
               "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$GEOM_METADATA\"(TABLE_NAME TEXT, COLUMN_NAME TEXT, DIMINFO, SRID NUMERIC, "
               "UNIQUE(TABLE_NAME, COLUMN_NAME));"
               "CREATE TRIGGER IF NOT EXISTS " + a +
               ".\"TVX$GEOM_METADATA_UPPER\" AFTER INSERT ON \"TVX$GEOM_METADATA\" BEGIN "
               "UPDATE \"TVX$GEOM_METADATA\" SET TABLE_NAME = upper(NEW.TABLE_NAME), "
               "COLUMN_NAME = upper(NEW.COLUMN_NAME) WHERE rowid = NEW.rowid; END;"
               "INSERT OR REPLACE INTO " + a +
               ".\"TVX$COLUMNS\" VALUES "
               "('TVX$GEOM_METADATA','TABLE_NAME',1,1,32,0,0,NULL,NULL),"
               "('TVX$GEOM_METADATA','COLUMN_NAME',2,1,1024,0,0,NULL,NULL),"
               "('TVX$GEOM_METADATA','DIMINFO',3,108,0,0,0,'SDO_DIM_ARRAY','MDSYS'),"
               "('TVX$GEOM_METADATA','SRID',4,2,22,0,-127,NULL,NULL);");
}

// ---------------------------------------------------------------- type map

class MapImpl : public Map {
public:
    struct Entry {
        std::string schema, type;
        void* (*read)(void*);
        void (*write)(void*, void*);
    };

    void put(const std::string& typeName, void* (*rSQL)(void*), void (*wSQL)(void*, void*)) override {
        std::string name = typeName;
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        size_t dot = name.find('.');
        if (dot == std::string::npos) store("", name, rSQL, wSQL);
        else store(name.substr(0, dot), name.substr(dot + 1), rSQL, wSQL);
    }

    void put(const std::string& schemaName, const std::string& typeName, void* (*rSQL)(void*),
             void (*wSQL)(void*, void*)) override {
        std::string s = schemaName, t = typeName;
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        store(s, t, rSQL, wSQL);
    }

    const Entry* find(const std::string& schema, const std::string& type) const {
        for (const Entry& e : entries_)
            if (e.type == type && (e.schema == schema || e.schema.empty())) return &e;
        return nullptr;
    }

    const Entry* findRead(void* (*rSQL)(void*)) const {
        for (const Entry& e : entries_)
            if (e.read == rSQL) return &e;
        return nullptr;
    }

private:
    void store(const std::string& s, const std::string& t, void* (*r)(void*), void (*w)(void*, void*)) {
        for (Entry& e : entries_)
            if (e.schema == s && e.type == t) {
                e.read = r;
                e.write = w;
                return;
            }
        entries_.push_back(Entry{s, t, r, w});
    }
    std::vector<Entry> entries_;
};

class EnvironmentImpl : public Environment {
public:
    Connection* createConnection(const std::string& userName, const std::string& password,
                                 const std::string& connectString) override;
    void terminateConnection(Connection* connection) override;
    Map* getMap() const override { return const_cast<MapImpl*>(&map_); }
    const MapImpl& map() const { return map_; }
    ~EnvironmentImpl() override;
    void adopt(Connection* c) { connections_.insert(c); }

private:
    MapImpl map_;
    std::set<Connection*> connections_;  // closed with the environment if still open
};

// ---------------------------------------------------------------- statements

class ResultSetImpl;

class StatementImpl : public Statement {
public:
    StatementImpl(ConnectionImpl* conn, const std::string& sql) : conn_(conn), sql_(sql) {}
    ~StatementImpl() override;

    // A new text starts with no bound values.
    void setSQL(const std::string& sql) override {
        sql_ = sql;
        binds_.clear();
    }
    std::string getSQL() const override { return sql_; }
    void setString(unsigned int i, const std::string& x) override {
        Bind& b = slot(i);
        if (x.empty()) {
            b.kind = Bind::NUL;  // Oracle reads the empty text as NULL
        } else {
            b.kind = Bind::TEXT;
            b.text = x;
        }
    }
    void setInt(unsigned int i, int x) override {
        Bind& b = slot(i);
        b.kind = Bind::INT;
        b.integer = x;
    }
    void setNumber(unsigned int i, const Number& x) override {
        Bind& b = slot(i);
        if (x.isNull()) {
            b.kind = Bind::NUL;
            return;
        }
        double v = x;
        if (v == std::trunc(v) && std::fabs(v) < 9e15) {
            b.kind = Bind::INT;
            b.integer = static_cast<sqlite3_int64>(v);
        } else {
            b.kind = Bind::REAL;
            b.real = v;
        }
    }
    void setDouble(unsigned int i, double x) override {
        Bind& b = slot(i);
        b.kind = Bind::REAL;
        b.real = x;
    }
    ResultSet* executeQuery(const std::string& sql) override;
    unsigned int executeUpdate(const std::string& sql) override;
    void closeResultSet(ResultSet* resultSet) override;
    void setPrefetchRowCount(unsigned int rowCount) override { prefetch_ = rowCount; }
    Connection* getConnection() const override;
    unsigned int prefetchRowCount() const { return prefetch_ == 0 ? 1 : prefetch_; }

    // Prepares the rewritten text (reusing the last one when equal) and
    // binds the values.
    sqlite3_stmt* prepare(const Rewritten& rewritten);
    void release();

    struct Bind {
        enum Kind { NONE, NUL, INT, REAL, TEXT } kind = NONE;
        sqlite3_int64 integer = 0;
        double real = 0;
        std::string text;
    };

private:
    Bind& slot(unsigned int i) {
        if (i == 0 || i > 65535) raise(1036, "illegal variable name/number");
        if (binds_.size() < i) binds_.resize(i);
        return binds_[i - 1];
    }

    ConnectionImpl* conn_;
    std::string sql_;
    std::vector<Bind> binds_;
    sqlite3_stmt* prepared_ = nullptr;
    std::string preparedSql_;
    ResultSetImpl* open_ = nullptr;
    unsigned int prefetch_ = 1;
};

// ---------------------------------------------------------------- connection

class ConnectionImpl : public Connection, public SchemaResolver {
public:
    ConnectionImpl(EnvironmentImpl* env, const std::string& directory, const std::string& user,
                   bool admin)
        : env_(env), dir_(directory), user_(user), admin_(admin) {}

    ~ConnectionImpl() override {
        for (StatementImpl* s : statements_) delete s;
        statements_.clear();
        if (db_) {
            if (admin_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close_v2(db_);
        }
    }

    // Opens the session; raises on failure (the object is then deleted by
    // the caller).
    void open(const std::string& password) {
        mainSchema_ = admin_ ? "MDSYS" : user_;
        std::string path = schemaFile(dir_, mainSchema_);
        if (!isFile(path)) {
            if (admin_) raise(12154, "TNS:could not resolve the connect identifier specified");
            raise(1017, "invalid username/password; logon denied");
        }
        // one thread per connection, as with the real client's default
        // environment: no SQLite mutex around every column read
        int flags = (admin_ ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_URI |
                    SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
            raise(12154, "TNS:could not resolve the connect identifier specified (" + msg + ")");
        }
        sqlite3_extended_result_codes(db_, 0);
        sqlite3_busy_timeout(db_, 5000);
        if (!admin_) checkPassword(password);
        // A user session scans: a small page cache and no memory mapping keep
        // its memory flat however many rows it reads. Loading wants a cache.
        execOn(db_, admin_ ? "PRAGMA temp_store = MEMORY; PRAGMA cache_size = -16384;"
                           : "PRAGMA temp_store = MEMORY; PRAGMA cache_size = -2048; PRAGMA mmap_size = 0;");
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
               "('DUAL','DUMMY',1,1,1,0,0,NULL,NULL),"
               "('TVX$ALL_GEOM_METADATA','OWNER',1,1,32,0,0,NULL,NULL),"
               "('TVX$ALL_GEOM_METADATA','TABLE_NAME',2,1,32,0,0,NULL,NULL),"
               "('TVX$ALL_GEOM_METADATA','COLUMN_NAME',3,1,1024,0,0,NULL,NULL),"
               "('TVX$ALL_GEOM_METADATA','DIMINFO',4,108,0,0,0,'SDO_DIM_ARRAY','MDSYS'),"
               "('TVX$ALL_GEOM_METADATA','SRID',5,2,22,0,-127,NULL,NULL);");
        int limit = sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, -1);
        attachLimit_ = limit > 0 ? static_cast<size_t>(limit) : 0;
    }

    Statement* createStatement(const std::string& sql) override {
        StatementImpl* s = new StatementImpl(this, sql);
        statements_.insert(s);
        return s;
    }

    void terminateStatement(Statement* statement) override {
        StatementImpl* s = static_cast<StatementImpl*>(statement);
        if (statements_.erase(s)) delete s;
    }

    void commit() override {
        if (!sqlite3_get_autocommit(db_)) {
            int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK) raiseSqlite(sqlite3_errmsg(db_));
        }
    }

    void rollback() override {
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    std::string getServerVersion() const override {
        return std::string("Tarvex Embedded Database 1.0 (Oracle client API subset) - SQLite ") +
               sqlite3_libversion();
    }

    // ------------------------------------------------ SchemaResolver

    std::string schemaAlias(const std::string& name) override {
        if (!validSchemaName(name)) return "";
        if (name == mainSchema_) return "main";
        if (attached_.count(name)) {
            used_.insert(name);
            return name;
        }
        if (!isFile(schemaFile(dir_, name))) return "";
        if (attached_.size() >= attachLimit_) makeRoom();
        std::string target = admin_ ? schemaFile(dir_, name) : uriPath(schemaFile(dir_, name)) + "?mode=ro";
        execOn(db_, "ATTACH DATABASE " + quoteLiteral(target) + " AS " + quoteIdent(name));
        attached_.insert(name);
        used_.insert(name);
        return name;
    }

    std::string currentAlias() override {
        if (!admin_) return "main";
        if (current_.empty())
            raise(1435, "user does not exist (no current schema: ALTER SESSION SET CURRENT_SCHEMA first)");
        std::string alias = schemaAlias(current_);
        if (alias.empty()) raise(1435, "user does not exist");
        return alias;
    }

    std::string sessionUser() const override { return admin_ ? "SYS" : user_; }
    bool qualifyTables() const override { return admin_ && qualify_; }

    // ------------------------------------------------ execution

    Rewritten rewrite(const std::string& sql, bool hoistLiterals = false) {
        used_.clear();
        Rewritten r = rewriteSql(sql, *this, hoistLiterals);
        if (r.usesAllMetadata) refreshAllMetadata();
        return r;
    }

    sqlite3* db() const { return db_; }
    EnvironmentImpl* env() const { return env_; }

    // Reported types of a prepared statement's columns; the values of the
    // current row decide for computed columns.
    std::vector<ColumnType> describe(sqlite3_stmt* stmt, bool haveRow);

    unsigned int update(StatementImpl* statement, const std::string& sql);
    unsigned int run(StatementImpl* statement, const std::string& sql);

private:
    void checkPassword(const std::string& password) {
        sqlite3_stmt* st = nullptr;
        bool ok = false;
        if (sqlite3_prepare_v2(db_, "SELECT PASSWORD_HASH FROM main.\"TVX$USER\" WHERE NAME = ?1", -1, &st,
                               nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, user_.c_str(), -1, SQLITE_TRANSIENT);
            int rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                const char* hash = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                ok = hash && sodium_init() >= 0 &&
                     crypto_pwhash_str_verify(hash, password.c_str(), password.size()) == 0;
            }
        }
        // A schema file that cannot be read is a damaged database, not a
        // wrong password.
        int code = sqlite3_errcode(db_);
        if (!ok && (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)) {
            std::string message = sqlite3_errmsg(db_);
            sqlite3_finalize(st);
            raiseSqlite(message.c_str());
        }
        sqlite3_finalize(st);
        if (!ok) raise(1017, "invalid username/password; logon denied");
    }

    void makeRoom() {
        for (auto it = attached_.begin(); it != attached_.end(); ++it) {
            if (used_.count(*it)) continue;
            if (sqlite3_exec(db_, ("DETACH DATABASE " + quoteIdent(*it)).c_str(), nullptr, nullptr,
                             nullptr) == SQLITE_OK) {
                attached_.erase(it);
                return;
            }
        }
        raise(2020, "too many database links in use (at most " + std::to_string(attachLimit_) +
                        " other schemas in one statement or in one transaction)");
    }

    std::vector<std::string> listSchemas() const {
        std::vector<std::string> names;
        DIR* d = ::opendir(dir_.c_str());
        if (!d) return names;
        while (struct dirent* e = ::readdir(d)) {
            std::string f = e->d_name;
            if (f.size() > 3 && f.compare(f.size() - 3, 3, ".db") == 0) {
                std::string name = f.substr(0, f.size() - 3);
                if (validSchemaName(name)) names.push_back(name);
            }
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        return names;
    }

    void refreshAllMetadata() {
        execOn(db_, "DELETE FROM temp.\"TVX$ALL_GEOM_METADATA\"");
        for (const std::string& schema : listSchemas()) {
            std::string alias = schema == mainSchema_ ? "main" : attached_.count(schema) ? schema : "";
            if (!alias.empty()) {
                char* err = nullptr;
                sqlite3_exec(db_,
                             ("INSERT INTO temp.\"TVX$ALL_GEOM_METADATA\" SELECT " + quoteLiteral(schema) +
                              ", TABLE_NAME, COLUMN_NAME, DIMINFO, SRID FROM " + quoteIdent(alias) +
                              ".\"TVX$GEOM_METADATA\" ORDER BY rowid")
                                 .c_str(),
                             nullptr, nullptr, &err);
                sqlite3_free(err);
                continue;
            }
            sqlite3* other = nullptr;
            if (sqlite3_open_v2(schemaFile(dir_, schema).c_str(), &other, SQLITE_OPEN_READONLY, nullptr) ==
                SQLITE_OK) {
                sqlite3_busy_timeout(other, 5000);
                sqlite3_stmt* read = nullptr;
                sqlite3_stmt* write = nullptr;
                if (sqlite3_prepare_v2(other,
                                       "SELECT TABLE_NAME, COLUMN_NAME, DIMINFO, SRID FROM "
                                       "\"TVX$GEOM_METADATA\" ORDER BY rowid",
                                       -1, &read, nullptr) == SQLITE_OK &&
                    sqlite3_prepare_v2(db_,
                                       "INSERT INTO temp.\"TVX$ALL_GEOM_METADATA\" VALUES (?1,?2,?3,?4,?5)",
                                       -1, &write, nullptr) == SQLITE_OK) {
                    while (sqlite3_step(read) == SQLITE_ROW) {
                        sqlite3_bind_text(write, 1, schema.c_str(), -1, SQLITE_TRANSIENT);
                        for (int c = 0; c < 4; ++c) sqlite3_bind_value(write, c + 2, sqlite3_column_value(read, c));
                        sqlite3_step(write);
                        sqlite3_reset(write);
                    }
                }
                sqlite3_finalize(read);
                sqlite3_finalize(write);
            }
            sqlite3_close_v2(other);
        }
    }

    void beginWrite() {
        if (admin_ && sqlite3_get_autocommit(db_)) execOn(db_, "BEGIN");
    }

    void requireAdmin() {
        if (!admin_) raise(1031, "insufficient privileges");
    }

    unsigned int createUser(const std::vector<Token>& t);
    unsigned int alterSession(const std::vector<Token>& t);
    unsigned int createTable(const std::vector<Token>& t);
    unsigned int dropTable(const std::vector<Token>& t);
    unsigned int createView(const std::vector<Token>& t, const std::string& sql);
    void execSingle(const std::string& sql);
    std::string tableTarget(const std::vector<Token>& t, size_t& i, std::string& table);

    EnvironmentImpl* env_;
    std::string dir_;
    std::string user_;
    bool admin_;
    std::string mainSchema_;
    std::string current_;
    sqlite3* db_ = nullptr;
    std::set<StatementImpl*> statements_;
    std::set<std::string> attached_;
    std::set<std::string> used_;
    size_t attachLimit_ = 10;
    bool qualify_ = true;

public:
    // While set, statements being prepared come from the session: a user
    // session may only read, and no session may attach files, set pragmas
    // or read the password hashes.
    bool guard = false;

    static int authorize(void* self, int action, const char* a, const char* b, const char* /*db*/,
                         const char* /*trigger*/) {
        ConnectionImpl* c = static_cast<ConnectionImpl*>(self);
        if (!c->guard) return SQLITE_OK;
        switch (action) {
            case SQLITE_READ:
                return a && std::strcmp(a, "TVX$USER") == 0 ? SQLITE_DENY : SQLITE_OK;
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
};

// ---------------------------------------------------------------- result set

// Benchmark aid, not Oracle behaviour: TARVEX_EMBEDDED_ROUND_TRIP_MS (in
// milliseconds, decimals allowed, at most 10 s) makes every prefetch batch a
// query fetches wait that long, as a round trip to a server would. The
// wait in microseconds; 0 when unset.
long roundTripMicros() {
    static const long micros = [] {
        const char* text = std::getenv("TARVEX_EMBEDDED_ROUND_TRIP_MS");
        double ms = text != nullptr ? std::strtod(text, nullptr) : 0;
        return ms > 0 && ms <= 10000 ? static_cast<long>(ms * 1000) : 0L;
    }();
    return micros;
}

class ResultSetImpl : public ResultSet {
public:
    ResultSetImpl(StatementImpl* owner, ConnectionImpl* conn, sqlite3_stmt* stmt)
        : owner_(owner), conn_(conn), stmt_(stmt) {}

    // Runs the query to its first row and describes the columns.
    void start() {
        firstRc_ = sqlite3_step(stmt_);
        if (firstRc_ != SQLITE_ROW && firstRc_ != SQLITE_DONE) raiseSqlite(sqlite3_errmsg(conn_->db()));
        types_ = conn_->describe(stmt_, firstRc_ == SQLITE_ROW);
        int n = sqlite3_column_count(stmt_);
        meta_.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            const ColumnType& c = types_[static_cast<size_t>(i)];
            const char* name = sqlite3_column_name(stmt_, i);
            meta_.emplace_back(name ? name : "", c.code, c.size, c.precision, c.scale, true, c.typeName,
                               c.typeSchema);
        }
    }

    Status next(unsigned int /*numRows*/) override {
        if (state_ == END) return END_OF_FETCH;
        if (roundTrip_ > 0 && fetched_++ % owner_->prefetchRowCount() == 0) {
            struct timespec wait = {roundTrip_ / 1000000, (roundTrip_ % 1000000) * 1000};
            while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
            }
        }
        int rc;
        if (state_ == BEFORE) rc = firstRc_;
        else rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            state_ = ROW;
            return DATA_AVAILABLE;
        }
        state_ = END;
        if (rc != SQLITE_DONE) raiseSqlite(sqlite3_errmsg(conn_->db()));
        return END_OF_FETCH;
    }

    bool isNull(unsigned int col) const override {
        return sqlite3_column_type(stmt_, check(col)) == SQLITE_NULL;
    }

    int getInt(unsigned int col) override {
        double v = numeric(col);
        if (std::isnan(v)) return 0;
        v = std::trunc(v);
        if (v <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
        if (v >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
        return static_cast<int>(v);
    }

    unsigned int getUInt(unsigned int col) override {
        double v = std::trunc(numeric(col));
        if (!(v > 0)) return 0;
        if (v >= std::numeric_limits<unsigned int>::max()) return std::numeric_limits<unsigned int>::max();
        return static_cast<unsigned int>(v);
    }

    double getDouble(unsigned int col) override { return numeric(col); }
    float getFloat(unsigned int col) override { return static_cast<float>(numeric(col)); }

    Number getNumber(unsigned int col) override {
        int i = check(col);
        if (sqlite3_column_type(stmt_, i) == SQLITE_NULL) return Number();
        return Number(numeric(col));
    }

    std::string getString(unsigned int col) override {
        int i = check(col);
        const ColumnType& t = types_[static_cast<size_t>(i)];
        int type = sqlite3_column_type(stmt_, i);
        if (type == SQLITE_NULL) return "";
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
            if (type == SQLITE_INTEGER) {
                sqlite3_int64 v = sqlite3_column_int64(stmt_, i);
                if (v > -(1LL << 53) && v < (1LL << 53)) return std::to_string(v);
            }
            return numberText(sqlite3_column_double(stmt_, i));
        }
        if (type == SQLITE_BLOB) {
            if (t.code == TC_OBJECT) raise(932, "inconsistent datatypes: expected CHAR got " + t.typeSchema + "." + t.typeName);
            const unsigned char* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, i));
            int n = sqlite3_column_bytes(stmt_, i);
            static const char* const HEX = "0123456789ABCDEF";
            std::string out;
            out.reserve(static_cast<size_t>(n) * 2);
            for (int k = 0; k < n; ++k) {
                out += HEX[p[k] >> 4];
                out += HEX[p[k] & 15];
            }
            return out;
        }
        const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        size_t n = static_cast<size_t>(sqlite3_column_bytes(stmt_, i));
        if (t.code == TC_DATE) return dateValue(i).toText("", "");
        if (t.code == TC_TIMESTAMP || t.code == TC_TIMESTAMP_TZ) {
            DateTime v = dateTimeValue(i);
            std::string fmt = t.code == TC_TIMESTAMP ? "DD-MON-YY HH.MI.SSXFF AM" : "DD-MON-YY HH.MI.SSXFF AM TZR";
            return formatDateTime(v, fmt, static_cast<unsigned>(t.scale), true);
        }
        std::string out(s, n);
        if (t.code == TC_CHAR && t.size > 0) {
            // blank-padded to the declared length in characters
            size_t chars = 0;
            for (unsigned char c : out)
                if ((c & 0xC0) != 0x80) ++chars;
            if (chars < static_cast<size_t>(t.size)) out.append(static_cast<size_t>(t.size) - chars, ' ');
        }
        return out;
    }

    Date getDate(unsigned int col) override {
        int i = check(col);
        if (sqlite3_column_type(stmt_, i) == SQLITE_NULL) return Date();
        return dateValue(i);
    }

    Timestamp getTimestamp(unsigned int col) override {
        int i = check(col);
        if (sqlite3_column_type(stmt_, i) == SQLITE_NULL) return Timestamp();
        DateTime v = dateTimeValue(i);
        return Timestamp(nullptr, v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction, v.tzHour,
                         v.tzMinute);
    }

    PObject* getObject(unsigned int col) override {
        int i = check(col);
        int type = sqlite3_column_type(stmt_, i);
        if (type == SQLITE_NULL) return nullptr;
        const ColumnType& t = types_[static_cast<size_t>(i)];
        GeomView g;
        if (t.code != TC_OBJECT || type != SQLITE_BLOB ||
            !decodeGeometry(sqlite3_column_blob(stmt_, i), sqlite3_column_bytes(stmt_, i), g))
            raise(932, "inconsistent datatypes: expected an object of type MDSYS.SDO_GEOMETRY");
        if (!reader_) {
            // looked up once per result set
            const MapImpl::Entry* entry = conn_->env()->map().find("MDSYS", "SDO_GEOMETRY");
            if (!entry || !entry->read)
                raise(21700, "object does not exist or is marked for delete: no class registered for "
                             "MDSYS.SDO_GEOMETRY in the environment's type map");
            reader_ = entry->read;
        }
        ObjectContext ctx;
        ctx.kind = ObjectContext::GEOMETRY;
        ctx.geom = &g;
        void* object = reader_(&ctx);
        if (ctx.failed) throw ctx.error;
        return static_cast<PObject*>(object);
    }

    std::vector<MetaData> getColumnListMetaData() const override { return meta_; }
    Statement* getStatement() const override { return owner_; }

private:
    int check(unsigned int col) const {
        if (col < 1 || col > types_.size()) raise(1007, "variable not in select list");
        if (state_ != ROW) raise(1002, "fetch out of sequence");
        return static_cast<int>(col) - 1;
    }

    double numeric(unsigned int col) {
        int i = check(col);
        switch (sqlite3_column_type(stmt_, i)) {
            case SQLITE_NULL: return 0.0;
            case SQLITE_INTEGER:
            case SQLITE_FLOAT: return sqlite3_column_double(stmt_, i);
            case SQLITE_TEXT: {
                const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
                char* end = nullptr;
                errno = 0;
                double v = std::strtod(s, &end);
                while (end && (*end == ' ' || *end == '\t')) ++end;
                if (end == s || (end && *end)) raise(1722, "invalid number");
                return v;
            }
            default: raise(932, "inconsistent datatypes: expected NUMBER got BINARY");
        }
    }

    DateTime dateTimeValue(int i) {
        if (sqlite3_column_type(stmt_, i) != SQLITE_TEXT)
            raise(932, "inconsistent datatypes: expected DATE got NUMBER");
        const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        DateTime v;
        if (!parseStoredDateTime(s, static_cast<size_t>(sqlite3_column_bytes(stmt_, i)), v))
            raise(1861, "literal does not match format string");
        return v;
    }

    Date dateValue(int i) {
        DateTime v = dateTimeValue(i);
        return Date(nullptr, v.year, v.month, v.day, v.hour, v.minute, v.second);
    }

    enum State { BEFORE, ROW, END };
    StatementImpl* owner_;
    ConnectionImpl* conn_;
    sqlite3_stmt* stmt_;
    int firstRc_ = SQLITE_DONE;
    State state_ = BEFORE;
    const long roundTrip_ = roundTripMicros();  // simulated, per prefetch batch
    unsigned long long fetched_ = 0;            // calls of next, for the batches
    std::vector<ColumnType> types_;
    std::vector<MetaData> meta_;
    void* (*reader_)(void*) = nullptr;
};

// ---------------------------------------------------------------- statement members

StatementImpl::~StatementImpl() {
    delete open_;
    open_ = nullptr;
    if (prepared_) sqlite3_finalize(prepared_);
}

Connection* StatementImpl::getConnection() const { return conn_; }

void StatementImpl::release() {
    if (open_) {
        delete open_;
        open_ = nullptr;
    }
    if (prepared_) {
        sqlite3_reset(prepared_);
        sqlite3_clear_bindings(prepared_);
    }
}

sqlite3_stmt* StatementImpl::prepare(const Rewritten& r) {
    const std::string& rewritten = r.sql;
    release();
    if (!prepared_ || rewritten != preparedSql_) {
        if (prepared_) sqlite3_finalize(prepared_);
        prepared_ = nullptr;
        preparedSql_.clear();
        const char* tail = nullptr;
        conn_->guard = true;
        int rc = sqlite3_prepare_v2(conn_->db(), rewritten.c_str(), static_cast<int>(rewritten.size()), &prepared_,
                                    &tail);
        conn_->guard = false;
        if (rc != SQLITE_OK) {
            std::string msg = sqlite3_errmsg(conn_->db());
            sqlite3_finalize(prepared_);
            prepared_ = nullptr;
            raiseSqlite(msg.c_str());
        }
        if (!prepared_) raise(900, "invalid SQL statement");
        while (tail && *tail && std::isspace(static_cast<unsigned char>(*tail))) ++tail;
        if (tail && *tail) {
            sqlite3_finalize(prepared_);
            prepared_ = nullptr;
            raise(911, "invalid character");
        }
        preparedSql_ = rewritten;
    }
    int count = sqlite3_bind_parameter_count(prepared_);
    int literals = static_cast<int>(r.literals.size());
    for (int k = 1; k <= count && literals > 0; ++k) {
        if (k <= r.userBinds) continue;
        size_t index = static_cast<size_t>(k - r.userBinds - 1);
        if (index >= r.literals.size()) break;
        const Token& lit = r.literals[index];
        if (lit.kind == Token::STRING) {
            std::string text;
            for (size_t i = 1; i + 1 < lit.text.size(); ++i) {
                text += lit.text[i];
                if (lit.text[i] == '\'') ++i;
            }
            sqlite3_bind_text(prepared_, k, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        } else {
            const std::string& n = lit.text;
            bool integral = n.size() <= 18 && n.find_first_not_of("0123456789", n[0] == '-' ? 1 : 0) == std::string::npos;
            if (integral)
                sqlite3_bind_int64(prepared_, k, std::strtoll(n.c_str(), nullptr, 10));
            else
                sqlite3_bind_double(prepared_, k, std::strtod(n.c_str(), nullptr));
        }
    }
    count -= literals;
    for (int k = 1; k <= count; ++k) {
        if (static_cast<size_t>(k) > binds_.size() || binds_[static_cast<size_t>(k) - 1].kind == Bind::NONE)
            raise(1008, "not all variables bound");
        const Bind& b = binds_[static_cast<size_t>(k) - 1];
        switch (b.kind) {
            case Bind::NUL: sqlite3_bind_null(prepared_, k); break;
            case Bind::INT: sqlite3_bind_int64(prepared_, k, b.integer); break;
            case Bind::REAL: sqlite3_bind_double(prepared_, k, b.real); break;
            case Bind::TEXT:
                sqlite3_bind_text(prepared_, k, b.text.data(), static_cast<int>(b.text.size()), SQLITE_STATIC);
                break;
            case Bind::NONE: break;
        }
    }
    for (size_t k = static_cast<size_t>(count); k < binds_.size(); ++k)
        if (binds_[k].kind != Bind::NONE) raise(1036, "illegal variable name/number");
    return prepared_;
}

ResultSet* StatementImpl::executeQuery(const std::string& sql) {
    if (!sql.empty() && sql != sql_) setSQL(sql);
    release();
    if (!isQuery(sql_)) raise(900, "invalid SQL statement: not a query");
    Rewritten r = conn_->rewrite(sql_);
    sqlite3_stmt* stmt = prepare(r);
    ResultSetImpl* rs = new ResultSetImpl(this, conn_, stmt);
    try {
        rs->start();
    } catch (...) {
        delete rs;
        sqlite3_reset(stmt);
        throw;
    }
    open_ = rs;
    return rs;
}

unsigned int StatementImpl::executeUpdate(const std::string& sql) {
    if (!sql.empty() && sql != sql_) setSQL(sql);
    release();
    return conn_->update(this, sql_);
}

void StatementImpl::closeResultSet(ResultSet* resultSet) {
    if (resultSet && resultSet == open_) release();
}

// ---------------------------------------------------------------- describe

std::vector<ColumnType> ConnectionImpl::describe(sqlite3_stmt* stmt, bool haveRow) {
    int n = sqlite3_column_count(stmt);
    std::vector<ColumnType> types(static_cast<size_t>(n));
    std::map<std::string, sqlite3_stmt*> lookups;
    for (int i = 0; i < n; ++i) {
        ColumnType& t = types[static_cast<size_t>(i)];
        const char* dbName = sqlite3_column_database_name(stmt, i);
        const char* table = sqlite3_column_table_name(stmt, i);
        const char* column = sqlite3_column_origin_name(stmt, i);
        bool found = false;
        if (dbName && table && column) {
            auto it = lookups.find(dbName);
            if (it == lookups.end()) {
                sqlite3_stmt* q = nullptr;
                std::string sql = "SELECT DATA_TYPE, DATA_SIZE, DATA_PRECISION, DATA_SCALE, TYPE_NAME, "
                                  "TYPE_OWNER FROM " + quoteIdent(dbName) +
                                  ".\"TVX$COLUMNS\" WHERE TABLE_NAME = ?1 AND COLUMN_NAME = ?2";
                if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &q, nullptr) != SQLITE_OK) {
                    sqlite3_finalize(q);
                    q = nullptr;
                }
                it = lookups.emplace(dbName, q).first;
            }
            sqlite3_stmt* q = it->second;
            if (q) {
                sqlite3_bind_text(q, 1, table, -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(q, 2, column, -1, SQLITE_TRANSIENT);
                if (sqlite3_step(q) == SQLITE_ROW) {
                    t.code = sqlite3_column_int(q, 0);
                    t.size = sqlite3_column_int(q, 1);
                    t.precision = sqlite3_column_int(q, 2);
                    t.scale = sqlite3_column_int(q, 3);
                    const unsigned char* tn = sqlite3_column_text(q, 4);
                    const unsigned char* to = sqlite3_column_text(q, 5);
                    if (tn) t.typeName = reinterpret_cast<const char*>(tn);
                    if (to) t.typeSchema = reinterpret_cast<const char*>(to);
                    found = true;
                }
                sqlite3_reset(q);
            }
            if (!found) {
                // a table made outside the client: judge by SQLite's declared type
                std::string decl = sqlite3_column_decltype(stmt, i) ? sqlite3_column_decltype(stmt, i) : "";
                for (char& c : decl) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                if (decl.find("INT") != std::string::npos || decl.find("NUM") != std::string::npos ||
                    decl.find("REAL") != std::string::npos || decl.find("DOUB") != std::string::npos) {
                    t.code = TC_NUMBER;
                    t.size = 22;
                    t.scale = -127;
                } else if (decl.find("BLOB") != std::string::npos) {
                    t.code = TC_BLOB;
                    t.size = 4000;
                } else {
                    t.code = TC_VARCHAR2;
                    t.size = 4000;
                }
                found = true;
            }
        }
        if (!found) {
            // a computed column: what Oracle reports for its value's kind
            int vt = haveRow ? sqlite3_column_type(stmt, i) : SQLITE_NULL;
            GeomView g;
            if (vt == SQLITE_INTEGER || vt == SQLITE_FLOAT) {
                t.code = TC_NUMBER;
                t.size = 22;
                t.precision = 0;
                t.scale = -127;
            } else if (vt == SQLITE_BLOB &&
                       decodeGeometry(sqlite3_column_blob(stmt, i), sqlite3_column_bytes(stmt, i), g)) {
                t.code = TC_OBJECT;
                t.typeName = "SDO_GEOMETRY";
                t.typeSchema = "MDSYS";
            } else if (vt == SQLITE_BLOB) {
                t.code = TC_RAW;
                t.size = 2000;
            } else {
                t.code = TC_VARCHAR2;
                t.size = 4000;
            }
        }
    }
    for (auto& l : lookups) sqlite3_finalize(l.second);
    return types;
}

// ---------------------------------------------------------------- DDL and DML

bool word(const std::vector<Token>& t, size_t i, const char* w) {
    return i < t.size() && t[i].kind == Token::IDENT && t[i].text == w;
}

bool isOp(const std::vector<Token>& t, size_t i, const char* o) {
    return i < t.size() && t[i].kind == Token::OP && t[i].text == o;
}

std::string nameOf(const Token& t) {
    if (t.kind == Token::QUOTED) {
        std::string s = t.text.substr(1, t.text.size() - 2);
        std::string out;
        for (size_t i = 0; i < s.size(); ++i) {
            out += s[i];
            if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') ++i;
        }
        return out;
    }
    return t.text;
}

std::string joinTokens(const std::vector<Token>& t, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to && i < t.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += t[i].text;
    }
    return out;
}

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
    if (word(t, 0, "CREATE") && word(t, 1, "USER")) return createUser(t);
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
    if (word(t, 0, "GRANT")) {
        requireAdmin();
        return 0;  // every session may read every schema
    }
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

unsigned int ConnectionImpl::run(StatementImpl* statement, const std::string& sql) {
    beginWrite();
    Rewritten r = rewrite(sql, admin_);
    sqlite3_stmt* stmt = statement->prepare(r);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        std::string msg = sqlite3_errmsg(db_);
        sqlite3_reset(stmt);
        raiseSqlite(msg.c_str());
    }
    unsigned int changes = sqlite3_stmt_readonly(stmt) ? 0u : static_cast<unsigned int>(sqlite3_changes(db_));
    sqlite3_reset(stmt);
    return changes;
}

unsigned int ConnectionImpl::createUser(const std::vector<Token>& t) {
    requireAdmin();
    // CREATE USER name IDENTIFIED BY password
    if (t.size() < 6 || !word(t, 3, "IDENTIFIED") || !word(t, 4, "BY")) raise(922, "missing or invalid option");
    std::string name = nameOf(t[2]);
    // an unquoted password keeps the case it was written in
    std::string password = t[5].kind == Token::IDENT ? t[5].original : nameOf(t[5]);
    if (!validSchemaName(name)) raise(1935, "missing user or role name");
    if (isFile(schemaFile(dir_, name))) raise(1920, "user name '" + name + "' conflicts with another user or role name");
    if (attached_.size() >= attachLimit_) makeRoom();
    if (sodium_init() < 0) raise(600, "internal error code: password hashing unavailable");
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.c_str(), password.size(), crypto_pwhash_OPSLIMIT_MIN,
                          crypto_pwhash_MEMLIMIT_MIN) != 0)
        raise(600, "internal error code: password hashing failed");
    beginWrite();
    execOn(db_, "ATTACH DATABASE " + quoteLiteral(schemaFile(dir_, name)) + " AS " + quoteIdent(name));
    attached_.insert(name);
    createCatalog(db_, name);
    execOn(db_, "INSERT INTO " + quoteIdent(name) + ".\"TVX$USER\" VALUES (" + quoteLiteral(name) + ", " +
                    quoteLiteral(hash) + ")");
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

// SQL rounding a number to a NUMBER(p,s) scale, half away from zero
// (SQLite's round() rounds decimally: round(1.005, 2) is 1.01).
std::string roundExpression(const std::string& value, int scale) {
    if (scale >= 0) return "round(" + value + ", " + std::to_string(scale) + ")";
    std::string factor = "1e" + std::to_string(-scale);
    return "(round(" + value + " / " + factor + ") * " + factor + ")";
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
    std::vector<std::pair<std::string, int>> rounded;  // NUMBER(p,s) columns and their scale
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
        if ((type.code == TC_VARCHAR2 || type.code == TC_CHAR) && type.size > 0) {
            std::string measured = type.charLimit > 0 ? "length(" + q + ")"
                                                      : "length(CAST(" + q + " AS BLOB))";
            defs += " CONSTRAINT " + quoteIdent("TVX$LENGTH$" + column) + " CHECK (" + measured +
                    " <= " + std::to_string(type.charLimit > 0 ? type.charLimit : type.size) + ")";
        }
        if (type.code == TC_NUMBER || type.code == TC_BINARY_FLOAT || type.code == TC_BINARY_DOUBLE)
            defs += " CONSTRAINT " + quoteIdent("TVX$NUMBER$" + column) + " CHECK (typeof(" + q +
                    ") IN ('integer', 'real', 'null'))";
        if (type.code == TC_NUMBER && type.precision > 0 && type.scale != -127) {
            defs += " CONSTRAINT " + quoteIdent("TVX$PRECISION$" + column) + " CHECK (" + q +
                    " IS NULL OR abs(" + roundExpression(q, type.scale) + ") < 1e" +
                    std::to_string(type.precision - type.scale) + ")";
            rounded.push_back({column, type.scale});
        }
        if (type.code == TC_DATE || type.code == TC_TIMESTAMP || type.code == TC_TIMESTAMP_TZ)
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
    if (!rounded.empty()) {
        // NUMBER(p,s) keeps its values rounded to the scale, as Oracle stores them
        std::string when, set, of;
        for (const auto& r : rounded) {
            std::string q = quoteIdent(r.first);
            when += std::string(when.empty() ? "" : " OR ") + "NEW." + q + " IS NOT " + roundExpression("NEW." + q, r.second);
            set += std::string(set.empty() ? "" : ", ") + q + " = " + roundExpression(q, r.second);
            of += std::string(of.empty() ? "" : ", ") + q;
        }
        for (std::string event : {"INSERT", "UPDATE"}) {
            execOn(db_, "CREATE TRIGGER " + quoteIdent(alias) + "." + quoteIdent("TVX$ROUND$" + event + "$" + table) +
                            " AFTER " + (event == "UPDATE" ? "UPDATE OF " + of : event) + " ON " + quoteIdent(table) +
                            " WHEN " + when + " BEGIN UPDATE " + quoteIdent(table) + " SET " + set +
                            " WHERE rowid = NEW.rowid; END");
        }
    }
    sqlite3_stmt* ins = nullptr;
    std::string sql = "INSERT OR REPLACE INTO " + quoteIdent(alias) +
                      ".\"TVX$COLUMNS\" VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &ins, nullptr) != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(db_);
        sqlite3_finalize(ins);
        raiseSqlite(msg.c_str());
    }
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
    beginWrite();
    execSingle("DROP TABLE " + quoteIdent(alias) + "." + quoteIdent(table));
    execOn(db_, "DELETE FROM " + quoteIdent(alias) + ".\"TVX$COLUMNS\" WHERE TABLE_NAME = " + quoteLiteral(table));
    return 0;
}

// ---------------------------------------------------------------- environment

Connection* EnvironmentImpl::createConnection(const std::string& userName, const std::string& password,
                                              const std::string& connectString) {
    if (connectString.empty() || !isDirectory(connectString))
        raise(12154, "TNS:could not resolve the connect identifier specified");
    std::string user = userName;
    for (char& c : user) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!validSchemaName(user) || user == "MDSYS") raise(1017, "invalid username/password; logon denied");
    ConnectionImpl* c = new ConnectionImpl(this, connectString, user, false);
    try {
        c->open(password);
    } catch (...) {
        delete c;
        throw;
    }
    adopt(c);
    return c;
}

void EnvironmentImpl::terminateConnection(Connection* connection) {
    if (connections_.erase(connection)) delete static_cast<ConnectionImpl*>(connection);
}

EnvironmentImpl::~EnvironmentImpl() {
    for (Connection* c : connections_) delete static_cast<ConnectionImpl*>(c);
}

}  // namespace

bool lookupTypeName(Environment* env, void* (*rSQL)(void*), const std::string*& schema,
                    const std::string*& type) {
    if (!env) return false;
    const MapImpl* map = dynamic_cast<const MapImpl*>(env->getMap());
    if (!map) return false;
    const MapImpl::Entry* e = map->findRead(rSQL);
    if (!e) return false;
    schema = &e->schema;
    type = &e->type;
    return true;
}

std::string schemaFile(const std::string& directory, const std::string& schema) {
    std::string dir = directory;
    if (dir.empty()) dir = ".";
    if (dir.back() != '/') dir += '/';
    return dir + schema + ".db";
}

bool createDatabase(const std::string& directory, std::string& error) {
    if (directory.empty()) {
        error = "no database directory given";
        return false;
    }
    // the directory and its parents
    for (size_t pos = 1; pos <= directory.size(); ++pos) {
        if (pos == directory.size() || directory[pos] == '/') {
            std::string part = directory.substr(0, pos);
            if (!isDirectory(part) && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                error = "cannot create directory " + part + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    std::string path = schemaFile(directory, "MDSYS");
    if (isFile(path)) return true;
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
    if (!ok) error = "cannot create " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    try {
        if (ok) createCatalog(db, "main");
    } catch (const SQLException& e) {
        ok = false;
        error = e.getMessage();
    }
    sqlite3_close_v2(db);
    if (ok) {
        Environment* env = Environment::createEnvironment();
        try {
            Connection* c = connectAsAdministrator(env, directory);
            Statement* s = c->createStatement(
                "CREATE TABLE MDSYS.CS_SRS (CS_NAME VARCHAR2(80), SRID NUMBER(38) NOT NULL, "
                "AUTH_SRID NUMBER(38), AUTH_NAME VARCHAR2(256), WKTEXT VARCHAR2(2046), "
                "CS_BOUNDS SDO_GEOMETRY, WKTEXT3D VARCHAR2(4000), PRIMARY KEY (SRID))");
            s->executeUpdate();
            c->terminateStatement(s);
            c->commit();
            env->terminateConnection(c);
        } catch (const SQLException& e) {
            ok = false;
            error = e.getMessage();
        }
        Environment::terminateEnvironment(env);
    }
    if (!ok) ::unlink(path.c_str());
    return ok;
}

Connection* connectAsAdministrator(Environment* env, const std::string& directory) {
    if (directory.empty() || !isDirectory(directory))
        raise(12154, "TNS:could not resolve the connect identifier specified");
    EnvironmentImpl* impl = dynamic_cast<EnvironmentImpl*>(env);
    if (!impl) raise(24316, "illegal handle type");
    ConnectionImpl* c = new ConnectionImpl(impl, directory, "SYS", true);
    try {
        c->open("");
    } catch (...) {
        delete c;
        throw;
    }
    impl->adopt(c);
    return c;
}

}  // namespace embedded

// ---------------------------------------------------------------- Environment statics

Environment* Environment::createEnvironment(Mode /*mode*/, void* /*ctxp*/, void* (*)(void*, size_t),
                                            void* (*)(void*, void*, size_t), void (*)(void*, void*)) {
    return new embedded::EnvironmentImpl();
}

Environment* Environment::createEnvironment(const std::string& /*charset*/, const std::string& /*ncharset*/,
                                            Mode mode, void* ctxp, void* (*malocfp)(void*, size_t),
                                            void* (*ralocfp)(void*, void*, size_t),
                                            void (*mfreefp)(void*, void*)) {
    return createEnvironment(mode, ctxp, malocfp, ralocfp, mfreefp);
}

void Environment::terminateEnvironment(Environment* env) { delete env; }

}  // namespace occi
}  // namespace oracle
