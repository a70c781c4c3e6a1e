// The loader's script splitter: Oracle SQL scripts as SQL*Plus reads them.
// Used by tarvex-sql and its fuzz target; program code never includes it.
#ifndef TARVEX_EMBEDDED_SCRIPT_H
#define TARVEX_EMBEDDED_SCRIPT_H

#include <functional>
#include <string>

namespace oracle {
namespace occi {
namespace embedded {

struct ScriptStatement {
    std::string text;
    int line;
};

// Where a script could not be split: the line and the message.
struct SplitError {
    int line = 0;
    std::string message;
};

// Calls run(statement) for each statement of the script in order, until it
// returns false or EXIT/QUIT ends the script; false when run returned false
// or the text is not well formed (error then set). Statements end with ";"
// outside quotes, q'[...]' quotes and comments, or with a line holding only
// "/"; "--" and "/* */" comments are skipped, and so are the SQL*Plus
// commands SET, PROMPT, SPOOL, WHENEVER, REM, SHOW at the start of a
// statement. The splitter works in one pass over the text, without
// recursion.
bool splitScript(const std::string& text, const std::function<bool(const ScriptStatement&)>& run,
                 SplitError& error);

}  // namespace embedded
}  // namespace occi
}  // namespace oracle

#endif
