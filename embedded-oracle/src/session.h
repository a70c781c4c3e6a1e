// Internals of the embedded client's sessions, shared by the files that
// implement them (one class or job each):
//   environment.cpp   Environment and its type Map
//   connection.cpp    Connection: opening a session, schemas, privileges
//   statement.cpp     Statement: binds, preparing, executing
//   resultset.cpp     ResultSet: fetching and the getters
//   describe.cpp      the column descriptions of a result
//   ddl.cpp           executeUpdate: DDL and DML, the administrator's forms
//   admin.cpp         embedded_admin.h: new databases, administrator sessions
//   sqlite_support.cpp  SQLite errors as ORA- errors, quoting, catalogues
//
// Connections: a user session opens its own schema file read-only as
// SQLite's "main" database and attaches other schemas read-only when a
// statement names them (OWNER.TABLE). An administrator session (embedded_admin.h)
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
#ifndef TARVEX_EMBEDDED_SESSION_H
#define TARVEX_EMBEDDED_SESSION_H

#include "embedded_admin.h"
#include "internal.h"

#include <sqlite3.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace oracle {
namespace occi {
namespace embedded {

class ConnectionImpl;
class StatementImpl;
class ResultSetImpl;

// ---------------------------------------------------------------- helpers

// How long a session waits for a schema file locked by another process
// before it gives up with ORA-00054.
const int BUSY_WAIT_MS = 2000;

// Raises the ORA- error that matches a SQLite message.
[[noreturn]] void raiseSqlite(const char* message);
// The first word of a statement, skipping blanks and comments.
std::string leadingWord(const std::string& sql);
// SELECT ..., WITH ... or a parenthesised query.
bool isQuery(const std::string& sql);
bool validSchemaName(const std::string& name);
bool isDirectory(const std::string& path);
bool isFile(const std::string& path);
// Something other than a regular file (or a link to one) is at path: a
// FIFO, device, directory, socket, or a link to one of them or to nothing;
// what says which.
bool isOddFile(const std::string& path, std::string& what);
// isOddFile for a schema file or its journal (odd: the one found).
bool isOddSchemaFile(const std::string& path, std::string& odd, std::string& what);
// The name of the VFS schema files are opened through (null: SQLite's
// default): it refuses to open anything isOddFile finds.
const char* schemaVfs();
// One line on standard error, once a process for each path: an odd file
// skipped where schemas are listed.
void warnOddFile(const std::string& path, const std::string& what);
// A file: URI for a path.
std::string uriPath(const std::string& path);
// Runs SQL text on db; raises the matching ORA- error.
void execOn(sqlite3* db, const std::string& sql);
// Prepares one statement on db; raises the matching ORA- error.
sqlite3_stmt* prepareOn(sqlite3* db, const std::string& sql);
std::string quoteIdent(const std::string& name);
std::string quoteLiteral(const std::string& text);
// SQL rounding value to a NUMBER(p,s) scale, half away from zero.
std::string roundExpression(const std::string& value, int scale);
// Creates an empty file readable and writable by its owner only (0600,
// whatever the umask); false with the reason when that fails or the file
// exists.
bool createPrivateFile(const std::string& path, std::string& error);
// The temporary name of a new user's schema file until its transaction
// commits: hidden, never taken for a schema.
std::string pendingFile(const std::string& directory, const std::string& schema);
// Catalogue tables of one schema, in database alias.
void createCatalog(sqlite3* db, const std::string& alias);

// ---------------------------------------------------------------- classes

class MapImpl : public Map {
public:
    struct Entry {
        std::string schema, type;
        void* (*read)(void*);
        void (*write)(void*, void*);
    };
    void put(const std::string& typeName, void* (*rSQL)(void*), void (*wSQL)(void*, void*)) override;

    void put(const std::string& schemaName, const std::string& typeName, void* (*rSQL)(void*),
             void (*wSQL)(void*, void*)) override;
    const Entry* find(const std::string& schema, const std::string& type) const;

    const Entry* findRead(void* (*rSQL)(void*)) const;

private:
    void store(const std::string& s, const std::string& t, void* (*r)(void*), void (*w)(void*, void*));
    std::vector<Entry> entries_;
};

class EnvironmentImpl : public Environment {
public:
    Connection* createConnection(const std::string& userName, const std::string& password,
                                 const std::string& connectString) override;
    void terminateConnection(Connection* connection) override;
    Map* getMap() const override;
    const MapImpl& map() const;
    ~EnvironmentImpl() override;
    void adopt(Connection* c);

private:
    MapImpl map_;
    std::set<Connection*> connections_;  // closed with the environment if still open
};

class StatementImpl : public Statement {
public:
    StatementImpl(ConnectionImpl* conn, const std::string& sql);
    ~StatementImpl() override;

