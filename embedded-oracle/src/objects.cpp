// Object values: the stored form of geometries and SDO arrays, and the
// AnyData stream through which registered classes read them.
#include "internal.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

namespace oracle {
namespace occi {

using embedded::GeomView;
using embedded::ObjectContext;

namespace embedded {

void raise(int code, const std::string& text) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "ORA-%05d: ", code);
    throw SQLException(code, prefix + text);
}

namespace {

uint32_t loadU32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

bool decodeGeometry(const void* data, int size, GeomView& g) {
    if (!data || size < GEOM_HEADER) return false;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (p[0] != 'G' || p[1] != 1) return false;
    g.flags = p[2];
    g.pointFlags = p[3];
    g.nElem = loadU32(p + 4);
    g.nOrd = loadU32(p + 8);
    uint64_t need = GEOM_HEADER + 8ull * g.nElem + 8ull * g.nOrd;
    uint64_t elemBitmap = (g.flags & GF_ELEM_NULLS) ? (g.nElem + 7ull) / 8 : 0;
    uint64_t ordBitmap = (g.flags & GF_ORD_NULLS) ? (g.nOrd + 7ull) / 8 : 0;
    if (need + elemBitmap + ordBitmap != static_cast<uint64_t>(size)) return false;
    g.gtype = loadDouble(p + 16);
    g.srid = loadDouble(p + 24);
    g.x = loadDouble(p + 32);
    g.y = loadDouble(p + 40);
    g.z = loadDouble(p + 48);
    g.elem = p + GEOM_HEADER;
    g.ord = g.elem + 8ull * g.nElem;
    const unsigned char* tail = g.ord + 8ull * g.nOrd;
    g.elemNulls = elemBitmap ? tail : nullptr;
    g.ordNulls = ordBitmap ? tail + elemBitmap : nullptr;
    return true;
}

std::string encodeArray(const NumArray& a) {
    uint32_t n = static_cast<uint32_t>(a.values.size());
    std::string out(8 + 8ull * n + (n + 7ull) / 8, '\0');
    out[0] = 'A';
    std::memcpy(&out[4], &n, sizeof n);
    if (n) std::memcpy(&out[8], a.values.data(), 8ull * n);
    for (uint32_t i = 0; i < n; ++i)
        if (i < a.nulls.size() && a.nulls[i]) out[8 + 8ull * n + i / 8] |= static_cast<char>(1 << (i % 8));
    return out;
}

bool decodeArray(const void* data, int size, NumArray& a) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (!p || size < 8 || p[0] != 'A') return false;
    uint32_t n = loadU32(p + 4);
    if (8ull + 8ull * n + (n + 7ull) / 8 != static_cast<uint64_t>(size)) return false;
    a.values.resize(n);
    a.nulls.assign(n, false);
    if (n) std::memcpy(a.values.data(), p + 8, 8ull * n);
    const unsigned char* bitmap = p + 8 + 8ull * n;
    for (uint32_t i = 0; i < n; ++i) a.nulls[i] = (bitmap[i / 8] >> (i % 8)) & 1;
    return true;
}

}  // namespace embedded

// ---------------------------------------------------------------- AnyData

namespace {

[[noreturn]] void noStream() { embedded::raise(21560, "argument is out of range: no object stream"); }

ObjectContext* contextOf(void* ctx) {
    if (!ctx) noStream();
    return static_cast<ObjectContext*>(ctx);
}

[[noreturn]] void streamEnd() {
    embedded::raise(21560, "argument is out of range: read past the object's attributes");
}

[[noreturn]] void notWritable() {
    embedded::raise(3001, "unimplemented feature: writing objects");
}

// The stored doubles of an array that holds no NULL, read as Numbers: with
// it std::vector::assign sizes the vector once and makes each Number in
// place, in one pass.
class StoredNumbers {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = Number;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Number;  // made when read

