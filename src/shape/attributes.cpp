// Per-row writing of the attribute record, and the end of the file set.
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <string>

#include "diag/log.h"
#include "oracle/globals.h"
#include "oracle/sdo.h"
#include "shape/buffered_io.h"
#include "shape/gtype.h"
#include "shape/number_text.h"
#include "shape/shape_writer.h"
#include "shape/utf8_text.h"

using oracle::occi::BDouble;
using oracle::occi::BFloat;
using oracle::occi::Clob;
using oracle::occi::Date;
using oracle::occi::Number;
using oracle::occi::ResultSet;
using oracle::occi::Timestamp;

namespace {

// Numbers are read as text in the database's own decimal digits, with '.' as
// the decimal character whatever the session's settings: "TM9" gives every
// digit, in exponent form only beyond 64 characters.
const char* const NUMBER_FORMAT = "TM9";
const char* const NUMBER_NLS = "NLS_NUMERIC_CHARACTERS='.,'";

// Whole numbers below 2^53 in magnitude convert to double exactly.
const long WHOLE_LIMIT = 9007199254740992L;

// UTF-8 takes at most four bytes per character.
const unsigned int UTF8_MAX_BYTES = 4;

// The date as YYYYMMDD, the year with its leading zeros (year 100 is
// 0100, not a blank: readers take the eight characters as digits); false
// for a year outside 1 to 9999, which has no such form. p_digits holds 9.
bool dateDigits(int p_year, unsigned int p_month, unsigned int p_day, char* p_digits) {
    if (p_year < 1 || p_year > 9999 || p_month < 1 || p_month > 12 || p_day < 1 || p_day > 31) return false;
    std::snprintf(p_digits, 9, "%04d%02u%02u", p_year, p_month, p_day);
    return true;
}

// Right-aligns digits in a field of p_width characters, as shapelib writes
// numbers; false when they do not fit.
bool rightAligned(const char* p_begin, const char* p_end, int p_width, std::string& p_text) {
    const size_t length = static_cast<size_t>(p_end - p_begin);
    if (p_width < 0 || length > static_cast<size_t>(p_width)) return false;
    p_text.assign(static_cast<size_t>(p_width) - length, ' ');
    p_text.append(p_begin, length);
    return true;
}

// Makes text valid UTF-8 and cuts it to the field, counting what changed.
template <typename Changes>
void fitText(std::string& p_text, int p_width, Changes& p_changes, bool p_alreadyCut = false) {
    bool replaced = false, nul = false;
    tvCleanUtf8(p_text, replaced, nul);
    if (replaced) ++p_changes.replaced;
    if (nul) ++p_changes.nul;
    if (tvCutUtf8(p_text, static_cast<size_t>(p_width)) || p_alreadyCut) ++p_changes.cut;
}

void warn(long p_count, const char* p_what, const std::string& p_column) {
    if (p_count == 0) return;
    tvLog(std::string("[WARNING] ") + p_what + " in " + std::to_string(p_count) +
              (p_count == 1 ? " row" : " rows") + " of column : ",
          p_column, LOG_BASIC);
}

}  // namespace

bool tvShapeWriter::writeShapeRecord(SDOGeometry* p_geometry, ResultSet* p_resultSet) {
    return writeShapeRecord(p_geometry, tvGTypeCode(p_geometry), p_resultSet);
}

bool tvShapeWriter::writeShapeRecord(SDOGeometry* p_geometry, unsigned short p_gtype, ResultSet* p_resultSet) {
    if (_shpHandle == nullptr || _dbfHandle == nullptr || p_resultSet == nullptr) return false;

    bool result = prepareAttributes(p_resultSet);
    if (result) result = writeShapeGeometry(p_geometry, p_gtype);
    if (result) result = writePreparedAttributes();

    if (result) {
        ++_currentRecord;
        if (g_log_level >= LOG_DETAILED) {
            tvLog("Incremented _currentRecord to : ", _currentRecord, LOG_DETAILED);
        }
    } else {
        // After an I/O failure the file layer has logged the cause.
        tvLog("Failed writing row : ", _currentRecord + 1, tvIOFailed() ? LOG_DEBUG : LOG_ERROR);
    }
    return result;
}

bool tvShapeWriter::writeDBFAttributes(ResultSet* p_resultSet) {
    return prepareAttributes(p_resultSet) && writePreparedAttributes();
}

