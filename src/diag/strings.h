// Shared ASCII case helpers: every character is replaced in place by the C
// library's toupper/tolower of it (the C locale is never changed).
#ifndef TARVEX_DIAG_STRINGS_H
#define TARVEX_DIAG_STRINGS_H

#include <string>

void upper(std::string& text);
void lower(std::string& text);

#endif
