// The way of each row of an export into its shapefile set.
//
// A set holds one family of shapes. The rows go to the set named by the
// export (the plain set) as long as they are of the family of the first
// one (a collection's elements each to their family's set); when a row of
// another family comes (points and multipoints, lines and multilines,
// polygons and multipolygons are the families), each family's rows go to a
// set of its own, <name>_point, <name>_line and <name>_polygon: the rows
// written so far move with the plain set's files to the set of their
// family, and the plain set then only removes the previous set of its name
// when the sets are committed together. Under a forced type or for a
// multipatch set every row goes to the plain set.
//
// A set whose next row would take one of its files past the largest size
// (--max-size) is closed, and its family's rows go on in a new part,
// <name>_2, <name>_3, ... (<name>_line_2 when the families are split): each
// part a whole set, committed with the others.
#ifndef TARVEX_APP_ROW_ROUTER_H
#define TARVEX_APP_ROW_ROUTER_H

#include <occi.h>

#include <memory>
#include <string>
#include <vector>

#include "shape/collection.h"
#include "shape/output_set.h"
#include "shape/shape_writer.h"

class SDOGeometry;

class tvRowRouter {
public:
    // p_plain: the locked set of the export's name p_base. p_split: whether
    // rows of other families get sets of their own (never under a forced
    // shape type, which takes every row into one set). p_maxSize: the largest
    // size of any one file.
    tvRowRouter(tvOutputSet& p_plain, const std::string& p_base, bool p_split, unsigned long long p_maxSize);
    ~tvRowRouter();
    tvRowRouter(const tvRowRouter&) = delete;
    tvRowRouter& operator=(const tvRowRouter&) = delete;

    // Creates the plain set's files, as the first geometry's shape type.
    bool begin(unsigned short p_shapeType, const std::vector<oracle::occi::MetaData>& p_columns,
               const std::string& p_geomColumn, int p_srid);
    // Writes the row (shape and attributes) to the set of its family; a
    // collection to the sets of its elements' families, one record each.
    // p_gtype: tvGTypeCode(p_geometry), which the caller has read already.
    bool route(SDOGeometry* p_geometry, unsigned short p_gtype, oracle::occi::ResultSet* p_row);
    // Whether rows of other families, and collections, get sets of their own.
    bool splits() const { return _split; }
    // Closes every set's files and, when p_ok holds and they are complete,
    // commits the sets together; logs what was written. False when the
    // export is not in place. p_part: the export is one part of a table,
    // which the parent merges and reports.
    bool finish(bool p_ok, bool p_part);

private:
    struct Target {
        int family = TV_FAMILY_COUNT;  // a tvFamily; TV_FAMILY_COUNT: no family
        int part = 1;
        std::unique_ptr<tvOutputSet> set;  // null for the plain set
        std::unique_ptr<tvShapeWriter> writer;
        bool closed = false;
        int count = 0;
        unsigned long long largest = 0;  // bytes of its largest file
    };
    tvOutputSet& _plain;
    std::string _base;
    bool _split;
    unsigned long long _maxSize;
    bool _splitDone = false;
    std::vector<std::unique_ptr<Target>> _targets;  // the first is the plain set's writer
    std::vector<oracle::occi::MetaData> _columns;
    std::string _geomColumn;
    int _srid = -1;
    // A collection's elements by family, reused from one row to the next.
    struct Parts;
    std::unique_ptr<Parts> _parts;

    std::string nameOf(int p_family, int p_part) const;
    Target* current(int p_family);
    Target* targetFor(int p_family, unsigned short p_gtype);
    Target* addTarget(int p_family, int p_part, int p_shapeType);
    // p_index: with the .qix of "--index" (a part of a table has none: the
    // parent indexes the merged set).
    bool close(Target& p_target, bool p_index = true);
    bool write(Target* p_target, SDOGeometry* p_geometry, unsigned short p_gtype, oracle::occi::ResultSet* p_row);
    bool routeCollection(const SDOGeometry& p_collection, oracle::occi::ResultSet* p_row);
    bool splitPlainSet();
    // Whether p_name is no other export's planned name (logged if it is).
    bool ownName(const std::string& p_name) const;
    // Existing sets of the names this export could write and did not.
    std::string setsLeftBeside() const;
};

// The family of a shape type as a tvFamily (shape/collection.h), named
// "point", "line" or "polygon" in the names of its sets; TV_FAMILY_COUNT
// for none.
int tvShapeFamilyOf(int p_shapeType);

#endif
