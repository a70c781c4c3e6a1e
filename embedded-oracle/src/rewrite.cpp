// Oracle SQL into SQLite SQL: the tokenizer, the column type parser and the
// statement rewrite.
//
// The rewrite works on tokens; string literals and quoted identifiers pass
// through untouched. Unquoted identifiers are upper-cased (Oracle's names are
// case-insensitive and reported in upper case). The forms rewritten:
//
//   :1, :2, :name            -> ?1, ?2, ... numbered by position of appearance
//                               (Statement::setXxx(n) binds the n-th one)
//   OWNER.TABLE              -> the schema's attached database ("main" for the
//                               session's own schema); schemas are attached
//                               on demand, read-only for user sessions
//   USER                     -> the session user's name as a text literal
//   SYSDATE, SYSTIMESTAMP    -> TVX_SYSDATE(), TVX_SYSTIMESTAMP()
//   DATE '...', TIMESTAMP '...'
//                            -> TVX_DATE('...'), TVX_TIMESTAMP('...')
//   USER_SDO_GEOM_METADATA   -> the current schema's "TVX$GEOM_METADATA"
//   ALL_SDO_GEOM_METADATA    -> temp."TVX$ALL_GEOM_METADATA", refreshed from
//                               every schema of the database before the query
//   TABLE(a.col.SDO_ELEM_INFO) / TABLE(a.col.SDO_ORDINATES)
//                            -> TVX_ELEM_INFO(a.col) / TVX_ORDINATES(a.col),
//                               table functions with the column COLUMN_VALUE
//   a.col.SDO_GTYPE, .SDO_SRID, .SDO_POINT.X/Y/Z
//                            -> TVX_GTYPE(a.col), ... (NULL when not set)
//   MDSYS.SDO_xxx(           -> SDO_xxx(
//   [MDSYS.]SDO_CS.MAP_ORACLE_SRID_TO_EPSG(
//                            -> TVX_MAP_ORACLE_SRID_TO_EPSG(
//   SDO_ORDINATE_ARRAY / SDO_ELEM_INFO_ARRAY with more than 100 values
//                            -> TVX_ARRAY_CONCAT over chunks of 100 (SQLite
//                               functions take at most 127 arguments)
//   ROWNUM = 1, ROWNUM <= n, ROWNUM < n (n a number or a bind) as a
//   condition of a query's WHERE
//                            -> the condition becomes 1 and the query (or
//                               the parenthesised subquery) gets LIMIT n
//   MINUS                    -> EXCEPT
//   a / b                    -> a * 1.0 / b: division is never integer
//                               division
//   ''                       -> NULL: Oracle's empty text is NULL
//   a || b || c              -> TVX_CONCAT(a, b, c): NULL operands count as
//                               empty text, an empty result is NULL; the
//                               operands are primaries (names, literals,
//                               calls, parenthesised expressions, CASE ...
//                               END), so || binds tighter than + and -
//                               (Oracle gives them equal precedence)
//   administrator sessions: unqualified table names after FROM, JOIN, INTO,
//   UPDATE and in FROM lists get the current schema's database name.
// A trailing ";" is dropped. On request, the literals of an INSERT ... VALUES
// statement become placeholders numbered after the statement's own.
#include "internal.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace oracle {
namespace occi {
namespace embedded {

// ---------------------------------------------------------------- tokenizer

namespace {

bool identStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool identChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c >= 0x80;
}

}  // namespace

std::string nameOf(const Token& t) {
    if (t.kind != Token::QUOTED) return t.text;
    std::string name;
    for (size_t c = 1; c + 1 < t.text.size(); ++c) {
        name += t.text[c];
        if (t.text[c] == '"') ++c;  // a doubled quote stands for one
    }
    return name;
}

std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    out.reserve(s.size() / 3 + 16);  // about a token for every 3 bytes of long lists
    size_t i = 0, n = s.size();
    int line = 1;
    auto push = [&](Token::Kind k, size_t from, size_t to, int startLine) {
        out.push_back(Token{k, s.substr(from, to - from), startLine, from});
    };
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t start = i;
        int startLine = line;
        if (std::isspace(c)) {
            while (i < n && std::isspace(static_cast<unsigned char>(s[i]))) {
                if (s[i] == '\n') ++line;
                ++i;
            }
            push(Token::SPACE, start, i, startLine);
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n') ++i;
            push(Token::COMMENT, start, i, startLine);
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            i += 2;
            while (i < n && !(s[i] == '*' && i + 1 < n && s[i + 1] == '/')) {
                if (s[i] == '\n') ++line;
                ++i;
            }
            i = i < n ? i + 2 : n;
            push(Token::COMMENT, start, i, startLine);
        } else if (((c == 'Q' || c == 'q') && i + 2 < n && s[i + 1] == '\'') ||
                   ((c == 'N' || c == 'n') && i + 3 < n && (s[i + 1] == 'Q' || s[i + 1] == 'q') && s[i + 2] == '\'')) {
            // Oracle's alternative quoting q'[...]' (and nq'[...]'): the
            // same text as '...'; the delimiter is one character (a UTF-8
            // one is several bytes), [ { < ( closed by ] } > )
            if (c == 'N' || c == 'n') ++i;
            unsigned char lead = static_cast<unsigned char>(s[i + 2]);
            size_t width = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            std::string close = s.substr(i + 2, width);
            if (close == "[" || close == "{" || close == "<" || close == "(")
                close = close == "[" ? "]" : close == "{" ? "}" : close == "<" ? ">" : ")";
            size_t from = i + 2 + close.size(), at = from;
            while (at + close.size() < n && !(s.compare(at, close.size(), close) == 0 && s[at + close.size()] == '\''))
                ++at;
            std::string text = "'";
            for (size_t k = from; k < at && k < n; ++k) {
                if (s[k] == '\n') ++line;
                text += s[k];
                if (s[k] == '\'') text += '\'';
            }
            text += "'";
            i = at + close.size() < n ? at + close.size() + 1 : n;
            out.push_back(Token{Token::STRING, text, startLine, start});
        } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'')) {
            if (c != '\'') ++i;
            ++i;
            while (i < n) {
                if (s[i] == '\n') ++line;
                if (s[i] == '\'') {
                    if (i + 1 < n && s[i + 1] == '\'') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            Token t{Token::STRING, s.substr(start, i - start), startLine, start};
            if (t.text[0] != '\'') t.text.erase(0, 1);  // N'...' is the same text
            out.push_back(t);
        } else if (c == '"') {
            ++i;
            while (i < n) {
                if (s[i] == '"') {
                    if (i + 1 < n && s[i + 1] == '"') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            push(Token::QUOTED, start, i, startLine);
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            while (i < n && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
            if (i < n && (s[i] == 'e' || s[i] == 'E')) {
                size_t j = i + 1;
                if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
                if (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) {
                    i = j;
                    while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
                }
            }
            push(Token::NUMBER, start, i, startLine);
        } else if (identStart(c)) {
            while (i < n && identChar(static_cast<unsigned char>(s[i]))) ++i;
            Token t{Token::IDENT, s.substr(start, i - start), startLine, start};
            for (char& ch : t.text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            out.push_back(t);
        } else if (c == ':' && i + 1 < n && identChar(static_cast<unsigned char>(s[i + 1]))) {
            ++i;
            while (i < n && identChar(static_cast<unsigned char>(s[i]))) ++i;
            push(Token::BIND, start, i, startLine);
        } else {
            static const char* const multi[] = {"<=", ">=", "<>", "!=", "||", ":=", "=>", nullptr};
            size_t len = 1;
            for (int k = 0; multi[k]; ++k)
                if (s.compare(i, 2, multi[k]) == 0) len = 2;
            i += len;
            push(Token::OP, start, i, startLine);
        }
    }
    return out;
}

// ---------------------------------------------------------------- types

namespace {

bool isWord(const std::vector<Token>& t, size_t i, const char* w) {
    return i < t.size() && t[i].kind == Token::IDENT && t[i].text == w;
}
bool isOp(const std::vector<Token>& t, size_t i, const char* op) {
    return i < t.size() && t[i].kind == Token::OP && t[i].text == op;
}

// Reads "( n [, m] [BYTE|CHAR] )" at i; false when absent. p_chars tells
// whether CHAR was given.
bool readArgs(const std::vector<Token>& t, size_t& i, int& a, int& b, bool& hasB,
              bool* p_chars = nullptr) {
    hasB = false;
    if (!isOp(t, i, "(")) return false;
    size_t j = i + 1;
    auto readInt = [&](int& v) {
        bool negative = false;
        if (isOp(t, j, "-")) {
            negative = true;
            ++j;
        }
        if (j >= t.size() || t[j].kind != Token::NUMBER) return false;
        v = std::atoi(t[j].text.c_str());
        if (negative) v = -v;
        ++j;
        return true;
    };
    if (!readInt(a)) return false;
    if (isOp(t, j, ",")) {
        ++j;
        if (!readInt(b)) return false;
        hasB = true;
    }
    if (p_chars != nullptr) *p_chars = isWord(t, j, "CHAR");
    if (isWord(t, j, "BYTE") || isWord(t, j, "CHAR")) ++j;
    if (!isOp(t, j, ")")) return false;
    i = j + 1;
    return true;
}

}  // namespace

bool parseOracleType(const std::vector<Token>& t, ColumnType& type, std::string& affinity) {
    type = ColumnType();
    size_t i = 0;
    if (isWord(t, 0, "MDSYS") && isOp(t, 1, ".")) i = 2;
    if (i >= t.size() || t[i].kind != Token::IDENT) return false;
    std::string w = t[i++].text;
    int a = 0, b = 0;
    bool hasB = false;
    bool chars = false;
    bool hasArgs = readArgs(t, i, a, b, hasB, &chars);
    // Oracle reports text sizes in bytes: a length in characters (CHAR
    // semantics) takes up to 4 bytes a character in an AL32UTF8 database, a
    // national type 2 in AL16UTF16; VARCHAR2 holds at most 4000 bytes, CHAR
    // 2000.
    auto setText = [&](int p_code, int p_length, bool p_national) {
        type.code = p_code;
        int cap = p_code == TC_CHAR ? 2000 : 4000;
        type.charSize = p_length;
        type.charsetForm = p_national ? 2 : 1;
        type.charUsed = chars || p_national;
        if (chars || p_national) {
            type.charLimit = p_length;
            long bytes = static_cast<long>(p_length) * (p_national ? 2 : 4);
            type.size = static_cast<int>(bytes > cap ? cap : bytes);
        } else {
            type.size = p_length;
        }
    };
    if (w == "VARCHAR2" || w == "VARCHAR" || w == "NVARCHAR2") {
        if (!hasArgs || hasB) return false;
        setText(TC_VARCHAR2, a, w == "NVARCHAR2");
        affinity = "TEXT";
    } else if (w == "CHAR" || w == "NCHAR" || w == "CHARACTER") {
        if (isWord(t, i, "VARYING")) {
            ++i;
            if (!readArgs(t, i, a, b, hasB, &chars)) return false;
            setText(TC_VARCHAR2, a, w == "NCHAR");
        } else {
            setText(TC_CHAR, hasArgs ? a : 1, w == "NCHAR");
        }
        affinity = "TEXT";
    } else if (w == "NUMBER" || w == "NUMERIC" || w == "DECIMAL" || w == "DEC") {
        type.code = TC_NUMBER;
        type.size = 22;
        if (hasArgs) {
            type.precision = a;
            type.scale = hasB ? b : 0;
        } else if (w == "NUMBER") {
            type.precision = 0;
            type.scale = -127;
        } else {
            // DECIMAL and NUMERIC without precision are NUMBER(*,0), as
            // INTEGER: described as precision 38, scale 0
            type.precision = 38;
            type.scale = 0;
        }
        affinity = "NUMERIC";
    } else if (w == "INTEGER" || w == "INT" || w == "SMALLINT") {
        if (hasArgs) return false;
        type.code = TC_NUMBER;
        type.size = 22;
        type.precision = 38;
        type.scale = 0;
        affinity = "NUMERIC";
    } else if (w == "FLOAT" || w == "REAL" || (w == "DOUBLE" && isWord(t, i, "PRECISION"))) {
        if (w == "DOUBLE") ++i;
        type.code = TC_NUMBER;
        type.size = 22;
        type.precision = hasArgs ? a : (w == "REAL" ? 63 : 126);
        type.scale = -127;
        affinity = "NUMERIC";
    } else if (w == "LONG") {
        if (isWord(t, i, "RAW")) {
            ++i;
            type.code = TC_LONG_RAW;
            affinity = "BLOB";
        } else {
            type.code = TC_LONG;
            affinity = "TEXT";
        }
    } else if (w == "DATE") {
        type.code = TC_DATE;
        type.size = 7;
        affinity = "TEXT";
    } else if (w == "RAW") {
        if (!hasArgs || hasB) return false;
        type.code = TC_RAW;
        type.size = a;
        affinity = "BLOB";
    } else if (w == "BINARY_FLOAT" || w == "BINARY_DOUBLE") {
        type.code = w == "BINARY_FLOAT" ? TC_BINARY_FLOAT : TC_BINARY_DOUBLE;
        type.size = w == "BINARY_FLOAT" ? 4 : 8;
        affinity = "REAL";
    } else if (w == "SDO_GEOMETRY") {
        type.code = TC_OBJECT;
        type.typeName = "SDO_GEOMETRY";
        type.typeSchema = "MDSYS";
        affinity = "BLOB";
    } else if (w == "CLOB" || w == "NCLOB") {
        type.code = TC_CLOB;
        type.size = 4000;
        type.charsetForm = w == "NCLOB" ? 2 : 1;
        affinity = "TEXT";
    } else if (w == "BLOB") {
        type.code = TC_BLOB;
        type.size = 4000;
        affinity = "BLOB";
    } else if (w == "TIMESTAMP") {
        if (hasB) return false;
        type.code = TC_TIMESTAMP;
        type.size = 11;
        type.scale = hasArgs ? a : 6;
        affinity = "TEXT";
        if (isWord(t, i, "WITH") && isWord(t, i + 1, "TIME") && isWord(t, i + 2, "ZONE")) {
            i += 3;
            type.code = TC_TIMESTAMP_TZ;
            type.size = 13;
        } else if (isWord(t, i, "WITH") && isWord(t, i + 1, "LOCAL") && isWord(t, i + 2, "TIME") &&
                   isWord(t, i + 3, "ZONE")) {
            i += 4;
            type.code = TC_TIMESTAMP_LTZ;
        }
    } else {
        return false;
    }
    return i == t.size();
}

// ---------------------------------------------------------------- rewrite

namespace {

// Limits of the rewrite: the nesting it follows (every walk over nested
// forms is bounded by it), and the literals of one INSERT it turns into
// placeholders (SQLite takes at most 32766 by default).
const int MAX_NESTING = 200;
const size_t MAX_HOISTED = 30000;

struct Rewriter {
    const std::vector<Token>& t;
    SchemaResolver& r;
    Rewritten result;
    int binds = 0;
    bool hoist = false;
    bool bindArrays = false;
    int literalNumber = 0;
    // one entry per open parenthesis (plus the statement): the row limit
    // found in that level's WHERE, -1 for none
    // (empty: none; otherwise the LIMIT expression)
    std::vector<std::string> limits;

    Rewriter(const std::vector<Token>& tokens, SchemaResolver& resolver)
        : t(tokens), r(resolver) {}

    bool significant(size_t i) const {
        return t[i].kind != Token::SPACE && t[i].kind != Token::COMMENT;
    }
    size_t next(size_t i, size_t end) const {
        ++i;
        while (i < end && !significant(i)) ++i;
        return i;
    }
    size_t prev(size_t i, size_t begin) const {
        while (i > begin) {
            --i;
            if (significant(i)) return i;
        }
        return std::string::npos;
    }
    bool word(size_t i, const char* w, size_t end) const {
        return i < end && t[i].kind == Token::IDENT && t[i].text == w;
    }
    bool op(size_t i, const char* o, size_t end) const {
        return i < end && t[i].kind == Token::OP && t[i].text == o;
    }
    bool name(size_t i, size_t end) const {
        return i < end && (t[i].kind == Token::IDENT || t[i].kind == Token::QUOTED);
    }
    // Matching ")" of the "(" at i, or end.
    size_t closing(size_t i, size_t end) const {
        int depth = 0;
        for (size_t k = i; k < end; ++k) {
            if (op(k, "(", end)) ++depth;
            else if (op(k, ")", end) && --depth == 0) return k;
        }
        return end;
    }

    static bool isTableKeyword(const std::string& w) {
        return w == "FROM" || w == "JOIN" || w == "INTO" || w == "UPDATE";
    }
    static bool endsFromList(const std::string& w) {
        return w == "WHERE" || w == "GROUP" || w == "ORDER" || w == "HAVING" || w == "UNION" ||
               w == "INTERSECT" || w == "MINUS" || w == "EXCEPT" || w == "ON" ||
               w == "USING" || w == "START" || w == "CONNECT" || w == "SET" ||
               w == "VALUES" || w == "SELECT" || w == "LIMIT" || w == "WINDOW";
    }
    static bool isView(const std::string& w) {
        return w == "USER_SDO_GEOM_METADATA" || w == "ALL_SDO_GEOM_METADATA" || w == "DUAL";
    }

    // The schema prefix of OWNER.NAME at i, if OWNER is a schema.
    std::string schemaAt(size_t i, size_t begin, size_t end) {
        if (t[i].kind != Token::IDENT) return "";
        size_t p = prev(i, begin);
        if (p != std::string::npos && op(p, ".", end)) return "";
        size_t dot = next(i, end);
        if (!op(dot, ".", end) || !name(next(dot, end), end)) return "";
        return r.schemaAlias(t[i].text);
    }

    void emit(std::string& out, size_t begin, size_t end) {
        bool expectTable = false;
        size_t tableAt = std::string::npos;  // the table name after OWNER. in a table position
        std::string tableAlias;
        bool afterInto = false;
        int fromDepth = -1;
        int depth = 0;
        for (size_t i = begin; i < end; ++i) {
            const Token& k = t[i];
            if (!significant(i)) {
                out += k.kind == Token::SPACE ? k.text : " ";
                continue;
            }
            if (k.kind == Token::BIND) {
                out += "?" + std::to_string(++binds);
                expectTable = false;
                continue;
            }
            if (k.kind == Token::OP) {
                if (k.text == "(") {
                    ++depth;
                    limits.push_back("");
                    out += k.text;
                    expectTable = false;
                    continue;
                }
                if (k.text == ")") {
                    if (fromDepth == depth) fromDepth = -1;
                    --depth;
                    if (limits.size() > 1) {
                        std::string limit = limits.back();
                        limits.pop_back();
                        if (!limit.empty()) out += " LIMIT " + limit;
                    }
                    out += k.text;
                    continue;
                }
                if (k.text == "," && fromDepth == depth) expectTable = true;
                if (hoist && k.text == "-") {
                    // a negative literal is one value, so that the text does not
                    // depend on the signs of the values
                    size_t n1 = next(i, end);
                    size_t p1 = prev(i, 0);  // an array's values are emitted one range each
                    if (n1 < end && t[n1].kind == Token::NUMBER && p1 != std::string::npos &&
                        (op(p1, "(", end) || op(p1, ",", end))) {
                        out += "?" + std::to_string(++literalNumber);
                        Token negative = t[n1];
                        negative.text = "-" + negative.text;
                        result.literals.push_back(negative);
                        i = n1;
                        continue;
                    }
                }
                if (k.text == ";" && next(i, end) >= end) continue;
                if (k.text == "/") {
                    out += " * 1.0 /";
                    continue;
                }
                out += k.text;
                continue;
            }
            if (hoist && (k.kind == Token::NUMBER || k.kind == Token::STRING)) {
                out += "?" + std::to_string(++literalNumber);
                result.literals.push_back(k);
                expectTable = false;
                continue;
            }
            // "OWNER".TABLE: a quoted schema name names the schema of exactly
            // that name, as in Oracle.
            if (k.kind == Token::QUOTED && k.text.size() > 2 && k.text[0] == '"') {
                size_t before = prev(i, begin);
                size_t dot = next(i, end);
                if ((before == std::string::npos || !op(before, ".", end)) && op(dot, ".", end) &&
                    name(next(dot, end), end)) {
                    std::string alias = r.schemaAlias(nameOf(k));
                    if (!alias.empty()) {
                        if (expectTable) {
                            tableAt = next(dot, end);
                            tableAlias = alias;
                        }
                        out += "\"" + alias + "\"";
                        expectTable = false;
                        continue;
                    }
                    // "owner".table where no schema has exactly that name
                    if (expectTable) raise(942, "table or view does not exist");
                }
            }
            // a quoted table name names the table of exactly that name
            if (k.kind == Token::QUOTED && k.text.size() > 2 && k.text[0] == '"') {
                if (i == tableAt) r.exactTable(tableAlias, nameOf(k));
                else if (expectTable && !op(next(i, end), ".", end)) r.exactTable("", nameOf(k));
            }
            if (k.kind == Token::STRING && k.text == "''") {
                out += "NULL";
                expectTable = false;
                continue;
            }
            if (k.kind != Token::IDENT) {
                out += k.text;
                expectTable = false;
                continue;
            }
            const std::string& w = k.text;
            size_t n1 = next(i, end);
            size_t p1 = prev(i, begin);
            bool afterDot = p1 != std::string::npos && op(p1, ".", end);

            if (isTableKeyword(w)) {
                expectTable = true;
                afterInto = w == "INTO";
                if (w == "FROM" || w == "JOIN") fromDepth = depth;
                out += w;
                continue;
            }
            if (endsFromList(w) && fromDepth == depth) fromDepth = -1;

            // DATE '...' and TIMESTAMP '...'
            if ((w == "DATE" || w == "TIMESTAMP") && n1 < end && t[n1].kind == Token::STRING) {
                out += (w == "DATE" ? "TVX_DATE(" : "TVX_TIMESTAMP(") + t[n1].text + ")";
                i = n1;
                continue;
            }
            // TABLE(a.col.SDO_ELEM_INFO)
            if (w == "TABLE" && op(n1, "(", end)) {
                size_t close = closing(n1, end);
                std::vector<size_t> parts;
                for (size_t q = next(n1, end); q < close; q = next(q, end)) parts.push_back(q);
                if (parts.size() >= 3 && t[parts.back()].kind == Token::IDENT &&
                    (t[parts.back()].text == "SDO_ELEM_INFO" || t[parts.back()].text == "SDO_ORDINATES") &&
                    op(parts[parts.size() - 2], ".", end)) {
                    out += t[parts.back()].text == "SDO_ELEM_INFO" ? "TVX_ELEM_INFO(" : "TVX_ORDINATES(";
                    emit(out, next(n1, end), parts[parts.size() - 2]);
                    out += ")";
                    i = close;
                    expectTable = false;
                    continue;
                }
            }
            // large SDO arrays
            if ((w == "SDO_ORDINATE_ARRAY" || w == "SDO_ELEM_INFO_ARRAY") && op(n1, "(", end)) {
                size_t close = closing(n1, end);
                emitArray(out, w, n1, close);
                i = close;
                continue;
            }
            // [MDSYS.]SDO_CS.MAP_ORACLE_SRID_TO_EPSG( -> TVX_MAP_ORACLE_SRID_TO_EPSG(
            if (!afterDot && (w == "SDO_CS" || w == "MDSYS")) {
                size_t package = w == "MDSYS" && op(n1, ".", end) ? next(n1, end) : i;
                size_t dot = next(package, end);
                size_t function = next(dot, end);
                if (word(package, "SDO_CS", end) && op(dot, ".", end) &&
                    word(function, "MAP_ORACLE_SRID_TO_EPSG", end) && op(next(function, end), "(", end)) {
                    out += "TVX_MAP_ORACLE_SRID_TO_EPSG";
                    i = function;
                    expectTable = false;
                    continue;
                }
            }
            // MDSYS.SDO_xxx( -> SDO_xxx(
            if (w == "MDSYS" && op(n1, ".", end)) {
                size_t n2 = next(n1, end);
                if (n2 < end && t[n2].kind == Token::IDENT && t[n2].text.compare(0, 4, "SDO_") == 0 &&
                    op(next(n2, end), "(", end)) {
                    i = n1;
                    continue;
                }
            }
            // a.col.SDO_GTYPE and friends
            if (!afterDot && op(n1, ".", end)) {
                size_t n2 = next(n1, end);
                size_t n3 = next(n2, end);
                size_t n4 = next(n3, end);
                if (name(n2, end) && op(n3, ".", end) && n4 < end && t[n4].kind == Token::IDENT) {
                    const std::string& attr = t[n4].text;
                    std::string fn;
                    size_t last = n4;
                    if (attr == "SDO_GTYPE") fn = "TVX_GTYPE";
                    else if (attr == "SDO_SRID") fn = "TVX_SRID";
                    else if (attr == "SDO_POINT") {
                        size_t n5 = next(n4, end), n6 = next(n5, end);
                        if (op(n5, ".", end) && n6 < end && t[n6].kind == Token::IDENT &&
                            (t[n6].text == "X" || t[n6].text == "Y" || t[n6].text == "Z")) {
                            fn = "TVX_POINT_" + t[n6].text;
                            last = n6;
                        }
                    }
                    if (!fn.empty() && r.schemaAlias(w).empty()) {
                        out += fn + "(" + w + "." + t[n2].text + ")";
                        i = last;
                        continue;
                    }
                }
            }
            // OWNER.TABLE
            if (!afterDot && op(n1, ".", end)) {
                std::string alias = schemaAt(i, begin, end);
                if (!alias.empty()) {
                    if (expectTable) {
                        tableAt = next(n1, end);
                        tableAlias = alias;
                    }
                    out += "\"" + alias + "\"";
                    expectTable = false;
                    continue;
                }
            }
            if (!afterDot && w == "USER_SDO_GEOM_METADATA") {
                out += "\"" + r.currentAlias() + "\".\"TVX$GEOM_METADATA\"";
                expectTable = false;
                continue;
            }
            if (!afterDot && w == "ALL_SDO_GEOM_METADATA") {
                out += "temp.\"TVX$ALL_GEOM_METADATA\"";
                result.usesAllMetadata = true;
                expectTable = false;
                continue;
            }
            if (!afterDot && w == "USER" && !op(n1, ".", end) && !op(n1, "(", end)) {
                out += "'" + r.sessionUser() + "'";
                continue;
            }
            if (!afterDot && (w == "SYSDATE" || w == "SYSTIMESTAMP") && !op(n1, "(", end)) {
                out += w == "SYSDATE" ? "TVX_SYSDATE()" : "TVX_SYSTIMESTAMP()";
                continue;
            }
            if (w == "MINUS") {
                out += "EXCEPT";
                continue;
            }
            if (w == "ROWNUM" && !afterDot) {
                size_t p = p1;
                bool conjunct = p != std::string::npos && (word(p, "WHERE", end) || word(p, "AND", end));
                size_t value = next(n1, end);
                if (conjunct && n1 < end && t[n1].kind == Token::OP &&
                    (t[n1].text == "=" || t[n1].text == "<=" || t[n1].text == "<") && value < end &&
                    (t[value].kind == Token::NUMBER || t[value].kind == Token::BIND)) {
                    std::string limit;
                    if (t[value].kind == Token::NUMBER) {
                        long v = std::atol(t[value].text.c_str());
                        long n = t[n1].text == "=" ? (v == 1 ? 1 : 0) : t[n1].text == "<=" ? v : v - 1;
                        limit = std::to_string(n < 0 ? 0 : n);
                    } else {
                        std::string b = "?" + std::to_string(++binds);
                        limit = t[n1].text == "=" ? "(CASE WHEN " + b + " = 1 THEN 1 ELSE 0 END)"
                                : t[n1].text == "<=" ? "max(" + b + ", 0)" : "max(" + b + " - 1, 0)";
                    }
                    std::string& slot = limits.back();
                    slot = slot.empty() ? limit : "min(" + slot + ", " + limit + ")";
                    out += "1";
                    i = value;
                    continue;
                }
            }
            // an unqualified table name in an administrator's statement
            if (expectTable && r.qualifyTables() && !afterDot && !op(n1, ".", end) &&
                (afterInto || !op(n1, "(", end)) && !isView(w) && w != "TABLE" && w != "SELECT" &&
                w != "LATERAL") {
                out += "\"" + r.currentAlias() + "\"." + w;
                expectTable = false;
                continue;
            }
            expectTable = false;
            out += w;
        }
    }

    // SDO_ORDINATE_ARRAY(v1, ..., vn): SQLite functions take at most 127
    // arguments, so long lists are built from chunks.
    void emitArray(std::string& out, const std::string& fn, size_t open, size_t close) {
        std::vector<std::pair<size_t, size_t>> args;
        int depth = 0;
        size_t start = open + 1;
        for (size_t k = open + 1; k < close; ++k) {
            if (op(k, "(", close)) ++depth;
            else if (op(k, ")", close)) --depth;
            else if (depth == 0 && op(k, ",", close)) {
                args.push_back({start, k});
                start = k + 1;
            }
        }
        if (start < close) args.push_back({start, close});
        if (bindArrays && args.size() > 100 && bindArray(out, args)) return;
        emitChunks(out, fn, args, 0, args.size());
    }

    // An array of literal numbers (signed) and NULLs as one bound value;
    // false when an argument is anything else.
    bool bindArray(std::string& out, const std::vector<std::pair<size_t, size_t>>& args) {
        NumArray array;
        array.values.reserve(args.size());
        array.nulls.reserve(args.size());
        for (const auto& arg : args) {
            size_t k = arg.first;
            while (k < arg.second && !significant(k)) ++k;
            bool negative = false;
            if (op(k, "-", arg.second) || op(k, "+", arg.second)) {
                negative = t[k].text == "-";
                k = next(k, arg.second);
            }
            if (k >= arg.second || next(k, arg.second) < arg.second) return false;
            if (t[k].kind == Token::NUMBER) {
                double v = std::strtod(t[k].text.c_str(), nullptr);
                array.values.push_back(negative ? -v : v);
                array.nulls.push_back(false);
            } else if (word(k, "NULL", arg.second) && !negative) {
                array.values.push_back(0);
                array.nulls.push_back(true);
            } else {
                return false;
            }
        }
        out += "?" + std::to_string(++literalNumber);
        result.literals.push_back(Token{Token::BLOB, encodeArray(array), t[args.front().first].line, 0});
        return true;
    }

    void emitChunks(std::string& out, const std::string& fn,
                    const std::vector<std::pair<size_t, size_t>>& args, size_t from, size_t to) {
        const size_t CHUNK = 100;
        size_t count = to - from;
        if (count <= CHUNK) {
            out += fn + "(";
            for (size_t k = from; k < to; ++k) {
                if (k > from) out += ",";
                emit(out, args[k].first, args[k].second);
            }
            out += ")";
            return;
        }
        // split into at most CHUNK parts, each recursively
        size_t per = CHUNK;
        while ((count + per - 1) / per > CHUNK) per *= CHUNK;
        out += "TVX_ARRAY_CONCAT(";
        for (size_t k = from; k < to; k += per) {
            if (k > from) out += ",";
            emitChunks(out, fn, args, k, std::min(to, k + per));
        }
        out += ")";
    }
};

}  // namespace

namespace {

// Chains of || become TVX_CONCAT(operand, ...). An operand is a primary:
// a name (dotted), a literal (also DATE '...'), a bind, a call, a
// parenthesised expression or CASE ... END, with an optional sign.
class ConcatChains {
public:
    explicit ConcatChains(const std::vector<Token>& tokens) : t_(tokens) {
        for (size_t i = 0; i < t_.size(); ++i)
            if (t_[i].kind != Token::SPACE && t_[i].kind != Token::COMMENT) sig_.push_back(i);
    }

    bool changed = false;

    std::vector<Token> apply() {
        std::vector<Token> out;
        size_t copied = 0;  // tokens of t_ already in out
        for (size_t k = 0; k < sig_.size(); ++k) {
            if (!isConcat(k)) continue;
            size_t first = operandStart(k - 1);
            if (first == NONE) continue;
            // the chain's operands
            std::vector<std::pair<size_t, size_t>> operands{{first, k - 1}};
            size_t at = k;
            while (at < sig_.size() && isConcat(at)) {
                size_t last = operandEnd(at + 1);
                if (last == NONE) break;
                operands.push_back({at + 1, last});
                at = last + 1;
            }
            if (operands.size() < 2) continue;
            size_t from = sig_[operands.front().first];
            if (from < copied) continue;  // inside an operand already rewritten
            for (size_t i = copied; i < from; ++i) out.push_back(t_[i]);
            emitConcat(out, operands, 0, operands.size(), t_[from].line);
            copied = sig_[operands.back().second] + 1;
            changed = true;
            k = operands.back().second;
        }
        for (size_t i = copied; i < t_.size(); ++i) out.push_back(t_[i]);
        return out;
    }

private:
    static const size_t NONE = static_cast<size_t>(-1);

    // TVX_CONCAT(operands[from, to)): SQLite functions take at most 127
    // arguments, so a longer chain is a call of calls of at most 100 each.
    void emitConcat(std::vector<Token>& out, const std::vector<std::pair<size_t, size_t>>& operands, size_t from,
                    size_t to, int line) const {
        const size_t CHUNK = 100;
        size_t per = 1;
        while ((to - from + per - 1) / per > CHUNK) per *= CHUNK;
        out.push_back(Token{Token::IDENT, "TVX_CONCAT", line, 0});
        out.push_back(Token{Token::OP, "(", line, 0});
        for (size_t o = from; o < to; o += per) {
            if (o > from) out.push_back(Token{Token::OP, ",", line, 0});
            if (per > 1) {
                emitConcat(out, operands, o, std::min(to, o + per), line);
                continue;
            }
            for (size_t i = sig_[operands[o].first]; i <= sig_[operands[o].second]; ++i) out.push_back(t_[i]);
        }
        out.push_back(Token{Token::OP, ")", line, 0});
    }

    const Token& at(size_t k) const { return t_[sig_[k]]; }
    bool isOpAt(size_t k, const char* o) const { return k < sig_.size() && at(k).kind == Token::OP && at(k).text == o; }
    bool isWordAt(size_t k, const char* w) const {
        return k < sig_.size() && at(k).kind == Token::IDENT && at(k).text == w;
    }
    bool isConcat(size_t k) const { return isOpAt(k, "||"); }
    bool isValue(size_t k) const {
        if (k >= sig_.size()) return false;
        Token::Kind kind = at(k).kind;
        return kind == Token::IDENT || kind == Token::QUOTED || kind == Token::NUMBER || kind == Token::STRING ||
               kind == Token::BIND;
    }

    // Index of the primary that ends at k (walking left), or NONE.
    size_t operandStart(size_t k) const {
        size_t s = NONE;
        if (isOpAt(k, ")")) {
            int depth = 0;
            for (size_t j = k + 1; j-- > 0;) {
                if (isOpAt(j, ")")) ++depth;
                else if (isOpAt(j, "(") && --depth == 0) {
                    s = j;
                    break;
                }
            }
            if (s == NONE) return NONE;
            if (s > 0 && (at(s - 1).kind == Token::IDENT || at(s - 1).kind == Token::QUOTED)) s = dotted(s - 1);
        } else if (isWordAt(k, "END")) {
            int depth = 0;
            for (size_t j = k + 1; j-- > 0;) {
                if (isWordAt(j, "END")) ++depth;
                else if (isWordAt(j, "CASE") && --depth == 0) {
                    s = j;
                    break;
                }
            }
            if (s == NONE) return NONE;
        } else if (isValue(k)) {
            s = dotted(k);
            if (at(k).kind == Token::STRING && s > 0 && (isWordAt(s - 1, "DATE") || isWordAt(s - 1, "TIMESTAMP"))) --s;
        } else {
            return NONE;
        }
        // a sign directly after an operator or an opening parenthesis
        if (s > 0 && (isOpAt(s - 1, "-") || isOpAt(s - 1, "+")) &&
            (s == 1 || at(s - 2).kind == Token::OP || isWordAt(s - 2, "SELECT")) && !isOpAt(s - 2, ")"))
            --s;
        return s;
    }

    size_t dotted(size_t k) const {
        while (k >= 2 && isOpAt(k - 1, ".") && (at(k - 2).kind == Token::IDENT || at(k - 2).kind == Token::QUOTED))
            k -= 2;
        return k;
    }

    // Index of the last token of the primary that starts at k, or NONE.
    size_t operandEnd(size_t k) const {
        while (isOpAt(k, "-") || isOpAt(k, "+")) ++k;
        if (k >= sig_.size()) return NONE;
        if (isOpAt(k, "(")) return closing(k);
        if (isWordAt(k, "CASE")) {
            int depth = 0;
            for (size_t j = k; j < sig_.size(); ++j) {
                if (isWordAt(j, "CASE")) ++depth;
                else if (isWordAt(j, "END") && --depth == 0) return j;
            }
            return NONE;
        }
        if ((isWordAt(k, "DATE") || isWordAt(k, "TIMESTAMP")) && k + 1 < sig_.size() && at(k + 1).kind == Token::STRING)
            return k + 1;
        if (!isValue(k)) return NONE;
        size_t e = k;
        while (isOpAt(e + 1, ".") && e + 2 < sig_.size() && (at(e + 2).kind == Token::IDENT || at(e + 2).kind == Token::QUOTED))
            e += 2;
        if (isOpAt(e + 1, "(") && (at(e).kind == Token::IDENT || at(e).kind == Token::QUOTED)) return closing(e + 1);
        return e;
    }

    size_t closing(size_t k) const {
        int depth = 0;
        for (size_t j = k; j < sig_.size(); ++j) {
            if (isOpAt(j, "(")) ++depth;
            else if (isOpAt(j, ")") && --depth == 0) return j;
        }
        return NONE;
    }

    const std::vector<Token>& t_;
    std::vector<size_t> sig_;
};

}  // namespace

Rewritten rewriteSql(const std::string& sql, SchemaResolver& resolver, bool hoistLiterals, bool bindArrays) {
    std::vector<Token> tokens = tokenize(sql);
    bool concatenates = false;
    int depth = 0;
    size_t literals = 0;
    for (const Token& k : tokens) {
        if (k.kind == Token::OP && k.text == "||") concatenates = true;
        if (k.kind == Token::NUMBER || k.kind == Token::STRING) ++literals;
        if (k.kind == Token::OP && k.text == "(" && ++depth > MAX_NESTING)
            raise(3001, "unimplemented feature: expressions nested deeper than " + std::to_string(MAX_NESTING) +
                            " parentheses");
        if (k.kind == Token::OP && k.text == ")") --depth;
    }
    // more literals than SQLite takes placeholders: the text keeps them
    if (literals > MAX_HOISTED) hoistLiterals = false;
    // a chain inside an operand of another is rewritten on the next round
    while (concatenates) {
        ConcatChains chains(tokens);
        std::vector<Token> rewritten = chains.apply();
        concatenates = chains.changed;
        tokens.swap(rewritten);
    }
    Rewriter w(tokens, resolver);
    w.bindArrays = bindArrays;
    if (hoistLiterals || bindArrays) {
        bool first = true, insert = false, select = false;
        int userBinds = 0;
        for (const Token& t : tokens) {
            if (t.kind == Token::SPACE || t.kind == Token::COMMENT) continue;
            if (first) insert = t.kind == Token::IDENT && t.text == "INSERT";
            first = false;
            if (t.kind == Token::IDENT && t.text == "SELECT") select = true;
            if (t.kind == Token::BIND) ++userBinds;
        }
        w.hoist = hoistLiterals && insert && !select;
        w.result.userBinds = userBinds;
        w.literalNumber = userBinds;
    }
    w.limits.push_back("");
    std::string out;
    out.reserve(sql.size() + 32);
    w.emit(out, 0, tokens.size());
    while (w.limits.size() > 1) w.limits.pop_back();  // unbalanced parentheses: SQLite reports
    if (!w.limits.back().empty()) out += " LIMIT " + w.limits.back();
    w.result.sql = out;
    return w.result;
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
