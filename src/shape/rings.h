// Roles and orientation of polygon rings.
#ifndef TARVEX_SHAPE_RINGS_H
#define TARVEX_SHAPE_RINGS_H

#include <cstddef>

const int TV_RING_UNKNOWN = 0;  // role decided by nesting
const int TV_RING_OUTER = 1;
const int TV_RING_INNER = 2;

// Gives every ring of unknown role its role by nesting (a ring whose first
// vertex lies inside an odd number of other rings is a hole), then turns
// exterior rings clockwise and holes counter-clockwise, moving Z and M (when
// not null) with their vertices. Ring i holds the vertices from p_starts[i]
// up to the next ring's start, the last ring up to p_total. Nesting uses a
// bounding-box index, so that many disjoint rings cost n log n.
void tvOrientRings(size_t p_parts, const int* p_starts, size_t p_total, int* p_roles, double* p_x,
                   double* p_y, double* p_z, double* p_m);

#endif
