// The loader's script splitter (script.h).
#include "script.h"

#include <cctype>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

bool isSqlPlusCommand(const std::string& word) {
    static const char* const WORDS[] = {"SET", "PROMPT", "SPOOL", "WHENEVER", "REM", "REMARK",
                                        "SHOW", nullptr};
    for (int i = 0; WORDS[i]; ++i)
        if (word == WORDS[i]) return true;
    return false;
}

}  // namespace

bool splitScript(const std::string& s, const std::function<bool(const ScriptStatement&)>& run, SplitError& error) {
    bool going = true;
    std::string current;
    int line = 1, startLine = 0;
    bool significant = false;
    size_t i = 0, n = s.size();
    auto finish = [&]() {
        if (significant && going) going = run(ScriptStatement{current, startLine});
        current.clear();
        significant = false;
    };
    bool lineStart = true;
    while (i < n && going) {
        char c = s[i];
        if (lineStart) {
            // a line holding only "/" ends the statement
            size_t e = i;
            while (e < n && (s[e] == ' ' || s[e] == '\t' || s[e] == '\r')) ++e;
            if (e < n && s[e] == '/') {
                size_t f = e + 1;
                while (f < n && (s[f] == ' ' || s[f] == '\t' || s[f] == '\r')) ++f;
                if (f == n || s[f] == '\n') {
                    finish();
                    i = f;
                    continue;
                }
            }
            // SQL*Plus commands at the start of a statement take one line
            if (!significant) {
                size_t w = e;
                std::string word;
                while (w < n && std::isalpha(static_cast<unsigned char>(s[w])))
                    word += static_cast<char>(std::toupper(static_cast<unsigned char>(s[w++])));
                bool wordEnds = w == n || !(std::isalnum(static_cast<unsigned char>(s[w])) || s[w] == '_');
                if ((word == "EXIT" || word == "QUIT") && wordEnds) return true;
                if (isSqlPlusCommand(word) && wordEnds) {
                    while (i < n && s[i] != '\n') ++i;
                    continue;
                }
            }
            lineStart = false;
        }
        if (c == '\n') {
            ++line;
            lineStart = true;
            current += c;
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            if (s.find("*/", i + 2) == std::string::npos) {
                error.line = line;
                error.message = "unterminated comment: \"/*\" without \"*/\"";
                return false;
            }
            i += 2;
            while (i < n && !(s[i] == '*' && i + 1 < n && s[i + 1] == '/')) {
                if (s[i] == '\n') {
                    ++line;
                    current += '\n';
                }
                ++i;
            }
            i = i < n ? i + 2 : n;
            current += ' ';
            continue;
        }
        if (c == ';') {
            finish();
            ++i;
            continue;
        }
        if (!std::isspace(static_cast<unsigned char>(c)) && !significant) {
            significant = true;
            startLine = line;
            current.clear();
        }
        auto wordChar = [&](size_t k) {
            unsigned char b = static_cast<unsigned char>(s[k]);
            return std::isalnum(b) || b == '_' || b == '$' || b == '#' || b >= 0x80;
        };
        size_t q = (c == 'n' || c == 'N') && i + 1 < n ? i + 1 : i;  // nq'...' is q'...' too
        if ((s[q] == 'q' || s[q] == 'Q') && q + 2 < n && s[q + 1] == '\'' && (i == 0 || !wordChar(i - 1))) {
            // q'[...]' quoting: up to the closing delimiter and quote; the
            // delimiter is one character (a UTF-8 one is several bytes),
            // [ { < ( closed by ] } > )
            unsigned char lead = static_cast<unsigned char>(s[q + 2]);
            size_t width = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            std::string close = s.substr(q + 2, width);
            if (close == "[" || close == "{" || close == "<" || close == "(")
                close = close == "[" ? "]" : close == "{" ? "}" : close == "<" ? ">" : ")";
            size_t j = q + 2 + close.size();
            int opened = line;
            while (j + close.size() < n && !(s.compare(j, close.size(), close) == 0 && s[j + close.size()] == '\'')) {
                if (s[j] == '\n') ++line;
                ++j;
            }
            if (j + close.size() >= n) {
                error.line = opened;
                error.message = "ORA-01756: quoted string not properly terminated";
                return false;
            }
            j += close.size() + 1;
            current.append(s, i, j - i);
            i = j;
            continue;
        }
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            int opened = line;
            while (j < n && s[j] != c) {
                if (s[j] == '\n') ++line;
                ++j;
            }
            if (j >= n) {
                error.line = opened;
                error.message = c == '"' ? "ORA-01740: missing double quote in identifier"
                                         : "ORA-01756: quoted string not properly terminated";
                return false;
            }
            ++j;
            current.append(s, i, j - i);
            i = j;
            continue;
        }
        current += c;
        ++i;
    }
    finish();
    return going;
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
