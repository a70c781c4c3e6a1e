// Element information and ordinates: read in place and checked before they
// are used, so that malformed values are refused instead of written.
#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>
#include <string>

#include "diag/log.h"
#include "settings/settings.h"
#include "shape/geometry_parts.h"
#include "shape/sdo_constants.h"

namespace tvgeom {

int elemInt(const Number& p_value) {
    if (p_value.isNull()) return 0;
    double value = static_cast<double>(p_value);
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value >= static_cast<double>(INT_MIN)) return static_cast<int>(value);
    return INT_MIN;  // below the range, or not a number
}

unsigned short gtypeOf(const SDOGeometry* p_geometry) {
    Number gtype = p_geometry->getSdo_gtype();
    if (gtype.isNull()) return 0;
    double value = static_cast<double>(gtype);
    if (!(value >= 0.0 && value <= 65535.0)) return 0;
    return static_cast<unsigned short>(value);
}

void ensureVertices(tvShapeBuffers& p_buffers, size_t p_count) {
    if (p_buffers.x.size() < p_count) {
        p_buffers.x.resize(p_count);
        p_buffers.y.resize(p_count);
        p_buffers.z.resize(p_count);
        p_buffers.m.resize(p_count);
    }
}

void ensureParts(tvShapeBuffers& p_buffers, size_t p_count) {
    if (p_buffers.partStart.size() < p_count) {
        p_buffers.partStart.resize(p_count);
        p_buffers.partType.resize(p_count);
        p_buffers.ringRole.resize(p_count);
    }
}

BuildResult malformed(const char* p_text, long long p_value) {
    tvLog(p_text, std::to_string(p_value), LOG_ERROR);
    return BUILD_FAILED;
}

namespace {

// The common cases of copyVertices: 2D vertices, or 3D ones into a file
// with Z (READ_Z), every ordinate present and finite but a Z, which may be
// NULL. One pass without a branch per vertex but the NULL checks, the
// missing Z and M filled in after it; false when a vertex needs the checking
// loop of copyVertices (which then finds and reports it), with the buffers
// partly written.
template <bool READ_Z>
bool copyPlainVertices(const Number* p_ordinates, size_t p_count, double* p_x, double* p_y, double* p_z,
                       double* p_m, double p_missingZ, double p_missingM) {
    const size_t stride = READ_Z ? 3 : 2;
    // x - x is 0 for a finite x, NaN for an infinite or NaN one: the sum
    // stays 0 only while every ordinate is finite.
    double check = 0.0;
    for (size_t v = 0; v < p_count; ++v, p_ordinates += stride) {
        // Oracle's client refuses to convert a NULL number (OCI-32152):
        // NULLs are looked at before any conversion.
        if (p_ordinates[0].isNull() || p_ordinates[1].isNull()) return false;
        const double x = static_cast<double>(p_ordinates[0]);
        const double y = static_cast<double>(p_ordinates[1]);
        p_x[v] = x;
        p_y[v] = y;
        check += (x - x) + (y - y);
        if (READ_Z) {
            const double z = p_ordinates[2].isNull() ? g_shp_null_vertex : static_cast<double>(p_ordinates[2]);
            p_z[v] = z;
            check += z - z;
        }
    }
    if (!READ_Z) std::fill(p_z, p_z + p_count, p_missingZ);
    std::fill(p_m, p_m + p_count, p_missingM);
    // The missing Z is finite (the null vertex value is, or 0), as the
    // checking loop takes it to be.
    return check == 0.0;
}

}  // namespace

