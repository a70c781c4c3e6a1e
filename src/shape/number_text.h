// Decimal numbers as text: exact values read from the database's text form or
// from a binary float, written into a fixed-width numeric DBF field.
#ifndef TARVEX_SHAPE_NUMBER_TEXT_H
#define TARVEX_SHAPE_NUMBER_TEXT_H

#include <string>

// A finite decimal value: digits x 10^exponent. digits has no leading or
// trailing zeros; it is empty for zero (which may still be negative, as a
// binary float's -0.0 is).
struct tvDecimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// Reads a number in the forms the database's number-to-text conversion and
// the C++ library give: an optional sign, digits with an optional '.' (either
// side may be empty, as in ".5"), an optional exponent ("E+125", "e-07").
// False for anything else, including an empty text, "~", "#####" or "inf".
bool tvParseDecimal(const std::string& p_text, tvDecimal& p_value);

// The shortest decimal that reads back as exactly p_value; false for
// infinity and NaN.
bool tvDecimalFromDouble(double p_value, tvDecimal& p_out);
bool tvDecimalFromFloat(float p_value, tvDecimal& p_out);

// How a value went into its field.
enum tvNumberFit {
    NUMBER_EXACT,    // the text is the value
    NUMBER_ROUNDED,  // the text keeps as many leading digits as the width allows
    NUMBER_UNFIT     // not even one digit fits: no text
};

// The text of p_value for a numeric field of p_width characters with
// p_decimals decimals, right-aligned to the full width as shapelib writes
// numbers. Fixed-point with the field's decimals when that keeps every digit
// (fewer decimals when the integer part needs the room and the dropped
// decimals are zeros); otherwise exponent form ("1.23456789012345e+37") when
// that keeps every digit; otherwise whichever of the two keeps more leading
// digits, rounded half away from zero.
tvNumberFit tvFormatNumberField(const tvDecimal& p_value, int p_width, int p_decimals,
                                std::string& p_text);

// The same text for an integer, without going through a tvDecimal when its
// digits fit the field as they are (the common case).
tvNumberFit tvFormatIntegerField(long long p_value, int p_width, int p_decimals, std::string& p_text);

#endif
