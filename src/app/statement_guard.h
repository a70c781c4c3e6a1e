// A statement on the global connection with its open result set, released
// (result set closed, statement terminated) when the guard goes out of scope,
// also while an SQLException unwinds the function that opened it.
#ifndef TARVEX_APP_STATEMENT_GUARD_H
#define TARVEX_APP_STATEMENT_GUARD_H

#include <occi.h>

#include <string>

#include "diag/log.h"
#include "oracle/globals.h"

class StatementGuard {
public:
    StatementGuard() = default;
    ~StatementGuard() { release(); }
    StatementGuard(const StatementGuard&) = delete;
    StatementGuard& operator=(const StatementGuard&) = delete;

    // Creates the statement with p_sql (which may be empty, to be set with
    // setSQL later). May throw SQLException; whatever was created stays
    // owned by the guard.
    oracle::occi::Statement* create(const std::string& p_sql) {
        release();
        _statement = conn->createStatement(p_sql);
        return _statement;
    }

    // Runs the statement's own text. May throw SQLException.
    oracle::occi::ResultSet* execute() {
        _resultSet = _statement->executeQuery("");
        return _resultSet;
    }

    oracle::occi::Statement* statement() const { return _statement; }
    oracle::occi::ResultSet* resultSet() const { return _resultSet; }

    // Closes the result set and terminates the statement; false (after
    // logging the client's message) when the client refused either.
    bool release() noexcept {
        bool ok = true;
        if (_statement != nullptr && _resultSet != nullptr) {
            try {
                _statement->closeResultSet(_resultSet);
            } catch (const oracle::occi::SQLException& e) {
                tvLog(e.getMessage(), "", LOG_ERROR);
                ok = false;
            }
        }
        _resultSet = nullptr;
        if (_statement != nullptr) {
            try {
                conn->terminateStatement(_statement);
            } catch (const oracle::occi::SQLException& e) {
                tvLog(e.getMessage(), "", LOG_ERROR);
                ok = false;
            }
        }
        _statement = nullptr;
        return ok;
    }

private:
    oracle::occi::Statement* _statement = nullptr;
    oracle::occi::ResultSet* _resultSet = nullptr;
};

#endif
