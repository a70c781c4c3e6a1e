// The widest text an Oracle datetime format model gives.
#ifndef TARVEX_SHAPE_DATE_WIDTH_H
#define TARVEX_SHAPE_DATE_WIDTH_H

#include <string>

// Bytes of the longest text Date::toText or Timestamp::toText can produce
// with p_format in an English session: each format element at its widest
// (MONTH and DAY 9, MON and DY 3, FF up to 9, YYYY 4, AM 2, A.M. 4, ...),
// the TH suffix 2 more, a spelled (SP) number at most 40, "quoted text" and
// punctuation as written. Elements are matched without regard to letter case,
// the longest first; FM and FX add nothing.
int tvDateFormatWidth(const std::string& p_format);

#endif
