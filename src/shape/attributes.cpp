// Per-row writing of the attribute record, and the end of the file set.
#include <charconv>
#include <cstring>
#include <string>
#include <type_traits>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "shape/buffered_io.h"
#include "shape/shape_writer.h"

using oracle::occi::Date;
using oracle::occi::ResultSet;
using oracle::occi::Timestamp;

namespace {

// Longest text written into a text field, in bytes.
const size_t MAX_TEXT_BYTES = 255;

// Cuts p_text to at most MAX_TEXT_BYTES bytes at a UTF-8 character boundary.
void cutText(std::string& p_text) {
    if (p_text.size() <= MAX_TEXT_BYTES) return;
    size_t cut = MAX_TEXT_BYTES;
    while (cut > 0 && (static_cast<unsigned char>(p_text[cut]) & 0xC0) == 0x80) --cut;
    p_text.resize(cut);
}

// The date as the number YYYYMMDD.
double dateNumber(int p_year, unsigned int p_month, unsigned int p_day) {
    return static_cast<double>(p_year) * 10000.0 + p_month * 100.0 + p_day;
}

// Writes a number into a numeric or date field as shapelib would ("%*.*f":
// right-aligned, the given decimals), without going through printf. False
// when the text is wider than the field (shapelib would cut it and fail).
template <typename T>
bool writeNumber(DBFHandle p_dbf, int p_record, int p_field, int p_width, int p_decimals, T p_value) {
    char digits[512];
    std::to_chars_result converted;
    if constexpr (std::is_integral<T>::value) {
        converted = std::to_chars(digits, digits + sizeof digits, p_value);
        if (converted.ec == std::errc() && p_decimals > 0) {
            // Whole numbers in a field with decimals: ".000..." follows.
            if (converted.ptr + 1 + p_decimals > digits + sizeof digits) return false;
            *converted.ptr++ = '.';
            std::memset(converted.ptr, '0', static_cast<size_t>(p_decimals));
            converted.ptr += p_decimals;
        }
    } else {
        // A large value that does not fit with the field's decimals is
        // written with fewer: a double that large has no more fractional
        // digits to keep.
        int decimals = p_decimals;
        do {
            converted = std::to_chars(digits, digits + sizeof digits, p_value,
                                      std::chars_format::fixed, decimals);
        } while (converted.ec == std::errc() && converted.ptr - digits > p_width && decimals-- > 0);
    }
    if (converted.ec != std::errc()) return false;
    const size_t length = static_cast<size_t>(converted.ptr - digits);
    const size_t width = static_cast<size_t>(p_width);
    if (length > width) return false;
    char field[256];
    std::memset(field, ' ', width - length);
    std::memcpy(field + (width - length), digits, length);
    field[width] = '\0';
    return DBFWriteAttributeDirectly(p_dbf, p_record, p_field, field) != 0;
}

}  // namespace

