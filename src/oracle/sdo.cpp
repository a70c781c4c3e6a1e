#include "oracle/sdo.h"

using oracle::occi::AnyData;
using oracle::occi::Connection;
using oracle::occi::Environment;
using oracle::occi::Number;
using oracle::occi::PObject;
using oracle::occi::SQLException;

namespace {

const char* const POINT_TYPE_NAME = "MDSYS.SDO_POINT_TYPE";
const char* const GEOMETRY_TYPE_NAME = "MDSYS.SDO_GEOMETRY";

// The client's callback for one value: allocate through the context form,
// then stream the attributes unless the value is NULL. A half-built object is
// released when the client reports an error while streaming.
template <typename T>
void* readObject(void* ctxOCCI_) {
    T* objOCCI_ = new (ctxOCCI_) T(ctxOCCI_);
    AnyData streamOCCI_(ctxOCCI_);
    try {
        if (streamOCCI_.isNull())
            objOCCI_->setNull();
        else
            objOCCI_->readSQL(streamOCCI_);
    } catch (SQLException& excep) {
        delete objOCCI_;
        excep.setErrorCtx(ctxOCCI_);
        return nullptr;
    }
    return objOCCI_;
}

template <typename T>
void writeObject(void* objectOCCI_, void* ctxOCCI_) {
    T* objOCCI_ = static_cast<T*>(objectOCCI_);
    AnyData streamOCCI_(ctxOCCI_);
    try {
        if (objOCCI_->isNull())
            streamOCCI_.setNull();
        else
            objOCCI_->writeSQL(streamOCCI_);
    } catch (SQLException& excep) {
        excep.setErrorCtx(ctxOCCI_);
    }
}

}  // namespace

// ---------------------------------------------------------------- SDOPointType

SDOPointType::SDOPointType() : PObject() {}
SDOPointType::SDOPointType(void* ctxOCCI_) : PObject(ctxOCCI_) {}
SDOPointType::~SDOPointType() {}

void* SDOPointType::operator new(size_t size) { return PObject::operator new(size); }

void* SDOPointType::operator new(size_t size, const Connection* sess, const std::string& table) {
    return PObject::operator new(size, sess, table, POINT_TYPE_NAME);
}

void* SDOPointType::operator new(size_t size, void* ctxOCCI_) {
    return PObject::operator new(size, ctxOCCI_);
}

void* SDOPointType::operator new(size_t size, const Connection* sess,
                                 const std::string& tableName, const std::string& typeName,
                                 const std::string& tableSchema, const std::string& typeSchema) {
    return PObject::operator new(size, sess, tableName, typeName, tableSchema, typeSchema);
}

void SDOPointType::operator delete(void* obj, size_t size) { PObject::operator delete(obj, size); }

std::string SDOPointType::getSQLTypeName() const { return POINT_TYPE_NAME; }

void SDOPointType::getSQLTypeName(Environment* env, void** schemaName,
                                  unsigned int& schemaNameLen, void** typeName,
                                  unsigned int& typeNameLen) const {
    PObject::getSQLTypeName(env, &SDOPointType::readSQL, schemaName, schemaNameLen, typeName,
                            typeNameLen);
}

void* SDOPointType::readSQL(void* ctxOCCI_) { return readObject<SDOPointType>(ctxOCCI_); }

void SDOPointType::readSQL(AnyData& streamOCCI_) {
    x = streamOCCI_.getNumber();
    y = streamOCCI_.getNumber();
    z = streamOCCI_.getNumber();
}

void SDOPointType::writeSQL(void* objOCCI_, void* ctxOCCI_) {
    writeObject<SDOPointType>(objOCCI_, ctxOCCI_);
}

void SDOPointType::writeSQL(AnyData& streamOCCI_) {
    streamOCCI_.setNumber(x);
    streamOCCI_.setNumber(y);
    streamOCCI_.setNumber(z);
}

Number SDOPointType::getX() const { return x; }
void SDOPointType::setX(const Number& value) { x = value; }
Number SDOPointType::getY() const { return y; }
void SDOPointType::setY(const Number& value) { y = value; }
Number SDOPointType::getZ() const { return z; }
void SDOPointType::setZ(const Number& value) { z = value; }

// ---------------------------------------------------------------- SDOGeometry