bool tvShapeWriter::prepareAttributes(ResultSet* p_resultSet) {
    const bool debug = g_log_level >= LOG_DEBUG;
    const bool detailed = g_log_level >= LOG_DETAILED;
    if (debug) tvLog("Enterting tvShapeWriter::writeDBFAttributes", "", LOG_DEBUG);
    if (_dbfHandle == nullptr || p_resultSet == nullptr) return false;

    // Counts a number that had to be rounded, or that no form fits (then NULL).
    auto noteFit = [](tvNumberFit p_fit, auto& p_changes, bool& p_isNull) {
        if (p_fit == NUMBER_ROUNDED) ++p_changes.rounded;
        if (p_fit == NUMBER_UNFIT) {
            ++p_changes.unfit;
            p_isNull = true;
        }
    };
    _prepared.resize(_fields.size());
    std::string raw;
    for (size_t f = 0; f < _fields.size(); ++f) {
        FieldInfo& field = _fields[f];
        PreparedValue& value = _prepared[f];
        const unsigned int position = static_cast<unsigned int>(field.oraclePosition);
        if (debug) {
            tvLog("DBF field name : ", field.name, LOG_DEBUG);
            tvLog("DBF field type : ", static_cast<int>(field.dbfType), LOG_DEBUG);
            tvLog("Oracle field position : ", field.oraclePosition, LOG_DEBUG);
            tvLog("DBF field position : ", field.dbfPosition, LOG_DEBUG);
        }

        value.isNull = p_resultSet->isNull(position);
        value.text.clear();
        if (!value.isNull) {
            switch (field.source) {
                case FROM_STRING:
                    value.text = p_resultSet->getString(position);
                    fitText(value.text, field.width, field.changes);
                    break;
                case FROM_CLOB: {
                    // Only the characters the field can show are read.
                    Clob clob = p_resultSet->getClob(position);
                    if (clob.isNull()) {
                        value.isNull = true;
                        break;
                    }
                    const unsigned int chars = static_cast<unsigned int>(field.width);
                    const unsigned int length = clob.length();
                    raw.resize(chars * UTF8_MAX_BYTES);
                    unsigned int got = 0;
                    if (length > 0) {
                        got = clob.read(chars, reinterpret_cast<unsigned char*>(&raw[0]),
                                        static_cast<unsigned int>(raw.size()), 1);
                    }
                    value.text.assign(raw, 0, got);
                    fitText(value.text, field.width, field.changes, length > chars);
                    break;
                }
                case FROM_DATE_TEXT: {
                    Date date = p_resultSet->getDate(position);
                    value.isNull = date.isNull();
                    if (!value.isNull) value.text = date.toText(_dateFmt, "");
                    fitText(value.text, field.width, field.changes);
                    break;
                }
                case FROM_STAMP_TEXT: {
                    Timestamp stamp = p_resultSet->getTimestamp(position);
                    value.isNull = stamp.isNull();
                    if (!value.isNull) value.text = stamp.toText(_dateFmt, 2, "");
                    fitText(value.text, field.width, field.changes);
                    break;
                }
                case FROM_DATE:
                case FROM_STAMP: {
                    int year = 0;
                    unsigned int month = 0, day = 0;
                    if (field.source == FROM_STAMP) {
                        Timestamp stamp = p_resultSet->getTimestamp(position);
                        value.isNull = stamp.isNull();
                        if (!value.isNull) stamp.getDate(year, month, day);
                    } else {
                        Date date = p_resultSet->getDate(position);
                        value.isNull = date.isNull();
                        unsigned int hour, minute, second;
                        if (!value.isNull) date.getDate(year, month, day, hour, minute, second);
                    }
                    if (!value.isNull) {
                        char digits[16];
                        // A year beyond 9999 or before 1 has no YYYYMMDD form.
                        if (!dateDigits(year, month, day, digits) ||
                            !rightAligned(digits, digits + 8, field.width, value.text)) {
                            value.isNull = true;
                            ++field.changes.unfit;
                        }
                    }
                    break;
                }
                case FROM_INT:
                case FROM_NUMBER:
                case FROM_BFLOAT:
                case FROM_BDOUBLE: {
                    tvDecimal decimal;
                    bool known = true;
                    if (field.source == FROM_INT) {
                        noteFit(tvFormatIntegerField(p_resultSet->getInt(position), field.width,
                                                     field.decimals, value.text),
                                field.changes, value.isNull);
                        break;
                    } else if (field.source == FROM_NUMBER) {
                        Number number = p_resultSet->getNumber(position);
                        if (number.isNull()) {
                            value.isNull = true;
                            break;
                        }
                        if (field.wholeNumber) {
                            // A NUMBER(p) value is a whole number; below 2^53
                            // the double conversion confirms that the 64-bit
                            // one is the whole value, and its digits are the
                            // text's.
                            const long whole = static_cast<long>(number);
                            const double approximate = static_cast<double>(number);
                            if (whole > -WHOLE_LIMIT && whole < WHOLE_LIMIT &&
                                static_cast<double>(whole) == approximate) {
                                noteFit(tvFormatIntegerField(whole, field.width, field.decimals, value.text),
                                        field.changes, value.isNull);
                                break;
                            }
                        }
                        // Anything but digits is one of the infinities an old
                        // NUMBER can hold ("~", "-~").
                        known = tvParseDecimal(number.toText(env, NUMBER_FORMAT, NUMBER_NLS), decimal);
                        if (!known) ++field.changes.nonFinite;
                    } else if (field.source == FROM_BFLOAT) {
                        BFloat number = p_resultSet->getBFloat(position);
                        if (number.isNull) {
                            value.isNull = true;
                            break;
                        }
                        known = tvDecimalFromFloat(number.value, decimal);
                        if (!known) ++field.changes.nonFinite;
                    } else {
                        BDouble number = p_resultSet->getBDouble(position);
                        if (number.isNull) {
                            value.isNull = true;
                            break;
                        }
                        known = tvDecimalFromDouble(number.value, decimal);
                        if (!known) ++field.changes.nonFinite;
                    }
                    if (known) {
                        noteFit(tvFormatNumberField(decimal, field.width, field.decimals, value.text),
                                field.changes, value.isNull);
                    } else {
                        value.isNull = true;  // counted as an infinity or NaN above
                    }
                    break;
                }
            }
        }
        if (detailed) {
            size_t first = value.text.find_first_not_of(' ');
            tvLog("Written value for '" + field.name + "' : ",
                  value.isNull ? std::string("NULL")
                               : first == std::string::npos ? value.text : value.text.substr(first),
                  LOG_DETAILED);
        }
    }
    return true;
}

