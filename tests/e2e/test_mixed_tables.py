"""Tables as Oracle users hold them: damaged element information beside sound
rows, and point and line tables whose later rows carry more dimensions or
several points. Outputs are read back with GDAL.
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

ROOT = None
DB = None

SCRIPT = """
CREATE USER mix IDENTIFIED BY mixpw;
ALTER SESSION SET CURRENT_SCHEMA = mix;
CREATE TABLE damaged (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO damaged VALUES (1, SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 1,1, 2,2)));
INSERT INTO damaged VALUES (2, SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(2,2,1),
  SDO_ORDINATE_ARRAY(0,0, 1,1, 2,2)));
INSERT INTO damaged VALUES (3, SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 1,1, 2)));
INSERT INTO damaged VALUES (4, SDO_GEOMETRY(2006, NULL, NULL, SDO_ELEM_INFO_ARRAY(5,2,1, 1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 1,1, 2,2, 3,3)));
INSERT INTO damaged VALUES (5, SDO_GEOMETRY(70002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 1,1)));
INSERT INTO damaged VALUES (6, SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(5,5, 6,6)));
CREATE TABLE points (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO points VALUES (1, SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(1, 2, NULL), NULL, NULL));
INSERT INTO points VALUES (2, SDO_GEOMETRY(3001, NULL, SDO_POINT_TYPE(3, 4, 5), NULL, NULL));
INSERT INTO points VALUES (3, SDO_GEOMETRY(3301, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,1),
  SDO_ORDINATE_ARRAY(6, 7, 8)));
INSERT INTO points VALUES (4, SDO_GEOMETRY(4401, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,1),
  SDO_ORDINATE_ARRAY(9, 10, 11, 12)));
INSERT INTO points VALUES (5, SDO_GEOMETRY(2005, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,2),
  SDO_ORDINATE_ARRAY(13, 14, 15, 16)));
CREATE TABLE lines (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO lines VALUES (1, SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 1,1)));
INSERT INTO lines VALUES (2, SDO_GEOMETRY(3302, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0,10, 1,1,20)));
INSERT INTO lines VALUES (3, SDO_GEOMETRY(3002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0,7, 1,1,8)));
CREATE TABLE kinds (id NUMBER(5), name VARCHAR2(10), geom SDO_GEOMETRY);
INSERT INTO kinds VALUES (1, 'p1', SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(1, 2, NULL), NULL, NULL));
INSERT INTO kinds VALUES (2, 'l2', SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 3,4)));
INSERT INTO kinds VALUES (3, 'a3', SDO_GEOMETRY(2003, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1003,1),
  SDO_ORDINATE_ARRAY(0,0, 4,0, 4,4, 0,4, 0,0)));
INSERT INTO kinds VALUES (4, 'n4', NULL);
INSERT INTO kinds VALUES (5, 'm5', SDO_GEOMETRY(2005, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,2),
  SDO_ORDINATE_ARRAY(5,5, 6,6)));
INSERT INTO kinds VALUES (6, 'a6', SDO_GEOMETRY(2007, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1003,1, 11,1003,1),
  SDO_ORDINATE_ARRAY(10,10, 12,10, 12,12, 10,12, 10,10, 20,20, 21,20, 21,21, 20,21, 20,20)));
INSERT INTO kinds VALUES (7, 'l7', SDO_GEOMETRY(3002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0,1, 1,1,2)));
CREATE TABLE coll (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO coll VALUES (1, SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(1, 2, NULL), NULL, NULL));
INSERT INTO coll VALUES (2, SDO_GEOMETRY(2004, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,1, 3,1,1),
  SDO_ORDINATE_ARRAY(5,5, 6,6)));
INSERT INTO coll VALUES (3, SDO_GEOMETRY(2004, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,1, 3,1003,1, 13,2003,1),
  SDO_ORDINATE_ARRAY(9,9, 0,0, 4,0, 4,4, 0,4, 0,0, 1,1, 1,3, 3,3, 3,1, 1,1)));