// Copies p_count vertices of the source from vertex p_first into the buffers
// at p_at, in the target's dimensions. Fails on a NULL X or Y.
BuildResult copyVertices(const Source& p_source, const Target& p_target, size_t p_first,
                         size_t p_count, tvShapeBuffers& p_buffers, size_t p_at) {
    const bool plain2D = !p_source.z && !p_source.m;
    const bool plain3D = p_source.z && !p_source.m && p_target.z;
    if (plain2D || plain3D) {
        const Number* from = p_source.ord.data() + p_first * p_source.stride;
        const double missingZ = p_target.z ? g_shp_null_vertex : 0.0;
        const double missingM = p_target.m ? g_shp_null_vertex : 0.0;
        double* x = p_buffers.x.data() + p_at;
        double* y = p_buffers.y.data() + p_at;
        double* z = p_buffers.z.data() + p_at;
        double* m = p_buffers.m.data() + p_at;
        const bool copied = plain2D ? copyPlainVertices<false>(from, p_count, x, y, z, m, missingZ, missingM)
                                    : copyPlainVertices<true>(from, p_count, x, y, z, m, missingZ, missingM);
        if (copied) return BUILD_OK;
    }
    const Number* ordinates = p_source.ord.data() + p_first * p_source.stride;
    const size_t stride = p_source.stride;
    const size_t mOffset = p_source.z ? 3 : 2;
    const double nullVertex = g_shp_null_vertex;
    // A Z or M that the file holds and the geometry lacks is unknown, and
    // written as the null vertex value like a NULL one (never as a made-up
    // 0, so that rows before and after a raise of the set's type agree).
    const double missingZ = p_target.z ? nullVertex : 0.0;
    const double missingM = p_target.m ? nullVertex : 0.0;
    const bool takeZ = p_target.z && p_source.z;
    const bool takeM = p_target.m && p_source.m;
    double* x = p_buffers.x.data() + p_at;
    double* y = p_buffers.y.data() + p_at;
    double* z = p_buffers.z.data() + p_at;
    double* m = p_buffers.m.data() + p_at;
    for (size_t v = 0; v < p_count; ++v, ordinates += stride) {
        if (ordinates[0].isNull() || ordinates[1].isNull()) {
            return malformed("Malformed geometry, NULL X or Y ordinate at vertex : ",
                             static_cast<long long>(p_first + v));
        }
        x[v] = static_cast<double>(ordinates[0]);
        y[v] = static_cast<double>(ordinates[1]);
        const double zValue = (p_source.z && !ordinates[2].isNull()) ? static_cast<double>(ordinates[2]) : 0.0;
        const double mValue =
            (p_source.m && !ordinates[mOffset].isNull()) ? static_cast<double>(ordinates[mOffset]) : 0.0;
        if (!std::isfinite(x[v]) || !std::isfinite(y[v]) || !std::isfinite(zValue) || !std::isfinite(mValue)) {
            return malformed("Malformed geometry, infinite or NaN ordinate at vertex : ",
                             static_cast<long long>(p_first + v));
        }
        if (takeZ) {
            z[v] = ordinates[2].isNull() ? nullVertex : zValue;
        } else {
            z[v] = missingZ;
        }
        if (takeM) {
            m[v] = ordinates[mOffset].isNull() ? nullVertex : mValue;
        } else {
            m[v] = missingM;
        }
    }
    return BUILD_OK;
}

// The ordinates and the element offsets into them: BUILD_EMPTY without
// ordinates, BUILD_FAILED (logged) for less than one vertex, a trailing
// partial vertex or triplet, or an offset off a vertex, beyond the ordinates
// or before the one ahead of it.
BuildResult checkOrdinates(const Source& p_source) {
    if (p_source.ord.empty()) return BUILD_EMPTY;
    if (p_source.vertexCount == 0) {
        return malformed("Malformed geometry, fewer ordinates than one vertex : ",
                         static_cast<long long>(p_source.ord.size()));
    }
    // A trailing partial vertex is a damaged array, not a vertex to drop.
    if (p_source.ord.size() % p_source.stride != 0) {
        return malformed("Malformed geometry, ordinate count not a multiple of the dimension count : ",
                         static_cast<long long>(p_source.ord.size()));
    }
    if (p_source.elem.size() % 3 != 0) {
        return malformed("Malformed geometry, element info not a whole number of triplets : ",
                         static_cast<long long>(p_source.elem.size()));
    }
    // Every element starts on the first ordinate of a vertex inside the
    // ordinates, none before the one ahead of it (a compound element's first
    // subelement shares its start).
    int previous = 1;
    for (size_t t = 0; t < p_source.triplets; ++t) {
        const int offset = p_source.offset(t);
        if (offset < 1 || static_cast<size_t>(offset - 1) >= p_source.ord.size()) {
            return malformed("Malformed geometry, element offset outside the ordinates : ", offset);
        }
        if (static_cast<size_t>(offset - 1) % p_source.stride != 0) {
            return malformed("Malformed geometry, element offset not on the first ordinate of a vertex : ",
                             offset);
        }
        if (offset < previous) return malformed("Malformed geometry, element offsets out of order : ", offset);
        previous = offset;
    }
    return BUILD_OK;
}

