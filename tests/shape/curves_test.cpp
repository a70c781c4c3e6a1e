// Stroking of arcs and circles, and the roles and orientation of rings.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "shape/curves.h"
#include "shape/rings.h"

namespace {

const double PI = 3.14159265358979323846;
const double NaN = std::numeric_limits<double>::quiet_NaN();

tvCurvePoint at(double p_x, double p_y, double p_z = 0, double p_m = 0) { return {p_x, p_y, p_z, p_m}; }

tvCurvePoint onCircle(double p_cx, double p_cy, double p_r, double p_degrees, double p_z = 0) {
    return at(p_cx + p_r * std::cos(p_degrees * PI / 180), p_cy + p_r * std::sin(p_degrees * PI / 180), p_z);
}

// The angle in degrees that the segment from p_a to p_b spans around the centre.
double spanned(const tvCurvePoint& p_a, const tvCurvePoint& p_b, double p_cx, double p_cy) {
    double a = std::atan2(p_a.y - p_cy, p_a.x - p_cx);
    double b = std::atan2(p_b.y - p_cy, p_b.x - p_cx);
    double d = std::fabs(b - a);
    if (d > PI) d = 2 * PI - d;
    return d * 180 / PI;
}

bool same(const tvCurvePoint& p_a, const tvCurvePoint& p_b) {
    return p_a.x == p_b.x && p_a.y == p_b.y && p_a.z == p_b.z;
}

TEST(Curves, ArcsKeepTheirPointsAndNoSegmentSpansMoreThanTheLimit) {
    // Large coordinates, both directions, arcs of every size up to nearly a circle.
    const double cx = 536200, cy = 180000, r = 50;
    struct Case {
        double from, mid, to, sweep;
    };
    const Case cases[] = {{0, 45, 90, 90}, {90, 45, 0, 90}, {10, 200, 350, 340}, {-170, 0, 170, 340}, {0, 1, 2, 2}};
    for (double limit : {1.0, 10.0, 90.0}) {
        for (const Case& c : cases) {
            tvCurvePoint a = onCircle(cx, cy, r, c.from, 0);
            tvCurvePoint b = onCircle(cx, cy, r, c.mid, 10);
            tvCurvePoint e = onCircle(cx, cy, r, c.to, 30);
            std::vector<tvCurvePoint> out;
            ASSERT_EQ(tvStrokeArc(a, b, e, limit * PI / 180, 100000, out), CURVE_OK);
            ASSERT_GE(out.size(), 2u);
            EXPECT_TRUE(same(out.back(), e));
            size_t middle = out.size();
            for (size_t i = 0; i < out.size(); ++i) {
                if (same(out[i], b)) middle = i;
            }
            ASSERT_LT(middle, out.size()) << "the middle point is a vertex";
            std::vector<tvCurvePoint> chain = {a};
            chain.insert(chain.end(), out.begin(), out.end());
            double total = 0;
            for (size_t i = 1; i < chain.size(); ++i) {
                double step = spanned(chain[i - 1], chain[i], cx, cy);
                EXPECT_LE(step, limit * (1 + 1e-9)) << c.from << " " << c.mid << " " << c.to;
                total += step;
                EXPECT_NEAR(std::hypot(chain[i].x - cx, chain[i].y - cy), r, 1e-6);
                // Z between its stored neighbours: 0..10 before the middle, 10..30 after.
                const bool before = i <= middle + 1;
                EXPECT_GE(chain[i].z, before ? 0 : 10);
                EXPECT_LE(chain[i].z, before ? 10 : 30);
            }
            EXPECT_NEAR(total, c.sweep, 1e-6) << c.from;
        }
    }
}

TEST(Curves, InterpolationFollowsTheAngleAndNullsSpread) {
    tvCurvePoint a = at(1, 0, 0, NaN);
    tvCurvePoint b = onCircle(0, 0, 1, 45, 45);
    b.m = NaN;
    tvCurvePoint c = onCircle(0, 0, 1, 90, 90);
    c.m = 7;
    std::vector<tvCurvePoint> out;
    ASSERT_EQ(tvStrokeArc(a, b, c, 15 * PI / 180, 1000, out), CURVE_OK);
    ASSERT_EQ(out.size(), 6u);  // 3 segments each side
    for (const tvCurvePoint& p : out) {
        double degrees = std::atan2(p.y, p.x) * 180 / PI;
        EXPECT_NEAR(p.z, degrees, 1e-9);  // Z equal to the angle, as stored at the three points
        EXPECT_TRUE(std::isnan(p.m) || &p == &out.back());
    }
    EXPECT_EQ(out.back().m, 7);
}

TEST(Curves, StraightCoincidentAndOversizedArcs) {
    std::vector<tvCurvePoint> out;
    // Collinear points, middle between: two straight segments.
    ASSERT_EQ(tvStrokeArc(at(0, 0), at(1, 1), at(3, 3), 0.1, 100, out), CURVE_OK);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(same(out[0], at(1, 1)));
    EXPECT_TRUE(same(out[1], at(3, 3)));
    out.clear();
    // Middle point outside its ends, or repeated points: no arc, nothing added.
    EXPECT_EQ(tvStrokeArc(at(0, 0), at(4, 4), at(3, 3), 0.1, 100, out), CURVE_COLLINEAR);
    EXPECT_EQ(tvStrokeArc(at(0, 0), at(0, 0), at(3, 3), 0.1, 100, out), CURVE_COINCIDENT);
    EXPECT_EQ(tvStrokeArc(at(0, 0), at(1, 1), at(0, 0), 0.1, 100, out), CURVE_COINCIDENT);
    EXPECT_EQ(tvStrokeCircle(at(0, 0), at(1, 1), at(2, 2), 0.1, 100, out), CURVE_COLLINEAR);
    EXPECT_EQ(tvStrokeCircle(at(0, 0), at(1, 1), at(1, 1), 0.1, 100, out), CURVE_COINCIDENT);
    // A limit too fine for the vertex budget.
    EXPECT_EQ(tvStrokeArc(at(1, 0), at(0, 1), at(-1, 0), 1e-9, 100000, out), CURVE_TOO_MANY);
    EXPECT_EQ(tvStrokeCircle(at(1, 0), at(0, 1), at(-1, 0), 1e-9, 100000, out), CURVE_TOO_MANY);
    // Overflowing coordinates give no circle.
    EXPECT_EQ(tvStrokeCircle(at(-1e308, 0), at(1e308, 1), at(0, 1e308), 0.1, 100, out), CURVE_COLLINEAR);
    EXPECT_TRUE(out.empty());
}

TEST(Curves, TheVertexBudgetHoldsExactlyAtItsBoundary) {
    // Quarter, quarter and half circle at 10 degrees a segment: 9 + 9 + 18
    // segments, so the ring has 37 vertices and the arc adds 18 points.
    const double step = 10 * PI / 180;
    struct Case {
        bool circle;
        size_t limit;
        tvCurveStatus expected;
        size_t added;
    };
    for (const Case& c : {Case{true, 37, CURVE_OK, 37}, Case{true, 36, CURVE_TOO_MANY, 0},
                          Case{false, 18, CURVE_OK, 18}, Case{false, 17, CURVE_TOO_MANY, 0}}) {
        std::vector<tvCurvePoint> out(1, at(9, 9));
        const tvCurveStatus status = c.circle ? tvStrokeCircle(at(1, 0), at(0, 1), at(-1, 0), step, c.limit, out)
                                              : tvStrokeArc(at(1, 0), at(0, 1), at(-1, 0), step, c.limit, out);
        EXPECT_EQ(status, c.expected) << c.circle << " " << c.limit;
        EXPECT_EQ(out.size(), 1 + c.added) << c.circle << " " << c.limit;
    }
}

TEST(Curves, CirclesAreClosedRingsThroughTheirThreePoints) {
    const double r = 50;
    tvCurvePoint a = onCircle(536250, 180050, r, -90);
    tvCurvePoint b = onCircle(536250, 180050, r, 0);
    tvCurvePoint c = onCircle(536250, 180050, r, 90);
    for (double limit : {1.0, 10.0}) {
        std::vector<tvCurvePoint> out;
        ASSERT_EQ(tvStrokeCircle(a, b, c, limit * PI / 180, 100000, out), CURVE_OK);
        EXPECT_TRUE(same(out.front(), a));
        EXPECT_TRUE(same(out.back(), a));
        double area = 0;
        int seen = 0;
        for (size_t i = 0; i + 1 < out.size(); ++i) {
            area += (out[i].x - a.x) * (out[i + 1].y - a.y) - (out[i + 1].x - a.x) * (out[i].y - a.y);
            EXPECT_LE(spanned(out[i], out[i + 1], 536250, 180050), limit * (1 + 1e-9));
            if (same(out[i], b)) seen = seen == 0 ? 1 : seen;
            if (same(out[i], c) && seen == 1) seen = 2;
        }
        EXPECT_EQ(seen, 2) << "b, then c";
        area /= 2;
        EXPECT_GT(area, 0) << "counter-clockwise, as the three points";
        if (limit == 1.0) {
            EXPECT_NEAR(area, PI * r * r, PI * r * r * 0.001);
        }
    }
    // Given clockwise, the ring runs clockwise.
    std::vector<tvCurvePoint> out;
    ASSERT_EQ(tvStrokeCircle(c, b, a, 0.1, 100000, out), CURVE_OK);
    double area = 0;
    for (size_t i = 0; i + 1 < out.size(); ++i) area += out[i].x * out[i + 1].y - out[i + 1].x * out[i].y;
    EXPECT_LT(area, 0);
}

// Rings as flat arrays for tvOrientRings.
struct RingSet {
    std::vector<double> x, y, z, m;
    std::vector<int> starts, roles;
    void add(std::vector<double> p_xy, int p_role) {
        starts.push_back(static_cast<int>(x.size()));
        roles.push_back(p_role);
        for (size_t i = 0; i < p_xy.size(); i += 2) {
            x.push_back(p_xy[i]);
            y.push_back(p_xy[i + 1]);
            z.push_back(static_cast<double>(z.size()));
            m.push_back(0);
        }
    }
    void orient() {
        tvOrientRings(starts.size(), starts.data(), x.size(), roles.data(), x.data(), y.data(), z.data(), m.data());
    }
    double area(size_t p_ring) const {
        size_t b = static_cast<size_t>(starts[p_ring]);
        size_t e = p_ring + 1 < starts.size() ? static_cast<size_t>(starts[p_ring + 1]) : x.size();
        double a = 0;
        for (size_t i = b; i + 1 < e; ++i) a += x[i] * y[i + 1] - x[i + 1] * y[i];
        return a;
    }
};

std::vector<double> square(double p_x, double p_y, double p_size) {
    return {p_x, p_y, p_x + p_size, p_y, p_x + p_size, p_y + p_size, p_x, p_y + p_size, p_x, p_y};
}

TEST(Rings, NestingGivesRolesAndOrientationFollows) {
    RingSet set;
    set.add(square(0, 0, 100), TV_RING_UNKNOWN);  // exterior
    set.add(square(10, 10, 50), TV_RING_UNKNOWN);  // hole
    set.add(square(20, 20, 10), TV_RING_UNKNOWN);  // island in the hole
    set.add(square(200, 0, 10), TV_RING_UNKNOWN);  // separate exterior
    set.add(square(300, 0, 10), TV_RING_INNER);    // role as given
    set.orient();
    EXPECT_EQ(set.roles, std::vector<int>({TV_RING_OUTER, TV_RING_INNER, TV_RING_OUTER, TV_RING_OUTER, TV_RING_INNER}));
    EXPECT_LT(set.area(0), 0);
    EXPECT_GT(set.area(1), 0);
    EXPECT_LT(set.area(2), 0);
    EXPECT_GT(set.area(4), 0);
    // Z moved with the vertices of the reversed exterior.
    EXPECT_EQ(set.z[0], 4);
    EXPECT_EQ(set.z[1], 3);
    EXPECT_EQ(set.z[4], 0);
}

TEST(Rings, ManyRingsInAGridUnderOneExterior) {
    RingSet set;
    set.add(square(-1, -1, 1000), TV_RING_UNKNOWN);
    for (int i = 0; i < 200; ++i) {
        for (int j = 0; j < 200; ++j) set.add(square(i * 4.0, j * 4.0, 2), TV_RING_UNKNOWN);
    }
    set.orient();
    EXPECT_EQ(set.roles[0], TV_RING_OUTER);
    size_t holes = 0;
    for (size_t i = 1; i < set.roles.size(); ++i) holes += set.roles[i] == TV_RING_INNER ? 1 : 0;
    EXPECT_EQ(holes, 40000u);
}

}  // namespace
