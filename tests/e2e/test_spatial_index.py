"""--index end to end: a .qix beside the set that GDAL uses for a fast
spatial filter, whose box filters return exactly the features whose bounds
meet the box; a later run without --index removes it. Also the .dbf header's
date of last update: the day of the export.
"""
import datetime
import os
import random
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402
from osgeo import ogr  # noqa: E402

ROOT = None
DATABASE = None
POINTS = 3000
BOXES = 400


def fixture():
    rng = random.Random(23)
    lines = ["CREATE USER gis IDENTIFIED BY gispw;", "ALTER SESSION SET CURRENT_SCHEMA = gis;",
             "CREATE TABLE places (id NUMBER(6), geom SDO_GEOMETRY);",
             "CREATE TABLE boxes (id NUMBER(6), geom SDO_GEOMETRY);"]
    for i in range(POINTS):
        # Clusters and outliers, so that the tree has deep and shallow nodes;
        # every 100th row has no geometry.
        if i % 100 == 7:
            lines.append("INSERT INTO places VALUES (%d, NULL);" % i)
            continue
        cx, cy = (rng.choice([(10, 10), (-120, 45), (150, -30)]) if i % 3 else
                  (rng.uniform(-180, 180), rng.uniform(-90, 90)))
        x, y = cx + rng.gauss(0, 2), cy + rng.gauss(0, 2)
        lines.append("INSERT INTO places VALUES (%d, SDO_GEOMETRY(2001, 4326, SDO_POINT_TYPE(%r, %r, NULL), "
                     "NULL, NULL));" % (i, x, y))
    for i in range(BOXES):
        x, y = rng.uniform(-170, 160), rng.uniform(-80, 70)
        w, h = rng.expovariate(0.5), rng.expovariate(0.5)
        lines.append("INSERT INTO boxes VALUES (%d, SDO_GEOMETRY(2003, 4326, NULL, SDO_ELEM_INFO_ARRAY(1,1003,3), "
                     "SDO_ORDINATE_ARRAY(%r, %r, %r, %r)));" % (i, x, y, x + w, y + h))
    lines.append("COMMIT;")
    return "\n".join(lines) + "\n"


def setUpModule():
    global ROOT, DATABASE
    if not tv.TARVEX_SQL:
        raise unittest.SkipTest("no loader")
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_qix_")
    DATABASE = os.path.join(ROOT, "db")
    tv.build_database(DATABASE, fixture(), ROOT)


def tearDownModule():
    if ROOT:
        shutil.rmtree(ROOT, ignore_errors=True)


def meets(envelope, box):
    minx, maxx, miny, maxy = envelope
    return not (maxx < box[0] or minx > box[2] or maxy < box[1] or miny > box[3])


class SpatialIndexTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def export(self, args):
        run = tv.tarvex(["gis/gispw@" + DATABASE, "-g", "geom"] + args, cwd=self.work, level="detailed")
        self.assertEqual(run.status, 0, run)
        return run

    def test_box_filters_through_the_index(self):
        boxes = [(-1000, -1000, 1000, 1000), (8, 8, 12, 12), (9.5, 9.5, 9.6, 9.6), (-125, 40, -118, 50),
                 (0, 0, 0, 0), (60, 60, 61, 61), (150, -30, 150, -30)]
        for table, kind in (("PLACES", "a point"), ("BOXES", "a rectangle")):
            with self.subTest(table=table):
                run = self.export(["-t", table, "-a", "1", "--index"])
                base = os.path.join(self.work, table.lower())
                self.assertIn("[DETAILED] Written spatial index : %s.qix" % table.lower(), run.lines())
                ds = ogr.Open(base + ".shp")
                layer = ds.GetLayer(0)
                self.assertTrue(layer.TestCapability(ogr.OLCFastSpatialFilter))
                # The bounds of every feature, read without a filter. For a
                # point or a rectangle, meeting the bounds is meeting the shape.
                bounds = {f.GetFID(): f.GetGeometryRef().GetEnvelope() for f in layer
                          if f.GetGeometryRef() is not None}
                self.assertGreater(len(bounds), 300, kind)
                for box in boxes + [(b[0] - 1, b[2] - 1, b[1] + 1, b[3] + 1) for b in list(bounds.values())[:20]]:
                    layer.SetSpatialFilterRect(*box)
                    got = sorted(f.GetFID() for f in layer)
                    layer.SetSpatialFilter(None)
                    self.assertEqual(got, sorted(fid for fid, env in bounds.items() if meets(env, box)), box)
                ds = None

    def test_later_run_without_index_removes_it_and_dbf_carries_the_day(self):
        base = os.path.join(self.work, "places")
        before = datetime.date.today()
        self.export(["-t", "PLACES", "--index"])
        self.assertTrue(os.path.exists(base + ".qix"))
        self.export(["-t", "PLACES"])
        self.assertFalse(os.path.exists(base + ".qix"))
        self.assertEqual(sorted(os.listdir(self.work)),
                         ["places.cpg", "places.dbf", "places.shp", "places.shx"])
        ds = ogr.Open(base + ".shp")
        self.assertFalse(ds.GetLayer(0).TestCapability(ogr.OLCFastSpatialFilter))
        # The header's year (since 1900), month and day.
        with open(base + ".dbf", "rb") as f:
            header = f.read(4)
        stamped = datetime.date(1900 + header[1], header[2], header[3])
        self.assertIn(stamped, (before, datetime.date.today()))
        self.assertEqual(ds.GetLayer(0).GetMetadataItem("DBF_DATE_LAST_UPDATE"), stamped.isoformat())


if __name__ == "__main__":
    unittest.main()
