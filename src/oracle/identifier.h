// Oracle identifiers as they go into SQL text and as the command line gives
// them.
#ifndef TARVEX_ORACLE_IDENTIFIER_H
#define TARVEX_ORACLE_IDENTIFIER_H

#include <string>

// The name as a quoted identifier: in double quotes, inner quotes doubled.
// Whatever the name holds, the result is one identifier.
std::string quoteIdentifier(const std::string& p_name);

// "OWNER"."TABLE", or "TABLE" alone when p_owner is empty.
std::string qualifiedTableName(const std::string& p_owner, const std::string& p_table);

// Reads a table or schema name typed by the user: a plain name (a letter,
// then letters, digits, "_", "$" or "#", at most 128 bytes) stands for
// itself in upper case; a name in double quotes (inner quotes doubled, not
// empty) stands for exactly what it quotes. False, leaving p_name alone, for
// anything else (spaces, dots, semicolons, SQL after the name).
bool readIdentifierArgument(const std::string& p_text, std::string& p_name);

#endif
