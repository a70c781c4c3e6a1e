"""tarvex end to end on curves and the geometry rules around them: arcs,
circles, rectangles and compound elements converted with -a and refused
without it; polygons forced into line and multipoint files; multipatch parts
and the inner-ring check; open rings closed. Outputs are read back with GDAL.
"""
import math
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

ROOT = None
DB = None


def sdo(gtype, elem, ords):
    return "SDO_GEOMETRY(%d, NULL, NULL, SDO_ELEM_INFO_ARRAY(%s), SDO_ORDINATE_ARRAY(%s))" % (
        gtype, ",".join(str(v) for v in elem), ",".join(repr(float(v)) for v in ords))


def on_circle(cx, cy, r, degrees):
    a = math.radians(degrees)
    return [cx + r * math.cos(a), cy + r * math.sin(a)]


# Every row: (id, gtype, element info, ordinates). Vertices are 2D unless the
# gtype says otherwise.
LINES = [
    (1, 2002, [1, 2, 2], [0, 0, 50, 50, 100, 0]),                                   # one arc
    (2, 2002, [1, 2, 2], [200, 0, 250, 50, 300, 0, 350, -50, 400, 0, 450, 50, 500, 0]),  # three arcs
    (3, 2002, [1, 4, 3, 1, 2, 1, 3, 2, 2, 7, 2, 1],
     [600, 0, 700, 0, 750, 50, 800, 0, 900, 0]),                                     # compound line
    (4, 2006, [1, 2, 2, 7, 2, 1], [0, 100, 50, 150, 100, 100, 200, 100, 300, 100]),  # arc and straight
]
CIRCLE_R = 100.0
POLYGONS = [
    (1, 2003, [1, 1003, 2], [0, 0, 50, -50, 100, 0, 50, 50, 0, 0]),                 # arc polygon
    (2, 2003, [1, 1003, 4], on_circle(1000, 1000, CIRCLE_R, -90) + on_circle(1000, 1000, CIRCLE_R, 30)
     + on_circle(1000, 1000, CIRCLE_R, 150)),                                       # circle
    (3, 2003, [1, 1003, 3, 5, 2003, 3], [0, 200, 100, 300, 20, 220, 40, 240]),      # rectangles
    (4, 2003, [1, 1005, 3, 1, 2, 1, 3, 2, 2, 7, 2, 1, 13, 2003, 1],
     [200, 200, 300, 200, 350, 250, 300, 300, 200, 300, 200, 200,
      220, 220, 220, 240, 240, 240, 240, 220, 220, 220]),                            # compound ring, hole
    (5, 2007, [1, 1003, 2, 11, 1003, 1],
     [400, 0, 450, -50, 500, 0, 450, 50, 400, 0, 600, 0, 700, 0, 700, 100, 600, 0]),  # arc ring + straight
]
LINES_Z = [(1, 3002, [1, 2, 2], [0, 0, 10, 50, 50, 20, 100, 0, 40, 150, -50, 35, 200, 0, 30])]
LINES_M = [(1, 3302, [1, 2, 2], [0, 0, 0, 50, 50, 5, 100, 0, 100])]

# Arcs of each row, as (start, middle, end) vertex indices.
ARCS = {
    ("curve_lines", 1): [(0, 1, 2)],
    ("curve_lines", 2): [(0, 1, 2), (2, 3, 4), (4, 5, 6)],
    ("curve_lines", 3): [(1, 2, 3)],
    ("curve_lines", 4): [(0, 1, 2)],
    ("curve_polys", 1): [(0, 1, 2), (2, 3, 4)],
    ("curve_polys", 2): [(0, 1, 2)],  # a circle: checked through its three points
    ("curve_polys", 4): [(1, 2, 3)],
    ("curve_polys", 5): [(0, 1, 2), (2, 3, 4)],
    ("curve_z", 1): [(0, 1, 2), (2, 3, 4)],
    ("curve_m", 1): [(0, 1, 2)],
}


def table_sql(name, rows):
    sql = "CREATE TABLE %s (id NUMBER(5), geom SDO_GEOMETRY);\n" % name
    for row_id, gtype, elem, ords in rows:
        sql += "INSERT INTO %s VALUES (%d, %s);\n" % (name, row_id, sdo(gtype, elem, ords))
    return sql


