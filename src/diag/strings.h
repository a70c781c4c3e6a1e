// Shared ASCII case helpers: every character is replaced in place by the C
// library's toupper/tolower of it (the C locale is never changed).
#ifndef TARVEX_DIAG_STRINGS_H
#define TARVEX_DIAG_STRINGS_H

#include <string>

void upper(std::string& text);
void lower(std::string& text);

// A file-name part taken from the database: every path separator, NUL,
// control character and leading dot becomes "_"; an empty name becomes "_".
std::string safeFileNamePart(const std::string& p_name);

#endif
