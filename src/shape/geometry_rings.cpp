// Lines, polygons and rings: the parts of a line or polygon geometry,
// element by element (straight elements as stored, curves stroked,
// rectangles expanded, compound elements joined into one part), checked,
// open rings closed and counted, rings oriented.
#include <shapefil.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "diag/log.h"
#include "settings/settings.h"
#include "shape/curves.h"
#include "shape/geometry_parts.h"
#include "shape/rings.h"
#include "shape/sdo_constants.h"

namespace tvgeom {

namespace {

// Most vertices one geometry may have once its curves are stroked.
const size_t MAX_STROKED_VERTICES = 10000000;

// Appends the parts of a line or polygon to the buffers in the target's
// dimensions, element by element: straight elements as stored, curves
// stroked, rectangles expanded, compound elements joined into one part.
class Assembler {
public:
    Assembler(const Source& p_source, const Target& p_target, const tvConversionSettings& p_settings,
              tvShapeBuffers& p_buffers)
        : _source(p_source), _target(p_target), _settings(p_settings), _buffers(p_buffers) {}

    size_t vertices() const { return _count; }
    size_t parts() const { return _parts; }
    int closedRings() const { return _closed; }

    // All elements, as one part each; p_polygon makes them rings, closed
    // when p_close holds.
    BuildResult run(bool p_polygon, bool p_close) {
        size_t t = 0;
        while (t < _source.triplets) {
            const int etype = _source.etype(t);
            const int offset = _source.offset(t);
            const bool compound = isCompoundEtype(etype, p_polygon);
            const size_t subs = compound ? static_cast<size_t>(_source.interpretation(t)) : 0;
            const size_t next = t + 1 + subs;
            size_t start = 0;
            size_t end = _source.vertexCount;
            BuildResult result = vertexAt(t, start);
            if (result == BUILD_OK && next < _source.triplets) result = vertexAt(next, end);
            if (result != BUILD_OK) return result;
            if (end <= start) {
                return malformed("Malformed geometry, element offsets out of order : ", _source.offset(next));
            }

            int role = TV_RING_UNKNOWN;
            if (etype == SDO_ETYPE_EXTERIOR_POLYGON || etype == ETYPE_COMPOUND_EXTERIOR_RING) role = TV_RING_OUTER;
            if (etype == SDO_ETYPE_INTERIOR_POLYGON || etype == ETYPE_COMPOUND_INTERIOR_RING) role = TV_RING_INNER;
            beginPart(role);
            if (compound) {
                result = compoundElement(t, subs, start, end);
            } else {
                result = simpleElement(_source.interpretation(t), start, end - start, offset);
            }
            if (result != BUILD_OK) return result;
            result = p_polygon ? endRing(offset, p_close) : endLine(offset);
            if (result != BUILD_OK) return result;
            t = next;
        }
        return BUILD_OK;
    }

private:
    // The vertex where triplet p_triplet's element starts.
    BuildResult vertexAt(size_t p_triplet, size_t& p_vertex) const {
        const int offset = _source.offset(p_triplet);
        if (offset < 1 || static_cast<size_t>(offset - 1) >= _source.ord.size() ||
            static_cast<size_t>(offset - 1) / _source.stride >= _source.vertexCount) {
            return malformed("Malformed geometry, element offset outside the ordinates : ", offset);
        }
        p_vertex = static_cast<size_t>(offset - 1) / _source.stride;
        return BUILD_OK;
    }

    BuildResult simpleElement(int p_interpretation, size_t p_first, size_t p_count, int p_offset) {
        switch (p_interpretation) {
            case SDO_INTERPRETATION_ARC_LINES: return arcString(p_first, p_count, false, p_offset);
            case SDO_INTERPRETATION_RECTANGLE: return rectangle(p_first, p_count, p_offset);
            case SDO_INTERPRETATION_CIRCLE: return circle(p_first, p_count, p_offset);
            default: return stored(p_first, p_count);
        }
    }