    // A new text starts with no bound values.
    void setSQL(const std::string& sql) override;
    std::string getSQL() const override;
    void setString(unsigned int i, const std::string& x) override;
    void setInt(unsigned int i, int x) override;
    void setNumber(unsigned int i, const Number& x) override;
    void setDouble(unsigned int i, double x) override;
    ResultSet* executeQuery(const std::string& sql) override;
    unsigned int executeUpdate(const std::string& sql) override;
    void closeResultSet(ResultSet* resultSet) override;
    void setPrefetchRowCount(unsigned int rowCount) override;
    Connection* getConnection() const override;
    // Rows per fetch round trip: 1 unless set.
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
    Bind& slot(unsigned int i);

    ConnectionImpl* conn_;
    std::string sql_;
    std::vector<Bind> binds_;
    sqlite3_stmt* prepared_ = nullptr;
    std::string preparedSql_;
    ResultSetImpl* open_ = nullptr;
    unsigned int prefetch_ = 1;
};

class ConnectionImpl : public Connection, public SchemaResolver {
public:
    ConnectionImpl(EnvironmentImpl* env, const std::string& directory, const std::string& user,
                   bool admin);
    ~ConnectionImpl() override;

    // Opens the session; raises on failure (the object is then deleted by
    // the caller).
    void open(const std::string& password);
    Statement* createStatement(const std::string& sql) override;

    void terminateStatement(Statement* statement) override;
    void commit() override;

    void rollback() override;
    std::string getServerVersion() const override;

    // ------------------------------------------------ SchemaResolver

    std::string schemaAlias(const std::string& name) override;
    std::string currentAlias() override;

    std::string sessionUser() const override;
    bool qualifyTables() const override;
    void exactTable(const std::string& alias, const std::string& name) override;

    // ------------------------------------------------ execution

    Rewritten rewrite(const std::string& sql, bool hoistLiterals = false);
    sqlite3* db() const;
    EnvironmentImpl* env() const;

    // Reported types of a prepared statement's columns; the values of the
    // current row decide for computed columns.
    std::vector<ColumnType> describe(sqlite3_stmt* stmt, bool haveRow);
    unsigned int update(StatementImpl* statement, const std::string& sql);
    unsigned int run(StatementImpl* statement, const std::string& sql);

private:
    void checkPassword(const std::string& password);
    void makeRoom();

    std::vector<std::string> listSchemas() const;
    void refreshAllMetadata();

    // A catalogue written before the character attributes existed gets
    // their columns.
    void upgradeCatalog(const std::string& alias);
    void beginWrite();

    void requireAdmin();
    unsigned int createUser(const std::vector<Token>& t, const std::string& sql);
    unsigned int alterSession(const std::vector<Token>& t);
    unsigned int createTable(const std::vector<Token>& t);
    unsigned int dropTable(const std::vector<Token>& t);
    unsigned int createView(const std::vector<Token>& t, const std::string& sql);
    void execSingle(const std::string& sql);
    void publishUsers();
    void publishCommitted();
    void discardUsers();
    unsigned int grant(const std::vector<Token>& t, bool revoke);
    bool mayRead(const char* db, const char* table, const char* view) const;
    bool readsDirectly(const std::string& schema, const std::string& table) const;
    std::string attachedName(const char* db) const;
    void scopeStatement(const std::string& sql);
    std::set<std::string> grantsOf(sqlite3* db, const std::string& alias) const;
    std::string tableTarget(const std::vector<Token>& t, size_t& i, std::string& table);

