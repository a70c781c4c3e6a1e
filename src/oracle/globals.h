// The process-wide Oracle environment and the single connection, created and
// terminated by main.
#ifndef TARVEX_ORACLE_GLOBALS_H
#define TARVEX_ORACLE_GLOBALS_H

#include <occi.h>

extern oracle::occi::Environment* env;
extern oracle::occi::Connection* conn;

#endif
