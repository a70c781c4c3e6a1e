// Value classes of the embedded client that need no database: errors,
// numbers, column descriptions and the persistent-object base.
#include <occi.h>

#include "internal.h"

#include <cmath>
#include <limits>
#include <new>

namespace oracle {
namespace occi {

// ---------------------------------------------------------------- SQLException

SQLException::SQLException() : errorCode_(0) {}

SQLException::SQLException(int errorCode, const std::string& message)
    : errorCode_(errorCode), message_(message) {}

SQLException::SQLException(const SQLException& other) = default;
SQLException& SQLException::operator=(const SQLException& other) = default;
SQLException::~SQLException() throw() {}

int SQLException::getErrorCode() const { return errorCode_; }
std::string SQLException::getMessage() const { return message_; }
const char* SQLException::what() const throw() { return message_.c_str(); }
// ctx is the object stream a read function was given: the client rethrows
// the recorded error once the read function returns.
void SQLException::setErrorCtx(void* ctx) {
    if (!ctx) return;
    embedded::ObjectContext* c = static_cast<embedded::ObjectContext*>(ctx);
    c->failed = true;
    c->error = *this;
}

// ---------------------------------------------------------------- Number

namespace {

// Truncates towards zero and saturates at the target's limits; NULL and NaN
// give 0.
template <typename T>
T toInteger(double value) {
    if (std::isnan(value)) return 0;
    double truncated = std::trunc(value);
    if (truncated <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (truncated >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(truncated);
}

}  // namespace

Number::operator long() const { return toInteger<long>(value_); }
Number::operator int() const { return toInteger<int>(value_); }
Number::operator short() const { return toInteger<short>(value_); }
Number::operator char() const { return toInteger<char>(value_); }
Number::operator signed char() const { return toInteger<signed char>(value_); }
Number::operator unsigned long() const { return toInteger<unsigned long>(value_); }
Number::operator unsigned int() const { return toInteger<unsigned int>(value_); }
Number::operator unsigned short() const { return toInteger<unsigned short>(value_); }
Number::operator unsigned char() const { return toInteger<unsigned char>(value_); }

// ---------------------------------------------------------------- MetaData

MetaData::MetaData(const std::string& name, int dataType, int dataSize, int precision,
                   int scale, bool isNullable, const std::string& typeName,
                   const std::string& schemaName)
    : name_(name),
      typeName_(typeName),
      schemaName_(schemaName),
      dataType_(dataType),
      dataSize_(dataSize),
      precision_(precision),
      scale_(scale),
      isNullable_(isNullable) {}

int MetaData::getInt(MetaData::AttrId attrid) const {
    switch (attrid) {
        case ATTR_DATA_SIZE: return dataSize_;
        case ATTR_DATA_TYPE: return dataType_;
        case ATTR_PRECISION: return precision_;
        case ATTR_SCALE: return scale_;
        case ATTR_IS_NULL: return isNullable_ ? 1 : 0;
        default:
            throw SQLException(24316, "ORA-24316: illegal handle type");
    }
}

std::string MetaData::getString(MetaData::AttrId attrid) const {
    switch (attrid) {
        case ATTR_NAME: return name_;
        case ATTR_TYPE_NAME: return typeName_;
        case ATTR_SCHEMA_NAME: return schemaName_;
        default:
            throw SQLException(24316, "ORA-24316: illegal handle type");
    }
}

// ---------------------------------------------------------------- PObject

PObject::PObject() : null_(false) {}
PObject::PObject(const void* /*ctx*/) : null_(false) {}
PObject::PObject(const PObject& obj) = default;
PObject& PObject::operator=(const PObject& obj) = default;
PObject::~PObject() {}

void* PObject::operator new(size_t size) { return ::operator new(size); }

void* PObject::operator new(size_t size, const Connection* /*sess*/,
                            const std::string& /*tableName*/, const char* /*typeName*/) {
    return ::operator new(size);
}

void* PObject::operator new(size_t size, const Connection* /*sess*/,
                            const std::string& /*tableName*/,
                            const std::string& /*typeName*/,
                            const std::string& /*schTabName*/,
                            const std::string& /*schTypName*/) {
    return ::operator new(size);
}

void* PObject::operator new(size_t size, void* /*adctx*/) { return ::operator new(size); }

void PObject::operator delete(void* obj, size_t /*size*/) { ::operator delete(obj); }

bool PObject::isNull() const { return null_; }
void PObject::setNull() { null_ = true; }

}  // namespace occi
}  // namespace oracle
