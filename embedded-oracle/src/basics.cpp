// Value classes of the embedded client that need no database: errors,
// numbers, column descriptions and the persistent-object base.
#include <occi.h>

#include "internal.h"

#include <cmath>
#include <cstring>
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

// An exact integer converts exactly where the target holds it, else
// saturates.
template <typename T>
T exactToInteger(long long value) {
    if (std::numeric_limits<T>::is_signed) {
        if (value < static_cast<long long>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    } else if (value < 0) {
        return 0;
    }
    if (value > 0 && static_cast<unsigned long long>(value) > static_cast<unsigned long long>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

}  // namespace

// Oracle's client refuses every operation on a NULL number.
void Number::nullNumber() {
    throw SQLException(32152, "OCI-32152: Cannot perform operation on a null number");
}

Number::operator long double() const {
    if (null_) nullNumber();
    return exact_ ? static_cast<long double>(integer_) : value_;
}
Number::operator float() const {
    if (null_) nullNumber();
    return exact_ ? static_cast<float>(integer_) : static_cast<float>(value_);
}

#define TVX_NUMBER_CONVERSION(T)                                                   \
    Number::operator T() const {                                                   \
        if (null_) nullNumber();                                                   \
        return exact_ ? exactToInteger<T>(integer_) : toInteger<T>(value_);        \
    }
TVX_NUMBER_CONVERSION(long)
TVX_NUMBER_CONVERSION(int)
TVX_NUMBER_CONVERSION(short)
TVX_NUMBER_CONVERSION(char)
TVX_NUMBER_CONVERSION(signed char)
TVX_NUMBER_CONVERSION(unsigned long)
TVX_NUMBER_CONVERSION(unsigned int)
TVX_NUMBER_CONVERSION(unsigned short)
TVX_NUMBER_CONVERSION(unsigned char)
#undef TVX_NUMBER_CONVERSION

std::string Number::toText(const Environment* /*envp*/, const std::string& fmt,
                           const std::string& /*nlsParam*/) const {
    if (null_) return "";
    return embedded::formatNumber(exact_, integer_, value_, fmt);
}

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
        case ATTR_CHAR_USED: return charUsed_ ? 1 : 0;
        case ATTR_CHAR_SIZE: return charSize_;
        case ATTR_CHARSET_FORM: return charsetForm_;
        default:
            throw SQLException(24316, "ORA-24316: illegal handle type");
    }
}

void MetaData::setCharacterAttributes(bool charUsed, int charSize, int charsetForm) {
    charUsed_ = charUsed;
    charSize_ = charSize;
    charsetForm_ = charsetForm;
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

// ---------------------------------------------------------------- Clob

Clob::Clob() : form_(OCCI_SQLCS_IMPLICIT), null_(true), initialized_(false) {}
Clob::Clob(const Connection* /*connectionp*/) : form_(OCCI_SQLCS_IMPLICIT), null_(false), initialized_(false) {}
Clob::Clob(const Clob& srcClob) = default;
Clob& Clob::operator=(const Clob& srcClob) = default;
Clob::~Clob() {}
Clob::Clob(const std::string& text, CharSetForm form)
    : text_(text), form_(form), null_(false), initialized_(true) {}

bool Clob::isNull() const { return null_; }
void Clob::setNull() {
    text_.clear();
    null_ = true;
    initialized_ = false;
}
bool Clob::isInitialized() const { return initialized_; }
CharSetForm Clob::getCharSetForm() const { return form_; }

namespace {
bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }
}  // namespace

unsigned int Clob::length() const {
    if (null_) embedded::raise(22275, "invalid LOB locator specified");
    unsigned int n = 0;
    for (unsigned char c : text_)
        if (!continuation(c)) ++n;
    return n;
}

unsigned int Clob::read(unsigned int amt, unsigned char* buffer, unsigned int bufsize,
                        unsigned int offset) const {
    if (null_ || !initialized_) embedded::raise(22275, "invalid LOB locator specified");
    if (offset == 0) embedded::raise(24801, "illegal parameter value in OCI lob function (offset 0)");
    // the byte where character number offset starts
    size_t at = 0;
    unsigned int chars = 1;
    while (chars < offset && at < text_.size()) {
        ++at;
        while (at < text_.size() && continuation(static_cast<unsigned char>(text_[at]))) ++at;
        ++chars;
    }
    if (chars < offset) embedded::raise(24801, "illegal parameter value in OCI lob function (offset beyond the end)");
    size_t end = at;
    unsigned int taken = 0;
    while (taken < amt && end < text_.size()) {
        size_t next = end + 1;
        while (next < text_.size() && continuation(static_cast<unsigned char>(text_[next]))) ++next;
        if (next - at > bufsize) break;
        end = next;
        ++taken;
    }
    if (end > at && buffer) std::memcpy(buffer, text_.data() + at, end - at);
    return static_cast<unsigned int>(end - at);
}

