#include "shape/curves.h"

#include <cmath>

namespace {

const double TWO_PI = 6.283185307179586476925286766559;

// The circle through three points, and the direction in which they follow
// one another on it (+1 counter-clockwise, -1 clockwise).
struct Circle {
    double cx, cy, r, orient;
};

bool samePlace(const tvCurvePoint& p_a, const tvCurvePoint& p_b) {
    return p_a.x == p_b.x && p_a.y == p_b.y;
}

tvCurveStatus circleThrough(const tvCurvePoint& p_a, const tvCurvePoint& p_b,
                            const tvCurvePoint& p_c, Circle& p_circle) {
    if (samePlace(p_a, p_b) || samePlace(p_b, p_c) || samePlace(p_a, p_c)) return CURVE_COINCIDENT;
    // Relative to p_a, to keep the digits of large coordinates.
    const double bx = p_b.x - p_a.x, by = p_b.y - p_a.y;
    const double cx = p_c.x - p_a.x, cy = p_c.y - p_a.y;
    const double cross = bx * cy - by * cx;
    // Points this close to a line lie on no circle worth drawing.
    if (!(std::fabs(cross) > 1e-12 * std::hypot(bx, by) * std::hypot(cx, cy))) return CURVE_COLLINEAR;
    const double b2 = bx * bx + by * by;
    const double c2 = cx * cx + cy * cy;
    const double ux = (cy * b2 - by * c2) / (2.0 * cross);
    const double uy = (bx * c2 - cx * b2) / (2.0 * cross);
    p_circle.cx = p_a.x + ux;
    p_circle.cy = p_a.y + uy;
    p_circle.r = std::hypot(ux, uy);
    p_circle.orient = cross > 0 ? 1.0 : -1.0;
    if (!std::isfinite(p_circle.cx) || !std::isfinite(p_circle.cy) || !std::isfinite(p_circle.r)) {
        return CURVE_COLLINEAR;
    }
    return CURVE_OK;
}

double angleOf(const Circle& p_circle, const tvCurvePoint& p_point) {
    return std::atan2(p_point.y - p_circle.cy, p_point.x - p_circle.cx);
}

// The angle swept from p_from to p_to in the circle's direction, in [0, 2 pi).
double sweep(const Circle& p_circle, const tvCurvePoint& p_from, const tvCurvePoint& p_to) {
    double turn = (angleOf(p_circle, p_to) - angleOf(p_circle, p_from)) * p_circle.orient;
    turn = std::fmod(turn, TWO_PI);
    if (turn < 0) turn += TWO_PI;
    return turn;
}

// Segments needed for p_sweep radians; 0 when more than p_limit.
double segmentsFor(double p_sweep, double p_step, size_t p_limit) {
    // A sweep that is a whole number of steps, but for rounding, takes that number.
    double segments = std::ceil(p_sweep / p_step * (1 - 1e-12));
    if (!(segments >= 1.0)) segments = 1.0;
    if (segments > static_cast<double>(p_limit)) return 0.0;
    return segments;
}

// Appends the points after p_from up to p_to (exactly p_to at the end).
void emitSub(const Circle& p_circle, const tvCurvePoint& p_from, const tvCurvePoint& p_to,
             double p_sweep, double p_segments, std::vector<tvCurvePoint>& p_out) {
    const double start = angleOf(p_circle, p_from);
    const size_t count = static_cast<size_t>(p_segments);
    for (size_t k = 1; k < count; ++k) {
        const double t = static_cast<double>(k) / p_segments;
        const double angle = start + p_circle.orient * p_sweep * t;
        tvCurvePoint point;
        point.x = p_circle.cx + p_circle.r * std::cos(angle);
        point.y = p_circle.cy + p_circle.r * std::sin(angle);
        point.z = p_from.z + (p_to.z - p_from.z) * t;
        point.m = p_from.m + (p_to.m - p_from.m) * t;
        p_out.push_back(point);
    }
    p_out.push_back(p_to);
}

}  // namespace

tvCurveStatus tvStrokeArc(const tvCurvePoint& p_a, const tvCurvePoint& p_b,
                          const tvCurvePoint& p_c, double p_step, size_t p_limit,
                          std::vector<tvCurvePoint>& p_out) {
    Circle circle;
    tvCurveStatus status = circleThrough(p_a, p_b, p_c, circle);
    if (status == CURVE_COLLINEAR) {
        // A straight arc: its middle point must lie between its ends.
        const double bx = p_b.x - p_a.x, by = p_b.y - p_a.y;
        const double cx = p_c.x - p_a.x, cy = p_c.y - p_a.y;
        const double along = bx * cx + by * cy;
        if (!(along > 0 && along < cx * cx + cy * cy)) return CURVE_COLLINEAR;
        if (p_limit < 2) return CURVE_TOO_MANY;
        p_out.push_back(p_b);
        p_out.push_back(p_c);
        return CURVE_OK;
    }
    if (status != CURVE_OK) return status;
    const double first = sweep(circle, p_a, p_b);
    const double second = sweep(circle, p_b, p_c);
    const double n1 = segmentsFor(first, p_step, p_limit);
    const double n2 = segmentsFor(second, p_step, p_limit);
    if (n1 == 0.0 || n2 == 0.0 || n1 + n2 > static_cast<double>(p_limit)) return CURVE_TOO_MANY;
    emitSub(circle, p_a, p_b, first, n1, p_out);
    emitSub(circle, p_b, p_c, second, n2, p_out);
    return CURVE_OK;
}

tvCurveStatus tvStrokeCircle(const tvCurvePoint& p_a, const tvCurvePoint& p_b,
                             const tvCurvePoint& p_c, double p_step, size_t p_limit,
                             std::vector<tvCurvePoint>& p_out) {
    Circle circle;
    tvCurveStatus status = circleThrough(p_a, p_b, p_c, circle);
    if (status != CURVE_OK) return status;
    const double first = sweep(circle, p_a, p_b);
    const double second = sweep(circle, p_b, p_c);
    const double third = sweep(circle, p_c, p_a);
    const double n1 = segmentsFor(first, p_step, p_limit);
    const double n2 = segmentsFor(second, p_step, p_limit);
    const double n3 = segmentsFor(third, p_step, p_limit);
    if (n1 == 0.0 || n2 == 0.0 || n3 == 0.0 || n1 + n2 + n3 + 1 > static_cast<double>(p_limit)) {
        return CURVE_TOO_MANY;
    }
    p_out.push_back(p_a);
    emitSub(circle, p_a, p_b, first, n1, p_out);
    emitSub(circle, p_b, p_c, second, n2, p_out);
    emitSub(circle, p_c, p_a, third, n3, p_out);
    return CURVE_OK;
}