    explicit StoredNumbers(const unsigned char* at) : at_(at) {}
    Number operator*() const { return Number(embedded::loadDouble(at_)); }
    Number operator[](difference_type n) const { return *(*this + n); }
    StoredNumbers& operator++() { return *this += 1; }
    StoredNumbers operator++(int) { return StoredNumbers(std::exchange(at_, at_ + 8)); }
    StoredNumbers& operator--() { return *this -= 1; }
    StoredNumbers operator--(int) { return StoredNumbers(std::exchange(at_, at_ - 8)); }
    StoredNumbers& operator+=(difference_type n) {
        at_ += 8 * n;
        return *this;
    }
    StoredNumbers& operator-=(difference_type n) { return *this += -n; }
    StoredNumbers operator+(difference_type n) const { return StoredNumbers(at_ + 8 * n); }
    StoredNumbers operator-(difference_type n) const { return StoredNumbers(at_ - 8 * n); }
    difference_type operator-(const StoredNumbers& o) const { return (at_ - o.at_) / 8; }
    bool operator==(const StoredNumbers& o) const { return at_ == o.at_; }
    bool operator!=(const StoredNumbers& o) const { return at_ != o.at_; }
    bool operator<(const StoredNumbers& o) const { return at_ < o.at_; }
    bool operator>(const StoredNumbers& o) const { return at_ > o.at_; }
    bool operator<=(const StoredNumbers& o) const { return at_ <= o.at_; }
    bool operator>=(const StoredNumbers& o) const { return at_ >= o.at_; }

private:
    const unsigned char* at_;
};

}  // namespace

AnyData::AnyData(void* any) : ctx_(any) {}

bool AnyData::isNull() const { return ctx_ == nullptr; }

void AnyData::setNull() { notWritable(); }

Number AnyData::getNumber() const {
    ObjectContext* c = contextOf(ctx_);
    const GeomView& g = *c->geom;
    int pos = c->position++;
    if (c->kind == ObjectContext::GEOMETRY) {
        if (pos == 0) return (g.flags & embedded::GF_GTYPE_NULL) ? Number() : Number(g.gtype);
        if (pos == 1) return (g.flags & embedded::GF_SRID_NULL) ? Number() : Number(g.srid);
    } else {
        if (pos == 0) return (g.pointFlags & embedded::PF_X_NULL) ? Number() : Number(g.x);
        if (pos == 1) return (g.pointFlags & embedded::PF_Y_NULL) ? Number() : Number(g.y);
        if (pos == 2) return (g.pointFlags & embedded::PF_Z_NULL) ? Number() : Number(g.z);
    }
    streamEnd();
}

void AnyData::setNumber(const Number& /*n*/) { notWritable(); }

PObject* AnyData::getObject(void* (*rSQL)(void*)) const {
    ObjectContext* c = contextOf(ctx_);
    if (c->kind != ObjectContext::GEOMETRY || c->position != 2) streamEnd();
    ++c->position;
    if (!(c->geom->flags & embedded::GF_POINT)) return nullptr;
    ObjectContext point;
    point.kind = ObjectContext::POINT;
    point.geom = c->geom;
    void* object = rSQL(&point);
    if (point.error) throw *point.error;
    return static_cast<PObject*>(object);
}

void AnyData::setObject(const PObject* /*objptr*/) { notWritable(); }

void getVector(const AnyData& any, std::vector<Number>& vect) {
    ObjectContext* c = contextOf(any.ctx_);
    if (c->kind != ObjectContext::GEOMETRY || c->position < 3 || c->position > 4) streamEnd();
    const GeomView& g = *c->geom;
    bool elem = c->position == 3;
    ++c->position;
    uint32_t n = elem ? g.nElem : g.nOrd;
    const unsigned char* values = elem ? g.elem : g.ord;
    const unsigned char* nulls = elem ? g.elemNulls : g.ordNulls;
    vect.clear();
    if (n == 0) return;
    if (!nulls) {
        vect.assign(StoredNumbers(values), StoredNumbers(values + 8ull * n));
        return;
    }
    vect.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        if ((nulls[i / 8] >> (i % 8)) & 1)
            vect.emplace_back();
        else
            vect.emplace_back(embedded::loadDouble(values + 8ull * i));
    }
}

void setVector(AnyData& /*any*/, const std::vector<Number>& /*vect*/) { notWritable(); }

// ---------------------------------------------------------------- PObject

void PObject::getSQLTypeName(Environment* env, void* (*rSQL)(void*), void** schName,
                             unsigned int& schNameLen, void** typeName,
                             unsigned int& typeNameLen) const {
    const std::string* schema = nullptr;
    const std::string* type = nullptr;
    if (!embedded::lookupTypeName(env, rSQL, schema, type))
        embedded::raise(21560, "argument is out of range: class not registered in the type map");
    *schName = const_cast<char*>(schema->data());
    schNameLen = static_cast<unsigned int>(schema->size());
    *typeName = const_cast<char*>(type->data());
    typeNameLen = static_cast<unsigned int>(type->size());
}

}  // namespace occi
}  // namespace oracle
