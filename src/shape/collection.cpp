#include "shape/collection.h"

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "shape/sdo_constants.h"

using oracle::occi::Number;

namespace {

// An element-information entry as an int, -1 for NULL or a value that is
// not a whole number of the int range.
int entry(const std::vector<Number>& p_elem, size_t p_index) {
    const Number& value = p_elem[p_index];
    if (value.isNull()) return -1;
    const double number = static_cast<double>(value);
    if (!(number >= INT_MIN && number <= INT_MAX) || number != std::floor(number)) return -1;
    return static_cast<int>(number);
}

// The family of a top-level element type, -1 for none; p_subs is set to the
// number of subelements that follow it.
int familyOf(int p_etype, int p_interpretation, int& p_subs) {
    p_subs = 0;
    switch (p_etype) {
        case SDO_ETYPE_POINT: return TV_FAMILY_POINT;
        case SDO_ETYPE_LINE: return TV_FAMILY_LINE;
        case SDO_ETYPE_COMPOUND: p_subs = p_interpretation; return TV_FAMILY_LINE;
        case 1003: case 2003: return TV_FAMILY_POLYGON;
        case 1005: case 2005: p_subs = p_interpretation; return TV_FAMILY_POLYGON;
        default: return -1;
    }
}

bool refuse(const char* p_text, int p_value) {
    tvLog(p_text, p_value, LOG_ERROR);
    return false;
}

}  // namespace

bool tvIsCollectionGType(unsigned short p_gtype) { return p_gtype % 100 == 4 && p_gtype >= 2000 && p_gtype < 5000; }

bool tvSplitCollection(const SDOGeometry& p_collection, SDOGeometry* p_parts[TV_FAMILY_COUNT],
                       bool p_present[TV_FAMILY_COUNT]) {
    const std::vector<Number>& elem = p_collection.getSdo_elem_info();
    const std::vector<Number>& ord = p_collection.getSdo_ordinates();
    const int gtype = static_cast<int>(static_cast<double>(p_collection.getSdo_gtype()));
    const int dims = gtype / 1000;
    if (elem.empty() || elem.size() % 3 != 0) {
        return refuse("Malformed geometry, element info not a whole number of triplets : ",
                      static_cast<int>(elem.size()));
    }
    if (dims < 2 || ord.size() % static_cast<size_t>(dims) != 0) {
        return refuse("Malformed geometry, ordinate count not a multiple of the dimension count : ",
                      static_cast<int>(ord.size()));
    }
    std::vector<Number> partElem[TV_FAMILY_COUNT];
    std::vector<Number> partOrd[TV_FAMILY_COUNT];
    int members[TV_FAMILY_COUNT] = {0, 0, 0};  // points, lines, exterior rings
    const size_t triplets = elem.size() / 3;
    size_t t = 0;
    while (t < triplets) {
        const int offset = entry(elem, 3 * t);
        const int etype = entry(elem, 3 * t + 1);
        const int interpretation = entry(elem, 3 * t + 2);
        int subs = 0;
        const int family = familyOf(etype, interpretation, subs);
        if (family < 0) return refuse("Unsupported ETYPE within element info : ", etype);
        if (subs < 0 || static_cast<size_t>(subs) >= triplets - t) {
            return refuse("Malformed geometry, compound element with more subelements than the element info holds : ",
                          subs);
        }
        // The element with its subelements, and the next ones of the same
        // family that belong to it: the orientation of a point, the holes
        // of a polygon.
        size_t next = t + 1 + static_cast<size_t>(subs);
        while (next < triplets) {
            const int nextEtype = entry(elem, 3 * next + 1);
            const int nextInterpretation = entry(elem, 3 * next + 2);
            const bool orientation = family == TV_FAMILY_POINT && nextEtype == SDO_ETYPE_POINT && nextInterpretation == 0;
            const bool hole = family == TV_FAMILY_POLYGON && (nextEtype == 2003 || nextEtype == 2005);
            if (!orientation && !hole) break;
            int nextSubs = 0;
            familyOf(nextEtype, nextInterpretation, nextSubs);
            if (nextSubs < 0 || static_cast<size_t>(nextSubs) >= triplets - next) break;
            next += 1 + static_cast<size_t>(nextSubs);
        }
        const int end = next < triplets ? entry(elem, 3 * next) : static_cast<int>(ord.size()) + 1;
        if (offset < 1 || end > static_cast<int>(ord.size()) + 1 || end <= offset ||
            (offset - 1) % dims != 0 || (end - 1) % dims != 0) {
            return refuse("Malformed geometry, element offset outside the ordinates : ", offset);
        }
        // Rebased on the family's own ordinates.
        const int base = static_cast<int>(partOrd[family].size()) - (offset - 1);
        for (size_t k = t; k < next; ++k) {
            const int kOffset = entry(elem, 3 * k);
            if (kOffset < offset || kOffset >= end) {
                return refuse("Malformed geometry, element offsets out of order : ", kOffset);
            }
            partElem[family].push_back(Number(kOffset + base));
            partElem[family].push_back(elem[3 * k + 1]);
            partElem[family].push_back(elem[3 * k + 2]);
        }
        partOrd[family].insert(partOrd[family].end(), ord.begin() + (offset - 1), ord.begin() + (end - 1));
        members[family] += family == TV_FAMILY_POINT ? std::max(interpretation, 1) : 1;
        t = next;
    }
    for (int f = 0; f < TV_FAMILY_COUNT; ++f) {
        p_present[f] = !partElem[f].empty();
        if (!p_present[f]) continue;
        // x001/x005, x002/x006, x003/x007 of the collection's dimensions.
        const int kind = members[f] > 1 ? 5 + f : 1 + f;
        p_parts[f]->setSdo_gtype(Number(gtype - gtype % 100 + kind));
        p_parts[f]->setSdo_srid(p_collection.getSdo_srid());
        p_parts[f]->setSdo_elem_info(partElem[f]);
        p_parts[f]->setSdo_ordinates(partOrd[f]);
    }
    return true;
}
