// Benchmark of the ring nesting: one polygon geometry of 40,001 rings of
// element type 3 (roles by nesting), a square exterior around a 200 x 200
// grid of small square holes, converted and written into a shapefile.
// Prints the conversion time; not part of the test suite.
//
//     bench_rings [OUTPUT_BASE]     (default /tmp/tarvex-bench-rings)
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "shape/shape_writer.h"

using oracle::occi::Number;

namespace {

const int GRID = 200;

void square(std::vector<Number>& p_ordinates, double p_x, double p_y, double p_size) {
    const double corners[] = {p_x, p_y, p_x + p_size, p_y, p_x + p_size, p_y + p_size, p_x, p_y + p_size, p_x, p_y};
    for (double value : corners) p_ordinates.push_back(Number(value));
}

}  // namespace

int main(int argc, char** argv) {
    g_log_level = LOG_ERROR;
    const std::string base = argc > 1 ? argv[1] : "/tmp/tarvex-bench-rings";
    std::vector<Number> ordinates;
    square(ordinates, -1, -1, GRID * 4 + 1);
    for (int i = 0; i < GRID; ++i) {
        for (int j = 0; j < GRID; ++j) square(ordinates, i * 4.0, j * 4.0, 2);
    }
    std::vector<Number> elemInfo;
    for (size_t ring = 0; ring < ordinates.size() / 10; ++ring) {
        elemInfo.push_back(Number(static_cast<int>(ring * 10 + 1)));
        elemInfo.push_back(Number(3));
        elemInfo.push_back(Number(1));
    }
    SDOGeometry* geometry = new SDOGeometry();
    geometry->setSdo_gtype(Number(2003));
    geometry->setSdo_elem_info(elemInfo);
    geometry->setSdo_ordinates(ordinates);

    tvShapeWriter writer;
    if (!writer.createShapeFile(base, 5, {}, "GEOM", -1)) return 1;
    const auto start = std::chrono::steady_clock::now();
    const bool written = writer.writeShapeGeometry(geometry);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    writer.closeShapeFile();
    delete geometry;
    for (const char* extension : {".shp", ".shx", ".dbf", ".cpg"}) std::remove((base + extension).c_str());
    if (!written) {
        std::printf("rings: the geometry was not written\n");
        return 1;
    }
    std::printf("rings      %9zu  tarvex   %8.3f s to convert one geometry of type-3 rings\n",
                elemInfo.size() / 3, seconds);
    return 0;
}
