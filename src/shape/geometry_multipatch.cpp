// Multipatch: polygons written with their rings' roles as part types.
#include <shapefil.h>

#include "shape/geometry_parts.h"
#include "shape/rings.h"

namespace tvgeom {

// With holes, every exterior ring starts a polygon as an outer ring and
// every hole is an inner ring; without, all are plain rings.
void setMultipatchPartTypes(tvShapeBuffers& p_buffers, Prepared& p_shape) {
    const size_t parts = static_cast<size_t>(p_shape.parts);
    const int* roles = p_buffers.ringRole.data();
    bool holes = false;
    for (size_t i = 0; i < parts; ++i) holes = holes || roles[i] == TV_RING_INNER;
    int* types = p_buffers.partType.data();
    for (size_t i = 0; i < parts; ++i) {
        types[i] = !holes ? SHPP_RING : (roles[i] == TV_RING_INNER ? SHPP_INNERRING : SHPP_OUTERRING);
    }
    p_shape.partTypes = true;
}

}  // namespace tvgeom