SDOGeometry::SDOGeometry() : PObject(), sdo_point(nullptr) {}
SDOGeometry::SDOGeometry(void* ctxOCCI_) : PObject(ctxOCCI_), sdo_point(nullptr) {}

SDOGeometry::~SDOGeometry() { delete sdo_point; }

void* SDOGeometry::operator new(size_t size) { return PObject::operator new(size); }

void* SDOGeometry::operator new(size_t size, const Connection* sess, const std::string& table) {
    return PObject::operator new(size, sess, table, GEOMETRY_TYPE_NAME);
}

void* SDOGeometry::operator new(size_t size, void* ctxOCCI_) {
    return PObject::operator new(size, ctxOCCI_);
}

void* SDOGeometry::operator new(size_t size, const Connection* sess,
                                const std::string& tableName, const std::string& typeName,
                                const std::string& tableSchema, const std::string& typeSchema) {
    return PObject::operator new(size, sess, tableName, typeName, tableSchema, typeSchema);
}

void SDOGeometry::operator delete(void* obj, size_t size) { PObject::operator delete(obj, size); }

std::string SDOGeometry::getSQLTypeName() const { return GEOMETRY_TYPE_NAME; }

void SDOGeometry::getSQLTypeName(Environment* env, void** schemaName,
                                 unsigned int& schemaNameLen, void** typeName,
                                 unsigned int& typeNameLen) const {
    PObject::getSQLTypeName(env, &SDOGeometry::readSQL, schemaName, schemaNameLen, typeName,
                            typeNameLen);
}

void* SDOGeometry::readSQL(void* ctxOCCI_) { return readObject<SDOGeometry>(ctxOCCI_); }

void SDOGeometry::readSQL(AnyData& streamOCCI_) {
    sdo_gtype = streamOCCI_.getNumber();
    sdo_srid = streamOCCI_.getNumber();
    delete sdo_point;
    sdo_point = static_cast<SDOPointType*>(streamOCCI_.getObject(&SDOPointType::readSQL));
    oracle::occi::getVector(streamOCCI_, sdo_elem_info);
    oracle::occi::getVector(streamOCCI_, sdo_ordinates);
}

void SDOGeometry::writeSQL(void* objOCCI_, void* ctxOCCI_) {
    writeObject<SDOGeometry>(objOCCI_, ctxOCCI_);
}

void SDOGeometry::writeSQL(AnyData& streamOCCI_) {
    streamOCCI_.setNumber(sdo_gtype);
    streamOCCI_.setNumber(sdo_srid);
    streamOCCI_.setObject(sdo_point);
    oracle::occi::setVector(streamOCCI_, sdo_elem_info);
    oracle::occi::setVector(streamOCCI_, sdo_ordinates);
}

Number SDOGeometry::getSdo_gtype() const { return sdo_gtype; }
void SDOGeometry::setSdo_gtype(const Number& value) { sdo_gtype = value; }
Number SDOGeometry::getSdo_srid() const { return sdo_srid; }
void SDOGeometry::setSdo_srid(const Number& value) { sdo_srid = value; }
SDOPointType* SDOGeometry::getSdo_point() const { return sdo_point; }
void SDOGeometry::setSdo_point(SDOPointType* value) { sdo_point = value; }
std::vector<Number>& SDOGeometry::getSdo_elem_info() { return sdo_elem_info; }
const std::vector<Number>& SDOGeometry::getSdo_elem_info() const { return sdo_elem_info; }
void SDOGeometry::setSdo_elem_info(const std::vector<Number>& value) { sdo_elem_info = value; }
std::vector<Number>& SDOGeometry::getSdo_ordinates() { return sdo_ordinates; }
const std::vector<Number>& SDOGeometry::getSdo_ordinates() const { return sdo_ordinates; }
void SDOGeometry::setSdo_ordinates(const std::vector<Number>& value) { sdo_ordinates = value; }

// ---------------------------------------------------------------- registration

void RegisterClasses(Environment* envOCCI_) {
    oracle::occi::Map* mapOCCI_ = envOCCI_->getMap();
    mapOCCI_->put(POINT_TYPE_NAME, &SDOPointType::readSQL, &SDOPointType::writeSQL);
    mapOCCI_->put(GEOMETRY_TYPE_NAME, &SDOGeometry::readSQL, &SDOGeometry::writeSQL);
}
