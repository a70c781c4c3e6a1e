"""--t-srs / --s-srs end to end, read back with GDAL: every vertex equals
GDAL's own transformation (osr, traditional GIS axis order) within 1 mm or
1e-9 degrees; the .prj is the target's, identified by its EPSG code; rings
stay clockwise (holes counter-clockwise) also through a mirroring
transformation; Z follows a vertical transformation, M does not; rows without
a source system and vertices outside the domain are refused or warned.
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402
from osgeo import ogr, osr  # noqa: E402

ROOT = None
DATABASE = None
NULL_MARK = 1e-306  # what a NULL Z is written as

LINES = [[(8.5417, 47.3769), (19.945, 50.0647), (-46.6333, -23.55)],
         [(-179.5, 84.9), (179.5, -84.9)], [(0, 0), (0.000001, -0.000001)]]
# Exterior rings counter-clockwise and holes clockwise, as Oracle stores them.
PARCELS = [[[(500000, 5500000), (501000, 5500000), (501000, 5501000), (500000, 5501000), (500000, 5500000)],
            [(500200, 5500200), (500200, 5500400), (500400, 5500400), (500400, 5500200), (500200, 5500200)]],
           [[(420000.5, 4100000.25), (440000, 4100000), (430000, 4120000), (420000.5, 4100000.25)]]]
# lon, lat, ellipsoidal height (None: NULL), measure
TRACK = [(10.0, 45.0, 120.5, 0.0), (10.01, 45.02, None, 1.5), (10.05, 45.03, 3000.25, 7.0)]

CATALOGUE = [(4326, "WGS 84"), (32633, "WGS 84 / UTM zone 33N"), (4979, "WGS 84 (3D)")]


def ordinates(points):
    return ", ".join(", ".join("NULL" if v is None else repr(float(v)) for v in p) for p in points)


def fixture():
    lines = ["CREATE USER gis IDENTIFIED BY gispw;"]
    for srid, name in CATALOGUE:
        lines.append("INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES "
                     "('%s', %d, %d, 'EPSG', 'GEOGCS [ \"%s\" ]');" % (name, srid, srid, name))
    lines += ["ALTER SESSION SET CURRENT_SCHEMA = gis;",
              "CREATE TABLE wgs_lines (id NUMBER(3), geom SDO_GEOMETRY);",
              "CREATE TABLE utm_parcels (id NUMBER(3), geom SDO_GEOMETRY);",
              "CREATE TABLE tracks (id NUMBER(3), geom SDO_GEOMETRY);",
              "CREATE TABLE spots (id NUMBER(3), geom SDO_GEOMETRY);"]
    for i, line in enumerate(LINES):
        lines.append("INSERT INTO wgs_lines VALUES (%d, SDO_GEOMETRY(2002, 8307, NULL, SDO_ELEM_INFO_ARRAY(1,2,1), "
                     "SDO_ORDINATE_ARRAY(%s)));" % (i, ordinates(line)))
    for i, rings in enumerate(PARCELS):
        info, offset = [], 1
        for r, ring in enumerate(rings):
            info.append("%d,%d,1" % (offset, 1003 if r == 0 else 2003))
            offset += 2 * len(ring)
        lines.append("INSERT INTO utm_parcels VALUES (%d, SDO_GEOMETRY(2003, 32633, NULL, SDO_ELEM_INFO_ARRAY(%s), "
                     "SDO_ORDINATE_ARRAY(%s)));" % (i, ",".join(info), ordinates(sum(rings, []))))
    lines.append("INSERT INTO tracks VALUES (1, SDO_GEOMETRY(4402, 4979, NULL, SDO_ELEM_INFO_ARRAY(1,2,1), "
                 "SDO_ORDINATE_ARRAY(%s)));" % ordinates(TRACK))
    # Points without SRID, with one no EPSG code stands for, with a latitude
    # beyond the pole, and in WGS 84.
    for i, (srid, x, y) in enumerate([("NULL", 1.0, 2.0), (5000001, 3.0, 4.0), (8307, 5.0, 95.0), (8307, 7.0, 8.0)]):
        lines.append("INSERT INTO spots VALUES (%d, SDO_GEOMETRY(2001, %s, SDO_POINT_TYPE(%r, %r, NULL), NULL, NULL));"
                     % (i, srid, x, y))
    return "\n".join(lines + ["COMMIT;"]) + "\n"


def setUpModule():
    global ROOT, DATABASE
    if not tv.TARVEX_SQL:
        raise unittest.SkipTest("no loader")
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_srs_")
    DATABASE = os.path.join(ROOT, "db")
    tv.build_database(DATABASE, fixture(), ROOT)


def tearDownModule():
    if ROOT:
        shutil.rmtree(ROOT, ignore_errors=True)


def read_records(path):
    """[[each ring or line as [(x, y, z, m)]] or None per feature], read back with GDAL."""
    ds = ogr.Open(path)
    records = []
    for feature in ds.GetLayer(0):
        geom = feature.GetGeometryRef()
        if geom is None:
            records.append(None)
            continue
        parts = [geom.GetGeometryRef(i) for i in range(geom.GetGeometryCount())] or [geom]
        records.append([[(p.GetX(i), p.GetY(i), p.GetZ(i), p.GetM(i)) for i in range(p.GetPointCount())]
                        for p in parts])
    return records


def signed_area(ring):
    return sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(ring, ring[1:])) / 2


def transform(src, dst, points):
    s, t = osr.SpatialReference(), osr.SpatialReference()
    s.ImportFromEPSG(src)
    t.SetFromUserInput(dst)
    for srs in (s, t):
        srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    ct = osr.CoordinateTransformation(s, t)
    return [ct.TransformPoint(*p[:3]) if len(p) > 2 and p[2] is not None else ct.TransformPoint(p[0], p[1])
            for p in points]


class ReprojectTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def export(self, args, status=0, level="basic"):
        run = tv.tarvex(["gis/gispw@" + DATABASE, "-g", "geom"] + args, cwd=self.work, level=level)
        self.assertEqual(run.status, status, run)
        return run

    def assertNear(self, got, expected, tolerance):
        self.assertEqual(len(got), len(expected))
        for g, e in zip(got, expected):
            for a, b in zip(g[:2], e[:2]):
                self.assertAlmostEqual(a, b, delta=tolerance, msg=(got, expected))

    def assertPrjIs(self, base, code):
        ds = ogr.Open(base + ".shp")
        srs = ds.GetLayer(0).GetSpatialRef()
        self.assertEqual((srs.GetAuthorityName(None), srs.GetAuthorityCode(None)), ("EPSG", str(code)))
        ds = None

    def test_web_mercator_from_wgs84_lines(self):
        self.export(["-t", "WGS_LINES", "--t-srs", "EPSG:3857", "-p", "-e"])
        base = os.path.join(self.work, "wgs_lines")
        got = read_records(base + ".shp")
        for record, line in zip(got, LINES):
            self.assertNear(record[0], transform(4326, "EPSG:3857", line), 0.001)
        self.assertPrjIs(base, 3857)

    def test_wgs84_from_utm_polygons_and_rings_through_a_mirror(self):
        west = "+proj=longlat +datum=WGS84 +axis=wnu +no_defs +type=crs"
        for target, code, mirror in (("EPSG:4326", 4326, 1), (west, None, -1)):
            with self.subTest(target=target):
                self.export(["-t", "UTM_PARCELS", "-o", "p%d" % (code or 0), "--t-srs", target, "-p"])
                got = read_records(os.path.join(self.work, "p%d.shp" % (code or 0)))
                for record, rings in zip(got, PARCELS):
                    for r, (ring, stored) in enumerate(zip(record, rings)):
                        expected = [(mirror * x, y) for x, y, _ in transform(32633, "EPSG:4326", stored)]
                        # Exterior rings clockwise, holes counter-clockwise.
                        self.assertEqual(signed_area(ring) < 0, r == 0, ring)
                        if signed_area(expected) * signed_area(ring) < 0:
                            expected.reverse()
                        self.assertNear(ring, expected, 1e-9)
                if code:
                    self.assertPrjIs(os.path.join(self.work, "p4326"), 4326)

    def test_heights_follow_a_vertical_transformation_measures_do_not(self):
        self.export(["-t", "TRACKS", "--t-srs", "EPSG:4978"])
        got = read_records(os.path.join(self.work, "tracks.shp"))[0][0]
        expected = transform(4979, "EPSG:4978", [(x, y, 0.0 if h is None else h) for x, y, h, _ in TRACK])
        self.assertNear(got, expected, 0.001)
        for vertex, want, stored in zip(got, expected, TRACK):
            self.assertAlmostEqual(vertex[2], NULL_MARK if stored[2] is None else want[2], delta=0.001)
            self.assertEqual(vertex[3], stored[3])

    def test_rows_without_a_source_system_or_outside_the_domain(self):
        query = "select id, geom from spots where id in (%s)"
        cases = [
            # (ids, extra options, exit status, lines expected, null shapes)
            ("0", [], 2, ["[ERROR] No source coordinate system (--s-srs names one) for the geometries of SRID : "
                          "NULL"], None),
            ("0, 1", ["-i"], 2, ["[ERROR] No geometry could be transformed to the target coordinate system : "
                                 "EPSG:3857"], None),
            ("0, 1, 3", ["-i"], 0, ["[WARNING] Geometries without a source coordinate system (no SRID, or one "
                                    "without an EPSG code PROJ knows; --s-srs names one) : 2"], [0, 1]),
            ("0, 1, 3", ["--s-srs", "EPSG:4326"], 0, ["Geometries of SRID NULL taken in --s-srs : EPSG:4326",
                                                      "Geometries of SRID 5000001 (no EPSG code) taken in --s-srs "
                                                      ": EPSG:4326"], []),
            ("2, 3", [], 2, ["[ERROR] Geometry with vertices outside the domain of the transformation to "
                             "EPSG:3857 : 1 of 1 vertices"], None),
            ("2, 3", ["-i"], 0, ["[WARNING] Geometries with vertices outside the domain of the transformation to "
                                 "EPSG:3857 : 1 (1 vertices)"], [0]),
        ]
        for n, (ids, extra, status, expected, nulls) in enumerate(cases):
            with self.subTest(ids=ids, extra=extra):
                name = "s%d" % n
                run = self.export(["-q", query % ids, "-o", name, "--t-srs", "EPSG:3857"] + extra, status)
                for line in expected:
                    self.assertTrue(any(l.startswith(line) for l in run.lines()), (line, run))
                base = os.path.join(self.work, name)
                if nulls is None:
                    self.assertFalse(os.path.exists(base + ".shp"))
                    continue
                records = read_records(base + ".shp")
                self.assertEqual([i for i, r in enumerate(records) if r is None], nulls)
                points = {"0": (1.0, 2.0), "1": (3.0, 4.0), "3": (7.0, 8.0), "2": (5.0, 95.0)}
                for i, record in zip(ids.split(", "), records):
                    if record is not None:
                        self.assertNear(record[0], transform(4326, "EPSG:3857", [points[i]]), 0.001)

    def test_definitions_proj_cannot_build_are_argument_errors(self):
        for args, line in ((["--t-srs", "NOPE:1"], "--t-srs : NOPE:1"),
                           (["--t-srs", "+proj=merc"], "--t-srs : +proj=merc"),
                           (["--t-srs", "EPSG:3857", "--s-srs", "not a system"], "--s-srs : not a system")):
            with self.subTest(args=args):
                run = self.export(["-t", "SPOTS"] + args, 1)
                self.assertIn("[ERROR] Not a coordinate system PROJ knows, " + line, run.lines())
                self.assertIn("Usage notes : ", run.out)


if __name__ == "__main__":
    unittest.main()
