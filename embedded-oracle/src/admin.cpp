// embedded_admin.h: creating a database directory and opening an administrator
// session on it.
#include "session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace oracle {
namespace occi {
namespace embedded {

// The database directory is a path, never a URI: a relative one starts
// with "./", so that SQLite never reads "file:db/..." as a URI (nor what
// follows a "?" or "#" as its parameters), whatever its flags.
std::string schemaFile(const std::string& directory, const std::string& schema) {
    std::string dir = directory;
    if (dir.empty()) dir = ".";
    if (dir[0] != '/' && dir.compare(0, 2, "./") != 0) dir = "./" + dir;
    if (dir.back() != '/') dir += '/';
    return dir + schema + ".db";
}

bool createDatabase(const std::string& directory, std::string& error) {
    if (directory.empty()) {
        error = "no database directory given";
        return false;
    }
    // the directory and its parents; the database directory itself is
    // private to its owner (0700, whatever the umask)
    for (size_t pos = 1; pos <= directory.size(); ++pos) {
        if (pos == directory.size() || directory[pos] == '/') {
            std::string part = directory.substr(0, pos);
            bool last = pos == directory.size() || directory.find_first_not_of('/', pos) == std::string::npos;
            if (!isDirectory(part)) {
                if (::mkdir(part.c_str(), last ? 0700 : 0777) != 0 && errno != EEXIST) {
                    error = "cannot create directory " + part + ": " + std::strerror(errno);
                    return false;
                }
                if (last && ::chmod(part.c_str(), 0700) != 0) {
                    error = "cannot make directory " + part + " private: " + std::strerror(errno);
                    return false;
                }
            }
        }
    }
    std::string path = schemaFile(directory, "MDSYS");
    if (isFile(path)) return true;
    if (!createPrivateFile(path, error)) return false;
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, schemaVfs()) == SQLITE_OK;
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
}  // namespace occi
}  // namespace oracle