def fixture_sql():
    hole = [0, 0, 10, 0, 10, 10, 0, 10, 0, 0, 2, 2, 2, 4, 4, 4, 4, 2, 2, 2]
    second = [v + 20 if i % 2 == 0 else v for i, v in enumerate(hole)]
    long_first = []
    for i in range(1001):  # the second element starts at ordinate 2003
        long_first += [i, 0]
    sql = "CREATE USER cv IDENTIFIED BY cvpw;\nALTER SESSION SET CURRENT_SCHEMA = cv;\n"
    sql += table_sql("curve_lines", LINES)
    sql += table_sql("curve_polys", POLYGONS)
    sql += table_sql("curve_z", LINES_Z)
    sql += table_sql("curve_m", LINES_M)
    sql += table_sql("holes", [
        (1, 2007, [1, 1003, 1, 11, 2003, 1, 21, 1003, 1, 31, 2003, 1], hole + second),
        (2, 2003, [1, 1003, 1], [50, 50, 60, 50, 60, 60, 50, 50]),
    ])
    sql += table_sql("offsets", [(1, 2006, [1, 2, 1, 2003, 2, 1], long_first + [0, 5, 10, 5])])
    sql += table_sql("open_rings", [
        (1, 2003, [1, 1003, 1], [0, 0, 10, 0, 10, 10, 0, 10]),
        (2, 2007, [1, 1003, 1, 7, 1003, 1], [20, 0, 30, 0, 30, 10, 40, 0, 50, 0, 50, 10]),
        (3, 2003, [1, 1003, 1], [0, 20, 10, 20, 10, 30, 0, 20]),
    ])
    for table in ("curve_lines", "curve_polys", "curve_z", "curve_m", "holes", "offsets", "open_rings"):
        sql += ("INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES "
                "('%s', 'GEOM', SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -1000, 3000, 0.001), "
                "SDO_DIM_ELEMENT('Y', -1000, 3000, 0.001)), NULL);\n" % table.upper())
    return sql + "COMMIT;\n"


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_curves_")
    DB = os.path.join(ROOT, "db")
    tv.build_database(DB, fixture_sql(), ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


def stored_rows(table):
    return {"curve_lines": LINES, "curve_polys": POLYGONS, "curve_z": LINES_Z, "curve_m": LINES_M}[table]


def vertices(gtype, ords):
    stride = 3 if gtype // 1000 == 3 else 2
    return [tuple(ords[i:i + stride]) for i in range(0, len(ords), stride)]


def circle_through(a, b, c):
    ax, ay = a[0], a[1]
    bx, by = b[0] - ax, b[1] - ay
    cx, cy = c[0] - ax, c[1] - ay
    d = 2 * (bx * cy - by * cx)
    ux = (cy * (bx * bx + by * by) - by * (cx * cx + cy * cy)) / d
    uy = (bx * (cx * cx + cy * cy) - cx * (bx * bx + by * by)) / d
    return ax + ux, ay + uy, math.hypot(ux, uy)


def output_points(geom):
    """Every vertex of a geometry as (x, y, z, m), part after part."""
    points = []
    name = geom.GetGeometryName()
    if name in ("LINESTRING", "LINEARRING") or geom.GetGeometryCount() == 0:
        for i in range(geom.GetPointCount()):
            points.append((geom.GetX(i), geom.GetY(i), geom.GetZ(i), geom.GetM(i)))
        return points
    for j in range(geom.GetGeometryCount()):
        points += output_points(geom.GetGeometryRef(j))
    return points


class CurvesTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def run_cv(self, *args):
        return tv.tarvex(["cv/cvpw@" + DB] + list(args), cwd=self.work)

    def path(self, name):
        return os.path.join(self.work, name)

    def export(self, table, *args):
        run = self.run_cv("-t", table, *args)
        self.assertEqual(run.status, 0, run)
        self.assertEqual(run.errors(), [], run)
        return {attrs["ID"]: geom for attrs, geom in tv.read_layer(self.path(table + ".shp"))}

    def check_arcs(self, table, row_id, geom, limit):
        gtype, stored = None, None
        for rid, g, elem, ords in stored_rows(table):
            if rid == row_id:
                gtype, stored = g, vertices(g, ords)
        out = output_points(geom)
        xy = [(p[0], p[1]) for p in out]
        # Every stored vertex is an output vertex, exactly.
        for v in stored:
            self.assertIn((v[0], v[1]), xy, "%s %d: vertex %r" % (table, row_id, v))
        for start, mid, end in ARCS.get((table, row_id), []):
            cx, cy, r = circle_through(stored[start], stored[mid], stored[end])
            # The output may run the other way round (ring orientation); a
            # circle runs from its first point all the way back to it.
            i = xy.index((stored[start][0], stored[start][1]))
            k = xy.index((stored[end][0], stored[end][1]))
            if (table, row_id) == ("curve_polys", 2):
                k = len(xy) - 1
            i, k = min(i, k), max(i, k)
            self.assertGreater(k - i, 1)
            for n in range(i, k):
                a = math.atan2(xy[n][1] - cy, xy[n][0] - cx)
                b = math.atan2(xy[n + 1][1] - cy, xy[n + 1][0] - cx)
                step = abs(b - a)
                step = min(step, 2 * math.pi - step)
                self.assertLessEqual(math.degrees(step), limit * (1 + 1e-9), "%s %d" % (table, row_id))
                self.assertAlmostEqual(math.hypot(xy[n][0] - cx, xy[n][1] - cy), r, delta=r * 1e-9)
            # Z and M between the values of the stored vertices around them.
            if gtype // 1000 == 3:
                values = [p[2] if gtype < 3300 else p[3] for p in out]
                for lo, hi in ((start, mid), (mid, end)):
                    a = xy.index((stored[lo][0], stored[lo][1]))
                    b = xy.index((stored[hi][0], stored[hi][1]))
                    low, high = sorted((stored[lo][2], stored[hi][2]))
                    for n in range(min(a, b), max(a, b) + 1):
                        self.assertTrue(low - 1e-9 <= values[n] <= high + 1e-9,
                                        "%s: %r not in %r..%r" % (table, values[n], low, high))

    def test_every_curve_kind_is_converted_with_arcs(self):
        for limit in (1, 10):
            for table in ("curve_lines", "curve_polys", "curve_z", "curve_m"):
                work = tempfile.mkdtemp(dir=ROOT)
                self.work = work
                rows = self.export(table, "-a", str(limit))
                self.assertEqual(sorted(rows), [r[0] for r in stored_rows(table)])
                for row_id, geom in rows.items():
                    self.assertIsNotNone(geom, "%s %d" % (table, row_id))
                    if table == "curve_polys":
                        self.assertTrue(geom.IsValid(), "%s %d at %d" % (table, row_id, limit))
                    self.check_arcs(table, row_id, geom, limit)
                if table == "curve_polys":
                    circle = rows[2].GetArea()
                    if limit == 1:
                        self.assertLess(abs(circle - math.pi * CIRCLE_R ** 2), 0.001 * math.pi * CIRCLE_R ** 2)
                    self.assertEqual(rows[3].GetArea(), 10000 - 400)
                    self.assertEqual(rows[5].GetGeometryName(), "MULTIPOLYGON")
                    self.assertEqual(rows[4].GetGeometryCount(), 2)
                if table == "curve_lines":
                    self.assertEqual(rows[3].GetGeometryName(), "LINESTRING")
                    self.assertEqual(rows[4].GetGeometryName(), "MULTILINESTRING")
        self.assertEqual(tv.shp_header_type(self.path("curve_m.shp")), 23)

    def test_without_arcs_curves_keep_their_refusals(self):
        run = self.run_cv("-t", "curve_polys")
        self.assertNotEqual(run.status, 0, run)
        self.assertIn("[ERROR] Unsupported interpretation for polygon type : 2", run.lines())
        self.assertNotIn("Successfully", run.out)
        run = self.run_cv("-t", "curve_lines", "-i")
        self.assertEqual(run.status, 0, run)
        self.assertIn("[ERROR] Unsupported interpretation for line type : 2", run.lines())
        self.assertIn("[ERROR] Unsupported ETYPE within element info : 4", run.lines())
        rows = {a["ID"]: g for a, g in tv.read_layer(self.path("curve_lines.shp"))}
        self.assertEqual(list(rows.values()), [None] * 4)

    def test_arc_limit_outside_its_range_is_an_argument_error(self):
        for bad in ("0", "91", "-5", "ten"):
            run = self.run_cv("-t", "curve_lines", "-a", bad)
            self.assertEqual(run.status, 1, run)
            self.assertFalse(os.path.exists(self.path("curve_lines.shp")))

    def test_polygons_forced_into_lines_and_points(self):
        rows = self.export("holes", "-f", "3")
        self.assertEqual(tv.shp_header_type(self.path("holes.shp")), 3)
        rings = rows[1]
        self.assertEqual(rings.GetGeometryName(), "MULTILINESTRING")
        self.assertEqual(rings.GetGeometryCount(), 4)
        for i in range(4):
            ring = rings.GetGeometryRef(i)
            self.assertEqual(ring.GetPoint_2D(0), ring.GetPoint_2D(ring.GetPointCount() - 1))
        self.assertEqual(rows[2].GetGeometryName(), "LINESTRING")

        run = self.run_cv("-t", "holes", "-f", "8", "-o", "points")
        self.assertEqual(run.errors(), [], run)
        self.assertEqual(tv.shp_header_type(self.path("points.shp")), 8)
        points = {a["ID"]: g for a, g in tv.read_layer(self.path("points.shp"))}
        self.assertEqual(points[1].GetGeometryName(), "MULTIPOINT")
        self.assertEqual(points[1].GetGeometryCount(), 20)
        self.assertEqual(points[2].GetGeometryCount(), 4)

        # With curves: the stroked rings as lines.
        run = self.run_cv("-t", "curve_polys", "-f", "3", "-a", "10", "-o", "boundaries")
        self.assertEqual(run.errors(), [], run)
        lines = {a["ID"]: g for a, g in tv.read_layer(self.path("boundaries.shp"))}
        self.assertEqual(lines[2].GetGeometryName(), "LINESTRING")
        self.assertEqual(lines[2].GetPointCount(), 37)

    def test_multipatch_parts_and_the_inner_ring_check(self):
        run = self.run_cv("-t", "holes", "-r")
        self.assertEqual(run.errors(), [], run)
        self.assertIn("Forcing type to be multi-patch as inner-rings detected", run.lines())
        rows = {a["ID"]: g for a, g in tv.read_layer(self.path("holes.shp"))}
        two = rows[1]
        self.assertEqual(two.GetGeometryName(), "MULTIPOLYGON")
        self.assertEqual(two.GetGeometryCount(), 2)
        for i in range(2):
            self.assertEqual(two.GetGeometryRef(i).GetGeometryCount(), 2)
        self.assertAlmostEqual(two.GetArea(), 192.0)

        # An element offset of 2003 is no inner ring: the lines stay lines.
        run = self.run_cv("-t", "offsets", "-r")
        self.assertEqual(run.errors(), [], run)
        self.assertNotIn("multi-patch", run.out)
        self.assertEqual(tv.shp_header_type(self.path("offsets.shp")), 3)
        self.assertIn("Successfully written 1 rows to 'offsets.shp'", run.lines())

        # A free query is checked on its own rows.
        run = self.run_cv("-q", "select * from holes where id = 2", "-g", "geom", "-o", "free", "-r")
        self.assertEqual(run.errors(), [], run)
        self.assertNotIn("multi-patch", run.out)
        self.assertEqual(tv.shp_header_type(self.path("free.shp")), 5)

    def test_open_rings_are_closed_and_counted(self):
        run = self.run_cv("-t", "open_rings")
        self.assertEqual(run.errors(), [], run)
        self.assertIn("[WARNING] Rings closed by repeating their first vertex : 3", run.lines())
        rows = {a["ID"]: g for a, g in tv.read_layer(self.path("open_rings.shp"))}
        for geom in rows.values():
            self.assertTrue(geom.IsValid())
        self.assertEqual(rows[1].GetArea(), 100)
        self.assertEqual(rows[1].GetGeometryRef(0).GetPointCount(), 5)
        run = self.run_cv("-t", "holes", "-o", "closed")
        self.assertNotIn("Rings closed", run.out)


class QuickStart(unittest.TestCase):
    def test_the_sample_schema_with_curves_converted(self):
        if not (tv.SAMPLE_DB and os.path.isdir(tv.SAMPLE_DB)):
            self.skipTest("no sample database")
        work = tempfile.mkdtemp(dir=ROOT)
        os.mkdir(os.path.join(work, "out"))
        run = tv.tarvex(["demo/demo@" + tv.SAMPLE_DB, "-t", "*", "-o", "out/", "-p", "-i", "-a", "1"], cwd=work)
        self.assertEqual(run.status, 0, run)
        # Every row lands: the arc line stored in a table of polygons goes
        # to a set of lines of its own.
        self.assertEqual(run.errors(), [], run)
        self.assertIn("[WARNING] Rows of several kinds written to one set per kind : "
                      "out/zones_curved_polygon (4), out/zones_curved_line (1)", run.lines())
        zones = {a["ZONE_ID"]: g for a, g in tv.read_layer(os.path.join(work, "out", "zones_curved_polygon.shp"))}
        lines = {a["ZONE_ID"]: g for a, g in tv.read_layer(os.path.join(work, "out", "zones_curved_line.shp"))}
        self.assertEqual((sorted(zones), list(lines)), ([1, 2, 3, 5], [4]))
        self.assertGreater(lines[4].GetPointCount(), 3)
        for zone in (1, 2, 3, 5):
            self.assertTrue(zones[zone].IsValid(), zone)
        self.assertLess(abs(zones[2].GetArea() - math.pi * 50 ** 2), 0.001 * math.pi * 50 ** 2)
        sites = {a["SITE_ID"]: g for a, g in tv.read_layer(os.path.join(work, "out", "sites_rectangles.shp"))}
        self.assertEqual(sites[2].GetArea(), 10000)
        self.assertEqual(sites[3].GetArea(), 10000 - 400)


if __name__ == "__main__":
    unittest.main()