BuildResult checkElementInfo(const Source& p_source) {
    for (const Number& entry : p_source.elem) {
        if (entry.isNull()) continue;
        const double value = static_cast<double>(entry);
        if (!std::isfinite(value) || value != std::floor(value)) {
            std::ostringstream text;
            text.precision(15);
            text << value;
            tvLog("Malformed geometry, element info value not a whole number : ", text.str(), LOG_ERROR);
            return BUILD_FAILED;
        }
    }
    return BUILD_OK;
}

bool isRingEtype(int p_etype) {
    return p_etype == SDO_ETYPE_POLYRING || p_etype == SDO_ETYPE_EXTERIOR_POLYGON ||
           p_etype == SDO_ETYPE_INTERIOR_POLYGON;
}

bool isCompoundEtype(int p_etype, bool p_polygon) {
    return p_polygon ? (p_etype == ETYPE_COMPOUND_EXTERIOR_RING || p_etype == ETYPE_COMPOUND_INTERIOR_RING)
                     : p_etype == SDO_ETYPE_COMPOUND;
}

BuildResult unsupportedEtype(int p_etype) {
    tvLog("Unsupported ETYPE within element info : ", p_etype, LOG_ERROR);
    return BUILD_FAILED;
}

BuildResult unsupportedInterpretation(int p_interpretation, bool p_polygon) {
    tvLog(p_polygon ? "Unsupported interpretation for polygon type : "
                    : "Unsupported interpretation for line type : ",
          p_interpretation, LOG_ERROR);
    return BUILD_FAILED;
}

// Without curve conversion every element of a line must be a line of
// straight segments, every element of a polygon a ring of straight segments:
// arcs, circles, rectangles and compound elements are refused, wherever they
// appear. With it, lines may also hold arc strings and compound line strings,
// polygons arc rings, rectangles, circles and compound rings.
BuildResult checkElements(const Source& p_source, bool p_polygon, bool p_curves) {
    for (size_t t = 0; t < p_source.triplets; ++t) {
        const int etype = p_source.etype(t);
        const int interpretation = p_source.interpretation(t);
        if (p_curves && isCompoundEtype(etype, p_polygon)) {
            if (interpretation < 1 || static_cast<size_t>(interpretation) >= p_source.triplets - t) {
                return malformed("Malformed geometry, compound element with more subelements than "
                                 "the element info holds : ",
                                 interpretation);
            }
            for (size_t sub = t + 1; sub <= t + static_cast<size_t>(interpretation); ++sub) {
                if (p_source.etype(sub) != SDO_ETYPE_LINE) return unsupportedEtype(p_source.etype(sub));
                const int subInterpretation = p_source.interpretation(sub);
                if (subInterpretation != SDO_INTERPRETATION_LINE &&
                    subInterpretation != SDO_INTERPRETATION_ARC_LINES) {
                    return unsupportedInterpretation(subInterpretation, p_polygon);
                }
            }
            t += static_cast<size_t>(interpretation);
            continue;
        }
        if (p_polygon ? !isRingEtype(etype) : etype != SDO_ETYPE_LINE) return unsupportedEtype(etype);
        const bool known = interpretation == 1 ||
                           (p_curves && (interpretation == SDO_INTERPRETATION_ARC_LINES ||
                                         (p_polygon && (interpretation == SDO_INTERPRETATION_RECTANGLE ||
                                                        interpretation == SDO_INTERPRETATION_CIRCLE))));
        if (!known) return unsupportedInterpretation(interpretation, p_polygon);
    }
    return BUILD_OK;
}

}  // namespace tvgeom
