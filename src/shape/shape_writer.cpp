#include "shape/shape_writer.h"

#include <algorithm>
#include <set>

#include "diag/log.h"
#include "diag/strings.h"
#include "settings/settings.h"
#include "shape/buffered_io.h"
#include "shape/date_width.h"
#include "shape/dbf_date.h"
#include "shape/output_set.h"

using oracle::occi::MetaData;

namespace {

// Longest text a DBF field name may hold, in bytes.
const size_t DBF_NAME_BYTES = 10;
// Widest field shapelib accepts.
const int DBF_MAX_WIDTH = 255;

std::string setting(const char* p_key) {
    std::map<std::string, std::string>::const_iterator found = g_args.find(p_key);
    return found == g_args.end() ? std::string() : found->second;
}

// The first bytes of p_text, at most p_bytes, never ending inside a
// multi-byte UTF-8 character.
std::string utf8Prefix(const std::string& p_text, size_t p_bytes) {
    if (p_text.size() <= p_bytes) return p_text;
    size_t cut = p_bytes;
    while (cut > 0 && (static_cast<unsigned char>(p_text[cut]) & 0xC0) == 0x80) --cut;
    return p_text.substr(0, cut);
}

// The column index as a suffix of at most two characters: 4 gives "04", 57
// gives "57", 123 gives "12".
std::string indexSuffix(size_t p_index) {
    std::string digits = std::to_string(p_index);
    if (digits.size() < 2) digits.insert(0, 1, '0');
    return digits.substr(0, 2);
}

// The field name a column gets: unchanged up to 10 bytes, else its first 8
// bytes followed by the column index.
std::string shortFieldName(const std::string& p_name, size_t p_index) {
    if (p_name.empty()) return "FIELD" + indexSuffix(p_index);
    if (p_name.size() <= DBF_NAME_BYTES) return p_name;
    return utf8Prefix(p_name, 8) + indexSuffix(p_index);
}

// DBF readers compare field names without regard to letter case.
std::string nameKey(const std::string& p_name) {
    std::string key = p_name;
    upper(key);
    return key;
}

// p_name when no field has it yet, else the first of NAME_1, NAME_2, ...
// (shortened to fit 10 bytes) that is free.
std::string uniqueFieldName(const std::string& p_name, const std::set<std::string>& p_used) {
    if (p_used.count(nameKey(p_name)) == 0) return p_name;
    for (unsigned long n = 1;; ++n) {
        std::string suffix = "_" + std::to_string(n);
        std::string candidate = utf8Prefix(p_name, DBF_NAME_BYTES - suffix.size()) + suffix;
        if (p_used.count(nameKey(candidate)) == 0) return candidate;
    }
}

struct FieldShape {
    DBFFieldType type;
    int width;
    int decimals;
};

// Unconstrained numbers (NUMBER without precision, FLOAT, BINARY_FLOAT,
// BINARY_DOUBLE) get the field GDAL itself gives a double: 24 characters with
// 15 decimals hold a double's 15 significant digits in fixed-point form from
// 1e-15 to below 1e8, and 18 significant digits in exponent form at any
// magnitude; readers parse both.
const int FREE_NUMBER_WIDTH = 24;
const int FREE_NUMBER_DECIMALS = 15;
// Digits of a NUMBER of scale 0 whose precision is not reported.
const int NUMBER_MAX_DIGITS = 38;
// Most bytes one character takes in UTF-8: any character, and a character of
// the national character set (AL16UTF16: the Basic Multilingual Plane, or a
// surrogate pair, which is 4 bytes for 2 UTF-16 units).
const int UTF8_CHAR_BYTES = 4;
const int UTF8_NCHAR_BYTES = 3;

// The text of a column description attribute, read only where the client
// defines it (text columns).
struct TextSize {
    int bytes;         // ATTR_DATA_SIZE
    bool charUsed;     // ATTR_CHAR_USED: the length counts characters
    int chars;         // ATTR_CHAR_SIZE
    bool national;     // ATTR_CHARSET_FORM is the national character set
};

// Bytes of UTF-8 the longest value of a text column can take.
int textBytes(const TextSize& p_size) {
    if (p_size.national && p_size.chars > 0) return p_size.chars * UTF8_NCHAR_BYTES;
    if (p_size.charUsed && p_size.chars > 0) return p_size.chars * UTF8_CHAR_BYTES;
    return p_size.bytes;
}

// DBF type, width and decimals of a supported column.
FieldShape fieldShapeFor(int p_code, const TextSize& p_text, int p_precision, int p_scale,
                         const std::string& p_dateFmt) {
    FieldShape shape = {getDBFTypeFromOracleType(p_code), 0, 0};
    if (isOraDateType(p_code)) {
        shape.width = p_dateFmt.empty() ? 8 : std::clamp(tvDateFormatWidth(p_dateFmt), 1, DBF_MAX_WIDTH);
    } else if (p_code == 1 || p_code == 96) {
        shape.width = std::clamp(textBytes(p_text), 1, DBF_MAX_WIDTH);
    } else if (p_code == 112) {
        shape.width = DBF_MAX_WIDTH;
    } else if (p_code == 3) {
        shape.width = std::max(1, std::min(p_text.bytes + 1, 15));
        shape.decimals = std::max(0, p_scale);
    } else if (p_code == 100 || p_code == 101) {
        shape.width = FREE_NUMBER_WIDTH;
        shape.decimals = FREE_NUMBER_DECIMALS;
    } else if (p_code == 2) {
        if (p_scale == -127) {
            // NUMBER without precision, a computed number, or FLOAT: any
            // magnitude.
            shape.type = FTDouble;
            shape.width = FREE_NUMBER_WIDTH;
            shape.decimals = FREE_NUMBER_DECIMALS;
        } else if (p_scale == 0 && p_precision > 0 && p_precision <= 8) {
            // Room for the sign of a value that fills the precision.
            shape.type = FTInteger;
            shape.width = p_precision + 1;
        } else if (p_scale == 0) {
            // Every digit and the sign. The long-standing width of digits + 2
            // stays wherever it is at most 18, the widest that GDAL reads as a
            // 64-bit integer; longer ones get digits + 1, so NUMBER(17) still
            // reads as an integer and wider ones keep every digit as text.
            shape.type = FTDouble;
            int digits = p_precision > 0 ? p_precision : NUMBER_MAX_DIGITS;
            shape.width = digits + 2 <= 18 ? digits + 2 : digits + 1;
        } else if (p_scale < 0) {
            // Values are whole multiples of a power of ten: precision digits,
            // the zeros the scale adds, and the sign.
            shape.type = FTDouble;
            int digits = (p_precision > 0 ? p_precision : NUMBER_MAX_DIGITS) - p_scale;
            shape.width = std::min(digits + 1, DBF_MAX_WIDTH);
            shape.decimals = 0;
        } else {
            // The digits, the sign and the decimal point.
            shape.type = FTDouble;
            shape.width = p_precision + 2;
            shape.decimals = p_scale;
            // A scale at or above the precision: "-0." and the decimals.
            if (p_scale >= p_precision) shape.width = std::min(p_scale + 3, DBF_MAX_WIDTH);
            shape.decimals = std::min(shape.decimals, shape.width - 2);
        }
    }
    return shape;
}

}  // namespace