bool tvShapeWriter::writeShapeRecord(SDOGeometry* p_geometry, ResultSet* p_resultSet) {
    if (_shpHandle == nullptr || _dbfHandle == nullptr || p_resultSet == nullptr) return false;

    bool result = writeShapeGeometry(p_geometry);
    if (result) result = writeDBFAttributes(p_resultSet);

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
    const bool debug = g_log_level >= LOG_DEBUG;
    const bool detailed = g_log_level >= LOG_DETAILED;
    if (debug) tvLog("Enterting tvShapeWriter::writeDBFAttributes", "", LOG_DEBUG);

    bool result = _dbfHandle != nullptr && p_resultSet != nullptr;
    if (!result) return false;

    const int record = _currentRecord;
    std::string text;
    for (std::vector<FieldInfo>::const_iterator field = _fields.begin();
         field != _fields.end() && result; ++field) {
        const unsigned int position = static_cast<unsigned int>(field->oraclePosition);
        const int index = field->dbfPosition;
        if (debug) {
            tvLog("DBF field name : ", field->name, LOG_DEBUG);
            tvLog("DBF field type : ", static_cast<int>(field->dbfType), LOG_DEBUG);
            tvLog("Oracle field position : ", field->oraclePosition, LOG_DEBUG);
            tvLog("DBF field position : ", index, LOG_DEBUG);
        }

        if (p_resultSet->isNull(position)) {
            result = DBFWriteNULLAttribute(_dbfHandle, record, index) != 0;
            if (detailed) tvLog("Written value for '" + field->name + "' : ", "NULL", LOG_DETAILED);
        } else {
            switch (field->dbfType) {
                case FTString: {
                    if (field->oracleType == 187 || field->oracleType == 188) {
                        Timestamp value = p_resultSet->getTimestamp(position);
                        text = value.isNull() ? std::string() : value.toText(_dateFmt, 2, "");
                    } else if (field->oracleType == 12 || field->oracleType == 184) {
                        Date value = p_resultSet->getDate(position);
                        text = value.isNull() ? std::string() : value.toText(_dateFmt, "");
                    } else {
                        text = p_resultSet->getString(position);
                        cutText(text);
                    }
                    result = DBFWriteStringAttribute(_dbfHandle, record, index, text.c_str()) != 0;
                    if (detailed) tvLog("Written value for '" + field->name + "' : ", text, LOG_DETAILED);
                    break;
                }
                case FTDate: {
                    int year = 0;
                    unsigned int month = 0, day = 0;
                    bool isNull;
                    if (field->oracleType == 187 || field->oracleType == 188) {
                        Timestamp value = p_resultSet->getTimestamp(position);
                        isNull = value.isNull();
                        if (!isNull) value.getDate(year, month, day);
                    } else {
                        Date value = p_resultSet->getDate(position);
                        isNull = value.isNull();
                        unsigned int hour, minute, second;
                        if (!isNull) value.getDate(year, month, day, hour, minute, second);
                    }
                    if (isNull) {
                        result = DBFWriteNULLAttribute(_dbfHandle, record, index) != 0;
                    } else {
                        result = writeNumber(_dbfHandle, record, index, field->width, 0,
                                             static_cast<long long>(dateNumber(year, month, day)));
                    }
                    if (detailed) {
                        tvLog("Written value for '" + field->name + "' : ",
                              isNull ? std::string() : std::to_string(static_cast<long long>(
                                                           dateNumber(year, month, day))),
                              LOG_DETAILED);
                    }
                    break;
                }
                case FTDouble: {
                    double value = p_resultSet->getDouble(position);
                    result = writeNumber(_dbfHandle, record, index, field->width, field->decimals, value);
                    if (detailed) tvLog("Written value for '" + field->name + "' : ", value, LOG_DETAILED);
                    break;
                }
                case FTInteger: {
                    int value = p_resultSet->getInt(position);
                    result = writeNumber(_dbfHandle, record, index, field->width, field->decimals, value);
                    if (detailed) tvLog("Written value for '" + field->name + "' : ", value, LOG_DETAILED);
                    break;
                }
                default:
                    tvLog("Unsupported / unknown DBFFieldType in writeDBFAttributes for field : ",
                          field->name, LOG_ERROR);
                    result = false;
                    continue;
            }
        }
        if (!result && !tvIOFailed()) tvLog("Value does not fit its DBF field : ", field->name, LOG_ERROR);
    }

    if (result && _fidField >= 0) {
        result = writeNumber(_dbfHandle, record, _fidField, 11, 0, record);
    }
    if (result && tvIOFailed()) {
        tvLog("Failed to write attributes to DBF file : ", _filename + ".dbf", LOG_DEBUG);
        result = false;
    }
    return result;
}

bool tvShapeWriter::closeShapeFile() {
    bool closed = false;
    reportMendedRings();
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
    return true;
}

int tvShapeWriter::getRecordCount() { return _currentRecord; }