bool tvShapeWriter::writePreparedAttributes() {
    const int record = _currentRecord;
    bool result = _prepared.size() == _fields.size();
    for (size_t f = 0; f < _fields.size() && result; ++f) {
        const PreparedValue& value = _prepared[f];
        const int index = _fields[f].dbfPosition;
        result = value.isNull ? DBFWriteNULLAttribute(_dbfHandle, record, index) != 0
                              : DBFWriteAttributeDirectly(_dbfHandle, record, index, const_cast<char*>(value.text.c_str())) != 0;
    }
    if (result && _fidField >= 0) {
        char digits[16];
        std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, record);
        std::string text;
        result = rightAligned(digits, r.ptr, 11, text) &&
                 DBFWriteAttributeDirectly(_dbfHandle, record, _fidField, &text[0]) != 0;
    }
    if (!result || tvIOFailed()) {
        // After an I/O failure the file layer has logged the cause.
        tvLog("Failed to write attributes to DBF file : ", _filename + ".dbf",
              tvIOFailed() ? LOG_DEBUG : LOG_ERROR);
        result = false;
    }
    return result;
}

void tvShapeWriter::reportChanges() {
    for (FieldInfo& field : _fields) {
        warn(field.changes.cut, "Text cut to the field width", field.column);
        warn(field.changes.replaced, "Invalid UTF-8 replaced by U+FFFD", field.column);
        warn(field.changes.nul, "NUL characters replaced by spaces", field.column);
        warn(field.changes.nonFinite, "Infinity or NaN written as NULL", field.column);
        warn(field.changes.rounded, "Numbers rounded to the field width", field.column);
        warn(field.changes.unfit, "Values too wide for the field written as NULL", field.column);
        field.changes = Changes();
    }
}

bool tvShapeWriter::closeShapeFile() {
    bool closed = false;
    reportMendedRings();
    const bool reprojected = _reprojection.finish();  // false: no geometry could be transformed
    if (_shpHandle != nullptr || _dbfHandle != nullptr) reportChanges();
    if (_shpHandle != nullptr) {
        tvShpClose(_shpHandle);  // failures are recorded with the other I/O errors
        _shpHandle = nullptr;
        closed = true;
    }
    if (_dbfHandle != nullptr) {
        DBFClose(_dbfHandle);
        _dbfHandle = nullptr;
        closed = true;
    }
    if (closed && tvIOFailed()) {
        tvLog("Error writing shapefile : ", _filename, LOG_DEBUG);  // the I/O layer logged the cause
        return false;
    }
    return reprojected;
}

int tvShapeWriter::getRecordCount() { return _currentRecord; }
