// Object classes for MDSYS.SDO_POINT_TYPE and MDSYS.SDO_GEOMETRY, following
// the client library's object-type mapping.
#ifndef TARVEX_ORACLE_SDO_H
#define TARVEX_ORACLE_SDO_H

#include <occi.h>

#include <string>
#include <vector>

class SDOPointType : public oracle::occi::PObject {
public:
    SDOPointType();
    SDOPointType(void* ctxOCCI_);
    ~SDOPointType() override;
    SDOPointType(const SDOPointType&) = delete;
    SDOPointType& operator=(const SDOPointType&) = delete;

    void* operator new(size_t size);
    void* operator new(size_t size, const oracle::occi::Connection* sess,
                       const std::string& table);
    void* operator new(size_t size, void* ctxOCCI_);
    void* operator new(size_t size, const oracle::occi::Connection* sess,
                       const std::string& tableName, const std::string& typeName,
                       const std::string& tableSchema, const std::string& typeSchema);
    void operator delete(void* obj, size_t size);

    std::string getSQLTypeName() const override;
    void getSQLTypeName(oracle::occi::Environment* env, void** schemaName,
                        unsigned int& schemaNameLen, void** typeName,
                        unsigned int& typeNameLen) const override;
    static void* readSQL(void* ctxOCCI_);
    void readSQL(oracle::occi::AnyData& streamOCCI_) override;
    static void writeSQL(void* objOCCI_, void* ctxOCCI_);
    void writeSQL(oracle::occi::AnyData& streamOCCI_) override;

    oracle::occi::Number getX() const;
    void setX(const oracle::occi::Number& value);
    oracle::occi::Number getY() const;
    void setY(const oracle::occi::Number& value);
    oracle::occi::Number getZ() const;
    void setZ(const oracle::occi::Number& value);

private:
    oracle::occi::Number x;
    oracle::occi::Number y;
    oracle::occi::Number z;
};

class SDOGeometry : public oracle::occi::PObject {
public:
    SDOGeometry();
    SDOGeometry(void* ctxOCCI_);
    ~SDOGeometry() override;
    SDOGeometry(const SDOGeometry&) = delete;
    SDOGeometry& operator=(const SDOGeometry&) = delete;

    void* operator new(size_t size);
    void* operator new(size_t size, const oracle::occi::Connection* sess,
                       const std::string& table);
    void* operator new(size_t size, void* ctxOCCI_);
    void* operator new(size_t size, const oracle::occi::Connection* sess,
                       const std::string& tableName, const std::string& typeName,
                       const std::string& tableSchema, const std::string& typeSchema);
    void operator delete(void* obj, size_t size);

    std::string getSQLTypeName() const override;
    void getSQLTypeName(oracle::occi::Environment* env, void** schemaName,
                        unsigned int& schemaNameLen, void** typeName,
                        unsigned int& typeNameLen) const override;
    static void* readSQL(void* ctxOCCI_);
    void readSQL(oracle::occi::AnyData& streamOCCI_) override;
    static void writeSQL(void* objOCCI_, void* ctxOCCI_);
    void writeSQL(oracle::occi::AnyData& streamOCCI_) override;

    oracle::occi::Number getSdo_gtype() const;
    void setSdo_gtype(const oracle::occi::Number& value);
    oracle::occi::Number getSdo_srid() const;
    void setSdo_srid(const oracle::occi::Number& value);
    SDOPointType* getSdo_point() const;
    void setSdo_point(SDOPointType* value);
    std::vector<oracle::occi::Number>& getSdo_elem_info();
    const std::vector<oracle::occi::Number>& getSdo_elem_info() const;
    void setSdo_elem_info(const std::vector<oracle::occi::Number>& value);
    std::vector<oracle::occi::Number>& getSdo_ordinates();
    const std::vector<oracle::occi::Number>& getSdo_ordinates() const;
    void setSdo_ordinates(const std::vector<oracle::occi::Number>& value);

private:
    oracle::occi::Number sdo_gtype;
    oracle::occi::Number sdo_srid;
    SDOPointType* sdo_point;
    std::vector<oracle::occi::Number> sdo_elem_info;
    std::vector<oracle::occi::Number> sdo_ordinates;
};

// Enters both classes in the environment's type map: the point type first.
void RegisterClasses(oracle::occi::Environment* envOCCI_);

#endif