    // Subelement j runs from its own start to the next one's start, which it
    // shares; the last one to the end of the compound element.
    BuildResult compoundElement(size_t p_triplet, size_t p_subs, size_t p_start, size_t p_end) {
        size_t first = 0;
        BuildResult result = vertexAt(p_triplet + 1, first);
        if (result != BUILD_OK) return result;
        if (first != p_start) {
            return malformed("Malformed geometry, element offsets out of order : ", _source.offset(p_triplet + 1));
        }
        for (size_t j = 1; j <= p_subs; ++j) {
            const size_t sub = p_triplet + j;
            size_t last = p_end - 1;
            if (j < p_subs) {
                result = vertexAt(sub + 1, last);
                if (result != BUILD_OK) return result;
                if (last <= first || last >= p_end) {
                    return malformed("Malformed geometry, element offsets out of order : ", _source.offset(sub + 1));
                }
            }
            const size_t count = last + 1 - first;
            const int offset = _source.offset(sub);
            if (_source.interpretation(sub) == SDO_INTERPRETATION_ARC_LINES) {
                result = arcString(first, count, j > 1, offset);
            } else if (count < 2) {
                return malformed("Malformed geometry, fewer than two vertices in the line element at offset : ",
                                 offset);
            } else {
                result = stored(j > 1 ? first + 1 : first, j > 1 ? count - 1 : count);
            }
            if (result != BUILD_OK) return result;
            first = last;
        }
        return BUILD_OK;
    }

    void beginPart(int p_role) {
        ensureParts(_buffers, _parts + 1);
        _buffers.partStart[_parts] = static_cast<int>(_count);
        _buffers.ringRole[_parts] = p_role;
        ++_parts;
    }

    bool grow(size_t p_count) {
        if (p_count > MAX_STROKED_VERTICES && p_count > _source.vertexCount + _source.triplets) return false;
        if (_buffers.x.size() < p_count) ensureVertices(_buffers, std::max(p_count, _buffers.x.size() * 2));
        return true;
    }

    BuildResult tooMany(size_t p_count) {
        return malformed("Too many vertices once the curves are stroked, use a larger arc limit : ",
                         static_cast<long long>(p_count));
    }

    BuildResult stored(size_t p_first, size_t p_count) {
        if (!grow(_count + p_count)) return tooMany(_count + p_count);
        BuildResult copied = copyVertices(_source, _target, p_first, p_count, _buffers, _count);
        if (copied == BUILD_OK) _count += p_count;
        return copied;
    }

    // Vertex p_vertex with its Z and M as stored, NaN for NULL.
    BuildResult readPoint(size_t p_vertex, tvCurvePoint& p_point) {
        const Number* ordinates = _source.ord.data() + p_vertex * _source.stride;
        if (ordinates[0].isNull() || ordinates[1].isNull()) {
            return malformed("Malformed geometry, NULL X or Y ordinate at vertex : ", static_cast<long long>(p_vertex));
        }
        const double nan = std::numeric_limits<double>::quiet_NaN();
        p_point.x = static_cast<double>(ordinates[0]);
        p_point.y = static_cast<double>(ordinates[1]);
        p_point.z = (_source.z && !ordinates[2].isNull()) ? static_cast<double>(ordinates[2]) : nan;
        const size_t mOffset = _source.z ? 3 : 2;
        p_point.m = (_source.m && !ordinates[mOffset].isNull()) ? static_cast<double>(ordinates[mOffset]) : nan;
        if (!std::isfinite(p_point.x) || !std::isfinite(p_point.y) ||
            (_source.z && !ordinates[2].isNull() && !std::isfinite(p_point.z)) ||
            (_source.m && !ordinates[mOffset].isNull() && !std::isfinite(p_point.m))) {
            return malformed("Malformed geometry, infinite or NaN ordinate at vertex : ",
                             static_cast<long long>(p_vertex));
        }
        return BUILD_OK;
    }

    // Appends the points gathered in the curve buffer.
    BuildResult flushCurve() {
        const std::vector<tvCurvePoint>& points = _buffers.curve;
        if (!grow(_count + points.size())) return tooMany(_count + points.size());
        const double nullVertex = g_shp_null_vertex;
        const bool takeZ = _target.z && _source.z;
        const bool takeM = _target.m && _source.m;
        const double missingZ = _target.z ? nullVertex : 0.0;
        const double missingM = _target.m ? nullVertex : 0.0;
        for (const tvCurvePoint& point : points) {
            _buffers.x[_count] = point.x;
            _buffers.y[_count] = point.y;
            _buffers.z[_count] = takeZ ? (std::isnan(point.z) ? nullVertex : point.z) : missingZ;
            _buffers.m[_count] = takeM ? (std::isnan(point.m) ? nullVertex : point.m) : missingM;
            ++_count;
        }
        _buffers.curve.clear();
        return BUILD_OK;
    }

    size_t room() const {
        const size_t used = _count + _buffers.curve.size();
        return used < MAX_STROKED_VERTICES ? MAX_STROKED_VERTICES - used : 0;
    }

