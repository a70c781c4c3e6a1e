// SQLite errors as ORA- errors, names and literals quoted for SQLite, file
// tests, and the catalogue tables every schema file holds.
#include "session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace oracle {
namespace occi {
namespace embedded {

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
    if (msg.compare(0, 38, "CHECK constraint failed: TVX$OVERFLOW$") == 0) raise(1426, "numeric overflow");
    if (msg.compare(0, 39, "CHECK constraint failed: TVX$PRECISION$") == 0)
        raise(1438, "value larger than specified precision allowed for this column");
    if (msg.compare(0, 34, "CHECK constraint failed: TVX$DATE$") == 0)
        raise(1861, "literal does not match format string");
    if (msg.find("already exists") != std::string::npos)
        raise(955, "name is already used by an existing object");
    if (msg.find("too many attached databases") != std::string::npos)
        raise(2020, "too many database links in use (at most 10 schemas per statement)");
    if (msg.find("unable to open database file") != std::string::npos)
        raise(1157, "cannot identify/lock data file (" + msg + ")");
    if (msg.find("database is locked") != std::string::npos)
        raise(54, "resource busy and acquire with NOWAIT specified or timeout expired");
    raise(900, "invalid SQL statement: " + msg);
}

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

bool isOddFile(const std::string& path, std::string& what) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    std::string link;
    if (S_ISLNK(st.st_mode)) {
        if (::stat(path.c_str(), &st) != 0) {
            what = "a link to nothing";
            return true;
        }
        link = "a link to ";
    }
    if (S_ISREG(st.st_mode)) return false;
    what = link + (S_ISFIFO(st.st_mode)  ? "a FIFO"
                   : S_ISDIR(st.st_mode) ? "a directory"
                   : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                   : S_ISSOCK(st.st_mode) ? "a socket"
                                          : "not a regular file");
    return true;
}

bool isOddSchemaFile(const std::string& path, std::string& odd, std::string& what) {
    for (const std::string& file : {path, path + "-journal"})
        if (isOddFile(file, what)) {
            odd = file;
            return true;
        }
    return false;
}

namespace {

// The VFS every schema file is opened through: SQLite's own, except that
// it refuses to open anything but a regular file (or a link to one) where
// a file exists: a FIFO would block the open (a schema file or its
// journal), a directory or device gives I/O errors at best. Absent files
// it creates as SQLite does.
sqlite3_vfs* g_realVfs = nullptr;
sqlite3_vfs g_regularVfs;
const char* const REGULAR_VFS = "tarvex-regular-files";

int openRegularOnly(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    std::string what;
    if (name && isOddFile(name, what)) {
        file->pMethods = nullptr;
        return SQLITE_CANTOPEN;
    }
    return g_realVfs->xOpen(g_realVfs, name, file, flags, outFlags);
}

}  // namespace

const char* schemaVfs() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        g_realVfs = sqlite3_vfs_find(nullptr);
        if (!g_realVfs) return;
        g_regularVfs = *g_realVfs;  // its pAppData included, which its methods read
        g_regularVfs.pNext = nullptr;
        g_regularVfs.zName = REGULAR_VFS;
        g_regularVfs.xOpen = openRegularOnly;
        registered = sqlite3_vfs_register(&g_regularVfs, 0) == SQLITE_OK;
    });
    return registered ? REGULAR_VFS : nullptr;
}

void warnOddFile(const std::string& path, const std::string& what) {
    static std::mutex mutex;
    static std::set<std::string> warned;
    std::lock_guard<std::mutex> lock(mutex);
    if (!warned.insert(path).second) return;
    std::fprintf(stderr, "embedded database: warning: %s is %s, not a regular file: schema skipped\n", path.c_str(),
                 what.c_str());
}

std::string uriPath(const std::string& path) {
    // an absolute path after an empty authority: "file:///..."; SQLite
    // would read "file://x/..." as a host x
    std::string out = !path.empty() && path[0] == '/' ? "file://" : "file:";
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

sqlite3_stmt* prepareOn(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(db);
        sqlite3_finalize(st);
        raiseSqlite(msg.c_str());
    }
    return st;
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

bool createPrivateFile(const std::string& path, std::string& error) {
    int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

std::string pendingFile(const std::string& directory, const std::string& schema) {
    std::string file = schemaFile(directory, "." + schema);
    return file + ".new-" + std::to_string(static_cast<long>(::getpid()));
}

// Catalogue tables of one schema, in database alias.
void createCatalog(sqlite3* db, const std::string& alias) {
    std::string a = quoteIdent(alias);
    execOn(db,
           "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$COLUMNS\"(TABLE_NAME TEXT NOT NULL, COLUMN_NAME TEXT NOT NULL, "
               "POSITION INTEGER, DATA_TYPE INTEGER, DATA_SIZE INTEGER, DATA_PRECISION INTEGER, "
               "DATA_SCALE INTEGER, TYPE_NAME TEXT, TYPE_OWNER TEXT, CHAR_USED INTEGER, CHAR_SIZE INTEGER, "
               "CHARSET_FORM INTEGER, PRIMARY KEY(TABLE_NAME, COLUMN_NAME)) WITHOUT ROWID;"
               "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$USER\"(NAME TEXT PRIMARY KEY, PASSWORD_HASH TEXT NOT NULL);"
               "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$GRANTS\"(TABLE_NAME TEXT NOT NULL, GRANTEE TEXT NOT NULL, "
               "PRIMARY KEY(TABLE_NAME, GRANTEE)) WITHOUT ROWID;"
               "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$SYS_PRIVS\"(PRIVILEGE TEXT PRIMARY KEY) WITHOUT ROWID;"
               "CREATE TABLE IF NOT EXISTS " + a +
               ".\"TVX$GEOM_METADATA\"(TABLE_NAME TEXT, COLUMN_NAME TEXT, DIMINFO, SRID NUMERIC, "
               "UNIQUE(TABLE_NAME, COLUMN_NAME));"
               "CREATE TRIGGER IF NOT EXISTS " + a +
               ".\"TVX$GEOM_METADATA_UPPER\" AFTER INSERT ON \"TVX$GEOM_METADATA\" BEGIN "
               "UPDATE \"TVX$GEOM_METADATA\" SET TABLE_NAME = upper(NEW.TABLE_NAME), "
               "COLUMN_NAME = upper(NEW.COLUMN_NAME) WHERE rowid = NEW.rowid; END;"
               "INSERT OR REPLACE INTO " + a +
               ".\"TVX$COLUMNS\" VALUES "
               "('TVX$GEOM_METADATA','TABLE_NAME',1,1,32,0,0,NULL,NULL,0,32,1),"
               "('TVX$GEOM_METADATA','COLUMN_NAME',2,1,1024,0,0,NULL,NULL,0,1024,1),"
               "('TVX$GEOM_METADATA','DIMINFO',3,108,0,0,0,'SDO_DIM_ARRAY','MDSYS',0,0,0),"
               "('TVX$GEOM_METADATA','SRID',4,2,22,0,-127,NULL,NULL,0,0,0);");
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
