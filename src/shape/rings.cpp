#include "shape/rings.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Twice the signed area of a ring: positive when counter-clockwise.
double ringArea(const double* p_x, const double* p_y, size_t p_count) {
    if (p_count < 3) return 0.0;
    const double x0 = p_x[0];
    const double y0 = p_y[0];
    double area = 0.0;
    for (size_t i = 1; i + 1 < p_count; ++i) {
        area += (p_x[i] - x0) * (p_y[i + 1] - y0) - (p_x[i + 1] - x0) * (p_y[i] - y0);
    }
    return area;
}

bool pointInRing(double p_px, double p_py, const double* p_x, const double* p_y, size_t p_count) {
    bool inside = false;
    for (size_t i = 0, j = p_count - 1; i < p_count; j = i++) {
        if ((p_y[i] > p_py) != (p_y[j] > p_py)) {
            double crossing = p_x[i] + (p_py - p_y[i]) * (p_x[j] - p_x[i]) / (p_y[j] - p_y[i]);
            if (p_px < crossing) inside = !inside;
        }
    }
    return inside;
}

void reverseRange(double* p_values, size_t p_begin, size_t p_end) {
    if (p_values == nullptr || p_end - p_begin < 2) return;
    std::reverse(p_values + p_begin, p_values + p_end);
}

struct Box {
    double minX, minY, maxX, maxY;
    bool contains(double p_x, double p_y) const {
        return p_x >= minX && p_x <= maxX && p_y >= minY && p_y <= maxY;
    }
};

// A packed tree of bounding boxes (sort-tile-recursive leaves, FAN boxes a
// node), built once and asked which boxes contain a point.
class BoxTree {
public:
    explicit BoxTree(const std::vector<Box>& p_boxes) {
        const size_t n = p_boxes.size();
        _items.resize(n);
        for (size_t i = 0; i < n; ++i) _items[i] = i;
        // Vertical slabs of about sqrt(n / FAN) leaves each, sorted by Y within.
        auto centreX = [&](size_t i) { return p_boxes[i].minX + p_boxes[i].maxX; };
        auto centreY = [&](size_t i) { return p_boxes[i].minY + p_boxes[i].maxY; };
        std::sort(_items.begin(), _items.end(), [&](size_t a, size_t b) { return centreX(a) < centreX(b); });
        const size_t leaves = (n + FAN - 1) / FAN;
        const size_t slab = FAN * static_cast<size_t>(std::ceil(std::sqrt(static_cast<double>(leaves))));
        for (size_t begin = 0; begin < n; begin += slab) {
            const size_t end = std::min(n, begin + slab);
            std::sort(_items.begin() + static_cast<long>(begin), _items.begin() + static_cast<long>(end),
                      [&](size_t a, size_t b) { return centreY(a) < centreY(b); });
        }
        std::vector<Box> level(n);
        for (size_t i = 0; i < n; ++i) level[i] = p_boxes[_items[i]];
        _levels.push_back(level);
        while (_levels.back().size() > 1) {
            const std::vector<Box>& below = _levels.back();
            std::vector<Box> above((below.size() + FAN - 1) / FAN);
            for (size_t i = 0; i < above.size(); ++i) {
                Box box = below[i * FAN];
                for (size_t j = i * FAN + 1; j < std::min(below.size(), (i + 1) * FAN); ++j) {
                    box.minX = std::min(box.minX, below[j].minX);
                    box.minY = std::min(box.minY, below[j].minY);
                    box.maxX = std::max(box.maxX, below[j].maxX);
                    box.maxY = std::max(box.maxY, below[j].maxY);
                }
                above[i] = box;
            }
            _levels.push_back(above);
        }
    }

    // Calls p_visit(item) for every box that contains the point.
    template <class Visit>
    void query(double p_x, double p_y, Visit p_visit) const {
        if (_levels.empty() || _levels[0].empty()) return;
        visit(_levels.size() - 1, 0, p_x, p_y, p_visit);
    }

private:
    static const size_t FAN = 16;

    template <class Visit>
    void visit(size_t p_level, size_t p_node, double p_x, double p_y, Visit& p_visit) const {
        if (!_levels[p_level][p_node].contains(p_x, p_y)) return;
        if (p_level == 0) {
            p_visit(_items[p_node]);
            return;
        }
        const size_t end = std::min(_levels[p_level - 1].size(), (p_node + 1) * FAN);
        for (size_t child = p_node * FAN; child < end; ++child) visit(p_level - 1, child, p_x, p_y, p_visit);
    }

    std::vector<size_t> _items;             // box index in leaf order
    std::vector<std::vector<Box>> _levels;  // leaves first
};

}  // namespace

void tvOrientRings(size_t p_parts, const int* p_starts, size_t p_total, int* p_roles, double* p_x,
                   double* p_y, double* p_z, double* p_m) {
    auto ringBegin = [&](size_t i) { return static_cast<size_t>(p_starts[i]); };
    auto ringEnd = [&](size_t i) {
        return i + 1 < p_parts ? static_cast<size_t>(p_starts[i + 1]) : p_total;
    };

    bool nestingNeeded = false;
    for (size_t i = 0; i < p_parts; ++i) {
        if (p_roles[i] == TV_RING_UNKNOWN) nestingNeeded = true;
    }
    if (nestingNeeded) {
        std::vector<Box> boxes(p_parts);
        for (size_t i = 0; i < p_parts; ++i) {
            const size_t b = ringBegin(i);
            const size_t e = ringEnd(i);
            Box box = {HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
            // Rings too short to contain anything get an empty box.
            if (e - b >= 3) {
                box = {p_x[b], p_y[b], p_x[b], p_y[b]};
                for (size_t v = b + 1; v < e; ++v) {
                    box.minX = std::min(box.minX, p_x[v]);
                    box.maxX = std::max(box.maxX, p_x[v]);
                    box.minY = std::min(box.minY, p_y[v]);
                    box.maxY = std::max(box.maxY, p_y[v]);
                }
            }
            boxes[i] = box;
        }
        const BoxTree tree(boxes);
        for (size_t i = 0; i < p_parts; ++i) {
            if (p_roles[i] != TV_RING_UNKNOWN) continue;
            const size_t b = ringBegin(i);
            if (b >= ringEnd(i)) {
                p_roles[i] = TV_RING_OUTER;
                continue;
            }
            int depth = 0;
            tree.query(p_x[b], p_y[b], [&](size_t j) {
                if (j == i) return;
                const size_t jb = ringBegin(j);
                if (pointInRing(p_x[b], p_y[b], p_x + jb, p_y + jb, ringEnd(j) - jb)) ++depth;
            });
            p_roles[i] = (depth % 2 == 1) ? TV_RING_INNER : TV_RING_OUTER;
        }
    }

    for (size_t i = 0; i < p_parts; ++i) {
        const size_t b = ringBegin(i);
        const size_t e = ringEnd(i);
        const double area = ringArea(p_x + b, p_y + b, e - b);
        const bool reverse = (p_roles[i] == TV_RING_OUTER && area > 0.0) ||
                             (p_roles[i] == TV_RING_INNER && area < 0.0);
        if (reverse) {
            reverseRange(p_x, b, e);
            reverseRange(p_y, b, e);
            reverseRange(p_z, b, e);
            reverseRange(p_m, b, e);
        }
    }
}