    BuildResult curveFailure(tvCurveStatus p_status, int p_offset, bool p_circle) {
        switch (p_status) {
            case CURVE_COINCIDENT:
                return malformed("Malformed geometry, coincident points in the curve at offset : ", p_offset);
            case CURVE_COLLINEAR:
                return malformed(p_circle ? "Malformed geometry, circle through collinear points at offset : "
                                          : "Malformed geometry, arc with its middle point outside its ends "
                                            "at offset : ",
                                 p_offset);
            default: return tooMany(_count + _buffers.curve.size());
        }
    }

    // Arcs of three points each, every arc starting at the previous one's end.
    BuildResult arcString(size_t p_first, size_t p_count, bool p_skipFirst, int p_offset) {
        if (p_count < 3 || p_count % 2 == 0) {
            return malformed("Malformed geometry, arc string without an odd number of at least three "
                             "vertices at offset : ",
                             p_offset);
        }
        _buffers.curve.clear();
        tvCurvePoint a, b, c;
        BuildResult result = readPoint(p_first, a);
        if (result != BUILD_OK) return result;
        if (!p_skipFirst) _buffers.curve.push_back(a);
        for (size_t v = p_first + 1; v + 1 < p_first + p_count; v += 2) {
            result = readPoint(v, b);
            if (result == BUILD_OK) result = readPoint(v + 1, c);
            if (result != BUILD_OK) return result;
            tvCurveStatus status = tvStrokeArc(a, b, c, _settings.arcStep, room(), _buffers.curve);
            if (status != CURVE_OK) return curveFailure(status, p_offset, false);
            a = c;
        }
        return flushCurve();
    }

    BuildResult circle(size_t p_first, size_t p_count, int p_offset) {
        if (p_count != 3) return malformed("Malformed geometry, circle not given by three points at offset : ", p_offset);
        tvCurvePoint a, b, c;
        BuildResult result = readPoint(p_first, a);
        if (result == BUILD_OK) result = readPoint(p_first + 1, b);
        if (result == BUILD_OK) result = readPoint(p_first + 2, c);
        if (result != BUILD_OK) return result;
        _buffers.curve.clear();
        tvCurveStatus status = tvStrokeCircle(a, b, c, _settings.arcStep, room(), _buffers.curve);
        if (status != CURVE_OK) return curveFailure(status, p_offset, true);
        return flushCurve();
    }

    // Lower-left and upper-right corner: the five vertices of the ring. The
    // two new corners take the mean of the stored corners' Z and M.
    BuildResult rectangle(size_t p_first, size_t p_count, int p_offset) {
        if (p_count != 2) {
            return malformed("Malformed geometry, rectangle not given by two corners at offset : ", p_offset);
        }
        tvCurvePoint low, high;
        BuildResult result = readPoint(p_first, low);
        if (result == BUILD_OK) result = readPoint(p_first + 1, high);
        if (result != BUILD_OK) return result;
        tvCurvePoint right = {high.x, low.y, (low.z + high.z) / 2, (low.m + high.m) / 2};
        tvCurvePoint left = {low.x, high.y, right.z, right.m};
        _buffers.curve.assign({low, right, high, left, low});
        return flushCurve();
    }

    BuildResult endLine(int p_offset) {
        const size_t begin = static_cast<size_t>(_buffers.partStart[_parts - 1]);
        if (_count - begin < 2) {
            return malformed("Malformed geometry, fewer than two vertices in the line element at offset : ",
                             p_offset);
        }
        return BUILD_OK;
    }

    // Closes an open ring by repeating its first vertex, and requires three
    // distinct vertices.
    BuildResult endRing(int p_offset, bool p_close) {
        const size_t begin = static_cast<size_t>(_buffers.partStart[_parts - 1]);
        double* x = _buffers.x.data();
        double* y = _buffers.y.data();
        size_t distinct = 1;
        size_t second = begin;
        for (size_t v = begin + 1; v < _count && distinct < 3; ++v) {
            if (x[v] == x[begin] && y[v] == y[begin]) continue;
            if (distinct == 1) {
                distinct = 2;
                second = v;
            } else if (x[v] != x[second] || y[v] != y[second]) {
                distinct = 3;
            }
        }
        if (_count == begin || distinct < 3) {
            return malformed("Malformed geometry, fewer than three distinct vertices in the ring at offset : ",
                             p_offset);
        }
        if (p_close && (x[_count - 1] != x[begin] || y[_count - 1] != y[begin])) {
            if (!grow(_count + 1)) return tooMany(_count + 1);
            _buffers.x[_count] = _buffers.x[begin];
            _buffers.y[_count] = _buffers.y[begin];
            _buffers.z[_count] = _buffers.z[begin];
            _buffers.m[_count] = _buffers.m[begin];
            ++_count;
            ++_closed;
        }
        return BUILD_OK;
    }