INSERT INTO coll VALUES (4, SDO_GEOMETRY(2004, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,2),
  SDO_ORDINATE_ARRAY(0,0, 1,1, 2,0)));
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('COLL', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('KINDS', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('DAMAGED', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('POINTS', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('LINES', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
CREATE USER clash IDENTIFIED BY clashpw;
ALTER SESSION SET CURRENT_SCHEMA = clash;
CREATE TABLE shapes (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO shapes VALUES (1, SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(1, 2, NULL), NULL, NULL));
INSERT INTO shapes VALUES (2, SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 3,4)));
CREATE TABLE shapes_line (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO shapes_line VALUES (1, SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
  SDO_ORDINATE_ARRAY(0,0, 3,4)));
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('SHAPES', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('SHAPES_LINE', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
"""


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_mixed_")
    DB = os.path.join(ROOT, "db")
    tv.build_database(DB, SCRIPT, ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


class MixedTables(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def run_mix(self, *args):
        return tv.tarvex(["mix/mixpw@" + DB] + list(args), cwd=self.work)

    def layer(self, name):
        return {attrs["ID"]: geom for attrs, geom in tv.read_layer(os.path.join(self.work, name + ".shp"))}

    def test_damaged_element_information_is_refused_and_sound_rows_are_written(self):
        run = self.run_mix("-t", "damaged")
        self.assertEqual(run.status, 2, run)
        self.assertFalse(os.path.exists(os.path.join(self.work, "damaged.shp")), run)
        run = self.run_mix("-t", "damaged", "-i")
        self.assertEqual(run.status, 0, run)
        self.assertEqual(run.errors(), [
            "[ERROR] Malformed geometry, element offset not on the first ordinate of a vertex : 2",
            "[ERROR] Malformed geometry, ordinate count not a multiple of the dimension count : 5",
            "[ERROR] Malformed geometry, element offsets out of order : 1",
            "[ERROR] Unsupported GTYPE in Geometry : 70002"], run)
        rows = self.layer("damaged")
        self.assertEqual(sorted(rows), [1, 2, 3, 4, 5, 6])
        self.assertEqual([i for i in rows if rows[i] is None], [2, 3, 4, 5])
        self.assertEqual(rows[1].ExportToIsoWkt(), "LINESTRING (0 0,1 1,2 2)")
        self.assertEqual(rows[6].ExportToIsoWkt(), "LINESTRING (5 5,6 6)")

    def test_later_rows_with_more_dimensions_or_points_raise_the_shape_type(self):
        null = 1e-306
        for table, header, expected in (
                # rewritten records get the null value for what they lack,
                # and so do rows written after a raise
                ("points", 18, {1: [(1, 2, null, null)], 2: [(3, 4, 5, null)], 3: [(6, 7, null, 8)],
                                4: [(9, 10, 11, 12)], 5: [(13, 14, null, null), (15, 16, null, null)]}),
                ("lines", 13, {1: [(0, 0, null, null), (1, 1, null, null)],
                               2: [(0, 0, null, 10), (1, 1, null, 20)], 3: [(0, 0, 7, null), (1, 1, 8, null)]})):
            run = self.run_mix("-t", table)
            self.assertEqual(run.status, 0, run)
            self.assertEqual(run.errors(), [], run)
            self.assertEqual(tv.shp_header_type(os.path.join(self.work, table + ".shp")), header)
            rows = self.layer(table)
            self.assertEqual(sorted(rows), sorted(expected))
            for key, vertices in expected.items():
                geom = rows[key]
                points = [geom.GetGeometryRef(i) for i in range(geom.GetGeometryCount())] \
                    if geom.GetGeometryCount() > 0 else [geom]
                found = []
                for part in points:
                    for i in range(part.GetPointCount()):
                        found.append((part.GetX(i), part.GetY(i), part.GetZ(i),
                                      part.GetM(i) if part.IsMeasured() else None))
                self.assertEqual(found, vertices, (table, key))


    def test_a_table_of_several_kinds_gives_one_set_per_kind_and_replaces_the_plain_set(self):
        # a previous plain set of the name, from a run over the points only
        run = self.run_mix("-q", "select * from kinds where id = 1", "-g", "geom", "-o", "kinds")
        self.assertEqual(run.status, 0, run)
        self.assertTrue(os.path.exists(os.path.join(self.work, "kinds.shp")))
        run = self.run_mix("-t", "kinds", "-p")
        self.assertEqual(run.status, 0, run)
        self.assertEqual(run.errors(), [], run)
        self.assertIn("[WARNING] Rows of several kinds written to one set per kind : "
                      "kinds_point (3), kinds_line (2), kinds_polygon (2)", run.lines(), run)
        self.assertEqual(sorted(f for f in os.listdir(self.work) if f.startswith("kinds")),
                         sorted("kinds_%s.%s" % (kind, ext) for kind in ("point", "line", "polygon")
                                for ext in ("shp", "shx", "dbf", "cpg")))
        points, lines, polygons = (self.layer("kinds_" + kind) for kind in ("point", "line", "polygon"))
        self.assertEqual(sorted(points), [1, 4, 5])
        self.assertEqual(sorted(lines), [2, 7])
        self.assertEqual(sorted(polygons), [3, 6])
        self.assertIsNone(points[4])
        self.assertEqual(points[5].GetGeometryCount(), 2)
        self.assertEqual(lines[7].GetZ(1), 2)
        self.assertEqual((polygons[3].GetArea(), polygons[6].GetArea()), (16, 5))
        names = {attrs["ID"]: attrs["NAME"] for attrs, _ in tv.read_layer(os.path.join(self.work, "kinds_line.shp"))}
        self.assertEqual(names, {2: "l2", 7: "l7"})

    def test_collections_give_one_record_per_family_of_their_elements(self):
        run = self.run_mix("-t", "coll")
        self.assertEqual(run.status, 2, run)
        self.assertIn("[ERROR] Unsupported interpretation for line type : 2", run.lines(), run)
        self.assertEqual([f for f in os.listdir(self.work) if f.startswith("coll")], [])
        run = self.run_mix("-t", "coll", "-i")
        self.assertEqual(run.status, 0, run)
        self.assertIn("[WARNING] Rows of several kinds written to one set per kind : "
                      "coll_point (3), coll_polygon (1), coll_line (1)", run.lines(), run)
        points, lines, polygons = (self.layer("coll_" + kind) for kind in ("point", "line", "polygon"))
        self.assertEqual(sorted(points), [1, 2, 3])
        self.assertEqual(points[2].ExportToIsoWkt(), "MULTIPOINT ((5 5),(6 6))")
        self.assertEqual(points[3].ExportToIsoWkt(), "MULTIPOINT ((9 9))")
        self.assertEqual(list(polygons), [3])
        self.assertEqual(polygons[3].GetArea(), 12)
        self.assertEqual(list(lines), [4])
        self.assertIsNone(lines[4])

    def test_names_of_other_sets_are_never_taken_over(self):
        # in "*" mode another table's planned name is not written over
        run = tv.tarvex(["clash/clashpw@" + DB, "-t", "*"], cwd=self.work)
        self.assertEqual(run.status, 2, run)
        self.assertIn("[ERROR] Output name needed by this export is another export's : shapes_line (for shapes)",
                      run.lines(), run)
        self.assertEqual([f for f in os.listdir(self.work) if f.startswith("shapes")], [])
        # sets of an earlier run that this one does not write stay, named
        self.assertEqual(self.run_mix("-t", "kinds").status, 0)
        run = self.run_mix("-q", "select * from kinds where id in (1, 5)", "-g", "geom", "-o", "kinds")
        self.assertEqual(run.status, 0, run)
        self.assertIn("[WARNING] Sets of an earlier run stand beside this export's, left as they are : "
                      "kinds_point, kinds_line, kinds_polygon", run.lines(), run)
        self.assertTrue(os.path.exists(os.path.join(self.work, "kinds_line.shp")))
        self.assertEqual(sorted(self.layer("kinds")), [1, 5])

    def test_every_table_of_the_schema(self):
        run = self.run_mix("-t", "*", "-i")
        self.assertEqual(run.status, 0, run)
        for name in ("damaged", "points", "lines", "kinds_point", "kinds_line", "kinds_polygon", "coll_point",
                     "coll_line", "coll_polygon"):
            self.assertTrue(os.path.exists(os.path.join(self.work, name + ".shp")), name)


if __name__ == "__main__":
    unittest.main()
