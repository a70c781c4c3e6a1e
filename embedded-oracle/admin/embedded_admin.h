// Administration of embedded databases: creating a database directory and
// opening an administrator session on it. Used by the loader tarvex-sql and
// by the client's own tests; program code never includes this header.
//
// A database is a directory; each schema is one SQLite file in it named
// after the schema in upper case with the extension ".db" (DEMO.db). The
// schema MDSYS (MDSYS.db) holds the coordinate-system catalogue CS_SRS and
// has no password, so nobody logs on to it.
#ifndef TARVEX_EMBEDDED_ADMIN_H
#define TARVEX_EMBEDDED_ADMIN_H

#include <occi.h>

#include <string>

namespace oracle {
namespace occi {
namespace embedded {

// Creates the directory (and its parents) and the MDSYS schema when missing.
// False, with the reason in error, when that fails.
bool createDatabase(const std::string& directory, std::string& error);

// Opens a read-write administrator session on an existing database
// directory, as SYS would in SQL*Plus: CREATE USER, ALTER SESSION SET
// CURRENT_SCHEMA, DDL and DML in any schema. Until CURRENT_SCHEMA is set,
// unqualified names are refused (ORA-01435). Changes form one transaction
// until commit() or rollback(); terminateConnection commits, as Oracle does
// on a normal disconnect. Raises SQLException (ORA-12154 for a missing
// directory or one without MDSYS).
Connection* connectAsAdministrator(Environment* env, const std::string& directory);

// The file that holds a schema's data: <directory>/<SCHEMA>.db.
std::string schemaFile(const std::string& directory, const std::string& schema);

}  // namespace embedded
}  // namespace occi
}  // namespace oracle

#endif