    const Source& _source;
    const Target& _target;
    const tvConversionSettings& _settings;
    tvShapeBuffers& _buffers;
    size_t _count = 0;
    size_t _parts = 0;
    int _closed = 0;
};

// The parts of a line or polygon geometry, checked and assembled.
BuildResult buildParts(const Source& p_source, const Target& p_target,
                       const tvConversionSettings& p_settings, bool p_polygon, bool p_close,
                       tvShapeBuffers& p_buffers, Prepared& p_shape) {
    BuildResult checked = checkOrdinates(p_source);
    if (checked != BUILD_OK) return checked;
    if (p_source.vertexCount > static_cast<size_t>(INT_MAX) ||
        p_source.triplets > static_cast<size_t>(INT_MAX)) {
        return malformed("Malformed geometry, too many vertices : ",
                         static_cast<long long>(p_source.vertexCount));
    }
    Assembler assembler(p_source, p_target, p_settings, p_buffers);
    BuildResult built = assembler.run(p_polygon, p_close);
    if (built != BUILD_OK) return built;
    p_shape.type = p_target.type;
    p_shape.parts = static_cast<int>(assembler.parts());
    p_shape.vertices = static_cast<int>(assembler.vertices());
    p_shape.measured = p_target.alwaysM || (p_target.m && p_source.m);
    p_shape.partTypes = false;
    p_shape.closedRings = assembler.closedRings();
    if (p_target.kind == KIND_MULTIPOINT) p_shape.parts = 0;
    return BUILD_OK;
}

}  // namespace

BuildResult buildLine(const Source& p_source, const Target& p_target,
                      const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                      Prepared& p_shape) {
    if (g_log_level >= LOG_DEBUG) {
        tvLog("Entering createLineFromOrdinates", "", LOG_DEBUG);
        tvLog("Number of parts to line ", static_cast<int>(p_source.triplets), LOG_DEBUG);
        tvLog("Number of segments in entire line ", static_cast<int>(p_source.vertexCount), LOG_DEBUG);
    }
    // Under a forced type, a line's vertices may become the points of a multipoint.
    if (p_target.kind != KIND_LINE && !(p_settings.forced && p_target.kind == KIND_MULTIPOINT)) {
        return kindMismatch(KIND_LINE, p_source.z, p_source.m, p_target);
    }
    if (checkElements(p_source, false, p_settings.arcStep > 0) != BUILD_OK) return BUILD_FAILED;
    return buildParts(p_source, p_target, p_settings, false, false, p_buffers, p_shape);
}

BuildResult buildPolygon(const Source& p_source, const Target& p_target,
                         const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                         Prepared& p_shape) {
    // Under a forced type, rings may become closed lines, and vertices points.
    const bool rings = p_target.kind == KIND_POLYGON || p_target.kind == KIND_MULTIPATCH;
    const bool asLines = p_settings.forced && p_target.kind == KIND_LINE;
    const bool asPoints = p_settings.forced && p_target.kind == KIND_MULTIPOINT;
    if (!rings && !asLines && !asPoints) return kindMismatch(KIND_POLYGON, p_source.z, p_source.m, p_target);
    if (checkElements(p_source, true, p_settings.arcStep > 0) != BUILD_OK) return BUILD_FAILED;
    BuildResult built = buildParts(p_source, p_target, p_settings, true, !asPoints, p_buffers, p_shape);
    if (built == BUILD_OK) p_shape.rings = rings;
    return built;
}

void finishRings(const Target& p_target, tvShapeBuffers& p_buffers, Prepared& p_shape) {
    if (!p_shape.rings) return;
    // The Z and M of a 2D shape are all 0.0 and are not written: they are
    // left as they are.
    tvOrientRings(static_cast<size_t>(p_shape.parts), p_buffers.partStart.data(),
                  static_cast<size_t>(p_shape.vertices), p_buffers.ringRole.data(), p_buffers.x.data(),
                  p_buffers.y.data(), p_target.z ? p_buffers.z.data() : nullptr,
                  p_target.m ? p_buffers.m.data() : nullptr);
    if (p_target.kind == KIND_MULTIPATCH) setMultipatchPartTypes(p_buffers, p_shape);
    p_shape.rings = false;
}

}  // namespace tvgeom
