// Circular arcs and circles as chains of straight segments.
//
// An arc is given by three points: its start, a point on it, and its end;
// a circle by three distinct points on it. Stroking replaces each arc by
// segments that span at most a given angle each, keeping the three given
// points as exact vertices. Z and M are interpolated linearly by angle
// between the given vertices; a NaN Z or M (a NULL one) makes every
// interpolated value next to it NaN.
#ifndef TARVEX_SHAPE_CURVES_H
#define TARVEX_SHAPE_CURVES_H

#include <cstddef>
#include <vector>

struct tvCurvePoint {
    double x, y, z, m;
};

enum tvCurveStatus {
    CURVE_OK,
    CURVE_COINCIDENT,  // two of the three points are the same
    CURVE_COLLINEAR,   // no circle through the points (a circle's, or an arc's middle point
                       // outside the segment between its ends)
    CURVE_TOO_MANY     // more vertices than p_limit allows
};

// Appends to p_out the arc from p_a through p_b to p_c, without p_a and
// ending exactly with p_b's and p_c's values: p_b and p_c themselves, and
// the points between them, so that no segment spans more than p_step
// radians of the circle. Collinear points with p_b between p_a and p_c give
// the two straight segments. p_out is left unchanged unless the result is
// CURVE_OK; the arc may add at most p_limit points.
tvCurveStatus tvStrokeArc(const tvCurvePoint& p_a, const tvCurvePoint& p_b,
                          const tvCurvePoint& p_c, double p_step, size_t p_limit,
                          std::vector<tvCurvePoint>& p_out);

// Appends to p_out the closed ring of the circle through p_a, p_b and p_c,
// starting with p_a, passing p_b and p_c in that order and ending with p_a
// again, no segment spanning more than p_step radians.
tvCurveStatus tvStrokeCircle(const tvCurvePoint& p_a, const tvCurvePoint& p_b,
                             const tvCurvePoint& p_c, double p_step, size_t p_limit,
                             std::vector<tvCurvePoint>& p_out);

#endif
