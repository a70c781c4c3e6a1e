// Collections (gtype x004): their elements split by family, so that each
// family's elements can be written as one record of that family's set.
#ifndef TARVEX_SHAPE_COLLECTION_H
#define TARVEX_SHAPE_COLLECTION_H

class SDOGeometry;

// The families of collection elements, as indexes of the parts below.
enum tvFamily { TV_FAMILY_POINT = 0, TV_FAMILY_LINE = 1, TV_FAMILY_POLYGON = 2, TV_FAMILY_COUNT = 3 };

// Whether p_gtype is a collection's.
bool tvIsCollectionGType(unsigned short p_gtype);

// Splits the collection p_collection into p_parts (one geometry per family,
// reused from one row to the next): the elements of a family, in their
// order, with their ordinates, as a point or multipoint, line or multiline,
// polygon or multipolygon of the collection's dimensions and SRID.
// p_present[f] tells whether family f has elements. False, with one
// LOG_ERROR line, when the element information is damaged or holds an
// element of no family.
bool tvSplitCollection(const SDOGeometry& p_collection, SDOGeometry* p_parts[TV_FAMILY_COUNT],
                       bool p_present[TV_FAMILY_COUNT]);

#endif
