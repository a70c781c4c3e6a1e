// Text for a UTF-8 DBF field: made valid, then cut at a character boundary.
#ifndef TARVEX_SHAPE_UTF8_TEXT_H
#define TARVEX_SHAPE_UTF8_TEXT_H

#include <cstddef>
#include <string>

// Replaces every invalid UTF-8 sequence (each maximal invalid part: a stray
// continuation byte, a truncated sequence, an overlong form, a surrogate, a
// code point above U+10FFFF) by U+FFFD, and every NUL byte by a space.
// p_replaced and p_nul tell whether either happened.
void tvCleanUtf8(std::string& p_text, bool& p_replaced, bool& p_nul);

// Cuts valid UTF-8 text to at most p_bytes bytes, at the end of the last
// whole character that fits. True when the text was shortened.
bool tvCutUtf8(std::string& p_text, size_t p_bytes);

// Number of characters of valid UTF-8 text.
size_t tvUtf8Length(const std::string& p_text);

#endif