bool isOraDateType(int code) {
    return code == 12 || code == 184 || code == 187 || code == 188 || code == 232;
}

bool isOracleDataTypeSupported(int code) {
    return code == 1 || code == 2 || code == 3 || code == 96 || code == 100 || code == 101 ||
           code == 112 || isOraDateType(code);
}

DBFFieldType getDBFTypeFromOracleType(int code) {
    if (isOraDateType(code)) return setting("date_fmt").empty() ? FTDate : FTString;
    switch (code) {
        case 1:
        case 96:
        case 112: return FTString;
        case 2:
        case 100:
        case 101: return FTDouble;
        case 3: return FTInteger;
        default: return FTInvalid;
    }
}

tvShapeWriter::tvShapeWriter()
    : _shpHandle(nullptr), _dbfHandle(nullptr), _currentRecord(0), _fidField(-1), _ignore(false) {}

tvShapeWriter::~tvShapeWriter() { closeShapeFile(); }

bool tvShapeWriter::createShapeFile(std::string p_filename, unsigned short p_shapeType,
                                    std::vector<MetaData> p_metaData, std::string p_geom_column,
                                    int p_srid) {
    tvLog("tvShapeWriter::createShapeFile, p_filename    : ", p_filename, LOG_DEBUG);
    tvLog("tvShapeWriter::createShapeFile, p_shapeType   : ", static_cast<int>(p_shapeType),
          LOG_DEBUG);
    tvLog("tvShapeWriter::createShapeFile, p_geom_column : ", p_geom_column, LOG_DEBUG);

    bool result = true;
    _filename = p_filename;
    _dateFmt = setting("date_fmt");
    _ignore = setting("ignore") == "yes";
    _conversion = tvReadConversionSettings();
    _raised = Raised();
    _closedRings = 0;
    _nullShapes = 0;

    tvResetIOErrors();
    SAHooks hooks = tvBufferedHooks();

    _shpHandle = tvShpCreate(p_filename + ".shp", p_shapeType);
    if (_shpHandle != nullptr) {
        tvLog("Created shapefile : ", p_filename + ".shp", LOG_DETAILED);
    } else {
        tvLog("Can't create shapefile : ", p_filename, LOG_ERROR);
        result = false;
    }

    // Text is written as UTF-8 and declared so in the .cpg file.
    _dbfHandle = DBFCreateLL((p_filename + ".dbf").c_str(), "UTF-8", &hooks);
    if (_dbfHandle == nullptr) {
        tvLog("Can't create DBF file : ", p_filename, LOG_ERROR);
        result = false;
    } else {
        tvLog("Created DBF file : ", p_filename + ".dbf", LOG_DETAILED);
        tvSetDbfDate(_dbfHandle);

        std::string geomColumn = p_geom_column;
        upper(geomColumn);
        std::set<std::string> usedNames;
        int dbfField = 0;
        for (size_t i = 0; i < p_metaData.size() && result; ++i) {
            const MetaData& column = p_metaData[i];
            std::string columnName = column.getString(MetaData::ATTR_NAME);
            tvLog("Oracle field name retrieved : ", columnName, LOG_DEBUG);
            if (columnName == geomColumn) continue;

            std::string name = shortFieldName(columnName, i);
            int code = column.getInt(MetaData::ATTR_DATA_TYPE);
            tvLog("Oracle data type retrieved : ", code, LOG_DEBUG);
            if (!isOracleDataTypeSupported(code)) {
                tvLog("[WARNING] Unsupported Oracle type in field : ", name, LOG_BASIC);
                continue;
            }

            int size = column.getInt(MetaData::ATTR_DATA_SIZE);
            tvLog("Oracle data size retrieved : ", size, LOG_DEBUG);
            int precision = column.getInt(MetaData::ATTR_PRECISION);
            tvLog("Oracle data precision retrieved : ", precision, LOG_DEBUG);
            int scale = column.getInt(MetaData::ATTR_SCALE);
            tvLog("Oracle scale retrieved : ", scale, LOG_DEBUG);

            TextSize text = {size, false, 0, false};
            if (code == 1 || code == 96) {
                text.charUsed = column.getInt(MetaData::ATTR_CHAR_USED) != 0;
                text.chars = column.getInt(MetaData::ATTR_CHAR_SIZE);
                text.national =
                    column.getInt(MetaData::ATTR_CHARSET_FORM) == oracle::occi::OCCI_SQLCS_NCHAR;
                tvLog("Oracle character length retrieved : ", text.chars, LOG_DEBUG);
            }
            FieldShape shape = fieldShapeFor(code, text, precision, scale, _dateFmt);
            name = uniqueFieldName(name, usedNames);

            if (DBFAddField(_dbfHandle, name.c_str(), shape.type, shape.width, shape.decimals) ==
                -1) {
                tvLog("Failed to add field to DBF file : ", name, LOG_ERROR);
                result = false;
                break;
            }
            usedNames.insert(nameKey(name));
            ValueSource source = FROM_NUMBER;
            if (code == 1 || code == 96) {
                source = FROM_STRING;
            } else if (code == 112) {
                source = FROM_CLOB;
            } else if (code == 100) {
                source = FROM_BFLOAT;
            } else if (code == 101) {
                source = FROM_BDOUBLE;
            } else if (isOraDateType(code)) {
                const bool stamp = code != 12 && code != 184;
                if (shape.type == FTString) source = stamp ? FROM_STAMP_TEXT : FROM_DATE_TEXT;
                else source = stamp ? FROM_STAMP : FROM_DATE;
            } else if (code == 3 || shape.type == FTInteger) {
                source = FROM_INT;
            }
            _oraclePositions[name] = static_cast<int>(i) + 1;
            _oracleTypes[name] = code;
            _dbfPositions[name] = dbfField;
            _dbfTypes[name] = shape.type;
            _fields.push_back({name, columnName, static_cast<int>(i) + 1, code, dbfField, shape.type,
                               shape.width, shape.decimals, source,
                               Changes()});
            _fields.back().wholeNumber = source == FROM_NUMBER && code == 2 && scale == 0 &&
                                         precision > 0 && precision <= 18 && sizeof(long) >= 8;
            ++dbfField;
        }
        // dBASE itself stops at 255 fields, and so do some readers; the
        // format and shapelib hold more, so the set is written all the same.
        const int DBASE_FIELD_LIMIT = 255;
        if (result && dbfField > DBASE_FIELD_LIMIT) {
            tvLog("[WARNING] More than 255 fields, some dBASE readers stop at 255 : ", dbfField, LOG_BASIC);
        }
        if (result && _fields.empty()) {
            _fidField = DBFAddField(_dbfHandle, "FID", FTInteger, 11, 0);
            if (_fidField == -1) {
                tvLog("Failed to add field to DBF file : ", "FID", LOG_ERROR);
                result = false;
            }
            tvNotePart(TV_NOTE_RECORD_NUMBERS);  // a merge of parts renumbers it
        }
        // Rows write their fields in name order, as the maps list them.
        std::sort(_fields.begin(), _fields.end(),
                  [](const FieldInfo& a, const FieldInfo& b) { return a.name < b.name; });
    }

    if (result && tvIOFailed()) {
        tvLog("Can't create shapefile : ", p_filename, LOG_ERROR);
        result = false;
    }

    if (result) result = _reprojection.begin();
    if (result) result = writePrjFile(p_filename, p_srid);

    if (result) {
        _metaData = p_metaData;
        _currentRecord = 0;
    } else {
        closeShapeFile();
    }
    return result;
}