    // NUMBER(p,s) columns of a table written by this session, and the
    // statements that round what a write left in them (rounding.cpp);
    // made on first use, dropped on any DDL and before a schema is detached
    struct Rounding {
        std::vector<std::pair<std::string, int>> columns;  // name, scale
        sqlite3_stmt* last = nullptr;                       // the largest rowid
        sqlite3_stmt* fixNew = nullptr;                     // rows after a rowid
        sqlite3_stmt* fixAll = nullptr;                     // every row
        ~Rounding();
    };
    Rounding* roundingFor(const std::string& sql, bool& insert);
    void forgetRounding();
    std::map<std::string, std::unique_ptr<Rounding>> rounding_;

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
    // users created in the open transaction: name -> their schema file's
    // temporary name
    std::map<std::string, std::string> pending_;
    // a user session: SELECT ANY TABLE held, and the tables of each
    // attached schema granted to the user
    bool selectAny_ = false;
    std::map<std::string, std::set<std::string>> grants_;
    // The user's statement being prepared (scopeStatement): the names it
    // writes without an owner, in upper case (the names of its WITH
    // clauses among them), and for each of them the other schema in which
    // SQLite finds a table or view of that name, with its stored name
    // (none when the session's own schema or temp holds one first).
    std::set<std::string> bareNames_;
    std::map<std::string, std::pair<std::string, std::string>> bareTables_;
    bool qualify_ = true;

public:
    // While set, statements being prepared come from the session: a user
    // session may only read, and no session may attach files, set pragmas
    // or read the password hashes.
    bool guard = false;
    // Set when the authorizer refused to read a table: the statement then
    // fails with ORA-00942, as Oracle answers for a table one may not see.
    bool denied = false;

    static int authorize(void* self, int action, const char* a, const char* b, const char* /*db*/,
                         const char* /*trigger*/);
};

class ResultSetImpl : public ResultSet {
public:
    ResultSetImpl(StatementImpl* owner, ConnectionImpl* conn, sqlite3_stmt* stmt);

    // Runs the query to its first row and describes the columns.
    void start();
    Status next(unsigned int /*numRows*/) override;

    bool isNull(unsigned int col) const override;
    int getInt(unsigned int col) override;

    unsigned int getUInt(unsigned int col) override;
    double getDouble(unsigned int col) override;
    float getFloat(unsigned int col) override;

    // Integers exactly (64 bits), other values as doubles. NUMBER holds no
    // infinity or NaN: such a BINARY_DOUBLE value raises ORA-01426.
    Number getNumber(unsigned int col) override;
    BFloat getBFloat(unsigned int col) override;

    BDouble getBDouble(unsigned int col) override;
    Clob getClob(unsigned int col) override;

    std::string getString(unsigned int col) override;
    Date getDate(unsigned int col) override;

    Timestamp getTimestamp(unsigned int col) override;
    PObject* getObject(unsigned int col) override;

    std::vector<MetaData> getColumnListMetaData() const override;
    Statement* getStatement() const override;

private:
    // The 0-based index of column col (1-based) of the current row:
    // ORA-01007 outside the select list, ORA-01002 outside a row.
    int check(unsigned int col) const {
        if (col - 1 >= columns_) notInSelectList();  // col 0 wraps around
        if (state_ != ROW) outOfSequence();
        return static_cast<int>(col) - 1;
    }
    [[noreturn]] static void notInSelectList();
    [[noreturn]] static void outOfSequence();

    // sqlite3_column_type of the current row's column i, asked once per row
    // (the value SQLite stored, before any conversion a getter makes).
    int columnType(int i) const {
        RowType& t = rowTypes_[static_cast<size_t>(i)];
        if (t.row != row_) {
            t.row = row_;
            t.type = sqlite3_column_type(stmt_, i);
        }
        return t.type;
    }

    // The value as a double; a BINARY_FLOAT's as its float.
    double numeric(unsigned int col);
    double numericValue(int i);

    DateTime dateTimeValue(int i);
    Date dateValue(int i);

    enum State { BEFORE, ROW, END };
    StatementImpl* owner_;
    ConnectionImpl* conn_;
    sqlite3_stmt* stmt_;
    int firstRc_ = SQLITE_DONE;
    State state_ = BEFORE;
    const long roundTrip_;            // simulated, per prefetch batch, in microseconds
    unsigned long long fetched_ = 0;  // calls of next, for the batches
    std::vector<ColumnType> types_;
    unsigned int columns_ = 0;  // types_.size()
    // The stored type of each column, valid in the row numbered row (rows
    // are numbered from 1 as they are fetched; 0: none asked yet).
    struct RowType {
        unsigned long long row = 0;
        int type = SQLITE_NULL;
    };
    mutable std::vector<RowType> rowTypes_;
    unsigned long long row_ = 0;  // the current row's number
    std::vector<MetaData> meta_;
    void* (*reader_)(void*) = nullptr;
};

}  // namespace embedded
}  // namespace occi
}  // namespace oracle

#endif
