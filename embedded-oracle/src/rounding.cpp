// NUMBER(p,s) keeps its values rounded to the scale, as Oracle stores them.
//
// The client rounds what each INSERT or UPDATE wrote, right after the
// statement and inside a savepoint, so that the statement and its rounding
// succeed or fail together. Triggers would do the same, but every object in
// a schema file makes each later CREATE in that file slower (SQLite scans
// its whole catalogue for every object it creates), and two triggers per
// table tripled a schema's objects. Files written by older versions still
// carry such triggers; the rounding here then finds nothing left to do.
//
// An INSERT's new rows are those after the largest rowid before it (SQLite
// numbers new rows upwards while there is room above); an UPDATE that names
// a rounded column is followed by a pass over the whole table.
#include "session.h"

#include <climits>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

bool isName(const Token& t) { return t.kind == Token::IDENT || t.kind == Token::QUOTED; }

// terms[from, to) joined by OR as a balanced tree: SQLite refuses
// expressions nested deeper than 1000, which a chain of one term a column
// would be for a table of 1,000 columns (Oracle's limit).
std::string anyOf(const std::vector<std::string>& terms, size_t from, size_t to) {
    if (to - from == 1) return terms[from];
    size_t middle = from + (to - from) / 2;
    return "(" + anyOf(terms, from, middle) + " OR " + anyOf(terms, middle, to) + ")";
}

// Steps a statement once; the error message, or "".
std::string stepOnce(sqlite3* db, sqlite3_stmt* st) {
    int rc = sqlite3_step(st);
    std::string msg = rc == SQLITE_DONE || rc == SQLITE_ROW ? "" : sqlite3_errmsg(db);
    sqlite3_reset(st);
    return msg;
}

}  // namespace

// SQL rounding a number to a NUMBER(p,s) scale, half away from zero
// (SQLite's round() rounds decimally: round(1.005, 2) is 1.01).
// An integer needs no rounding to a scale of 0 or more (and round() would
// make it a double, losing digits beyond 2^53).
std::string roundExpression(const std::string& value, int scale) {
    if (scale >= 0)
        return "(CASE WHEN typeof(" + value + ") = 'integer' THEN " + value + " ELSE round(" + value + ", " +
               std::to_string(scale) + ") END)";
    std::string factor = "1e" + std::to_string(-scale);
    return "(round(" + value + " / " + factor + ") * " + factor + ")";
}

ConnectionImpl::Rounding::~Rounding() {
    sqlite3_finalize(last);
    sqlite3_finalize(fixNew);
    sqlite3_finalize(fixAll);
}

void ConnectionImpl::forgetRounding() { rounding_.clear(); }