void tvShapeWriter::setMaxSize(unsigned long long p_bytes) {
    _maxSize = p_bytes;
    tvShpSetLimit(_shpHandle, p_bytes);
}

int tvShapeWriter::shapeType() const { return tvShpShapeType(_shpHandle); }

// The .dbf: its header, a record per row and the end-of-file mark.
unsigned long long tvShapeWriter::largestFileSize() const {
    unsigned long long largest = tvShpFileSize(_shpHandle);
    const unsigned long long index = 100 + 8ULL * static_cast<unsigned long long>(tvShpRecordCount(_shpHandle));
    if (index > largest) largest = index;
    if (_dbfHandle != nullptr) {
        const unsigned long long dbf = static_cast<unsigned long long>(_dbfHandle->nHeaderLength) +
                                       static_cast<unsigned long long>(_dbfHandle->nRecordLength) *
                                           static_cast<unsigned long long>(_dbfHandle->nRecords) + 1;
        if (dbf > largest) largest = dbf;
    }
    return largest;
}

bool tvShapeWriter::dbfFits() const {
    if (_dbfHandle == nullptr) return true;
    const unsigned long long after = static_cast<unsigned long long>(_dbfHandle->nHeaderLength) +
                                     static_cast<unsigned long long>(_dbfHandle->nRecordLength) *
                                         (static_cast<unsigned long long>(_dbfHandle->nRecords) + 1) + 1;
    return after <= _maxSize;
}
