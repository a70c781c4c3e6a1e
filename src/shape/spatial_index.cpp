#include "shape/spatial_index.h"

#include <shapefil.h>

#include "diag/log.h"
#include "settings/settings.h"
#include "shape/buffered_io.h"

namespace {

// shapelib's own choice of depth for a file of p_records records (about
// eight records per node, at most MAX_DEFAULT_TREE_DEPTH levels): the depth
// SHPCreateTree picks when it reads the file itself, which it cannot be left
// to do here, since it hands a record it could not read to the tree as a
// null pointer.
int treeDepthFor(int p_records) {
    int depth = 0;
    long long nodes = 1;
    while (nodes * 4 < p_records) {
        ++depth;
        nodes *= 2;
    }
    return depth > MAX_DEFAULT_TREE_DEPTH ? MAX_DEFAULT_TREE_DEPTH : depth;
}

// Adds every record but the null shapes, which have no bounds to be found
// by; false when a record cannot be read.
bool addRecords(SHPHandle p_shp, int p_records, SHPTree* p_tree) {
    for (int i = 0; i < p_records; ++i) {
        SHPObject* object = SHPReadObject(p_shp, i);
        if (object == nullptr) {
            tvLog("Can't read back the record for the spatial index : ", i, LOG_ERROR);
            return false;
        }
        if (object->nSHPType != SHPT_NULL && object->nVertices > 0) SHPTreeAddShapeId(p_tree, object);
        SHPDestroyObject(object);
    }
    return true;
}

}  // namespace

bool tvSpatialIndexRequested() {
    auto found = g_args.find("index");
    return found != g_args.end() && found->second == "yes";
}

bool tvWriteSpatialIndex(const std::string& p_base) {
    SAHooks hooks = tvBufferedHooks();
    const std::string shp = p_base + ".shp";
    SHPHandle handle = SHPOpenLL(shp.c_str(), "rb", &hooks);
    if (handle == nullptr) {
        tvLog("Can't read back the shapefile for its spatial index : ", shp, LOG_ERROR);
        return false;
    }
    int records = 0;
    double boundsMin[4] = {0, 0, 0, 0};
    double boundsMax[4] = {0, 0, 0, 0};
    SHPGetInfo(handle, &records, nullptr, boundsMin, boundsMax);
    SHPTree* tree = SHPCreateTree(nullptr, 2, treeDepthFor(records), boundsMin, boundsMax);
    bool result = tree != nullptr && addRecords(handle, records, tree);
    SHPClose(handle);

    const std::string qix = p_base + ".qix";
    if (result) {
        SHPTreeTrimExtraNodes(tree);
        result = SHPWriteTreeLL(tree, qix.c_str(), &hooks) != 0 && !tvIOFailed();
        if (!result) tvLog("Can't write the spatial index : ", qix, LOG_ERROR);
    } else if (tree == nullptr) {
        tvLog("Can't build the spatial index, out of memory : ", qix, LOG_ERROR);
    }
    if (tree != nullptr) SHPDestroyTree(tree);
    if (result) tvLog("Written spatial index : ", qix, LOG_DETAILED);
    return result;
}

bool tvWriteRequestedSpatialIndex(const std::string& p_base) {
    return !tvSpatialIndexRequested() || tvWriteSpatialIndex(p_base);
}