// The rounding an INSERT or UPDATE needs, from its rewritten text
// (INSERT INTO a.t ..., UPDATE a.t ...); null when it writes no NUMBER(p,s)
// column.
ConnectionImpl::Rounding* ConnectionImpl::roundingFor(const std::string& sql, bool& insert) {
    std::vector<Token> t;
    // the target is among the first words; a long statement's values are
    // not needed for it
    for (const Token& k : tokenize(sql.substr(0, 4096)))
        if (k.kind != Token::SPACE && k.kind != Token::COMMENT) t.push_back(k);
    if (t.empty() || t[0].kind != Token::IDENT) return nullptr;
    size_t i;
    if (t[0].text == "INSERT" && t.size() > 1 && t[1].kind == Token::IDENT && t[1].text == "INTO") {
        insert = true;
        i = 2;
    } else if (t[0].text == "UPDATE") {
        insert = false;
        i = 1;
    } else {
        return nullptr;
    }
    if (i >= t.size() || !isName(t[i])) return nullptr;
    std::string alias, table;
    if (i + 2 < t.size() && t[i + 1].kind == Token::OP && t[i + 1].text == "." && isName(t[i + 2])) {
        alias = nameOf(t[i]);
        table = nameOf(t[i + 2]);
    } else {
        alias = currentAlias();
        table = nameOf(t[i]);
    }
    std::string key = alias + '\x1f' + table;
    auto found = rounding_.find(key);
    if (found == rounding_.end()) {
        auto plan = std::make_unique<Rounding>();
        sqlite3_stmt* q = prepareOn(db_, "SELECT COLUMN_NAME, DATA_SCALE FROM " + quoteIdent(alias) +
                                             ".\"TVX$COLUMNS\" WHERE TABLE_NAME = ?1 COLLATE NOCASE AND "
                                             "DATA_TYPE = 2 AND DATA_PRECISION > 0 AND DATA_SCALE <> -127 "
                                             "ORDER BY POSITION");
        sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(q) == SQLITE_ROW)
            plan->columns.push_back({reinterpret_cast<const char*>(sqlite3_column_text(q, 0)), sqlite3_column_int(q, 1)});
        sqlite3_finalize(q);
        if (!plan->columns.empty()) {
            std::string target = quoteIdent(alias) + "." + quoteIdent(table);
            std::string set;
            std::vector<std::string> unrounded;
            for (const auto& c : plan->columns) {
                std::string col = quoteIdent(c.first);
                set += std::string(set.empty() ? "" : ", ") + col + " = " + roundExpression(col, c.second);
                unrounded.push_back(col + " IS NOT " + roundExpression(col, c.second));
            }
            std::string differs = anyOf(unrounded, 0, unrounded.size());
            plan->last = prepareOn(db_, "SELECT max(rowid) FROM " + target);
            plan->fixNew = prepareOn(db_, "UPDATE " + target + " SET " + set + " WHERE rowid > ?1 AND (" + differs + ")");
            plan->fixAll = prepareOn(db_, "UPDATE " + target + " SET " + set + " WHERE " + differs);
        }
        found = rounding_.emplace(key, std::move(plan)).first;
    }
    Rounding* plan = found->second.get();
    if (plan->columns.empty()) return nullptr;
    if (insert) return plan;
    // an UPDATE that names no rounded column leaves them as they are
    for (const Token& k : tokenize(sql))
        if (isName(k))
            for (const auto& c : plan->columns)
                if (sqlite3_stricmp(nameOf(k).c_str(), c.first.c_str()) == 0) return plan;
    return nullptr;
}

// Runs a DML statement or a query through the rewrite; the rows an INSERT or
// UPDATE changed, with NUMBER(p,s) values rounded.
unsigned int ConnectionImpl::run(StatementImpl* statement, const std::string& sql) {
    beginWrite();
    Rewritten r = rewrite(sql, admin_);
    sqlite3_stmt* stmt = statement->prepare(r);
    bool insert = false;
    Rounding* rounding = admin_ ? roundingFor(r.sql, insert) : nullptr;
    sqlite3_int64 before = LLONG_MIN;
    if (rounding) {
        if (insert) {
            if (sqlite3_step(rounding->last) == SQLITE_ROW && sqlite3_column_type(rounding->last, 0) == SQLITE_INTEGER)
                before = sqlite3_column_int64(rounding->last, 0);
            sqlite3_reset(rounding->last);
            // at the largest rowid SQLite picks free ones at random
            if (before == LLONG_MAX) before = LLONG_MIN;
        }
        execOn(db_, "SAVEPOINT \"TVX$ROUND\"");
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    std::string failure = rc == SQLITE_DONE ? "" : sqlite3_errmsg(db_);
    unsigned int changes = failure.empty() && !sqlite3_stmt_readonly(stmt)
                               ? static_cast<unsigned int>(sqlite3_changes(db_))
                               : 0u;
    sqlite3_reset(stmt);
    if (rounding) {
        if (failure.empty()) {
            sqlite3_stmt* fix = insert ? rounding->fixNew : rounding->fixAll;
            if (insert) sqlite3_bind_int64(fix, 1, before);
            failure = stepOnce(db_, fix);
        }
        if (!failure.empty()) sqlite3_exec(db_, "ROLLBACK TO \"TVX$ROUND\"", nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "RELEASE \"TVX$ROUND\"", nullptr, nullptr, nullptr);
    }
    if (!failure.empty()) raiseSqlite(failure.c_str());
    return changes;
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
