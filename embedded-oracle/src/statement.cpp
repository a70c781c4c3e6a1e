// Statement: bound values, preparing the rewritten text, running queries
// and updates.
#include "session.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace oracle {
namespace occi {
namespace embedded {

StatementImpl::StatementImpl(ConnectionImpl* conn, const std::string& sql)
    : conn_(conn), sql_(sql) {}

void StatementImpl::setSQL(const std::string& sql) {
    sql_ = sql;
    binds_.clear();
}

std::string StatementImpl::getSQL() const { return sql_; }

void StatementImpl::setString(unsigned int i, const std::string& x) {
    Bind& b = slot(i);
    if (x.empty()) {
        b.kind = Bind::NUL;  // Oracle reads the empty text as NULL
    } else {
        b.kind = Bind::TEXT;
        b.text = x;
    }
}

void StatementImpl::setInt(unsigned int i, int x) {
    Bind& b = slot(i);
    b.kind = Bind::INT;
    b.integer = x;
}

void StatementImpl::setNumber(unsigned int i, const Number& x) {
    Bind& b = slot(i);
    if (x.isNull()) {
        b.kind = Bind::NUL;
        return;
    }
    // integers (exact Numbers to 64 bits) as integers, others as doubles
    double v = x;
    if (v == std::trunc(v) && v >= -9.2233720368547758e18 && v < 9.2233720368547758e18) {
        b.kind = Bind::INT;
        b.integer = static_cast<long>(x);
    } else {
        b.kind = Bind::REAL;
        b.real = v;
    }
}

void StatementImpl::setDouble(unsigned int i, double x) {
    Bind& b = slot(i);
    b.kind = Bind::REAL;
    b.real = x;
}

void StatementImpl::setPrefetchRowCount(unsigned int rowCount) { prefetch_ = rowCount; }

StatementImpl::Bind& StatementImpl::slot(unsigned int i) {
    if (i == 0 || i > 65535) raise(1036, "illegal variable name/number");
    if (binds_.size() < i) binds_.resize(i);
    return binds_[i - 1];
}

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
        conn_->denied = false;
        int rc = sqlite3_prepare_v2(conn_->db(), rewritten.c_str(), static_cast<int>(rewritten.size()), &prepared_,
                                    &tail);
        conn_->guard = false;
        if (rc != SQLITE_OK) {
            std::string msg = sqlite3_errmsg(conn_->db());
            sqlite3_finalize(prepared_);
            prepared_ = nullptr;
            if (conn_->denied) raise(942, "table or view does not exist");
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
        if (lit.kind == Token::BLOB) {
            sqlite3_bind_blob(prepared_, k, lit.text.data(), static_cast<int>(lit.text.size()), SQLITE_TRANSIENT);
        } else if (lit.kind == Token::STRING) {
            std::string text;
            for (size_t i = 1; i + 1 < lit.text.size(); ++i) {
                text += lit.text[i];
                if (lit.text[i] == '\'') ++i;
            }
            if (text.empty()) sqlite3_bind_null(prepared_, k);  // '' is NULL
            else sqlite3_bind_text(prepared_, k, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        } else {
            // an integer literal that fits 64 bits is kept exactly
            const std::string& n = lit.text;
            bool integral = n.size() <= 20 && n.find_first_not_of("0123456789", n[0] == '-' ? 1 : 0) == std::string::npos;
            errno = 0;
            long long whole = integral ? std::strtoll(n.c_str(), nullptr, 10) : 0;
            if (integral && errno != ERANGE)
                sqlite3_bind_int64(prepared_, k, whole);
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
            case Bind::REAL:
                // SQLite would store NaN as NULL: it is kept as the text 'NaN',
                // which BINARY_FLOAT/DOUBLE columns accept and NUMBER refuses
                if (std::isnan(b.real)) sqlite3_bind_text(prepared_, k, "NaN", 3, SQLITE_STATIC);
                else sqlite3_bind_double(prepared_, k, b.real);
                break;
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

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