// ---------------------------------------------------------------- PObject

// Freed objects are kept for the next objects of the same size: a result set
// makes a geometry (and its point) for each row, and the caller deletes them
// before the next row's, so most objects take the blocks the previous row
// freed instead of going through malloc and free. Each thread keeps a few
// blocks of a few sizes; they go back to the heap when the thread ends.
// Built with AddressSanitizer, every object comes from the heap and goes
// back to it, so that a use after delete is still found.
#if defined(__SANITIZE_ADDRESS__)
#define TVX_KEEP_FREED_OBJECTS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TVX_KEEP_FREED_OBJECTS 0
#endif
#endif
#ifndef TVX_KEEP_FREED_OBJECTS
#define TVX_KEEP_FREED_OBJECTS 1
#endif

namespace {

#if TVX_KEEP_FREED_OBJECTS
// Trivially destructible, so that it may still be reached while the thread
// ends (an object deleted by a later destructor goes to the heap).
struct FreedObjects {
    static const int SIZES = 4;
    static const int BLOCKS = 8;
    struct Slot {
        size_t size;  // 0: not taken yet; slots are taken in order
        int count;
        void* blocks[BLOCKS];
    };
    Slot slots[SIZES];
    bool closed;  // the thread is ending: nothing more is kept
};
thread_local FreedObjects t_freed;

struct ReturnFreedObjects {
    ~ReturnFreedObjects() {
        t_freed.closed = true;
        for (FreedObjects::Slot& slot : t_freed.slots)
            while (slot.count > 0) ::operator delete(slot.blocks[--slot.count]);
    }
};

// Makes the thread return its kept blocks to the heap when it ends.
void returnAtThreadEnd() {
    static thread_local ReturnFreedObjects guard;
    (void)guard;
}
#endif

void* allocateObject(size_t size) {
#if TVX_KEEP_FREED_OBJECTS
    for (FreedObjects::Slot& slot : t_freed.slots) {
        if (slot.size == size) {
            if (slot.count > 0) return slot.blocks[--slot.count];
            break;
        }
    }
#endif
    return ::operator new(size);
}

void releaseObject(void* object, size_t size) {
#if TVX_KEEP_FREED_OBJECTS
    if (object && !t_freed.closed) {
        for (FreedObjects::Slot& slot : t_freed.slots) {
            if (slot.size == 0) {
                returnAtThreadEnd();
                slot.size = size;
            }
            if (slot.size == size) {
                if (slot.count == FreedObjects::BLOCKS) break;
                slot.blocks[slot.count++] = object;
                return;
            }
        }
    }
#else
    (void)size;
#endif
    ::operator delete(object);
}

}  // namespace

PObject::PObject() : null_(false) {}
PObject::PObject(const void* /*ctx*/) : null_(false) {}
PObject::PObject(const PObject& obj) = default;
PObject& PObject::operator=(const PObject& obj) = default;
PObject::~PObject() {}

void* PObject::operator new(size_t size) { return allocateObject(size); }

void* PObject::operator new(size_t size, const Connection* /*sess*/,
                            const std::string& /*tableName*/, const char* /*typeName*/) {
    return allocateObject(size);
}

void* PObject::operator new(size_t size, const Connection* /*sess*/,
                            const std::string& /*tableName*/,
                            const std::string& /*typeName*/,
                            const std::string& /*schTabName*/,
                            const std::string& /*schTypName*/) {
    return allocateObject(size);
}

void* PObject::operator new(size_t size, void* /*adctx*/) { return allocateObject(size); }

void PObject::operator delete(void* obj, size_t size) { releaseObject(obj, size); }

bool PObject::isNull() const { return null_; }
void PObject::setNull() { null_ = true; }

}  // namespace occi
}  // namespace oracle
